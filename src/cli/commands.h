#pragma once

#include "cli/command.h"

namespace tarnwick::cli {

// One file per command, each declaring its own; every command returns the process's exit code.
extern const Command k_normaliseCommand;
extern const Command k_identifyCommand;
extern const Command k_extractCommand;
extern const Command k_matchCommand;
extern const Command k_configCommand;
extern const Command k_listCommand;
extern const Command k_fetchCommand;
extern const Command k_sendCommand;
extern const Command k_reportCommand;
extern const Command k_testMailCommand;
extern const Command k_mailLoginCommand;
extern const Command k_addCommand;
extern const Command k_deleteCommand;
extern const Command k_changeCommand;
extern const Command k_detailsCommand;
extern const Command k_historyCommand;
extern const Command k_calendarCommand;
extern const Command k_deadlinesCommand;
extern const Command k_exportCommand;
extern const Command k_importCommand;
extern const Command k_updateCommand;
extern const Command k_autoCommand;
extern const Command k_templatesCommand;
extern const Command k_rulesCommand;
extern const Command k_installCommand;
extern const Command k_upgradeCommand;

} // namespace tarnwick::cli
