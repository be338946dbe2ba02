#pragma once

// FormPost: one urlencoded form POST with a browser's header lines, run synchronously on the
// calling thread (the suggestion command runs it on a worker). Redirects are followed across
// http and https with certificates verified; the answer body is read to its end, gunzipped
// when it is marked and signed as gzip, and returned whatever the status. A request that
// cannot be made yields an empty body; a read that fails yields the bytes that did arrive.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace viewer {

inline constexpr std::string_view kFormPostUserAgent =
    "Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 5.1; SV1; .NET CLR 2.0.50727) Tavrel";
inline constexpr std::chrono::milliseconds kFormPostTimeout{90000};
inline constexpr long kFormPostMaxRedirects = 10;
// Neither the received body nor its gunzipped form grows past this, so no answer can exhaust
// memory.
inline constexpr std::size_t kMaxFormPostBodyBytes = 64u * 1024 * 1024;

struct FormPostOptions {
    // Bound on connecting (TLS handshake included).
    std::chrono::milliseconds connectTimeout = kFormPostTimeout;
    // Bound on sending and on receiving: the request fails once no byte has moved for this long.
    std::chrono::milliseconds idleTimeout = kFormPostTimeout;
    // A PEM file of the authorities to trust instead of the system's; empty for the system's.
    std::string caFile;
};

struct FormPostAnswer {
    // The last answer's body, gunzipped where due; empty when the request could not be made.
    std::string body;
    // The last answer's Content-Type held "utf-8": the body is UTF-8 for the caller to convert.
    bool utf8 = false;
    // libcurl's account of a failure, for test logs only.
    std::string error;
};

// Posts `body` to `url` with these header lines, in this order, besides Host and
// Content-Length: User-Agent (kFormPostUserAgent), the browser's Accept list, "Referer: " + url,
// "Accept-Language: zh-cn" and "Content-Type: application/x-www-form-urlencoded". The proxy of
// the environment is honoured. Setting `stop` makes a running request end as a failed one.
FormPostAnswer FormPost(std::string_view url, std::string_view body,
                        const FormPostOptions &options = {},
                        const std::atomic<bool> *stop = nullptr);

// The gunzipped form of `data` (one or more gzip members), cut at `limit` bytes; a damaged
// stream yields what was decoded before the damage.
std::string GunzipCapped(std::string_view data, std::size_t limit);

}  // namespace viewer
