#include "http/url.h"

#include <gtest/gtest.h>

namespace viewer {
namespace {

TEST(UrlSmoke, SplitsForumAddress) {
    const char *url = "http://Forum.Example.com:8080/forum.php?mod=guide&view=new";
    EXPECT_EQ(UrlHost(url), "forum.example.com");
    EXPECT_EQ(UrlPort(url), 8080);
    EXPECT_EQ(UrlObjectPath(url), "/forum.php?mod=guide&view=new");
}

}  // namespace
}  // namespace viewer
