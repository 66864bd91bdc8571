#include "app/docketcommands.h"

#include "app/application.h"
#include "app/entrycommands.h"
#include "app/mainstate.h"
#include "base/settings.h"
#include "core/entry.h"
#include "core/text.h"
#include "docket/calendar.h"
#include "docket/deadlines.h"
#include "docket/spreadsheet.h"
#include "notify/templates.h"
#include "platform/files.h"
#include "rules/templatevars.h"

#include <algorithm>

namespace tarnwick::app {

namespace {

// the longest list of lines a message box shows
constexpr size_t k_shownLines = 10;

FileOutcome written(const std::string& path, const std::string& bytes, const std::string& what)
{
    if (const platform::Result saved = platform::writeFileAtomic(path, bytes); !saved)
        return {false, "Cannot write " + path + ": " + saved.systemText() + "."};
    return {true, what + " written to " + path + "."};
}

void appendLines(std::string& out, const std::vector<std::string>& lines)
{
    for (size_t i = 0; i < lines.size() && i < k_shownLines; ++i)
        out += "\n" + lines[i];
    if (lines.size() > k_shownLines)
        out += "\n... and " + std::to_string(lines.size() - k_shownLines) + " more";
}

// A count with its thousands grouped: "100,000".
std::string groupedCount(size_t n)
{
    std::string digits = std::to_string(n);
    for (size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits;
}

// The application-wide names with the two that only the import's notice knows, for the life of the object.
class ImportNames final : public rules::TemplateVars::AppNames {
public:
    ImportNames(rules::TemplateVars& vars, std::string count, std::string list)
        : m_vars(vars), m_inner(vars.appNames()), m_count(std::move(count)), m_list(std::move(list))
    {
        vars.setAppNames(this);
    }
    ~ImportNames() override { m_vars.setAppNames(m_inner); }
    ImportNames(const ImportNames&) = delete;
    ImportNames& operator=(const ImportNames&) = delete;

    std::optional<std::string> value(std::string_view name) const override
    {
        if (core::equalNoCase(name, notify::extraname::ImportCount))
            return m_count;
        if (core::equalNoCase(name, notify::extraname::ImportedEntries))
            return m_list;
        return m_inner ? m_inner->value(name) : std::nullopt;
    }

private:
    rules::TemplateVars& m_vars;
    const rules::TemplateVars::AppNames* m_inner;
    std::string m_count;
    std::string m_list;
};

void showExport(MainState& state, const FileOutcome& outcome, const char* title)
{
    if (outcome.ok)
        state.statusLine(outcome.message);
    else
        state.tell(outcome.message, title, base::Severity::Error);
}

} // namespace

std::string deadlineColumnText(const core::Entry& entry)
{
    return docket::deadlineText(docket::nextDeadline(entry, entry.Today));
}

std::vector<int> reminderThresholds(const base::AppSettings& settings)
{
    const std::string text = settings.value(base::setting::DeadlineReminderDays);
    if (std::optional<std::vector<int>> days = base::reminderThresholds(text))
        return std::move(*days);
    return {static_cast<int>(std::clamp(core::leadingInteger(text), 0L, static_cast<long>(base::k_maxReminderDays)))};
}

int reminderDays(const base::AppSettings& settings)
{
    return reminderThresholds(settings).front();
}

std::string suggestedPath(const AppContext& app, std::string_view fileName)
{
    const std::string dir = app.settings.value(base::setting::ReportDir);
    return dir.empty() ? std::string(fileName) : platform::joinPath(dir, fileName);
}

std::string calendarText(const AppContext& app, int* events)
{
    docket::CalendarOptions options;
    options.today = core::today();
    options.stamp = core::now(true);
    options.reminderDays = reminderDays(app.settings);
    docket::Calendar calendar = docket::calendarOf(app.entries.entries(), options);
    if (events)
        *events = calendar.events;
    return std::move(calendar.text);
}

FileOutcome exportCalendar(const AppContext& app, const std::string& path)
{
    int events = 0;
    const std::string text = calendarText(app, &events);
    return written(path, text, core::counted(events, "deadline", "deadlines"));
}

FileOutcome exportSpreadsheet(const AppContext& app, const std::string& path)
{
    const std::string text = docket::spreadsheetOf(app.entries.entries(), core::today());
    return written(path, text, core::counted(app.entries.count(), "entry", "entries"));
}

ImportOutcome importSpreadsheet(MainState& state, const std::string& path)
{
    ImportOutcome out;
    if (state.busy())
        return out;
    core::EntryStore& store = state.app().entries;
    const platform::ResultOf<std::string> text = platform::readFile(path, platform::FileKind::Regular);
    if (!text) {
        out.errors.push_back("Cannot read " + path + ": " + text.systemText() + ".");
    } else {
        docket::ImportPlan plan = docket::planImport(*text, store, core::today());
        out.duplicates = std::move(plan.duplicates);
        out.errors = std::move(plan.errors);
        // the plan has left out every number the list holds already
        store.reserve(static_cast<size_t>(store.count()) + plan.entries.size());
        for (core::Entry& entry : plan.entries)
            out.added.push_back(store.appendEntry(std::move(entry)));
        // the moved-from entries (an entry is large) go before the data file's text is made
        std::vector<core::Entry>().swap(plan.entries);
        // The entries and their notice are kept as one: the notice durable first, then the data file, then the
        // list names the notice. One notice tells of the whole import, a line for each entry, and stays a message
        // of its own in digest mode; it is named by the first entry, so that a start after a crash keeps it when the
        // data file holds the import. A single entry is told of as an add is.
        if (!out.added.empty()) {
            const core::Entry& first = store.at(out.added.front());
            std::optional<ImportNames> names;
            int templateId = notify::templateid::EntryAdded;
            if (out.added.size() > 1) {
                std::string list;
                for (int p : out.added)
                    list.append(list.empty() ? "" : "\r\n").append(entryName(store.at(p)));
                names.emplace(state.app().vars, groupedCount(out.added.size()), std::move(list));
                templateId = notify::templateid::EntriesImported;
            }
            const char* kind = names ? "i" : "a";
            const MainState::EditSaved saved = state.commitEdit({{first, templateId, kind, std::nullopt}});
            out.saved = bool(saved.dataFile);
            out.postingError = saved.noticeError;
        }
    }
    if (!out.errors.empty()) {
        out.message = "Nothing was imported from " + path + ":";
        appendLines(out.message, out.errors);
        return out;
    }
    out.message =
        core::counted(static_cast<long long>(out.added.size()), "entry", "entries") + " imported from " + path + ".";
    if (!out.duplicates.empty()) {
        out.message += "\nSkipped:";
        appendLines(out.message, out.duplicates);
    }
    if (!out.added.empty())
        state.setSelection(out.added);
    return out;
}

void exportCalendarCommand(MainState& state, const std::string& path)
{
    showExport(state, exportCalendar(state.app(), path), "Export Calendar");
}

void exportSpreadsheetCommand(MainState& state, const std::string& path)
{
    showExport(state, exportSpreadsheet(state.app(), path), "Export CSV");
}

ImportOutcome importSpreadsheetCommand(MainState& state, const std::string& path)
{
    ImportOutcome out = importSpreadsheet(state, path);
    if (out.message.empty())
        return out;
    // a data file that could not be written has been reported with the import's notices
    const base::Severity severity = !out.errors.empty()       ? base::Severity::Error
                                    : !out.duplicates.empty() ? base::Severity::Warning
                                                              : base::Severity::Information;
    state.tell(out.message, "Import CSV", severity);
    return out;
}

} // namespace tarnwick::app
