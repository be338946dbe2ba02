#include "text/text.h"

#include <gtest/gtest.h>

namespace viewer {
namespace {

TEST(TextSmoke, CoreOperations) {
    EXPECT_EQ(MidText("abcdef", 3, 10), "cdef");
    EXPECT_EQ(FindText("a/b/c", "/", 3), 4);
    EXPECT_EQ(FindText("\xb0\x41", "A"), -1);
    EXPECT_EQ(ToText(ToNumber("987") + 1), "988");
    EXPECT_EQ(ToText(1e13), "1e+013");
    EXPECT_EQ(ToNumber("\xa3\xb1\xa3\xb2"), 12);
    EXPECT_EQ(ExtractBetween("http://h/thread-987-1-1.html", "http://h/thread-", "-1-1"), "987");
}

}  // namespace
}  // namespace viewer
