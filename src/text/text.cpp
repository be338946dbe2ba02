#include "text/text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

namespace viewer {

namespace {

using Size = std::string_view::size_type;

constexpr bool IsLeadByte(unsigned char byte) {
    return byte >= 0x80;
}

constexpr unsigned char FoldCase(unsigned char byte) {
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

constexpr bool IsAsciiLetter(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

unsigned char ByteAt(std::string_view text, Size index) {
    return static_cast<unsigned char>(text[index]);
}

// Sizes beyond the 32-bit range cannot be described by a text position anyway.
int ClampToInt(Size size) {
    return static_cast<int>(std::min<Size>(size, static_cast<Size>(INT_MAX)));
}

// Answers whether `candidate` begins a character when characters are counted from `boundary`,
// a known character start not after it. A byte below 0x80 always ends a character, so only
// the run of lead-range bytes right before the candidate decides: pairs fill it from its start.
bool StartsCharacter(std::string_view text, Size boundary, Size candidate) {
    Size runStart = candidate;
    while (runStart > boundary && IsLeadByte(ByteAt(text, runStart - 1)))
        --runStart;
    return (candidate - runStart) % 2 == 0;
}

bool EqualIgnoringCase(const char *a, const char *b, Size count) {
    for (Size i = 0; i < count; ++i) {
        if (FoldCase(static_cast<unsigned char>(a[i])) !=
            FoldCase(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// The next position at or after `from` where the needle's bytes match, ignoring the character
// steps; npos when there is none. With ignoreCase the search runs on a byte of the needle that
// has no other case, or on both cases of its first letter.
class RawMatcher {
public:
    RawMatcher(std::string_view text, std::string_view needle, bool ignoreCase)
        : m_text(text), m_needle(needle), m_ignoreCase(ignoreCase) {
        if (!m_ignoreCase)
            return;
        for (Size i = 0; i < m_needle.size(); ++i) {
            if (!IsAsciiLetter(static_cast<unsigned char>(m_needle[i]))) {
                m_anchor = i;
                m_anchorHasCase = false;
                return;
            }
        }
    }

    Size Next(Size from) {
        if (!m_ignoreCase)
            return m_text.find(m_needle, from);
        return m_anchorHasCase ? NextOnLetter(from) : NextOnAnchor(from);
    }

private:
    Size NextOnAnchor(Size from) {
        const Size needleSize = m_needle.size();
        const char anchor = m_needle[m_anchor];
        while (m_text.size() - from >= needleSize) {
            const Size last = m_text.size() - needleSize;
            const void *hit = std::memchr(m_text.data() + from + m_anchor, anchor, last - from + 1);
            if (hit == nullptr)
                return std::string_view::npos;
            const Size candidate =
                static_cast<Size>(static_cast<const char *>(hit) - m_text.data()) - m_anchor;
            if (EqualIgnoringCase(m_text.data() + candidate, m_needle.data(), needleSize))
                return candidate;
            from = candidate + 1;
        }
        return std::string_view::npos;
    }

    // Every byte of the needle is a letter: look for either case of the first one, keeping
    // the next hit of each case so that neither part of the text is scanned twice.
    Size NextOnLetter(Size from) {
        const Size needleSize = m_needle.size();
        const unsigned char first = static_cast<unsigned char>(m_needle[0]);
        const char cases[2] = {static_cast<char>(FoldCase(first)),
                               static_cast<char>(FoldCase(first) - ('a' - 'A'))};
        while (m_text.size() - from >= needleSize) {
            const Size last = m_text.size() - needleSize;
            Size candidate = std::string_view::npos;
            for (int i = 0; i < 2; ++i) {
                if (m_letterHit[i] == std::string_view::npos || m_letterHit[i] < from) {
                    const void *hit = std::memchr(m_text.data() + from, cases[i], last - from + 1);
                    m_letterHit[i] =
                        hit == nullptr
                            ? kExhausted
                            : static_cast<Size>(static_cast<const char *>(hit) - m_text.data());
                }
                candidate = std::min(candidate, m_letterHit[i]);
            }
            if (candidate == kExhausted)
                return std::string_view::npos;
            if (EqualIgnoringCase(m_text.data() + candidate, m_needle.data(), needleSize))
                return candidate;
            from = candidate + 1;
        }
        return std::string_view::npos;
    }

    // Marks a case that no longer occurs; larger than any position, so min() skips it.
    static constexpr Size kExhausted = std::string_view::npos - 1;

    std::string_view m_text;
    std::string_view m_needle;
    bool m_ignoreCase = false;
    Size m_anchor = 0;
    bool m_anchorHasCase = true;
    Size m_letterHit[2] = {std::string_view::npos, std::string_view::npos};
};

}  // namespace

int TextLength(std::string_view text) {
    return ClampToInt(text.size());
}

std::string LeftText(std::string_view text, int count) {
    if (count <= 0)
        return {};
    return std::string(text.substr(0, static_cast<Size>(count)));
}

std::string RightText(std::string_view text, int count) {
    if (count <= 0)
        return {};
    const Size kept = std::min(text.size(), static_cast<Size>(count));
    return std::string(text.substr(text.size() - kept));
}

std::string MidText(std::string_view text, int start, int count) {
    if (start < 1 || static_cast<Size>(start) > text.size() || count <= 0)
        return {};
    return std::string(text.substr(static_cast<Size>(start) - 1, static_cast<Size>(count)));
}

std::string DeleteText(std::string_view text, int start, int count) {
    const Size from = start < 1 ? 0 : static_cast<Size>(start) - 1;
    if (count <= 0 || from >= text.size())
        return std::string(text);
    const Size removed = std::min(static_cast<Size>(count), text.size() - from);
    std::string result;
    result.reserve(text.size() - removed);
    result.append(text.substr(0, from));
    result.append(text.substr(from + removed));
    return result;
}

std::string SpaceText(int count) {
    if (count < 1)
        return {};
    return std::string(static_cast<Size>(count), ' ');
}

int FindText(std::string_view text, std::string_view needle, int start, bool ignoreCase) {
    const Size first = start > 1 ? static_cast<Size>(start) - 1 : 0;
    if (first >= text.size())
        return -1;
    if (needle.empty())
        return 1;

    RawMatcher matcher(text, needle, ignoreCase);
    // The character start closest before the next candidate that is known for certain.
    Size boundary = first;
    Size from = first;
    for (;;) {
        const Size candidate = matcher.Next(from);
        if (candidate == std::string_view::npos)
            return -1;
        if (StartsCharacter(text, boundary, candidate))
            return ClampToInt(candidate + 1);
        // The candidate is the second byte of a character, so the next character starts after it.
        boundary = candidate + 1;
        from = candidate + 1;
    }
}

std::string ToUpperCase(std::string_view text) {
    std::string result(text);
    for (Size i = 0; i < result.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(result[i]);
        if (IsLeadByte(byte))
            ++i;
        else if (byte >= 'a' && byte <= 'z')
            result[i] = static_cast<char>(byte - ('a' - 'A'));
    }
    return result;
}

std::string ToLowerCase(std::string_view text) {
    std::string result(text);
    for (Size i = 0; i < result.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(result[i]);
        if (IsLeadByte(byte))
            ++i;
        else if (byte >= 'A' && byte <= 'Z')
            result[i] = static_cast<char>(byte + ('a' - 'A'));
    }
    return result;
}

bool TextsEqual(std::string_view a, std::string_view b, bool ignoreCase) {
    if (a.size() != b.size())
        return false;
    if (!ignoreCase)
        return a == b;
    return EqualIgnoringCase(a.data(), b.data(), a.size());
}

namespace {

// Reads a text character by character with full-width ASCII forms folded to ASCII.
class NormalisedReader {
public:
    explicit NormalisedReader(std::string_view text) : m_text(text) {}

    // The folded byte of the current character: 0 at the end, 0x80 for a character that
    // folds to nothing ASCII.
    unsigned char Peek() const {
        if (m_pos >= m_text.size())
            return 0;
        const unsigned char lead = ByteAt(m_text, m_pos);
        if (!IsLeadByte(lead))
            return lead;
        if (m_pos + 1 >= m_text.size())
            return 0;  // a lead byte that ends the text is dropped
        const unsigned char trail = ByteAt(m_text, m_pos + 1);
        if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE)
            return static_cast<unsigned char>(trail - 0x80);
        if (lead == 0xA1) {
            switch (trail) {
                case 0xA1:
                    return ' ';
                case 0xAB:
                    return '~';
                case 0xEE:
                case 0xEF:
                    return '*';
                default:
                    break;
            }
        }
        return 0x80;
    }

    void Advance() { m_pos += IsLeadByte(ByteAt(m_text, m_pos)) ? 2 : 1; }

private:
    std::string_view m_text;
    Size m_pos = 0;
};

constexpr bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

constexpr bool IsSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// from_chars leaves the value alone outside double range; the decimal exponent of the first
// significant digit tells overflow (infinity) from underflow (zero).
double ToNumberOutOfRange(std::string_view number) {
    const bool negative = !number.empty() && number.front() == '-';
    const Size exponentAt = number.find('e');
    const std::string_view mantissa = number.substr(0, exponentAt);
    long long exponent = 0;
    if (exponentAt != std::string_view::npos) {
        std::string_view digits = number.substr(exponentAt + 1);
        const bool exponentNegative = !digits.empty() && digits.front() == '-';
        if (exponentNegative)
            digits.remove_prefix(1);
        for (char c : digits)
            exponent = std::min(exponent * 10 + (c - '0'), 1LL << 40);
        if (exponentNegative)
            exponent = -exponent;
    }
    const Size point = std::min(mantissa.find('.'), mantissa.size());
    const Size significant = mantissa.find_first_of("123456789");
    if (significant == std::string_view::npos)
        return negative ? -0.0 : 0.0;
    const long long magnitude = significant < point
                                    ? static_cast<long long>(point - significant) - 1 + exponent
                                    : exponent - static_cast<long long>(significant - point);
    if (magnitude > 0)
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    return negative ? -0.0 : 0.0;
}

}  // namespace

double ToNumber(std::string_view text) {
    NormalisedReader reader(text);
    while (IsSpace(reader.Peek()))
        reader.Advance();

    // The number is rebuilt in the form from_chars reads: [-]digits[.digits][e[-]digits].
    std::string number;
    if (reader.Peek() == '+' || reader.Peek() == '-') {
        if (reader.Peek() == '-')
            number.push_back('-');
        reader.Advance();
    }
    const Size mantissaStart = number.size();
    bool anyDigit = false;
    while (IsDigit(reader.Peek())) {
        number.push_back(static_cast<char>(reader.Peek()));
        anyDigit = true;
        reader.Advance();
    }
    if (reader.Peek() == '.') {
        reader.Advance();
        number.push_back('.');
        while (IsDigit(reader.Peek())) {
            number.push_back(static_cast<char>(reader.Peek()));
            anyDigit = true;
            reader.Advance();
        }
    }
    if (!anyDigit)
        return 0.0;
    if (number[mantissaStart] == '.')
        number.insert(mantissaStart, 1, '0');

    const unsigned char letter = reader.Peek();
    if (letter == 'e' || letter == 'E' || letter == 'd' || letter == 'D') {
        NormalisedReader afterLetter = reader;
        afterLetter.Advance();
        std::string exponent = "e";
        if (afterLetter.Peek() == '+' || afterLetter.Peek() == '-') {
            if (afterLetter.Peek() == '-')
                exponent.push_back('-');
            afterLetter.Advance();
        }
        bool exponentDigit = false;
        while (IsDigit(afterLetter.Peek())) {
            exponent.push_back(static_cast<char>(afterLetter.Peek()));
            exponentDigit = true;
            afterLetter.Advance();
        }
        if (exponentDigit)
            number += exponent;
    }

    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range)
        return ToNumberOutOfRange(number);
    return value;
}

std::string ToText(double number) {
    if (std::isnan(number))
        return "nan";
    if (std::isinf(number))
        return number < 0 ? "-inf" : "inf";
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), number,
                                      std::chars_format::general, 13);
    std::string_view written(buffer.data(), static_cast<Size>(result.ptr - buffer.data()));
    const Size e = written.find('e');
    if (e == std::string_view::npos)
        return std::string(written);
    // The exponent always carries its sign and three digits, as the system has always shown it.
    std::string text(written.substr(0, e + 2));
    const std::string_view digits = written.substr(e + 2);
    text.append(digits.size() < 3 ? 3 - digits.size() : 0, '0');
    text.append(digits);
    return text;
}

std::string ToText(int value) {
    std::array<char, 16> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

std::string ToText(const ByteBuffer &bytes) {
    const auto zero = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    return std::string(bytes.begin(), zero);
}

std::string ToText(std::string_view text) {
    return std::string(text);
}

double ToNumber(int value) {
    return static_cast<double>(value);
}

std::int32_t ToInteger(double number) {
    // 2^63 is exact in a double; every truncated value below it fits in 64 bits.
    constexpr double kLimit = 9223372036854775808.0;
    if (!std::isfinite(number))
        return 0;
    const double truncated = std::trunc(number);
    if (truncated >= kLimit || truncated < -kLimit)
        return 0;
    const auto wide = static_cast<std::int64_t>(truncated);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(wide)));
}

ByteBuffer ZeroBytes(int count) {
    if (count <= 0)
        return {};
    return ByteBuffer(static_cast<Size>(count), std::uint8_t{0});
}

ByteBuffer LeftBytes(const ByteBuffer &bytes, int count) {
    if (count <= 0)
        return {};
    const Size kept = std::min(bytes.size(), static_cast<Size>(count));
    return ByteBuffer(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(kept));
}

ByteBuffer JoinBytes(const ByteBuffer &a, const ByteBuffer &b) {
    ByteBuffer joined;
    joined.reserve(a.size() + b.size());
    joined.insert(joined.end(), a.begin(), a.end());
    joined.insert(joined.end(), b.begin(), b.end());
    return joined;
}

std::string ExtractBetween(std::string_view text, std::string_view startMarker,
                           std::string_view endMarker) {
    const int p = FindText(text, startMarker);
    if (p == -1)
        return {};
    const Size tailStart = static_cast<Size>(p) - 1 + startMarker.size();
    const std::string_view tail =
        tailStart < text.size() ? text.substr(tailStart) : std::string_view{};
    const int e = FindText(tail, endMarker);
    if (e <= 1)
        return {};
    return std::string(tail.substr(0, static_cast<Size>(e) - 1));
}

}  // namespace viewer
