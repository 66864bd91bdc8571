#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::rules {
class TemplateVars;
}

namespace tarnwick::notify {

// The built-in templates by role.
namespace templateid {
constexpr int Activity = 1;
constexpr int EntryAdded = 2;
constexpr int EntryChanged = 3;
constexpr int EntryDeleted = 4;
constexpr int TestMail = 5;
constexpr int ReportHead = 6;
constexpr int ReportRow = 7;
constexpr int ReportTail = 8;
constexpr int StatusUpdate = 9;
constexpr int Welcome = 10;
constexpr int Upgrade = 12;
constexpr int Problem = 13;
// one message for the status changes of an update run, and the block of each changed entry in it
constexpr int Digest = 14;
constexpr int DigestEntry = 15;
// the entries that an unattended run could not update, with their reasons
constexpr int UpdateFailures = 16;
// a reminder of a deadline: one for each threshold its due day crosses, and one when it is overdue
constexpr int DeadlineReminder = 17;
// one message for the entries an import added, a line for each
constexpr int EntriesImported = 18;
} // namespace templateid

// The names only some templates know, answered by the code that expands them.
namespace extraname {
constexpr std::string_view DigestCount = "DigestCount";         // the digest: how many entries changed
constexpr std::string_view DigestChanges = "DigestChanges";     // the digest: the blocks of the changed entries
constexpr std::string_view DigestNumber = "DigestNumber";       // a block of the digest: its number, from 1
constexpr std::string_view DigestEditCount = "DigestEditCount"; // the digest: how many edits of the list joined it
constexpr std::string_view DigestEdits = "DigestEdits";         // the digest: a line for each edit, its subject
constexpr std::string_view DigestSummary = "DigestSummary";     // the digest: "2 marks changed, 1 entry added"
constexpr std::string_view DigestText = "DigestText";           // the digest: the changes, then the edits
constexpr std::string_view DigestReminderCount = "DigestReminderCount"; // the digest: how many deadline reminders
constexpr std::string_view DigestReminders = "DigestReminders"; // the digest: a line for each reminder, its subject
constexpr std::string_view DigestRunItems = "DigestRunItems";   // the digest: changes and reminders of an update run
constexpr std::string_view DeadlineKind = "DeadlineKind";       // a reminder: "Response to office action"
constexpr std::string_view DeadlineDate = "DeadlineDate";       // a reminder: the due day, a business day
constexpr std::string_view DeadlineGrace = "DeadlineGrace"; // a reminder: the last day an extension or grace reaches
constexpr std::string_view DeadlineDaysLeft = "DeadlineDaysLeft"; // a reminder: days to the due day (below 0: past)
constexpr std::string_view DeadlineSource = "DeadlineSource";     // a reminder: the status text the deadline comes from
constexpr std::string_view ReminderThreshold = "ReminderThreshold"; // a reminder: "60", "14", "3" ... or "overdue"
constexpr std::string_view RowClass = "RowClass";                   // a report row: "recent", "failing", "norecord"
constexpr std::string_view HistoryLink = "HistoryLinkHtml";         // a report row: the link to its recorded changes
constexpr std::string_view History = "HistoryHtml";                 // the report's tail: the recorded changes
constexpr std::string_view FailureCount = "FailureCount";           // the update failures: how many entries failed
constexpr std::string_view Failures = "Failures";               // the update failures: a line per entry and its reason
constexpr std::string_view ImportCount = "ImportCount";         // the import's notice: how many entries it added
constexpr std::string_view ImportedEntries = "ImportedEntries"; // the import's notice: a line for each added entry
// the report's head: the deadlines of the next days and the overdue ones
constexpr std::string_view UpcomingDeadlines = "UpcomingDeadlinesHtml";
} // namespace extraname

// The built-in text of template `id`; none when it is missing or empty (it then expands to nothing).
std::optional<std::string_view> loadTemplate(int id);

// `text` as HTML text in UTF-8: "&", "<", ">", double quote and apostrophe as character references, bytes that
// are no UTF-8 read as Windows-1252, and control characters (C0 but TAB, LF and CR; DEL; C1) and
// noncharacters, which no HTML page may hold, as blanks.
std::string escapeHtml(std::string_view text);
void appendEscapedHtml(std::string& out, std::string_view text);

// A name whose value is markup, written unescaped into HTML ("CourtesyHtml"): one that ends in "Html".
bool isMarkupName(std::string_view name);

// Where the expander takes the values of its variables from.
using VariableLookup = std::function<std::string(std::string_view name)>;

struct ExpandOptions {
    // HTML-escape every variable value (the report templates); a markup name's value stays as it is.
    bool escapeValues = false;
};

// Whether `text` is a message: it begins with a header line that an e-mail template may begin with ("Subject: ",
// "To: ", "Cc: "). Its header runs up to its first empty line.
bool isMessageText(std::string_view text);

// `value` as it may stand in a header line: CR, LF and every other control character (C0 but TAB, DEL, and the
// C1 characters U+0080 to U+009F in UTF-8) become blanks. Windows-1252 bytes 0x80 to 0x9F are characters and stay.
std::string headerSafe(std::string_view value);

// Appends the expansion of `text` to `out`. Plain items "[Name]" give the value of Name; conditional items
// "[Name=value?then|else]" or "[Name?then|else]" (the latter compares with NameOld) give the chosen text with
// "%Cur%" (and "%Old%") filled in. "[]]" and "[]" give "]", "[[]" gives "[", an unterminated "[" is copied.
// In the header of a message (isMessageText) every value is made headerSafe, whoever expands it: no value, a
// reference pasted over two lines or an imported one, starts a header line of its own.
void expandTemplate(std::string_view text, const VariableLookup& lookup, std::string& out, ExpandOptions options = {});
void expandTemplate(std::string_view text, const rules::TemplateVars& vars, std::string& out,
                    ExpandOptions options = {});
std::string expandTemplate(std::string_view text, const rules::TemplateVars& vars, ExpandOptions options = {});

// Loads template `id` and expands it; the empty text when the template is missing.
std::string expandTemplateId(int id, const rules::TemplateVars& vars, ExpandOptions options = {});

// Appends the expansion of an e-mail template; as expandTemplate, which keeps every message's header whole.
void expandMailTemplate(std::string_view text, const rules::TemplateVars& vars, std::string& out);

} // namespace tarnwick::notify
