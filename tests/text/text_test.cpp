#include "text/text.h"

#include "reference_find.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace viewer {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A case whose call is written out in the row; the row's name says which rule it checks.
struct TextCase {
    const char *name;
    std::function<std::string()> call;
    std::string expected;
};

void RunTextCases(const std::vector<TextCase> &cases) {
    for (const TextCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), c.expected);
    }
}

TEST(TextCutting, CountsBytesAndClampsRanges) {
    const std::string gbk = "\xd0\xc2\xb4\xb0";  // two two-byte characters
    RunTextCases({
        {"left: count above length is the whole text", [] { return LeftText("abc", 10); }, "abc"},
        {"left: count 0", [] { return LeftText("abc", 0); }, ""},
        {"left: negative count", [] { return LeftText("abc", -3); }, ""},
        {"left: cuts a two-byte character", [&] { return LeftText(gbk, 1); }, "\xd0"},
        {"right: count above length is the whole text", [] { return RightText("abc", 10); }, "abc"},
        {"right: count 0", [] { return RightText("abc", 0); }, ""},
        {"right: INT_MIN", [] { return RightText("abc", INT_MIN); }, ""},
        {"right: last bytes", [] { return RightText("abcdef", 2); }, "ef"},
        {"right: cuts a two-byte character", [&] { return RightText(gbk, 3); }, "\xc2\xb4\xb0"},
        {"mid: count past the end", [] { return MidText("abcdef", 3, 10); }, "cdef"},
        {"mid: from 0", [] { return MidText("abcdef", 0, 2); }, ""},
        {"mid: from past the end", [] { return MidText("abcdef", 7, 1); }, ""},
        {"mid: from the last byte", [] { return MidText("abcdef", 6, 1); }, "f"},
        {"mid: count 0", [] { return MidText("abcdef", 3, 0); }, ""},
        {"mid: INT_MAX count does not overflow", [] { return MidText("abcdef", 2, INT_MAX); },
         "bcdef"},
        {"mid: cuts a two-byte character", [&] { return MidText(gbk, 2, 2); }, "\xc2\xb4"},
        {"delete: first seven bytes", [] { return DeleteText("http://host/", 1, 7); }, "host/"},
        {"delete: from 0 counts as 1", [] { return DeleteText("http://host/", 0, 7); }, "host/"},
        {"delete: from INT_MIN counts as 1", [] { return DeleteText("abc", INT_MIN, 1); }, "bc"},
        {"delete: count past the end", [] { return DeleteText("abcdef", 3, 100); }, "ab"},
        {"delete: count 0 removes nothing", [] { return DeleteText("abc", 1, 0); }, "abc"},
        {"delete: start past the end", [] { return DeleteText("abc", 4, 1); }, "abc"},
        {"delete: middle", [] { return DeleteText("abcdef", 2, 3); }, "aef"},
        {"delete: INT_MAX count", [] { return DeleteText("abcdef", 2, INT_MAX); }, "a"},
        {"space: three", [] { return SpaceText(3); }, "   "},
        {"space: zero", [] { return SpaceText(0); }, ""},
        {"space: negative", [] { return SpaceText(-1); }, ""},
    });
    EXPECT_EQ(TextLength(""), 0);
    EXPECT_EQ(TextLength(std::string_view{}), 0);
    EXPECT_EQ(TextLength(gbk), 4);
}

struct FindCase {
    const char *name;
    std::string_view text;
    std::string_view needle;
    int start;
    bool ignoreCase;
    int expected;
};

