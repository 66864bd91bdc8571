#include "rules/requestrules.h"

#include "rules/rulesfile.h"
#include "rules/templatevars.h"

#include <string_view>

namespace tarnwick::rules {

namespace {

std::vector<std::string> headerLines(const RulesFile& rules, TemplateVars* vars, const std::string& apiKey,
                                     bool overTls)
{
    constexpr std::string_view k_lineEnd = "\r\n";
    std::string_view body = rules.sectionBody("header");
    std::vector<std::string> headers;
    // every key line is CR LF, one blank, the name, ": " and the value
    for (size_t at = body.find(k_lineEnd); at != std::string_view::npos;) {
        size_t start = at + k_lineEnd.size();
        size_t next = body.find(k_lineEnd, start);
        std::string_view line = body.substr(start, (next == std::string_view::npos ? body.size() : next) - start);
        at = next;
        if (!line.starts_with(' ') || line.starts_with("  ") || line.starts_with(" ;"))
            continue;
        size_t colon = line.find(": ");
        if (colon == std::string_view::npos || colon == 1)
            continue;
        std::string_view name = line.substr(1, colon - 1);
        // a header name is a token: no blank space and no control bytes
        bool token = true;
        for (char c : name)
            token = token && static_cast<unsigned char>(c) > ' ' && c != 0x7F;
        if (vars)
            vars->setApiKey(&apiKey);
        std::string value = rules.expandValue(line.substr(colon + 2));
        if (vars && vars->apiKeyAsked() && (apiKey.empty() || !overTls))
            continue;
        if (!token || value.empty() || value.find_first_of("\r\n") != std::string::npos)
            continue;
        headers.push_back(std::string(name).append(": ").append(value));
    }
    return headers;
}

} // namespace

std::vector<std::string> requestHeaders(const RulesFile& rules)
{
    return headerLines(rules, nullptr, {}, false);
}

std::vector<std::string> requestHeaders(const RulesFile& rules, TemplateVars& vars, const std::string& apiKey,
                                        bool overTls)
{
    ApiKeyScope scope(vars, apiKey);
    return headerLines(rules, &vars, apiKey, overTls);
}

int requestIntervalMs(const RulesFile& rules)
{
    std::string value = rules.lookup("fetch1", "interval");
    if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    int ms = std::stoi(value);
    return ms > k_maxRequestIntervalMs ? k_maxRequestIntervalMs : ms;
}

} // namespace tarnwick::rules
