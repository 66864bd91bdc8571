#include "notify/usertemplates.h"

#include "base/settings.h"
#include "core/entry.h"
#include "core/text.h"
#include "notify/templates.h"
#include "platform/files.h"
#include "platform/terminal.h"
#include "rules/templatevars.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace tarnwick::notify {

namespace {

constexpr size_t k_maxTemplateBytes = 1024 * 1024;

// What a template is expanded with.
struct Context {
    bool current = false;
    bool previous = false;
    bool mail = true;
    std::vector<std::string_view> extras;
};

Context contextOf(int id)
{
    switch (id) {
    case templateid::EntryAdded:
    case templateid::EntryDeleted:
        return {true, false, true, {}};
    case templateid::EntryChanged:
    case templateid::StatusUpdate:
        return {true, true, true, {}};
    case templateid::ReportHead:
    case templateid::ReportTail:
        return {false, false, false, {extraname::History, extraname::UpcomingDeadlines}};
    case templateid::ReportRow:
        return {true, false, false, {extraname::RowClass, extraname::HistoryLink}};
    case templateid::Digest:
        return {false,
                false,
                true,
                {extraname::DigestCount, extraname::DigestChanges, extraname::DigestEditCount, extraname::DigestEdits,
                 extraname::DigestReminderCount, extraname::DigestReminders, extraname::DigestRunItems,
                 extraname::DigestSummary, extraname::DigestText}};
    case templateid::DigestEntry:
        return {true, true, false, {extraname::DigestNumber}};
    case templateid::UpdateFailures:
        return {false, false, true, {extraname::FailureCount, extraname::Failures}};
    case templateid::EntriesImported:
        return {false, false, true, {extraname::ImportCount, extraname::ImportedEntries}};
    case templateid::DeadlineReminder:
        return {true,
                false,
                true,
                {extraname::DeadlineKind, extraname::DeadlineDate, extraname::DeadlineGrace,
                 extraname::DeadlineDaysLeft, extraname::DeadlineSource, extraname::ReminderThreshold}};
    default:
        return {};
    }
}

int lineAt(std::string_view text, size_t offset)
{
    return 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(offset), '\n'));
}

// The header of an e-mail template: optional "To: " and "Cc: " lines, a "Subject: " line, further header
// lines, an empty line.
void checkMailHeader(std::string_view text, std::vector<TemplateProblem>& problems)
{
    size_t at = 0;
    for (std::string_view tag : {"To: ", "Cc: "}) {
        if (text.size() - at >= tag.size() && core::equalNoCase(text.substr(at, tag.size()), tag)) {
            const size_t end = text.find("\r\n", at);
            if (end == std::string_view::npos)
                break;
            at = end + 2;
        }
    }
    constexpr std::string_view subject = "Subject: ";
    if (text.size() - at < subject.size() || !core::equalNoCase(text.substr(at, subject.size()), subject)) {
        problems.push_back({lineAt(text, at), "an e-mail template begins with its \"Subject: \" line"});
        return;
    }
    if (text.find("\r\n\r\n", at) == std::string_view::npos)
        problems.push_back({lineAt(text, at), "no empty line ends the header that the \"Subject: \" line starts"});
}

bool isHtmlTemplate(int id)
{
    return id == templateid::ReportHead || id == templateid::ReportRow || id == templateid::ReportTail;
}

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isHtmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// The item that opens at `at`: where the text goes on after it, and its variable's name (empty for "[[]", "[]]",
// "[]" and an unterminated "[").
std::pair<size_t, std::string_view> itemAt(std::string_view text, size_t at)
{
    const size_t close = text.find(']', at + 1);
    if (close == std::string_view::npos)
        return {text.size(), {}};
    if (close + 1 < text.size() && text[close + 1] == ']')
        return {close + 2, {}};
    const std::string_view content = text.substr(at + 1, close - at - 1);
    if (content.empty() || content.front() == '[')
        return {close + 1, {}};
    return {close + 1, content.substr(0, content.find_first_of("=?|"))};
}

