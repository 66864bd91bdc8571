#include "platform/signature.h"

#include "platform/command.h"
#include "platform/files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

using namespace tarnwick;

namespace {

// tests/data holds a distributor key pair made for the tests only; its private
// half signs the downloads that the tests install.
const std::string k_testKey = std::string(TARNWICK_TEST_DATA) + "/distributor-test-key.pem";
const std::string k_testPublicKey = std::string(TARNWICK_TEST_DATA) + "/distributor-test-key.pub.pem";

// Runs `command` and gives back the file it made.
std::string made(const std::vector<std::string>& command, const std::string& output)
{
    const test::CommandRun run = test::runCommand(command);
    EXPECT_EQ(run.exit, 0) << run.output;
    return platform::readFile(output).value_or("");
}

std::string signedWith(const std::string& privateKey, const std::string& file)
{
    return made({"openssl", "pkeyutl", "-sign", "-rawin", "-inkey", privateKey, "-in", file, "-out", file + ".sig"},
                file + ".sig");
}

std::string flipped(std::string bytes, std::size_t at)
{
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    return bytes;
}

} // namespace

TEST(VerifySignature, AcceptsOnlyTheDistributorsSignatureOverTheseBytes)
{
    test::TempDir dir;
    const std::string program = dir.file("Tarnwick_temp.exe");
    std::string bytes = "\x7f"
                        "ELF a program file ";
    bytes.resize(5000, 'x');
    ASSERT_TRUE(platform::writeFileAtomic(program, bytes));
    const std::string good = signedWith(k_testKey, program);
    ASSERT_EQ(good.size(), 64u);

    const std::string otherKey = dir.file("other.pem");
    made({"openssl", "genpkey", "-algorithm", "ed25519", "-out", otherKey}, otherKey);
    const std::string ecKey = dir.file("ec.pub.pem");
    made({"openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", dir.file("ec.pem")},
         dir.file("ec.pem"));
    const std::string pem = platform::readFile(k_testPublicKey).value_or("");
    const std::string der = dir.file("pub.der");
    // the raw key is the last 32 bytes of the key's DER form
    const std::string raw =
        made({"openssl", "pkey", "-in", k_testKey, "-pubout", "-outform", "DER", "-out", der}, der).substr(12);
    ASSERT_EQ(raw.size(), 32u);

    const struct {
        const char* scenario;
        std::string data;
        std::string signature;
        std::string key;
        const char* verdict;
    } cases[] = {
        {"good signature, PEM key", bytes, good, pem, ""},
        {"good signature, raw key", bytes, good, raw, ""},
        {"one bit of the program changed", flipped(bytes, 4000), good, pem, "The signature does not match."},
        {"one bit of the signature changed", bytes, flipped(good, 10), pem, "The signature does not match."},
        {"signed with another key", bytes, signedWith(otherKey, program), pem, "The signature does not match."},
        {"signature missing", bytes, "", pem, "The signature is missing."},
        {"signature truncated", bytes, good.substr(0, 63), pem, "The signature is not 64 bytes long."},
        {"signature with a byte too many", bytes, good + "\n", pem, "The signature is not 64 bytes long."},
        {"an EC key", bytes, good,
         made({"openssl", "pkey", "-in", dir.file("ec.pem"), "-pubout", "-out", ecKey}, ecKey),
         "The distributor key is not an Ed25519 public key."},
        {"a damaged PEM key", bytes, good, flipped(pem, 40), "The distributor key is not an Ed25519 public key."},
        {"no key", bytes, good, "", "No distributor key is built into this program."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        EXPECT_EQ(platform::verifySignature(c.data, c.signature, c.key), c.verdict);
    }
}

TEST(DistributorKey, IsTheKeyFileTheBuildNamed)
{
    const std::string keyFile = TARNWICK_DISTRIBUTOR_KEY_FILE;
    if (keyFile.empty())
        EXPECT_EQ(platform::distributorKey(), "");
    else
        EXPECT_EQ(platform::distributorKey(), platform::readFile(keyFile).value_or("?"));
}
