#pragma once

// Splits an absolute address into what a connection and a request line need. Only the
// prefix "http://" (any letter case) is recognised; an address without it is split as one
// without a scheme, so another scheme's name becomes the host. User information, a query
// that follows the host directly and percent-encoding get no special handling.

#include <string>
#include <string_view>

namespace viewer {

// The host, in lower case (ASCII letters only).
std::string UrlHost(std::string_view url);
// The leading number after the first colon of the host part (0 when there is none), or 80
// when the host part holds no colon.
int UrlPort(std::string_view url);
// Everything from the path's first slash to the end, query and fragment included; "/" when
// there is no path.
std::string UrlObjectPath(std::string_view url);

}  // namespace viewer
