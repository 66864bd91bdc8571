#pragma once

#include "base/log.h"
#include "base/settings.h"
#include "core/entrystore.h"
#include "notify/appnames.h"
#include "notify/history.h"
#include "notify/usertemplates.h"
#include "platform/result.h"
#include "rules/rulesfile.h"
#include "rules/templatevars.h"

#include <string>

namespace tarnwick::app {

// The application object without its windows: the settings, the log, the rules
// in use, the template variables with the application-wide names, and the
// entries, wired together once for every front end.
class AppContext {
public:
    // Reads the settings at `settingsPath` and loads the rules from the logging
    // directory (the built-in rules when it has none or an older one).
    explicit AppContext(const std::string& settingsPath);
    // Stores the settings (with the settings' own destructor).
    ~AppContext();
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    std::string logDir() const { return settings.value(base::setting::LogDir); }
    // Loads the data file from the logging directory into `entries`; a success when
    // it was read or does not exist, else the version message.
    platform::Result loadEntries();
    // The history of changes in the logging directory (read again only when it changed).
    const notify::HistoryText& history(const notify::HistoryKeep& keep = {}) { return m_history.read(logDir(), keep); }
    // A user's template that cannot be used is written to the log (a window reports it too).
    void logTemplateProblems();

    base::AppSettings settings;
    base::Log log;
    rules::TemplateVars vars;
    rules::RulesFile rules;
    notify::ApplicationNames names;
    core::EntryStore entries;
    notify::TemplateStore templates;

private:
    notify::History m_history;
    // declared last: StatusUrl, which reads the rules above, is withdrawn before they go
    core::StatusUrlProviderScope m_statusUrl;
};

} // namespace tarnwick::app
