#include "core/entry.h"
#include "core/identifier.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

using namespace tarnwick::core;

TEST(CheckMask, MatchesCharacterByCharacter)
{
    struct Case {
        const char* text;
        const char* mask;
        bool want;
    } cases[] = {
        {"123456", "######", true},
        {"12345", "######", false},
        {"1234567", "######", false},
        {"12a456", "######", false},
        {"aZ", "xx", true},
        {"a1", "xx", false},
        {"\xE9", "x", false},
        {"q", "?", true},
        {"", "?", false},
        {"75-1", "##-#", true},
        {"75/1", "##-#", false},
        {"I12", "I##", true},
        {"i12", "I##", false},
        {"12abc", "##*", true},
        {"12", "##*", true},
        {"1", "##*", false},
        {"", "", true},
        {"x", "", false},
        {"", "*", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.mask);
        EXPECT_EQ(checkMask(c.text, c.mask), c.want);
    }
}

TEST(SetIdentifier, NormalisesTypedNumbersIntoOneField)
{
    struct Case {
        const char* typed;
        const char* serNum;
        const char* regNum;
        const char* intNum;
    } cases[] = {
        {"1234567", "", "1234567", ""},    {"123456", "", "123456", ""},       {"75-123456", "75-123456", "", ""},
        {"75123456", "75-123456", "", ""}, {"75/123456", "75-123456", "", ""}, {"75/123,456", "75-123456", "", ""},
        {"I1234567", "", "", "1234567"},   {"i7654321", "", "", "7654321"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        Entry e(1);
        e.SerNum = "old";
        e.RegNum = "old";
        e.IntNum = "old";
        EXPECT_FALSE(setIdentifier(e, c.typed).has_value());
        EXPECT_EQ(e.SerNum, c.serNum);
        EXPECT_EQ(e.RegNum, c.regNum);
        EXPECT_EQ(e.IntNum, c.intNum);
    }
}

TEST(SetIdentifier, RefusesWhatFitsNoMaskAndKeepsTheEntry)
{
    for (const char* typed :
         {"", "12345", "75-12345", "12345678901", "X1234567", "I123456", " 1234567", "1234567 ", "75/12,3456"}) {
        SCOPED_TRACE(typed);
        Entry e(1);
        e.RegNum = "7654321";
        std::optional<std::string> refusal = setIdentifier(e, typed);
        ASSERT_TRUE(refusal.has_value());
        EXPECT_EQ(*refusal, k_invalidNumberMessage);
        EXPECT_EQ(e.RegNum, "7654321");
        EXPECT_EQ(e.SerNum, "");
    }
}

// A number pasted with blanks round it or the separators the list's filter passes over is the number typed plainly.
TEST(TypedNumber, DropsTheSeparatorsANumberIsPastedWith)
{
    struct Case {
        const char* typed;
        const char* want;
    } cases[] = {
        {"75000019 ", "75000019"},
        {"75 000008", "75000008"},
        {"\t1234567\t", "1234567"},
        {"75/123,456", "75123456"},
        {"75.123.456", "75123456"},
        {"I 1234567", "I1234567"},
        {"", ""},
        {" - ", ""},
        {"75_123456", "75_123456"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(typedNumber(c.typed), c.want);
    }
}

TEST(SameNumber, ComparesWhatANumberIdentifies)
{
    struct Case {
        FieldId kind;
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {FieldId::RegNum, "0912345", "912345", true}, // a spreadsheet dropped the leading zero
        {FieldId::RegNum, "0012345", "12345", true},
        {FieldId::RegNum, "912345", "9123450", false},
        {FieldId::SerNum, "75-123456", "75123456", true},
        {FieldId::SerNum, "75/123,456", "75-123456", true},
        {FieldId::SerNum, "75-abc456", "75-ABC456", true},
        {FieldId::SerNum, "07-500001", "7-500001", false}, // the series code is two digits
        {FieldId::IntNum, "I0123456", "123456", true},
        {FieldId::IntNum, "i1234567", "1234567", true},
        {FieldId::RegNum, "", "", false},
        {FieldId::RegNum, "-", "/", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(sameNumber(c.kind, c.a, c.b), c.same);
        EXPECT_EQ(sameNumber(c.kind, c.b, c.a), c.same);
    }
}

TEST(IdentifierText, NamesTheFirstIdentifierSetAndTheTrademark)
{
    struct Case {
        const char* serNum;
        const char* regNum;
        const char* intNum;
        const char* trademark;
        const char* want;
    } cases[] = {
        {"75-123456", "1234567", "", "ACME", "registration 1234567, trademark ACME"},
        {"75-123456", "", "1234567", "", "application 75-123456"},
        {"", "", "1234567", "A & B", "international reg 1234567, trademark A & B"},
        {"", "", "", "", "international reg "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want);
        Entry e(1);
        e.SerNum = c.serNum;
        e.RegNum = c.regNum;
        e.IntNum = c.intNum;
        e.Trademark = c.trademark;
        EXPECT_EQ(identifierText(e), c.want);
    }
    Entry e(1);
    EXPECT_EQ(statusText(e), " - ");
    e.StatusDate = "2001-02-03";
    e.StatusText = "Registered";
    EXPECT_EQ(statusText(e), "2001-02-03 - Registered");
}

TEST(NormaliseLoadedEntry, CleansStoredRecords)
{
    struct Case {
        const char* serNum;
        const char* regNum;
        const char* statusDate;
        const char* statusText;
        const char* wantSerNum;
        const char* wantRegNum;
        const char* wantDate;
        const char* wantText;
        DayNumber wantDay;
    } cases[] = {
        {"75-12345678", "1234567abc", "2004-05-18", "x", "75-123456", "1234567", "2004-05-18", "x", 38125},
        {"75-123456", "12 34", "", "2001-02-03 - Registered", "75-123456", "12", "2001-02-03", "Registered", 36925},
        {"", "", "", "2001-02-03 - A - B", "", "", "2001-02-03", "A - B", 36925},
        {"", "a1", "", "Registered", "", "", "Registered", "", 0},
        {"", "", "", " - Abandoned", "", "", "", "Abandoned", 0},
        {"", "", "0000-00-00", "Pending", "", "", "\?\?\?\?-\?\?-\?\?", "Pending", k_unknownDay},
        {"", "", "", "0000-00-00 - Pending", "", "", "\?\?\?\?-\?\?-\?\?", "Pending", k_unknownDay},
        {"", "", "", "", "", "", "", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.serNum) + "|" + c.regNum + "|" + c.statusDate + "|" + c.statusText);
        Entry e(1);
        e.SerNum = c.serNum;
        e.RegNum = c.regNum;
        e.StatusDate = c.statusDate;
        e.StatusText = c.statusText;
        EXPECT_EQ(normaliseLoadedEntry(e), c.wantDay);
        EXPECT_EQ(e.SerNum, c.wantSerNum);
        EXPECT_EQ(e.RegNum, c.wantRegNum);
        EXPECT_EQ(e.StatusDate, c.wantDate);
        EXPECT_EQ(e.StatusText, c.wantText);
    }
}

TEST(IdentifyCommand, ClassifiesEachNumberAndFailsOnARefusal)
{
    const std::string cmd = std::string(TARNWICK_CLI) + " identify 1234567 75/123,456 I1234567 75-12345 2>&1";
    FILE* pipe = ::popen(cmd.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    std::array<char, 256> buf{};
    while (size_t n = std::fread(buf.data(), 1, buf.size(), pipe))
        out.append(buf.data(), n);
    int status = ::pclose(pipe);
    EXPECT_EQ(out, "1234567\tregistration 1234567\n"
                   "75/123,456\tapplication 75-123456\n"
                   "I1234567\tinternational reg 1234567\n"
                   "75-12345\trefused: Invalid Registration/Application/International Reg Number.\n");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
}