TEST(TextFind, PositionsAndCharacterSteps) {
    const FindCase cases[] = {
        {"from 3", "a/b/c", "/", 3, false, 4},
        {"from 0 counts as 1", "a/b/c", "/", 0, false, 2},
        {"from -1 counts as 1", "a/b/c", "/", -1, false, 2},
        {"from INT_MIN counts as 1", "a/b/c", "/", INT_MIN, false, 2},
        {"start on the match", "a/b/c", "/", 4, false, 4},
        {"from the last byte, nothing after it", "a/b/c", "/", 5, false, -1},
        {"from past the end", "a/b/c", "/", 6, false, -1},
        {"from INT_MAX", "a/b/c", "/", INT_MAX, false, -1},
        {"needle longer than the text", "ab", "abc", 1, false, -1},
        {"needle ends the text", "xxabc", "abc", 1, false, 3},
        {"ignore case finds small letters", "Host: h\r\naccept: */*\r\n", "Accept: ", 1, true, 10},
        {"exact does not fold", "Host: h\r\naccept: */*\r\n", "Accept: ", 1, false, -1},
        {"ignore case, needle all letters", "xxgEt", "GET", 1, true, 3},
        {"ignore case, later occurrence of the other case", "get GET", "GET", 2, true, 5},
        {"ignore case folds letters only: @ is not `", "`", "@", 1, true, -1},
        {"ignore case folds letters only: [ is not {", "{", "[", 1, true, -1},
        {"ignore case leaves high bytes alone", "\xc0", "\xe0", 1, true, -1},
        {"second byte of a character never matches", "\xb0\x41", "\x41", 1, false, -1},
        {"second byte, ignoring case", "\xb0\x41", "a", 1, true, -1},
        {"letter after a two-byte character", "\xb0\x41\x41", "A", 1, false, 3},
        {"steps count from the first byte searched", "\xb0\x41\x41", "A", 2, false, 2},
        {"start inside a character realigns the steps", "\xb0\xb1\xb2\xb3", "\xb1\xb2", 2, false,
         2},
        {"needle across two characters", "\xb0\xb1\xb2\xb3", "\xb1\xb2", 1, false, -1},
        {"needle on a character", "\xb0\xb1\xb2\xb3", "\xb2\xb3", 1, false, 3},
        {"odd run of lead bytes", "\xb0\xb0\xb0\x41", "A", 1, false, -1},
        {"even run of lead bytes", "\xb0\xb0\x41", "A", 1, false, 3},
        {"earlier false match inside a character", "\xb0\x61\x62 ab", "AB", 1, true, 5},
        {"trail byte of a matched character folds", "\xb0\x61", "\xb0\x41", 1, true, 1},
        {"lone lead byte at the end matches itself", "ab\xb0", "\xb0", 1, false, 3},
        {"lone lead byte at the end", "\xb0", "x", 1, false, -1},
        {"GBK needle in GBK text", "\xd0\xc2\xb4\xb0\xbf\xda\xb4\xf2\xbf\xaa", "\xb4\xf2", 1, false,
         7},
        {"empty needle", "abc", "", 1, false, 1},
        {"empty needle from the last byte is still 1", "abc", "", 3, false, 1},
        {"empty needle, nothing left to search", "abc", "", 4, false, -1},
        {"empty needle, negative start", "abc", "", -5, true, 1},
        {"empty needle in the empty text", "", "", 1, false, -1},
        {"empty text", "", "a", 1, false, -1},
    };
    for (const FindCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FindText(c.text, c.needle, c.start, c.ignoreCase), c.expected);
    }
    EXPECT_EQ(FindText("a/b/c", "/"), 2) << "start 1 and exact matching when omitted";
}

TEST(TextCase, FoldsAsciiLettersOutsideTwoByteCharacters) {
    RunTextCases({
        {"upper", [] { return ToUpperCase("get"); }, "GET"},
        {"upper keeps a trail byte", [] { return ToUpperCase("\xb0\x61"); }, "\xb0\x61"},
        {"upper after a character", [] { return ToUpperCase("\xb0\x61\x61"); }, "\xb0\x61\x41"},
        {"upper with a lone lead byte at the end", [] { return ToUpperCase("a\xb0"); }, "A\xb0"},
        {"upper leaves other bytes", [] { return ToUpperCase("@[`{z1"); }, "@[`{Z1"},
        {"lower", [] { return ToLowerCase("Forum.Example.COM"); }, "forum.example.com"},
        {"lower keeps a trail byte", [] { return ToLowerCase("\xb0\x41"); }, "\xb0\x41"},
        {"lower of the empty text", [] { return ToLowerCase(""); }, ""},
    });
}

struct EqualCase {
    const char *name;
    std::string_view a;
    std::string_view b;
    bool ignoreCase;
    bool expected;
};

