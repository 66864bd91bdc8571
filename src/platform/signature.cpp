#include "platform/signature.h"

#include <memory>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace tarnwick::platform {

namespace {

constexpr std::size_t k_rawKeySize = 32;
constexpr std::size_t k_signatureSize = 64;

struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

// a refused key or signature leaves nothing in the thread's error queue for later TLS calls to trip over
struct ErrorQueueClear {
    ~ErrorQueueClear() { ERR_clear_error(); }
};

Key ed25519Key(std::string_view bytes)
{
    const auto* raw = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() == k_rawKeySize)
        return Key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, raw, bytes.size()));
    std::unique_ptr<BIO, BioFree> in(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    if (!in)
        return nullptr;
    Key key(PEM_read_bio_PUBKEY(in.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519)
        return nullptr;
    return key;
}

} // namespace

std::string verifySignature(std::string_view data, std::string_view signature, std::string_view publicKey)
{
    ErrorQueueClear clearErrors;
    if (publicKey.empty())
        return "No distributor key is built into this program.";
    Key key = ed25519Key(publicKey);
    if (!key)
        return "The distributor key is not an Ed25519 public key.";
    if (signature.empty())
        return "The signature is missing.";
    if (signature.size() != k_signatureSize)
        return "The signature is not " + std::to_string(k_signatureSize) + " bytes long.";
    std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return "The signature cannot be checked.";
    const int verdict =
        EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                         reinterpret_cast<const unsigned char*>(data.data()), data.size());
    return verdict == 1 ? std::string() : std::string("The signature does not match.");
}

std::string sha256Hex(std::string_view data)
{
    Sha256 digest;
    digest.add(data);
    return digest.hex();
}

struct Sha256::Context {
    std::unique_ptr<EVP_MD_CTX, ContextFree> md{EVP_MD_CTX_new()};
    bool good = false;
};

Sha256::Sha256() : m_context(std::make_unique<Context>())
{
    m_context->good = m_context->md && EVP_DigestInit_ex(m_context->md.get(), EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() = default;

void Sha256::add(std::string_view block)
{
    if (m_context->good && !block.empty())
        m_context->good = EVP_DigestUpdate(m_context->md.get(), block.data(), block.size()) == 1;
}

std::string Sha256::hex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!m_context->good || EVP_DigestFinal_ex(m_context->md.get(), digest, &length) != 1)
        return {};
    m_context->good = false; // the context is spent
    static constexpr char k_hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += k_hex[digest[i] >> 4];
        out += k_hex[digest[i] & 0x0F];
    }
    return out;
}

} // namespace tarnwick::platform