// The variables in unquoted attribute values of the tags of `text`.
void checkAttributeQuotes(std::string_view text, std::vector<TemplateProblem>& warnings)
{
    const size_t n = text.size();
    size_t i = 0;
    auto skipSpace = [&] {
        while (i < n && isHtmlSpace(text[i]))
            ++i;
    };
    while ((i = text.find('<', i)) != std::string_view::npos) {
        ++i;
        if (text.substr(i).starts_with("!--")) {
            const size_t end = text.find("-->", i + 3);
            i = end == std::string_view::npos ? n : end + 3;
            continue;
        }
        if (i >= n || !isAsciiLetter(text[i]))
            continue; // an end tag or a declaration has no attribute values
        while (i < n && !isHtmlSpace(text[i]) && text[i] != '>' && text[i] != '/')
            ++i;
        for (;;) {
            skipSpace();
            if (i >= n || text[i] == '>')
                break;
            // an attribute's name, which a conditional item may give whole
            while (i < n && !isHtmlSpace(text[i]) && text[i] != '=' && text[i] != '>')
                i = text[i] == '[' ? itemAt(text, i).first : i + 1;
            skipSpace();
            if (i >= n || text[i] != '=')
                continue;
            ++i;
            skipSpace();
            if (i < n && (text[i] == '"' || text[i] == '\'')) {
                const char quote = text[i++];
                while (i < n && text[i] != quote)
                    i = text[i] == '[' ? itemAt(text, i).first : i + 1;
                ++i;
                continue;
            }
            while (i < n && !isHtmlSpace(text[i]) && text[i] != '>') {
                if (text[i] != '[') {
                    ++i;
                    continue;
                }
                const auto [next, name] = itemAt(text, i);
                if (!name.empty())
                    warnings.push_back({lineAt(text, i), "[" + std::string(name) +
                                                             "] stands in an attribute value without quotes, where a "
                                                             "blank in its value would end the attribute; write the "
                                                             "value in double quotes"});
                i = next;
            }
        }
    }
}

core::Entry sampleEntry()
{
    core::Entry e(core::today());
    e.Reference = "ACME-001";
    e.SerNum = "76123456";
    e.RegNum = "1234567";
    e.Trademark = "TARNWICK";
    e.FilingDate = "2019-03-04";
    e.RegDate = "2021-09-14";
    e.StatusDate = "2026-12-08";
    e.StatusText = "Registered.";
    e.LastHistory = "2026-12-08 Registered. Principal register.";
    e.LastUpdate = e.Today;
    e.LastChange = e.Today;
    return e;
}

} // namespace

std::string userTemplateDir(const std::string& logDir)
{
    return platform::joinPath(logDir, k_userTemplateFolder);
}

const std::vector<TemplateName>& replaceableTemplates()
{
    static const std::vector<TemplateName> names = {
        {templateid::EntryAdded, "entry-added.txt"},
        {templateid::EntryChanged, "entry-changed.txt"},
        {templateid::EntryDeleted, "entry-deleted.txt"},
        {templateid::TestMail, "test-mail.txt"},
        {templateid::ReportHead, "report-head.html"},
        {templateid::ReportRow, "report-row.html"},
        {templateid::ReportTail, "report-tail.html"},
        {templateid::StatusUpdate, "status-update.txt"},
        {templateid::Digest, "digest.txt"},
        {templateid::DigestEntry, "digest-entry.txt"},
        {templateid::UpdateFailures, "update-failures.txt"},
        {templateid::DeadlineReminder, "deadline-reminder.txt"},
        {templateid::EntriesImported, "entries-imported.txt"},
    };
    return names;
}

std::optional<int> templateOfFile(std::string_view fileName)
{
    for (const TemplateName& t : replaceableTemplates()) {
        if (t.fileName == fileName)
            return t.id;
    }
    return std::nullopt;
}

std::vector<TemplateProblem> checkTemplate(int id, std::string_view text, const rules::TemplateVars& vars)
{
    std::vector<TemplateProblem> problems;
    const Context context = contextOf(id);
    if (const size_t nul = text.find('\0'); nul != std::string_view::npos)
        problems.push_back({lineAt(text, nul), "a NUL byte, which no template may hold"});
    if (context.mail)
        checkMailHeader(text, problems);

    rules::TemplateVars sample;
    sample.setAppNames(vars.appNames());
    sample.setRules(vars.rules());
    const core::Entry current = sampleEntry();
    core::Entry previous = current;
    previous.StatusText = "Published for opposition.";
    sample.setCurrent(context.current ? &current : nullptr);
    sample.setPrevious(context.previous ? &previous : nullptr);

    size_t lastAt = 0;
    auto lookup = [&](std::string_view name) -> std::string {
        // a name is a view into the text, except the "Old" name that a comparison makes of it
        if (name.data() >= text.data() && name.data() <= text.data() + text.size())
            lastAt = static_cast<size_t>(name.data() - text.data());
        for (std::string_view extra : context.extras) {
            if (core::equalNoCase(name, extra))
                return "1";
        }
        if (std::optional<std::string> value = sample.find(name))
            return *value;
        TemplateProblem problem{lineAt(text, lastAt), "[" + std::string(name) + "] is no variable of this template"};
        if (std::none_of(problems.begin(), problems.end(), [&](const TemplateProblem& p) {
                return p.line == problem.line && p.message == problem.message;
            }))
            problems.push_back(std::move(problem));
        return {};
    };
    std::string out;
    expandTemplate(text, lookup, out);

    const size_t lastClose = text.rfind(']');
    if (const size_t open = text.find('[', lastClose == std::string_view::npos ? 0 : lastClose + 1);
        open != std::string_view::npos)
        problems.push_back({lineAt(text, open), "a \"[\" without its \"]\" (write [[] for a bracket of its own)"});
    std::stable_sort(problems.begin(), problems.end(),
                     [](const TemplateProblem& a, const TemplateProblem& b) { return a.line < b.line; });
    return problems;
}

