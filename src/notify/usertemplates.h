#pragma once

#include "platform/files.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::base {
class AppSettings;
}
namespace tarnwick::rules {
class TemplateVars;
}

namespace tarnwick::notify {

// The folder below the logging directory whose files replace built-in templates of the same name.
constexpr const char* k_userTemplateFolder = "Tarnwick/templates";
std::string userTemplateDir(const std::string& logDir);

// A template the user may replace: the notices, the test e-mail, the report and the digest. The service reports
// go to the distributor and stay as they are built in.
struct TemplateName {
    int id;
    std::string_view fileName;
};
const std::vector<TemplateName>& replaceableTemplates();
// The template a file of that name replaces; none for any other name.
std::optional<int> templateOfFile(std::string_view fileName);

// Why a template text cannot serve as template `id`, at a line (from 1; 0 for the whole file).
struct TemplateProblem {
    int line = 0;
    std::string message;
};
// Expands `text` as template `id` with a sample entry (and a sample previous entry where the template has one)
// and lists what keeps it from use: a name that is no variable of this template, an unterminated "[", a NUL
// byte, and for an e-mail a first line (after "To: " and "Cc: " lines) that is no "Subject: " line or a header
// without the empty line that ends it. `vars` gives the application-wide names.
std::vector<TemplateProblem> checkTemplate(int id, std::string_view text, const rules::TemplateVars& vars);

// What a usable template probably does not mean: in an HTML template a variable inside an unquoted attribute
// value (<a href=[StatusUrl]>), where a blank in the value would end the attribute and start another.
std::vector<TemplateProblem> templateWarnings(int id, std::string_view text);

// A user's template file as it is used: its bytes with every line ending in CR LF, and the HTML templates in
// UTF-8 (bytes that are no UTF-8 read as Windows-1252). None with `error` set when it cannot be read.
std::optional<std::string> readUserTemplate(const std::string& path, std::string& error);

// The template texts in use: the user's file of a template's name when there is one and it passes the check,
// else the built-in text. A file is read again when it changes; a file that cannot be used is reported once
// (until it changes), naming the file, and the built-in template serves: a notice is never lost to a template.
class TemplateStore {
public:
    TemplateStore(const base::AppSettings& settings, const rules::TemplateVars& vars);

    // The text of template `id`; none when neither a usable file nor a built-in text exists.
    std::optional<std::string> text(int id);
    // Receives the message about a file that is not used; without one the message is dropped.
    void setReporter(std::function<void(const std::string& message)> reporter) { m_reporter = std::move(reporter); }

private:
    struct Cached {
        platform::FileStamp stamp;
        std::optional<std::string> text; // none: the file cannot be used
    };

    const base::AppSettings& m_settings;
    const rules::TemplateVars& m_vars;
    std::map<std::string, Cached> m_cache; // by path
    std::function<void(const std::string&)> m_reporter;
};

// The text of template `id` from `templates`, or the built-in one without a store.
std::optional<std::string> templateInUse(TemplateStore* templates, int id);

// Writes the built-in text of every replaceable template into `dir` under its name; a file that is there
// already is kept. The names written and kept; `error` says why writing stopped.
struct ExportResult {
    std::vector<std::string> written;
    std::vector<std::string> kept;
    std::string error;
};
ExportResult exportTemplates(const std::string& dir);

} // namespace tarnwick::notify
