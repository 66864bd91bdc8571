#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::app {

// The distributor's word on a program file: a short text beside it (the program's address followed by
// ".manifest"), signed like the rules with a detached Ed25519 signature (".manifest.sig"), that binds a
// version to the SHA-256 of the expanded program:
//
//   Tarnwick program manifest
//   version: 4.2.07
//   sha256: <64 hex digits>
//
// Lines end in LF or CR LF. The first line keeps a manifest from passing for a rules text, which the
// same key signs.
struct ProgramManifest {
    std::string version;
    std::string sha256;
};
constexpr std::string_view k_manifestSuffix = ".manifest";
constexpr std::string_view k_manifestFirstLine = "Tarnwick program manifest";

// The manifest's version and digest; none when the text is not one.
std::optional<ProgramManifest> parseProgramManifest(std::string_view text);

// Why the expanded `program` may not be installed (empty when it may): the manifest must verify against
// `publicKey`, name exactly this program's digest, and a version newer than `runningVersion`.
struct ManifestVerdict {
    enum class Kind { Good, NotSigned, NotNewer };
    Kind kind = Kind::Good;
    std::string why;
};
ManifestVerdict checkProgramManifest(std::string_view manifest, std::string_view signature, std::string_view program,
                                     std::string_view runningVersion, std::string_view publicKey);

} // namespace tarnwick::app
