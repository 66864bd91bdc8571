#include "net/mimetext.h"

#include <gtest/gtest.h>

using namespace tarnwick::net;

namespace {

std::string times(int n, const std::string& piece)
{
    std::string out;
    for (int i = 0; i < n; ++i)
        out += piece;
    return out;
}

} // namespace

TEST(MimeText, CharsetFollowsUtf8Validity)
{
    struct Case {
        const char* text;
        const char* charset;
    };
    const Case cases[] = {
        {"", "UTF-8"},
        {"plain", "UTF-8"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "UTF-8"},
        {"Tarnwick\xae", "ISO-8859-1"},
        {"Mark\x99 \xae", "windows-1252"},    // a trade mark: no character in Latin-1
        {"\xc0\xaf", "ISO-8859-1"},           // overlong
        {"\xed\xa0\x80", "windows-1252"},     // surrogate
        {"\xf4\x90\x80\x80", "windows-1252"}, // past U+10FFFF
        {"\xe2\x82", "windows-1252"},         // cut short
        {"\xc3\x28", "ISO-8859-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_STREQ(charsetOf(c.text), c.charset);
    }
}

TEST(MimeText, QuotedPrintable)
{
    struct Case {
        std::string body;
        std::string encoded;
    };
    const Case cases[] = {
        {"", ""},
        {"a=b\r\n", "a=3Db\r\n"},
        {"tail \r\nx\t\r\n", "tail=20\r\nx=09\r\n"},
        {"mid blank\r\n", "mid blank\r\n"},
        {"x\ny\rz\r\n", "x=0Ay=0Dz\r\n"},
        {".dot\r\n.\r\n", "=2Edot\r\n=2E\r\n"},
        {"\xae\x01\x7f\r\n", "=AE=01=7F\r\n"},
        {"no end", "no end=\r\n"},
        {"a ", "a=20=\r\n"},
        {times(80, "a") + "\r\n", times(75, "a") + "=\r\n" + times(5, "a") + "\r\n"},
        {times(74, "a") + "=\r\n", times(74, "a") + "=\r\n=3D\r\n"},
        {times(75, "a") + ".\r\n", times(75, "a") + "=\r\n=2E\r\n"}, // a dot after a soft break starts a line too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body.substr(0, 20));
        EXPECT_EQ(quotedPrintable(c.body), c.encoded);
    }
}

TEST(MimeText, EncodedWords)
{
    const std::string word = "=?UTF-8?Q?" + times(9, "=C3=A9") + "?=";
    struct Case {
        std::string text;
        std::string encoded;
    };
    const Case cases[] = {
        {"Tarnwick\xae Test e-mail", "=?ISO-8859-1?Q?Tarnwick=AE_Test_e-mail?="},
        {"Caf\xc3\xa9 (1/2)?", "=?UTF-8?Q?Caf=C3=A9_=281/2=29=3F?="},
        // a template's dash between Latin-1 values: the whole subject as UTF-8
        {"M\xfcller \xe2\x80\x94 1", "=?UTF-8?Q?M=C3=BCller_=E2=80=94_1?="},
        // nine characters fill a word; none is split between words
        {times(20, "\xc3\xa9"), word + "\r\n " + word + "\r\n =?UTF-8?Q?=C3=A9=C3=A9?="},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(encodedWords(c.text), c.encoded);
    }
}

TEST(MimeText, MessageIdTakesTheReturnAddressDomain)
{
    struct Case {
        const char* address;
        const char* id;
    };
    const Case cases[] = {
        {"me@example.test", "<1700000000123.00000000000000ff@example.test>"},
        {"Me Myself <me@mail.example.test>", "<1700000000123.00000000000000ff@mail.example.test>"},
        {"me@example.test (me), you@other.test", "<1700000000123.00000000000000ff@example.test>"},
        {"me", "<1700000000123.00000000000000ff@tarnwick.invalid>"},
        {"me@bad domain", "<1700000000123.00000000000000ff@tarnwick.invalid>"},
        {"me@.test", "<1700000000123.00000000000000ff@tarnwick.invalid>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(messageId(1700000000123, 0xff, addressDomain(c.address)), c.id);
    }
}

TEST(MimeText, ComposedMessage)
{
    const std::string block = "Date: d\r\nFrom: f\r\n";
    const std::string id = "<i@x>";
    const std::string mime = "Message-ID: <i@x>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=";
    const std::string seven = "\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
    const std::string qp = "\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
    const std::string longLine = times(600, "ab ") + "\r\n";
    struct Case {
        std::string text;
        std::string composed; // after the header block
    };
    const Case cases[] = {
        {"Subject: s\r\n\r\nbody\r\n", "Subject: s\r\n" + mime + "UTF-8" + seven + "body\r\n"},
        {"Subject: s\r\nX-A: b\r\n  folded\r\n\r\n", "Subject: s\r\nX-A: b\r\n  folded\r\n" + mime + "UTF-8" + seven},
        {"Subject: Tarnwick\xae\r\n\r\nTarnwick\xae\r\n",
         "Subject: =?ISO-8859-1?Q?Tarnwick=AE?=\r\n" + mime + "ISO-8859-1" + qp + "Tarnwick=AE\r\n"},
        {"Subject: caf\xc3\xa9\n\nline\n", "Subject: =?UTF-8?Q?caf=C3=A9?=\r\n" + mime + "UTF-8" + qp + "line=0A=\r\n"},
        {"no header here\r\n", mime + "UTF-8" + seven + "no header here\r\n"},
        {"Subject: s\r\n\r\nno end", "Subject: s\r\n" + mime + "UTF-8" + qp + "no end=\r\n"},
        {"Subject: s\r\n\r\n" + times(998, "x") + "\r\n",
         "Subject: s\r\n" + mime + "UTF-8" + seven + times(998, "x") + "\r\n"},
        // 998 characters fit a line; with the doubled dot of a leading "." they would not
        {"Subject: s\r\n\r\n." + times(997, "x") + "\r\n",
         "Subject: s\r\n" + mime + "UTF-8" + qp + "=2E" + times(72, "x") + "=\r\n" +
             times(12, times(75, "x") + "=\r\n") + times(25, "x") + "\r\n"},
        // a header line over the limit folds at its last blank before it
        {"X-Long: " + longLine + "\r\n",
         "X-Long: " + longLine.substr(0, 989) + "\r\n" + longLine.substr(989) + mime + "UTF-8" + seven},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 30));
        EXPECT_EQ(composeMessage(block, c.text, id), block + c.composed);
    }
}

// Whatever a header line holds, it stays one line: a lone CR and every control character but TAB become blanks
// (a lone LF still ends a line, as in a message written with line feeds alone); the body keeps its bytes.
TEST(MimeText, HeaderLinesHoldNoControlCharacters)
{
    const std::string mime = "Message-ID: <i@x>\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=";
    const std::string seven = "\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
    struct Case {
        std::string text;
        std::string composed;
    };
    const Case cases[] = {
        {"Subject: A\rBcc: v@x\r\n\r\nb\r\n", "Subject: A Bcc: v@x\r\n" + mime + "UTF-8" + seven + "b\r\n"},
        {"X-A: a\x01\x1b\x7f\tb\r\n  c\x0b\r\n\r\n", "X-A: a   \tb\r\n  c \r\n" + mime + "UTF-8" + seven},
        {"Subject: a\xc2\x85z\r\n\r\n", "Subject: a z\r\n" + mime + "UTF-8" + seven},
        {"Subject: s\r\n\r\nline\rrest\x01\r\n",
         "Subject: s\r\n" + mime + "UTF-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\nline=0Drest=01\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 20));
        EXPECT_EQ(composeMessage("", c.text, "<i@x>"), c.composed);
    }
}
