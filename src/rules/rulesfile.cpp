#include "rules/rulesfile.h"

#include "core/text.h"
#include "core/version.h"
#include "platform/files.h"
#include "resources/resources.h"
#include "rules/templatevars.h"

#include <algorithm>
#include <utility>

namespace tarnwick::rules {

namespace {

constexpr std::string_view k_lineEnd = "\r\n";
constexpr int k_defaultRulesTemplate = 11;

bool isBlank(char c)
{
    return c == ' ';
}

// Where the body of a section ends: at the line end before the first line that
// starts with anything but a blank, ";" or the CR of an empty line.
size_t bodyEnd(std::string_view text, size_t from)
{
    size_t lineEnd = text.find(k_lineEnd, from);
    while (lineEnd != std::string_view::npos) {
        size_t next = lineEnd + k_lineEnd.size();
        if (next >= text.size())
            return lineEnd;
        char first = text[next];
        if (first != ' ' && first != ';' && first != '\r')
            return lineEnd;
        lineEnd = text.find(k_lineEnd, next);
    }
    return text.size();
}

// Applies the "#from=to" edits that follow a variable's name, in order.
std::string applyVariableEdits(std::string value, std::string_view edits)
{
    const size_t limit = editLimit(value.size());
    const size_t budget = editWorkBudget(limit);
    size_t work = 0;
    while (!edits.empty()) {
        size_t hash = edits.find('#');
        std::string_view operation = edits.substr(0, hash);
        edits = hash == std::string_view::npos ? std::string_view() : edits.substr(hash + 1);
        size_t equals = operation.find('=');
        if (equals == std::string_view::npos || equals == 0)
            continue;
        work += value.size() + operation.size();
        if (work > budget)
            break;
        replaceAllWithin(value, operation.substr(0, equals), operation.substr(equals + 1), limit);
    }
    return value;
}

} // namespace

size_t editLimit(size_t startSize)
{
    constexpr size_t k_minimum = size_t{64} << 10;
    return startSize > k_minimum / 4 ? startSize * 4 : k_minimum;
}

size_t editWorkBudget(size_t limit)
{
    constexpr size_t k_passes = 32;
    return limit * k_passes;
}

bool replaceAllWithin(std::string& text, std::string_view from, std::string_view to, size_t limit)
{
    if (from.empty())
        return true;
    if (to.size() > from.size()) {
        // count first, so that a refused replacement costs no memory
        size_t count = 0;
        for (size_t at = core::findBytes(text, from); at != std::string::npos;
             at = core::findBytes(text, from, at + from.size()))
            ++count;
        const size_t growth = to.size() - from.size();
        if (count != 0 && (count > (limit - std::min(limit, text.size())) / growth))
            return false;
    }
    text = core::replaceAll(text, from, to);
    return true;
}

RulesFile::RulesFile(TemplateVars& vars) : m_vars(vars)
{
    setText(std::string(defaultText()));
    m_vars.setRules(this);
}

RulesFile::~RulesFile()
{
    if (m_vars.rules() == this)
        m_vars.setRules(nullptr);
}

std::string_view RulesFile::defaultText()
{
    return resources::templateText(k_defaultRulesTemplate).value_or(std::string_view());
}

std::string_view RulesFile::officeXmlText()
{
    return resources::text("officexml").value_or(std::string_view());
}

std::string RulesFile::filePath(std::string_view logDir)
{
    return platform::joinPath(logDir, "Tarnwick/rules.txt");
}

void RulesFile::setText(std::string text)
{
    m_rawValues.clear();
    m_text = std::move(text);
    m_version = versionOf(m_text);
}

void RulesFile::load(const std::string& logDir)
{
    std::string fileText;
    if (!logDir.empty())
        fileText = platform::readFile(filePath(logDir)).value_or(std::string());
    std::string_view builtIn = defaultText();
    m_mustSave = false;
    if (!fileText.empty() && compareVersions(versionOf(builtIn), versionOf(fileText)) < 0) {
        setText(std::move(fileText));
        m_loadedFromFile = true;
    } else {
        setText(std::string(builtIn));
        m_loadedFromFile = false;
    }
}

void RulesFile::save(const std::string& logDir) const
{
    if (!m_mustSave || logDir.empty())
        return;
    // The old file stays until the new one is complete; a folder that does not
    // exist makes the write fail, which is not reported.
    (void)platform::writeFileAtomic(filePath(logDir), m_text);
}

void RulesFile::accept(std::string text)
{
    setText(std::move(text));
    m_mustSave = true;
}

void RulesFile::markDirtyIfFromFile()
{
    if (m_loadedFromFile)
        m_mustSave = true;
}

void RulesFile::useText(std::string text)
{
    setText(std::move(text));
    m_loadedFromFile = true;
    m_mustSave = false;
}

std::string RulesFile::versionOf(std::string_view text)
{
    constexpr std::string_view key = "version: ";
    size_t at = text.find(key);
    if (at == std::string_view::npos) {
        // Any mix of capitals counts: compare both upper-cased.
        at = core::toUpperAscii(text).find(core::toUpperAscii(key));
        if (at == std::string_view::npos)
            return {};
    }
    size_t start = at + key.size();
    while (start < text.size() && isBlank(text[start]))
        ++start;
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos)
        return {};
    while (end > start && isBlank(text[end - 1]))
        --end;
    std::string_view version = text.substr(start, end - start);
    if (version == "-")
        return {};
    return std::string(version);
}