TEST(TextCase, TextsEqual) {
    const EqualCase cases[] = {
        {"scheme ignoring case", "http://", "HTTP://", true, true},
        {"scheme exact", "http://", "HTTP://", false, false},
        {"same bytes", "\xd0\xc2", "\xd0\xc2", false, true},
        {"empty and absent", "", std::string_view{}, false, true},
        {"prefix is not equal", "ab", "abc", true, false},
        {"@ and ` are not letters", "@", "`", true, false},
        {"high bytes are not folded", "\xc0", "\xe0", true, false},
    };
    for (const EqualCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TextsEqual(c.a, c.b, c.ignoreCase), c.expected);
    }
}

struct NumberCase {
    const char *name;
    std::string_view text;
    double expected;
};

TEST(TextNumber, ReadsTheLeadingNumber) {
    const NumberCase cases[] = {
        {"empty", "", 0},
        {"letters", "abc", 0},
        {"lone minus", "-", 0},
        {"lone point", ".", 0},
        {"space then digits then letters", " 12abc", 12},
        {"every white space", " \t\n\v\f\r7", 7},
        {"other control bytes are not space",
         "\x01"
         "7",
         0},
        {"plus sign", "+7", 7},
        {"minus sign", "-2.5", -2.5},
        {"fraction only", ".5", 0.5},
        {"point without fraction", "5.", 5},
        {"exponent e", "1e2", 100},
        {"exponent E with sign", "1E-2", 0.01},
        {"exponent d", "1d2", 100},
        {"exponent D with sign", "25D-1", 2.5},
        {"exponent letter without digits", "1e", 1},
        {"exponent sign without digits", "1e+x", 1},
        {"space ends the number", "1.5 e2", 1.5},
        {"hexadecimal reads its zero", "0x1A", 0},
        {"inf is not a number", "inf", 0},
        {"nan is not a number", "nan", 0},
        {"thousands separator ends it", "1,000", 1},
        {"full-width digits", "\xa3\xb1\xa3\xb2", 12},
        {"full-width sign, point and exponent", "\xa3\xad\xa3\xb1\xa3\xae\xa3\xb5\xa3\xe5\xa3\xb2",
         -150},
        {"mixed widths",
         "1\xa3\xb2"
         "3",
         123},
        {"ideographic space is skipped", "\xa1\xa1\xa3\xb5", 5},
        {"full-width tilde is not a number",
         "\xa1\xab"
         "5",
         0},
        {"a digit as second byte is no digit", "\xb0\x31", 0},
        {"two-byte character ends the number", "12\xb0\x31", 12},
        {"lone lead byte at the end is dropped", "12\xa3", 12},
        {"0xA3 0xA0 is not a full-width form",
         "\xa3\xa0"
         "5",
         0},
        {"beyond double range", "1e400", kInfinity},
        {"beyond double range, negative", "-1e400", -kInfinity},
        {"many digits beyond range",
         "1000000000000000000000000000000000000000000000000000000000"
         "0000000000000000000000000000000000000000000000000000000000"
         "0000000000000000000000000000000000000000000000000000000000"
         "0000000000000000000000000000000000000000000000000000000000"
         "0000000000000000000000000000000000000000000000000000000000"
         "0000000000000000000000000000000000000000000000000000000000",
         kInfinity},
        {"huge exponent", "2e99999999999999999999", kInfinity},
        {"below double range", "1e-400", 0},
        {"zero with a huge exponent", "0e99999", 0},
        {"leading zeros before an out-of-range exponent", "0000.00001e-330", 0},
        {"largest double", "1.7976931348623157e308", 1.7976931348623157e308},
        {"smallest subnormal", "4.9406564584124654e-324", 4.9406564584124654e-324},
        {"correctly rounded", "0.1", 0.1},
    };
    for (const NumberCase &c : cases) {
        SCOPED_TRACE(c.name);
        const double value = ToNumber(c.text);
        EXPECT_EQ(value, c.expected);
        EXPECT_EQ(std::signbit(value), std::signbit(c.expected));
    }
    EXPECT_EQ(ToNumber(-42), -42.0);
    EXPECT_TRUE(std::signbit(ToNumber("-0"))) << "a written minus zero keeps its sign";
}