std::vector<TemplateProblem> templateWarnings(int id, std::string_view text)
{
    std::vector<TemplateProblem> warnings;
    if (isHtmlTemplate(id))
        checkAttributeQuotes(text, warnings);
    return warnings;
}

std::optional<std::string> readUserTemplate(const std::string& path, std::string& error)
{
    const std::optional<int> id = templateOfFile(std::filesystem::path(path).filename().string());
    const platform::ResultOf<long long> size = platform::fileSize(path);
    if (size && *size > static_cast<long long>(k_maxTemplateBytes)) {
        error = "larger than 1 MB, which no template is";
        return std::nullopt;
    }
    platform::ResultOf<std::string> bytes = platform::readFile(path, platform::FileKind::Regular);
    if (!bytes) {
        error = bytes.notRegular() ? "not a regular file" : bytes.systemText();
        return std::nullopt;
    }
    // an editor that writes line feeds alone gives the same template
    std::string text;
    text.reserve(bytes->size() + bytes->size() / 32);
    for (size_t i = 0; i < bytes->size(); ++i) {
        if ((*bytes)[i] == '\n' && (i == 0 || (*bytes)[i - 1] != '\r'))
            text += '\r';
        text += (*bytes)[i];
    }
    return id && isHtmlTemplate(*id) ? platform::toCodeset(text, "UTF-8") : text;
}

TemplateStore::TemplateStore(const base::AppSettings& settings, const rules::TemplateVars& vars)
    : m_settings(settings), m_vars(vars)
{
}

std::optional<std::string> TemplateStore::text(int id)
{
    auto builtIn = [id] { return templateInUse(nullptr, id); };
    const auto& names = replaceableTemplates();
    const auto name = std::find_if(names.begin(), names.end(), [id](const TemplateName& t) { return t.id == id; });
    const std::string logDir = m_settings.value(base::setting::LogDir);
    if (name == names.end() || logDir.empty())
        return builtIn();
    const std::string path = platform::joinPath(userTemplateDir(logDir), name->fileName);
    const platform::ResultOf<platform::FileStamp> examined = platform::fileStamp(path);
    if (!examined && (examined.missing() || examined.noFolder())) {
        m_cache.erase(path);
        return builtIn();
    }
    // a file that cannot be examined is tried (and reported) once, until it can
    const platform::FileStamp stamp = examined.value_or(platform::FileStamp{0, 0, 0});
    Cached& cached = m_cache[path];
    if (cached.stamp == stamp)
        return cached.text ? cached.text : builtIn();

    cached = {stamp, std::nullopt};
    std::string why;
    std::optional<std::string> text = readUserTemplate(path, why);
    if (text) {
        const std::vector<TemplateProblem> problems = checkTemplate(id, *text, m_vars);
        if (problems.empty()) {
            cached.text = std::move(text);
            return cached.text;
        }
        why = "line " + std::to_string(problems.front().line) + ": " + problems.front().message;
        if (problems.size() > 1)
            why += ", and " + std::to_string(problems.size() - 1) + " more";
    }
    if (m_reporter)
        m_reporter("The template " + path + " is not used (" + why +
                   "); the built-in template is used instead. \"tarnwick-cli templates check\" lists its problems.");
    return builtIn();
}

std::optional<std::string> templateInUse(TemplateStore* templates, int id)
{
    if (templates)
        return templates->text(id);
    std::optional<std::string_view> text = loadTemplate(id);
    return text ? std::optional<std::string>(*text) : std::nullopt;
}

ExportResult exportTemplates(const std::string& dir)
{
    ExportResult result;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        result.error = "Can't create the folder " + dir + ": " + ec.message();
        return result;
    }
    for (const TemplateName& t : replaceableTemplates()) {
        const std::string path = platform::joinPath(dir, t.fileName);
        if (platform::fileExists(path)) {
            result.kept.push_back(path);
            continue;
        }
        std::optional<std::string_view> text = loadTemplate(t.id);
        if (!text)
            continue;
        if (platform::Result written = platform::writeFileAtomic(path, *text); !written) {
            result.error = "Can't write " + path + ": " + written.systemText();
            return result;
        }
        result.written.push_back(path);
    }
    return result;
}

} // namespace tarnwick::notify