bool RulesFile::wellFormedVersion(std::string_view version)
{
    return core::wellFormedVersion(version);
}

int RulesFile::compareVersions(std::string_view a, std::string_view b)
{
    return core::compareVersions(a, b);
}

std::string_view RulesFile::sectionBody(std::string_view section) const
{
    std::string_view text = m_text;

    std::string header;
    header.reserve(section.size() + 3);
    header.append(k_lineEnd).append(section).append(":");
    size_t at = text.find(header);
    if (at == std::string_view::npos)
        return {};
    size_t bodyStart = at + header.size();
    return text.substr(bodyStart, bodyEnd(text, bodyStart) - bodyStart);
}

std::string_view RulesFile::rawValue(std::string_view section, std::string_view key) const
{
    // the same few keys are read for every page
    m_rawKey.assign(std::to_string(section.size())).append(":").append(section).append(key);
    if (auto known = m_rawValues.find(m_rawKey); known != m_rawValues.end())
        return known->second;
    std::string_view value = findRawValue(section, key);
    if (m_rawValues.size() >= 256)
        m_rawValues.clear();
    m_rawValues.emplace(m_rawKey, value);
    return value;
}

std::string_view RulesFile::findRawValue(std::string_view section, std::string_view key) const
{
    std::string_view body = sectionBody(section);

    std::string keyLine;
    keyLine.reserve(key.size() + 5);
    keyLine.append(k_lineEnd).append(" ").append(key).append(": ");
    size_t keyAt = body.find(keyLine);
    if (keyAt == std::string_view::npos)
        return {};
    size_t valueStart = keyAt + keyLine.size();
    size_t valueEnd = body.find(k_lineEnd, valueStart);
    if (valueEnd == std::string_view::npos)
        valueEnd = body.size();
    return body.substr(valueStart, valueEnd - valueStart);
}

std::string RulesFile::expandValue(std::string_view raw) const
{
    std::string value = core::replaceAll(core::replaceAll(raw, "\\r\\n", "\r\n"), "\\\\", "\\");

    std::string out;
    out.reserve(value.size());
    size_t pos = 0;
    for (;;) {
        size_t open = value.find('[', pos);
        if (open == std::string::npos)
            break;
        out.append(value, pos, open - pos);
        std::string_view after = std::string_view(value).substr(open + 1);
        if (after.starts_with("[]") || after.starts_with("]]")) {
            // The escaped brackets of a pattern are no variable: pass the "[" on.
            out += '[';
            pos = open + 1;
            continue;
        }
        size_t close = value.find(']', open);
        if (close == std::string::npos) {
            pos = open;
            break;
        }
        std::string_view inside = std::string_view(value).substr(open + 1, close - open - 1);
        if (inside.starts_with('*')) {
            // Capture tokens of patterns are never variables.
            out.append(value, open, close + 1 - open);
        } else {
            size_t hash = inside.find('#');
            std::string_view name = inside.substr(0, hash);
            std::string_view edits = hash == std::string_view::npos ? std::string_view() : inside.substr(hash + 1);
            out += applyVariableEdits(m_vars.lookup(name), edits);
        }
        pos = close + 1;
    }
    out.append(value, pos, std::string::npos);
    return out;
}

std::string RulesFile::lookup(std::string_view section, std::string_view key) const
{
    std::string_view raw = rawValue(section, key);
    if (raw.empty())
        return {};
    return expandValue(raw);
}

} // namespace tarnwick::rules