struct NumberTextCase {
    const char *name;
    double number;
    std::string expected;
};

TEST(TextNumber, WritesThirteenDigitsAndThreeDigitExponents) {
    const NumberTextCase cases[] = {
        {"integer", 988, "988"},
        {"fraction", 2.5, "2.5"},
        {"negative", -1, "-1"},
        {"zero", 0, "0"},
        {"negative zero", -0.0, "-0"},
        {"two thirds", 2.0 / 3.0, "0.6666666666667"},
        {"13 digits stay plain", 9999999999999, "9999999999999"},
        {"10^13", 1e13, "1e+013"},
        {"rounding decides the notation", 9999999999999.5, "1e+013"},
        {"rounding to 13 digits", 0.1 + 0.2, "0.3"},
        {"10^-4 stays plain", 0.0001, "0.0001"},
        {"10^-5", 0.00001, "1e-005"},
        {"rounding up into plain notation", 0.000099999999999999, "0.0001"},
        {"exponent with three digits", 1e300, "1e+300"},
        {"negative exponent notation", -1.25e-20, "-1.25e-020"},
        {"long mantissa in exponent notation", 123456789012345.0, "1.234567890123e+014"},
        {"smallest subnormal", 4.9406564584124654e-324, "4.940656458412e-324"},
        {"largest double", 1.7976931348623157e308, "1.797693134862e+308"},
        {"infinity", kInfinity, "inf"},
        {"negative infinity", -kInfinity, "-inf"},
        {"not a number", kNaN, "nan"},
    };
    for (const NumberTextCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ToText(c.number), c.expected);
    }
}

TEST(TextNumber, StepsThreadNumbers) {
    RunTextCases({
        {"next of 987", [] { return ToText(ToNumber("987") + 1); }, "988"},
        {"next of the empty text", [] { return ToText(ToNumber("") + 1); }, "1"},
        {"previous of the empty text", [] { return ToText(ToNumber("") - 1); }, "-1"},
        {"next of 2.5", [] { return ToText(ToNumber("2.5") + 1); }, "3.5"},
        {"previous of 1", [] { return ToText(ToNumber("1") - 1); }, "0"},
        {"next of full-width 9", [] { return ToText(ToNumber("\xa3\xb9") + 1); }, "10"},
    });
}

TEST(TextNumber, WritesIntegersAndPassesTextsThrough) {
    RunTextCases({
        {"int zero", [] { return ToText(0); }, "0"},
        {"int negative", [] { return ToText(-512); }, "-512"},
        {"int max", [] { return ToText(INT_MAX); }, "2147483647"},
        {"int min", [] { return ToText(INT_MIN); }, "-2147483648"},
        {"text", [] { return ToText(std::string_view("\xd0\xc2")); }, "\xd0\xc2"},
    });
}

struct IntegerCase {
    const char *name;
    double number;
    std::int32_t expected;
};

TEST(TextNumber, ToIntegerTruncatesAndKeepsLow32Bits) {
    const IntegerCase cases[] = {
        {"positive fraction", 2.9, 2},
        {"negative fraction", -2.9, -2},
        {"small negative fraction", -0.5, 0},
        {"2^31 wraps", 2147483648.0, INT_MIN},
        {"-2^31 - 1 wraps", -2147483649.0, INT_MAX},
        {"2^40 + 7 keeps the low bits", 1099511627783.0, 7},
        {"-(2^40 + 7)", -1099511627783.0, -7},
        {"largest double below 2^63", 9223372036854774784.0, -1024},
        {"2^63 is beyond 64 bits", 9223372036854775808.0, 0},
        {"1e19", 1e19, 0},
        {"-1e19", -1e19, 0},
        {"infinity", kInfinity, 0},
        {"negative infinity", -kInfinity, 0},
        {"not a number", kNaN, 0},
    };
    for (const IntegerCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ToInteger(c.number), c.expected);
    }
}

