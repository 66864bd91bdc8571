#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::app {

// The distributor's word on a program file: a short text beside it (the program's address followed by
// ".manifest"), signed like the rules with a detached Ed25519 signature (".manifest.sig"), that binds a
// version to the length and the SHA-256 of the expanded program:
//
//   Tarnwick program manifest
//   version: 4.2.07
//   size: 18734120
//   sha256: <64 hex digits>
//
// Lines end in LF or CR LF. The first line keeps a manifest from passing for a rules text, which the
// same key signs. The manifest is fetched and checked before the program, whose expansion stops at the
// length it states.
struct ProgramManifest {
    std::string version;
    std::uint64_t size = 0;
    std::string sha256;
};
constexpr std::string_view k_manifestSuffix = ".manifest";
constexpr std::string_view k_manifestFirstLine = "Tarnwick program manifest";

// The manifest's version, length and digest; none when the text is not one.
std::optional<ProgramManifest> parseProgramManifest(std::string_view text);

// The manifest when it verifies against `publicKey` and is one; otherwise none and `why` says why not.
std::optional<ProgramManifest> verifyProgramManifest(std::string_view manifest, std::string_view signature,
                                                     std::string_view publicKey, std::string& why);

} // namespace tarnwick::app
