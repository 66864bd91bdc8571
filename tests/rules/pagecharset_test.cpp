#include "rules/pagecharset.h"

#include "core/text.h"
#include "rules/pagetext.h"

#include <gtest/gtest.h>

#include <string>

using namespace tarnwick;

namespace {

// "CAFÉ à LA ŠKODA РOSA †" in UTF-8: à, Š, Р and † each end in the byte 0xA0
const std::string k_letters = "CAF\xC3\x89 \xC3\xA0 LA \xC5\xA0KODA \xD0\xA0OSA \xE2\x80\xA0";
const std::string k_nbsp = "\xC2\xA0";

// every 0xA0 a blank, as in an 8-bit page
std::string eightBit(const std::string& text)
{
    return core::replaceAll(text, "\xA0", " ");
}

} // namespace

TEST(NormalisePage, NoBreakSpaceFollowsTheCharacterSetOfThePage)
{
    // UTF-8 keeps its letters and folds C2 A0; a lone 0xA0 in a page declared UTF-8 is not a no-break space
    const std::string utf8Body = k_letters + k_nbsp + "|\xA0";
    const std::string utf8Text = k_letters + " |\xA0";
    struct Case {
        const char* what;
        std::string contentType;
        std::string page;
        std::string expected;
    } cases[] = {
        {"UTF-8 by the HTTP header", "text/html; Charset=\"UTF-8\"", "<B>" + utf8Body + "</B>",
         "<b>" + utf8Text + "</b>"},
        {"UTF-8 by a meta element", "", "<META CHARSET=utf-8><B>" + utf8Body, "<meta><b>" + utf8Text},
        {"UTF-8 by a meta element's content", "text/html",
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"><b>" + utf8Body,
         "<meta><b>" + utf8Text},
        {"UTF-8 by the XML declaration", "", "<?xml version=\"1.0\" encoding='UTF-8'?><n>" + utf8Body,
         "<?xml><n>" + utf8Text},
        {"an XML declaration without an encoding means UTF-8", "", "<?xml version=\"1.0\"?><n>" + utf8Body,
         "<?xml><n>" + utf8Text},
        {"UTF-8 by its byte order mark", "text/html; charset=iso-8859-1", "\xEF\xBB\xBF" + utf8Body,
         "\xEF\xBB\xBF" + utf8Text},
        {"undeclared, valid UTF-8", "", "<b>" + k_letters + k_nbsp + "|</b>", "<b>" + k_letters + " |</b>"},
        {"Latin-1 by the HTTP header", "text/html; charset=ISO-8859-1", "<b>" + utf8Body, "<b>" + eightBit(utf8Body)},
        {"windows-1252 by a meta element", "", "<meta charset=windows-1252><b>" + utf8Body,
         "<meta><b>" + eightBit(utf8Body)},
        {"the HTTP header wins over the meta element", "text/html;charset=windows-1252",
         "<meta charset=utf-8><b>" + utf8Body, "<meta><b>" + eightBit(utf8Body)},
        {"a meta element inside a comment declares nothing", "",
         "<!-- <meta charset=utf-8> --><b>caf\xE9\xA0" + k_letters, "<b>caf\xE9 " + eightBit(k_letters)},
        {"undeclared, not UTF-8", "", "<b>caf\xE9\xA0" + k_letters, "<b>caf\xE9 " + eightBit(k_letters)},
        {"another multi-byte set keeps every 0xA0", "text/html; charset=GBK", "<b>\xB0\xA0" + utf8Body,
         "<b>\xB0\xA0" + utf8Body},
        {"the entities are no-break spaces in every set", "text/html; charset=utf-8", "a&nbsp;&#160;b", "a  b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(rules::normalisePage(c.page, c.contentType), c.expected);
    }
}

TEST(PageCharset, ValidUtf8)
{
    struct Case {
        std::string text;
        bool valid;
    } cases[] = {
        {"", true},
        {k_letters + k_nbsp, true},
        {"\xF0\x9F\x98\x80", true},
        {"\xF4\x8F\xBF\xBF", true},
        {"plain ascii text\xC3", false},
        {"plain ascii text\xA0", false},
        {"\xC0\x80", false},
        {"\xE0\x80\xA0", false},
        {"\xED\xA0\x80", false},
        {"\xF4\x90\x80\x80", false},
        {"\xE2\x80", false},
        {"\xE2\x80x", false},
        {"\xF8\x88\x80\x80\x80", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(rules::isValidUtf8(c.text), c.valid);
    }
}
