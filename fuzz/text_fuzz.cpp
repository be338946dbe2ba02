// Checks the invariants of the text helpers and of URL splitting on arbitrary bytes.

#include "http/url.h"
#include "text/text.h"

#include "reference_find.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

void Check(bool condition, const char *what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Whether `position` (from 1) begins a character when counted from byte `start`.
bool BeginsCharacter(std::string_view text, int start, int position) {
    std::size_t pos = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
    while (pos + 1 < static_cast<std::size_t>(position))
        pos += static_cast<unsigned char>(text[pos]) >= 0x80 ? 2 : 1;
    return pos + 1 == static_cast<std::size_t>(position);
}

void CheckFind(std::string_view text, std::string_view needle, int start, bool ignoreCase) {
    const int found = viewer::FindText(text, needle, start, ignoreCase);
    Check(found == viewer::reference::ReferenceFind(text, needle, start, ignoreCase),
          "FindText agrees with the walk");
    if (found == -1 || needle.empty())
        return;
    Check(found >= 1 && found >= start, "FindText reports a position at or after start");
    const std::string_view at = text.substr(static_cast<std::size_t>(found) - 1, needle.size());
    Check(viewer::TextsEqual(at, needle, ignoreCase), "FindText's position holds the needle");
    Check(BeginsCharacter(text, start, found), "FindText's match begins a character");
}

void CheckExtract(std::string_view text, std::string_view startMarker, std::string_view endMarker) {
    const std::string between = viewer::ExtractBetween(text, startMarker, endMarker);
    if (between.empty())
        return;
    const int p = viewer::FindText(text, startMarker);
    Check(p > 0, "ExtractBetween needs a start marker");
    const std::size_t from = static_cast<std::size_t>(p) - 1 + startMarker.size();
    Check(text.substr(from, between.size()) == between,
          "ExtractBetween returns the text right after the first start marker");
    Check(text.substr(from + between.size(), endMarker.size()) == endMarker,
          "ExtractBetween stops at an end marker");
}

// The number read the C library's way: fold the text into a new one, cut the longest number
// off its start and hand that to strtod (this process never leaves the "C" locale).
double ReferenceNumber(std::string_view text) {
    std::string folded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            folded.push_back(static_cast<char>(lead));
            continue;
        }
        if (i + 1 == text.size())
            break;
        const auto trail = static_cast<unsigned char>(text[++i]);
        if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE)
            folded.push_back(static_cast<char>(trail - 0x80));
        else if (lead == 0xA1 && trail == 0xA1)
            folded.push_back(' ');
        else if (lead == 0xA1 && trail == 0xAB)
            folded.push_back('~');
        else if (lead == 0xA1 && (trail == 0xEE || trail == 0xEF))
            folded.push_back('*');
        else
            folded += {static_cast<char>(lead), static_cast<char>(trail)};
    }
    auto digit = [&](std::size_t at) {
        return at < folded.size() && folded[at] >= '0' && folded[at] <= '9';
    };
    std::size_t at = folded.find_first_not_of(" \t\n\v\f\r");
    if (at == std::string::npos)
        return 0;
    const std::size_t begin = at;
    if (folded[at] == '+' || folded[at] == '-')
        ++at;
    std::size_t digits = 0;
    for (; digit(at); ++at)
        ++digits;
    if (at < folded.size() && folded[at] == '.')
        for (++at; digit(at); ++at)
            ++digits;
    if (digits == 0)
        return 0;
    std::size_t end = at;
    if (at < folded.size() && std::strchr("eEdD", folded[at]) != nullptr && folded[at] != 0) {
        ++at;
        if (at < folded.size() && (folded[at] == '+' || folded[at] == '-'))
            ++at;
        if (digit(at)) {
            while (digit(at))
                ++at;
            end = at;
        }
    }
    std::string number = folded.substr(begin, end - begin);
    for (char &c : number)
        if (c == 'd' || c == 'D')
            c = 'e';
    return std::strtod(number.c_str(), nullptr);
}

void CheckNumberText(std::string_view text) {
    const double value = viewer::ToNumber(text);
    const double expected = ReferenceNumber(text);
    Check(std::memcmp(&value, &expected, sizeof value) == 0, "ToNumber agrees with strtod");
}

void CheckNumber(double value) {
    const std::int32_t integer = viewer::ToInteger(value);
    (void)integer;
    if (!std::isfinite(value))
        return;  // infinity is written "inf", which reads back as 0 by design
    const std::string once = viewer::ToText(value);
    const std::string twice = viewer::ToText(viewer::ToNumber(once));
    Check(once == twice, "ToText(ToNumber(ToText(x))) is stable");
}

void CheckUrl(std::string_view url) {
    const std::string host = viewer::UrlHost(url);
    const int port = viewer::UrlPort(url);
    (void)port;
    const std::string path = viewer::UrlObjectPath(url);
    Check(host.size() <= url.size(), "the host is part of the URL");
    Check(viewer::ToLowerCase(host) == host, "the host is in lower case");
    Check(!path.empty() && path.front() == '/', "the object path begins with a slash");
    Check(
        path == "/" || (path.size() <= url.size() && url.substr(url.size() - path.size()) == path),
        "the object path is the end of the URL");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int start = input.ConsumeIntegralInRange<int>(-4, 70);
    const bool ignoreCase = input.ConsumeBool();
    const std::string needle = input.ConsumeRandomLengthString(32);
    const std::string endMarker = input.ConsumeRandomLengthString(32);
    std::uint64_t bits = input.ConsumeIntegral<std::uint64_t>();
    const std::string text = input.ConsumeRemainingBytesAsString();

    CheckFind(text, needle, start, ignoreCase);
    CheckFind(text, needle, 1, !ignoreCase);
    CheckExtract(text, needle, endMarker);
    CheckNumberText(text);
    CheckNumber(viewer::ToNumber(text));
    double fromBits = 0;
    static_assert(sizeof fromBits == sizeof bits);
    std::memcpy(&fromBits, &bits, sizeof bits);
    CheckNumber(fromBits);
    CheckUrl(text);
    return 0;
}
