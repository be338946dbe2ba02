#include "http/url.h"

#include "text/text.h"

namespace viewer {

namespace {

constexpr std::string_view kSchemePrefix = "http://";
constexpr int kSchemeLength = 7;

bool HasSchemePrefix(std::string_view url) {
    return TextsEqual(url.substr(0, kSchemeLength), kSchemePrefix, true);
}

// Where the host begins: right after the prefix, or at the first byte without one.
int HostStart(std::string_view url) {
    return HasSchemePrefix(url) ? kSchemeLength + 1 : 1;
}

// The host and the port as they stand in the URL, up to the first slash after the prefix.
std::string_view HostAndPort(std::string_view url) {
    const int start = HostStart(url);
    const int slash = FindText(url, "/", start, true);
    const auto from = static_cast<std::size_t>(start - 1);
    if (slash > 0)
        return url.substr(from, static_cast<std::size_t>(slash - start));
    return from < url.size() ? url.substr(from) : std::string_view{};
}

}  // namespace

std::string UrlHost(std::string_view url) {
    std::string_view part = HostAndPort(url);
    const int colon = FindText(part, ":", 1, true);
    if (colon > 0)
        part = part.substr(0, static_cast<std::size_t>(colon - 1));
    return ToLowerCase(part);
}

int UrlPort(std::string_view url) {
    const std::string_view part = HostAndPort(url);
    const int colon = FindText(part, ":", 1, true);
    const std::string_view portText =
        colon > 0 ? part.substr(static_cast<std::size_t>(colon)) : std::string_view("80");
    return ToInteger(ToNumber(portText));
}

std::string UrlObjectPath(std::string_view url) {
    const std::string host = UrlHost(url);
    // Searched from where the host begins, so that a host such as "t" is not found in "http".
    const int hostAt = FindText(url, host, HostStart(url), true);
    const int slash = FindText(url, "/", hostAt, true);
    if (slash > 0)
        return std::string(url.substr(static_cast<std::size_t>(slash - 1)));
    return "/";
}

}  // namespace viewer
