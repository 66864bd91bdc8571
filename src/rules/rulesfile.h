#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tarnwick::rules {

class TemplateVars;

// The edits of variables and capture slots may not grow a value past this many
// bytes (at least 64 KiB, else four times the value they started from): a chain
// of edits that each double the text would otherwise exhaust the memory.
size_t editLimit(size_t startSize);
// Nor may a chain of edits pass over more bytes than this (32 times the limit): the operations after that are
// left out, so that hostile rules with thousands of edits cost milliseconds, not minutes.
size_t editWorkBudget(size_t limit);
// Replace-all whose result may not be longer than `limit`: when it would be,
// the text stays as it is and false is returned.
bool replaceAllWithin(std::string& text, std::string_view from, std::string_view to, size_t limit);

// The rules text in use: where status pages come from, how fields are cut out
// of them, and where newer rules, program files and service reports go. The
// built-in default is used unless the copy below the logging folder is newer.
class RulesFile {
public:
    // Variables in looked-up values resolve through `vars`, which in turn reads
    // RulesVersion from this object. Starts with the built-in text in use.
    explicit RulesFile(TemplateVars& vars);
    ~RulesFile();
    RulesFile(const RulesFile&) = delete;
    RulesFile& operator=(const RulesFile&) = delete;

    // Reads logDir + "/Tarnwick/rules.txt" and keeps it when its version is
    // newer than the built-in one; otherwise the built-in text is used and the
    // file is left alone. An empty logDir uses the built-in text only.
    void load(const std::string& logDir);
    // Writes the text in use to the rules file when it must be saved. The folder
    // must exist; a failure writes nothing and reports nothing.
    void save(const std::string& logDir) const;

    // The value of `key` in `section` with escapes and variables applied; empty
    // when the section or the key is missing. Lookups are for the thread that
    // owns the rules: the raw values found are kept until the text changes.
    std::string lookup(std::string_view section, std::string_view key) const;
    // The same value exactly as written in the text, before escapes and variables.
    std::string_view rawValue(std::string_view section, std::string_view key) const;
    // The lines of a section after its header line, each begun by CR LF; empty when the section is missing.
    std::string_view sectionBody(std::string_view section) const;
    // Escapes and variables applied to one value.
    std::string expandValue(std::string_view value) const;

    // The version written on the "version: " line (any case); empty when absent,
    // when the line has no line end, or when it reads "-".
    static std::string versionOf(std::string_view text);
    // The program's own version rules (core/version.h): numbers of digits divided by single dots, compared
    // number by number.
    static bool wellFormedVersion(std::string_view version);
    static int compareVersions(std::string_view a, std::string_view b);
    static std::string_view defaultText();
    // The second built-in text: rules for the office's XML status records.
    static std::string_view officeXmlText();
    // Where the rules file of a logging folder lives.
    static std::string filePath(std::string_view logDir);

    const std::string& text() const { return m_text; }
    const std::string& version() const { return m_version; }

    // A downloaded text replaces the one in use and is saved at shutdown.
    void accept(std::string text);
    // The rules follow a changed logging folder when they came from a file.
    void markDirtyIfFromFile();
    // Makes `text` the text in use as if it had been read from the rules file.
    void useText(std::string text);

    bool loadedFromFile() const { return m_loadedFromFile; }
    bool mustSave() const { return m_mustSave; }
    bool updatePending() const { return m_updatePending; }
    void setUpdatePending(bool pending) { m_updatePending = pending; }
    bool directDownload() const { return m_directDownload; }
    void setDirectDownload(bool direct) { m_directDownload = direct; }

private:
    void setText(std::string text);
    std::string_view findRawValue(std::string_view section, std::string_view key) const;

    TemplateVars& m_vars;
    std::string m_text;
    // the section's length, ":", the section and the key, to the raw value in m_text
    mutable std::unordered_map<std::string, std::string_view> m_rawValues;
    mutable std::string m_rawKey;
    std::string m_version;
    bool m_loadedFromFile = false;
    bool m_mustSave = false;
    bool m_updatePending = true;
    bool m_directDownload = true;
};

} // namespace tarnwick::rules
