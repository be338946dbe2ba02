#pragma once

// Text, number and byte-buffer operations on which all logic of the viewer is written.
//
// A text is a std::string of code-page bytes (GBK for Chinese) that never holds a zero byte;
// an absent text and the empty text are the same value. Lengths count bytes and positions
// count bytes from 1. A byte of 0x80 or above begins a two-byte character together with the
// byte after it: FindText, ToUpperCase, ToLowerCase and ToNumber step by characters, while
// the cutting operations and the byte-buffer operations count bytes and may split one.
//
// Every operation is pure. Arguments out of range give the empty text, the empty buffer or
// -1; nothing throws and nothing reports an error.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace viewer {

// A counted sequence of bytes, zero bytes allowed; absent and empty are the same value.
using ByteBuffer = std::vector<std::uint8_t>;

int TextLength(std::string_view text);
std::string LeftText(std::string_view text, int count);
std::string RightText(std::string_view text, int count);
std::string MidText(std::string_view text, int start, int count);
std::string DeleteText(std::string_view text, int start, int count);
std::string SpaceText(int count);

// Position of the first needle that begins at or after byte `start`, stepping by characters
// from the first byte searched; -1 when there is none. An empty needle yields 1 when any
// byte is left to search. With ignoreCase only ASCII letters are folded.
int FindText(std::string_view text, std::string_view needle, int start = 1,
             bool ignoreCase = false);

std::string ToUpperCase(std::string_view text);
std::string ToLowerCase(std::string_view text);
bool TextsEqual(std::string_view a, std::string_view b, bool ignoreCase = false);

template <typename... Texts>
std::string JoinTexts(const Texts &...texts) {
    const std::string_view views[] = {std::string_view(texts)...};
    std::size_t size = 0;
    for (std::string_view v : views)
        size += v.size();
    std::string joined;
    joined.reserve(size);
    for (std::string_view v : views)
        joined.append(v);
    return joined;
}

// The number at the start of the text, after full-width forms are folded to ASCII;
// 0 when no digit can be read. A number beyond double range reads as +-infinity.
double ToNumber(std::string_view text);
double ToNumber(int value);

// "%.13g" with a three-digit exponent ("1e+013"); infinity is written "inf" or "-inf".
std::string ToText(double number);
std::string ToText(int value);
// The bytes before the first zero byte, or all of them.
std::string ToText(const ByteBuffer &bytes);
std::string ToText(std::string_view text);

// Truncates toward zero to 64 bits and keeps the low 32; 0 beyond the 64-bit range and for
// values that are not finite.
std::int32_t ToInteger(double number);

ByteBuffer ZeroBytes(int count);
ByteBuffer LeftBytes(const ByteBuffer &bytes, int count);
ByteBuffer JoinBytes(const ByteBuffer &a, const ByteBuffer &b);

// The text after the first start marker and before the first end marker that follows it;
// empty when either is missing. Both searches are exact.
std::string ExtractBetween(std::string_view text, std::string_view startMarker,
                           std::string_view endMarker);

}  // namespace viewer