TEST(TextBytes, BuffersKeepZeroBytes) {
    const ByteBuffer withZero = {'a', 'b', 0, 'c'};
    const ByteBuffer page(512, 0x41);
    EXPECT_EQ(ToText(withZero), "ab");
    EXPECT_EQ(ToText(ByteBuffer{}), "");
    EXPECT_EQ(ToText(ByteBuffer{0xd0, 0xc2}), "\xd0\xc2");
    EXPECT_EQ(ToText(ByteBuffer{0, 'a'}), "");

    EXPECT_EQ(ZeroBytes(3), ByteBuffer(3, 0));
    EXPECT_TRUE(ZeroBytes(0).empty());
    EXPECT_TRUE(ZeroBytes(-1).empty());

    EXPECT_TRUE(LeftBytes(page, 0).empty());
    EXPECT_TRUE(LeftBytes(page, -1).empty());
    EXPECT_EQ(LeftBytes(page, 600), page);
    EXPECT_EQ(LeftBytes(withZero, 3), (ByteBuffer{'a', 'b', 0}));

    EXPECT_TRUE(JoinBytes({}, {}).empty());
    EXPECT_EQ(JoinBytes(withZero, {0}), (ByteBuffer{'a', 'b', 0, 'c', 0}));
    EXPECT_EQ(JoinBytes({}, withZero), withZero);
}

TEST(TextJoin, JoinsInArgumentOrder) {
    const std::string base = "http://127.0.0.1:18080/";
    const std::string_view number = "987";
    EXPECT_EQ(JoinTexts(base, "thread-", number, "-1-1.html"),
              "http://127.0.0.1:18080/thread-987-1-1.html");
    EXPECT_EQ(JoinTexts(std::string(), "a"), "a");
    EXPECT_EQ(JoinTexts("", std::string_view{}, ""), "");
}

struct ExtractCase {
    const char *name;
    std::string_view text;
    std::string_view startMarker;
    std::string_view endMarker;
    std::string expected;
};

TEST(TextExtract, CutsBetweenTheFirstMarkers) {
    const ExtractCase cases[] = {
        {"thread number from an address", "http://127.0.0.1:18080/thread-987-1-1.html",
         "http://127.0.0.1:18080/thread-", "-1-1", "987"},
        {"second page of a thread", "http://127.0.0.1:18080/thread-987-2-1.html",
         "http://127.0.0.1:18080/thread-", "-1-1", ""},
        {"no start marker", "http://127.0.0.1:18080/forum.php", "thread-", "-1-1", ""},
        {"end marker right after the start marker", "thread--1-1.html", "thread-", "-1-1", ""},
        {"second start marker before the end marker", "[a[b]c]", "[", "]", "a[b"},
        {"end marker only before the start marker", "]x[abc", "[", "]", ""},
        {"end marker only inside the start marker", "<a-1>x", "<a-1>", "-1", ""},
        {"start marker ends the text", "abc[", "[", "]", ""},
        {"empty text", "", "[", "]", ""},
        {"empty end marker", "[abc]", "[", "", ""},
        {"empty start marker takes the whole text", "abc]", "", "]", "abc"},
        // The tail after "S\xb0" begins with a second byte, and is stepped from there on.
        {"end search steps from the start of the tail",
         "S\xb0\xb1"
         "EzE",
         "S\xb0", "E",
         "\xb1"
         "Ez"},
        {"newest-threads row",
         "<table>\">\n<tr>\n<td class=\"icn\">\n<a href=\"http://127.0.0.1:18080/thread-"
         "123456-1-1.html\" title=\"\xd0\xc2\xb4\xb0\xbf\xda\xb4\xf2\xbf\xaa\" target=\"_blank\">",
         "\">\n<tr>\n<td class=\"icn\">\n<a href=\"http://127.0.0.1:18080/thread-",
         "-1-1.html\" title=\"\xd0\xc2\xb4\xb0\xbf\xda\xb4\xf2\xbf\xaa\" target=\"_blank\">",
         "123456"},
    };
    for (const ExtractCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ExtractBetween(c.text, c.startMarker, c.endMarker), c.expected);
    }
}

// Plain restatements of the byte rules, written as index arithmetic on 64 bits.
std::string ReferenceKeep(std::string_view text, long long first, long long count) {
    std::string kept;
    for (long long i = 1; i <= static_cast<long long>(text.size()); ++i) {
        if (i >= first && i < first + count)
            kept.push_back(text[static_cast<std::size_t>(i - 1)]);
    }
    return kept;
}

