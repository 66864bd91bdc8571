#include "app/programmanifest.h"

#include "core/version.h"
#include "platform/signature.h"

namespace tarnwick::app {

std::optional<ProgramManifest> parseProgramManifest(std::string_view text)
{
    ProgramManifest manifest;
    std::string_view size;
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
        } else if (line.starts_with("size: ") && size.empty()) {
            size = line.substr(6);
        } else if (line.starts_with("sha256: ") && manifest.sha256.empty()) {
            manifest.sha256 = line.substr(8);
        } else if (!line.empty()) {
            return std::nullopt;
        }
    }
    const bool hex =
        manifest.sha256.size() == 64 && manifest.sha256.find_first_not_of("0123456789abcdef") == std::string::npos;
    // a length of up to 15 digits, so that it never overflows
    const bool digits = !size.empty() && size.size() <= 15 && size.find_first_not_of("0123456789") == std::string::npos;
    if (!hex || !digits || !core::wellFormedVersion(manifest.version))
        return std::nullopt;
    for (const char c : size)
        manifest.size = manifest.size * 10 + static_cast<std::uint64_t>(c - '0');
    return manifest;
}

std::optional<ProgramManifest> verifyProgramManifest(std::string_view manifest, std::string_view signature,
                                                     std::string_view publicKey, std::string& why)
{
    if (std::string error = platform::verifySignature(manifest, signature, publicKey); !error.empty()) {
        why = "manifest: " + error;
        return std::nullopt;
    }
    std::optional<ProgramManifest> parsed = parseProgramManifest(manifest);
    if (!parsed)
        why = "the signed text is no program manifest";
    return parsed;
}

} // namespace tarnwick::app
