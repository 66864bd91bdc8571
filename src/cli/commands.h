#pragma once

#include <string>
#include <vector>

namespace tarnwick::cli {

// What every command gets: its own arguments (after the command word) and the
// global options given before it.
struct Invocation {
    std::vector<std::string> args;
    std::string settingsOption; // --settings FILE, empty when not given
};

// One file per command; each returns the process's exit code.
int cmdNormalise(const Invocation& inv);
int cmdExtract(const Invocation& inv);
int cmdMatch(const Invocation& inv);
int cmdConfig(const Invocation& inv);
int cmdList(const Invocation& inv);
int cmdFetch(const Invocation& inv);
int cmdSend(const Invocation& inv);
int cmdReport(const Invocation& inv);
int cmdTestMail(const Invocation& inv);
int cmdIdentify(const Invocation& inv);
int cmdAdd(const Invocation& inv);
int cmdDelete(const Invocation& inv);
int cmdChange(const Invocation& inv);
int cmdDetails(const Invocation& inv);
int cmdUpdate(const Invocation& inv);
int cmdAuto(const Invocation& inv);
int cmdRules(const Invocation& inv);
int cmdInstall(const Invocation& inv);
int cmdUpgrade(const Invocation& inv);
int cmdCalendar(const Invocation& inv);
int cmdExport(const Invocation& inv);
int cmdImport(const Invocation& inv);
int cmdHistory(const Invocation& inv);
int cmdTemplates(const Invocation& inv);

} // namespace tarnwick::cli
