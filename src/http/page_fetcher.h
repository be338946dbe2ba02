#pragma once

// FetchPage: one GET or POST with the viewer's fixed header lines, the whole answer body
// read in 512-byte reads while the window's events keep moving. A request that cannot be
// made yields the empty text; a read that fails ends the body early. The status is never
// looked at, and nothing is reported to the user.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace viewer {

// method (in/out): "POST" in any letter case sends a POST with that verb as written; anything
//   else sends a GET and is set to "GET".
// proxyAddress / useProxy: with useProxy every request goes through the HTTP proxy
//   proxyAddress (host:port); without it the connection is direct and no proxy setting of
//   the system or the environment is consulted.
// headers (in/out): extra request lines, each ending "\r\n"; on return, the block that was
//   sent (the caller's text, then the missing default lines, then a POST's content lines).
// body: a POST's body; ignored for a GET.
// rawHeaders (out): written only with wantRawHeaders: the final answer's status line and
//   header lines, each ending "\r\n".
// The result is the answer body up to its first zero byte.
std::string FetchPage(std::string_view requestUrl, std::string &method,
                      std::string_view proxyAddress, bool useProxy, std::string &headers,
                      std::string_view body, std::string &rawHeaders, bool wantRawHeaders);

// The user agent and the bound on connecting, sending and receiving that every fetch uses.
inline constexpr std::string_view kFetchUserAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
inline constexpr int kFetchTimeoutMs = 18000;
// A body is cut at this size, as if the read there had failed, so no answer can exhaust memory.
inline constexpr std::size_t kMaxFetchBodyBytes = 64u * 1024 * 1024;

// Processes the window's pending events. A fetch calls it before every read and at least
// every 50 ms while it waits to connect or for the answer's head. Without a pump (the
// default) nothing is processed. The application installs its pump once, at start-up.
using EventPump = std::function<void()>;
void SetEventPump(EventPump pump);

// Asks every fetch that is running now, nested ones included, to stop: each then ends as a
// failed read does. Fetches started afterwards run normally.
void StopRunningFetches();

}  // namespace viewer
