#pragma once

// The text search walked out position by position, one character step at a time: the
// reference that the fast search is checked against, in the tests and in the fuzz target.

#include <string_view>

namespace viewer::reference {

inline int ReferenceFind(std::string_view text, std::string_view needle, int start,
                         bool ignoreCase) {
    const long long n = static_cast<long long>(text.size());
    const long long m = static_cast<long long>(needle.size());
    long long pos = start - 1LL > 0 ? start - 1LL : 0;
    if (pos >= n)
        return -1;
    if (m == 0)
        return 1;
    auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    while (n - pos >= m) {
        bool match = true;
        for (long long i = 0; i < m && match; ++i) {
            const char a = text[static_cast<std::size_t>(pos + i)];
            const char b = needle[static_cast<std::size_t>(i)];
            match = ignoreCase ? fold(a) == fold(b) : a == b;
        }
        if (match)
            return static_cast<int>(pos + 1);
        if (static_cast<unsigned char>(text[static_cast<std::size_t>(pos)]) >= 0x80) {
            if (pos + 1 == n)
                return -1;
            pos += 2;
        } else {
            pos += 1;
        }
    }
    return -1;
}

}  // namespace viewer::reference
