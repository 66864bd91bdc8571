#include "app/programmanifest.h"

#include "platform/signature.h"
#include "rules/rulesfile.h"

namespace tarnwick::app {

std::optional<ProgramManifest> parseProgramManifest(std::string_view text)
{
    ProgramManifest manifest;
    bool first = true;
    while (!text.empty()) {
        const size_t lf = text.find('\n');
        if (lf == std::string_view::npos)
            return std::nullopt; // every line ends
        std::string_view line = text.substr(0, lf);
        text.remove_prefix(lf + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (first) {
            if (line != k_manifestFirstLine)
                return std::nullopt;
            first = false;
        } else if (line.starts_with("version: ") && manifest.version.empty()) {
            manifest.version = line.substr(9);
        } else if (line.starts_with("sha256: ") && manifest.sha256.empty()) {
            manifest.sha256 = line.substr(8);
        } else if (!line.empty()) {
            return std::nullopt;
        }
    }
    const bool hex =
        manifest.sha256.size() == 64 && manifest.sha256.find_first_not_of("0123456789abcdef") == std::string::npos;
    if (!hex || !rules::RulesFile::wellFormedVersion(manifest.version))
        return std::nullopt;
    return manifest;
}

ManifestVerdict checkProgramManifest(std::string_view manifest, std::string_view signature, std::string_view program,
                                     std::string_view runningVersion, std::string_view publicKey)
{
    using Kind = ManifestVerdict::Kind;
    if (std::string why = platform::verifySignature(manifest, signature, publicKey); !why.empty())
        return {Kind::NotSigned, "manifest: " + why};
    const std::optional<ProgramManifest> parsed = parseProgramManifest(manifest);
    if (!parsed)
        return {Kind::NotSigned, "the signed text is no program manifest"};
    if (platform::sha256Hex(program) != parsed->sha256)
        return {Kind::NotSigned, "the program is not the one the manifest names"};
    // the signature binds the version, so an older signed program cannot pass for a newer one
    if (rules::RulesFile::compareVersions(parsed->version, runningVersion) <= 0)
        return {Kind::NotNewer, parsed->version};
    return {};
}

} // namespace tarnwick::app
