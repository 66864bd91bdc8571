#pragma once

#include <string>
#include <vector>

namespace tarnwick::rules {

class RulesFile;
class TemplateVars;

// The header lines every page request carries: one "Name: value" per key line of
// the "header:" section, in the order written, each value looked up like any
// other rules value (escapes and variables). Lines with an empty name or value
// are left out.
std::vector<std::string> requestHeaders(const RulesFile& rules);
// The same with the name ApiKey answered by `apiKey` (`vars` being the rules' own variables); a line
// whose value names ApiKey is left out while no key is set, and whatever the rules say it goes only over
// TLS (`overTls`: the request's address is "https://").
std::vector<std::string> requestHeaders(const RulesFile& rules, TemplateVars& vars, const std::string& apiKey,
                                        bool overTls);

// The least time between two requests to the same host that the rules ask for,
// in milliseconds: the value of "interval" in "fetch1". 0 when it is missing or
// not a plain number; at most k_maxRequestIntervalMs.
inline constexpr int k_maxRequestIntervalMs = 120000;
int requestIntervalMs(const RulesFile& rules);

} // namespace tarnwick::rules