TEST(TextRandomized, CuttingAndSearchingAgreeWithReferences) {
    std::mt19937 random(20261211);
    auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    auto randomText = [&](std::string_view alphabet, int maxLength) {
        std::string text(static_cast<std::size_t>(pick(0, maxLength)), ' ');
        for (char &c : text)
            c = alphabet[static_cast<std::size_t>(pick(0, static_cast<int>(alphabet.size()) - 1))];
        return text;
    };
    auto randomArgument = [&] {
        const int extremes[] = {INT_MIN, -1, 0, 1, INT_MAX};
        return pick(0, 9) == 0 ? extremes[pick(0, 4)] : pick(-3, 24);
    };
    const std::string_view ascii = "aAbB/:.x";
    const std::string_view gbk = "aAb/\x41\x61\xb0\xc1\xfe\x80";

    for (int round = 0; round < 20000; ++round) {
        const std::string text = randomText(ascii, 20);
        const int start = randomArgument();
        const int count = randomArgument();
        SCOPED_TRACE(testing::Message()
                     << "text \"" << text << "\" start " << start << " count " << count);
        ASSERT_EQ(LeftText(text, count), ReferenceKeep(text, 1, count));
        ASSERT_EQ(RightText(text, count),
                  ReferenceKeep(text, static_cast<long long>(text.size()) - count + 1,
                                count <= 0 ? 0 : count));
        const bool midInRange = start >= 1 && start <= static_cast<int>(text.size());
        ASSERT_EQ(MidText(text, start, count), midInRange ? ReferenceKeep(text, start, count) : "");
        std::string deleted;
        const long long first = start < 1 ? 1 : start;
        for (long long i = 1; i <= static_cast<long long>(text.size()); ++i) {
            if (count <= 0 || i < first || i >= first + count)
                deleted.push_back(text[static_cast<std::size_t>(i - 1)]);
        }
        ASSERT_EQ(DeleteText(text, start, count), deleted);

        const std::string needle = randomText(ascii, 3);
        // On ASCII every byte begins a character, so the search is string_view::find.
        const std::size_t skipped = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
        const std::size_t found = std::string_view(text).find(needle, skipped);
        int expected = found == std::string_view::npos ? -1 : static_cast<int>(found) + 1;
        if (skipped >= text.size())
            expected = -1;
        else if (needle.empty())
            expected = 1;
        ASSERT_EQ(FindText(text, needle, start), expected) << "needle \"" << needle << "\"";
    }
    for (int round = 0; round < 50000; ++round) {
        const std::string text = randomText(gbk, 24);
        const std::string needle = randomText(gbk, 4);
        const int start = randomArgument();
        const bool ignoreCase = pick(0, 1) == 1;
        ASSERT_EQ(FindText(text, needle, start, ignoreCase),
                  reference::ReferenceFind(text, needle, start, ignoreCase))
            << testing::PrintToString(text) << " " << testing::PrintToString(needle) << " from "
            << start << (ignoreCase ? " ignoring case" : "");
    }
}

// printf's "%.13g" in the "C" locale (tests never change it), with the exponent widened to
// three digits.
std::string ReferenceNumberText(double number) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.13g", number);
    std::string text = buffer;
    const std::size_t e = text.find('e');
    if (e != std::string::npos && text.size() - (e + 2) < 3)
        text.insert(e + 2, 3 - (text.size() - (e + 2)), '0');
    return text;
}

TEST(TextRandomized, NumbersAreWrittenAsPrintfWritesThem) {
    std::mt19937_64 random(20261211);
    for (int round = 0; round < 100000; ++round) {
        double number = 0;
        if (round % 2 == 0) {
            const std::uint64_t bits = random();
            std::memcpy(&number, &bits, sizeof number);
            if (!std::isfinite(number))
                continue;
        } else {
            // Values near the notation switch and near rounding carries.
            const int exponent = static_cast<int>(random() % 40) - 20;
            number =
                std::ldexp(static_cast<double>(random() >> 11), -53) * std::pow(10.0, exponent);
        }
        ASSERT_EQ(ToText(number), ReferenceNumberText(number)) << std::hexfloat << number;
    }
}

}  // namespace
}  // namespace viewer
