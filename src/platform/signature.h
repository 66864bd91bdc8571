#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace tarnwick::platform {

// Detached Ed25519 signatures (64 raw bytes over the exact bytes of a text) are how the distributor
// vouches for the rules texts and program manifests that this program downloads.

// The distributor's Ed25519 public key built into this program (the file named by
// the TARNWICK_DISTRIBUTOR_KEY build option, as its bytes: PEM or the 32 raw key
// bytes); empty when the build has none, and then no signature verifies.
std::string_view distributorKey();

// Checks a detached Ed25519 signature (the 64 raw bytes) over `data` against
// `publicKey` (PEM or 32 raw bytes). Returns an empty text when it verifies,
// else why not.
std::string verifySignature(std::string_view data, std::string_view signature, std::string_view publicKey);

// The SHA-256 digest of `data` as 64 lower-case hex digits.
std::string sha256Hex(std::string_view data);

// The same digest of bytes that arrive in blocks, so that a large file need never be whole in memory.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void add(std::string_view block);
    // The digest of everything added, as sha256Hex gives it; empty when the digest could not be computed.
    std::string hex();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

} // namespace tarnwick::platform
