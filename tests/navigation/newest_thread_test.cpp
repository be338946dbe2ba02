#include "navigation/newest_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "fake_browser_view.h"
#include "http/page_fetcher.h"
#include "loopback_server.h"
#include "navigation/thread_navigator.h"

namespace viewer {
namespace {

using namespace std::chrono_literals;
using testing::FakeBrowserView;

// One row of the newest-threads list as the forum writes it.
std::string Row(std::string_view number) {
    return GuideStartMarker() + std::string(number) + std::string(GuideEndMarker()) +
           "\xd6\xf7\xcc\xe2</a></td>\n</tr>";
}

class NewestThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedBase = std::string(ForumBaseUrl());
        ASSERT_TRUE(m_server.start());
        OverrideForumBaseUrlForTesting(m_server.url("/"));
        CurrentThread = "555";
        GuidePageHtml = "old page";
    }
    void TearDown() override {
        SetEventPump({});
        m_server.stop();
        OverrideForumBaseUrlForTesting(m_savedBase);
        CurrentThread.clear();
        GuidePageHtml.clear();
    }

    // The answers to the list requests, in order; the last one repeats.
    std::vector<std::string> m_pages{""};
    std::atomic<int> m_answered{0};
    loopback::LoopbackServer m_server{[this](const loopback::Request &) {
        const int i = m_answered++;
        const std::string &page = m_pages[std::min<std::size_t>(i, m_pages.size() - 1)];
        return loopback::Reply::Http(200, page, "Content-Type: text/html; charset=gbk\r\n");
    }};
    FakeBrowserView m_view;

private:
    std::string m_savedBase;
};

TEST(GuideMarkers, HaveTheirFixedShapes) {
    EXPECT_EQ(GuideEndMarker().size(), 46u);
    EXPECT_EQ(GuideEndMarker(),
              "-1-1.html\" title=\"\xd0\xc2\xb4\xb0\xbf\xda\xb4\xf2\xbf\xaa\" target=\"_blank\">");
    const std::string start = GuideStartMarker();
    EXPECT_EQ(start.size(), 34u + ThreadUrlPrefix().size());
    EXPECT_EQ(start, "\">\n<tr>\n<td class=\"icn\">\n<a href=\"" + std::string(ThreadUrlPrefix()));
}

struct PageCase {
    const char *name;
    std::string page;  // "@" stands for GuideStartMarker, "#" for GuideEndMarker
    std::string expected;
};

std::string Expand(const std::string &pattern) {
    std::string out;
    for (char c : pattern) {
        if (c == '@')
            out += GuideStartMarker();
        else if (c == '#')
            out += GuideEndMarker();
        else
            out += c;
    }
    return out;
}

class NewestPageTest : public NewestThreadTest, public ::testing::WithParamInterface<PageCase> {};

TEST_P(NewestPageTest, StoresTheFirstNumberAndOpensItsThread) {
    const PageCase &c = GetParam();
    m_pages = {Expand(c.page)};
    ShowNewestThread(m_view);
    EXPECT_EQ(GuidePageHtml, Expand(c.page));
    EXPECT_EQ(CurrentThread, Expand(c.expected));
    EXPECT_EQ(m_view.navigations, std::vector<std::string>{ThreadUrl(Expand(c.expected))});
}

INSTANTIATE_TEST_SUITE_P(
    Pages, NewestPageTest,
    ::testing::Values(
        PageCase{"one_row", "<table><tbody id=\"x@987#t</a>", "987"},
        PageCase{"first_of_several_rows", "<p>@987#a</a>@986#b</a>@12#", "987"},
        PageCase{"empty_page", "", ""},
        PageCase{"end_marker_only_later", "@987\">x</a> <a @986#", "987\">x</a> <a @986"},
        PageCase{"no_end_marker", "@987-1-1.html\">", ""},
        PageCase{"end_before_start", "987#@", ""},
        PageCase{"crlf_rows", "\">\r\n<tr>\r\n<td class=\"icn\">\r\n<a href=\"thread-987#", ""}),
    [](const ::testing::TestParamInfo<PageCase> &row) { return std::string(row.param.name); });

TEST_F(NewestThreadTest, SendsOneGetForTheNewestList) {
    m_pages = {Row("987")};
    ShowNewestThread(m_view);
    const auto requests = m_server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/forum.php?mod=guide&view=new");
}

TEST_F(NewestThreadTest, FailedDownloadOpensTheEmptyNumber) {
    m_server.stop();
    ShowNewestThread(m_view);
    EXPECT_EQ(GuidePageHtml, "");
    EXPECT_EQ(CurrentThread, "");
    EXPECT_EQ(m_view.navigations, std::vector<std::string>{ThreadUrl("")});
}

TEST_F(NewestThreadTest, OuterRunOfNestedDiscoveriesDecides) {
    m_pages = {Row("987"), Row("555")};
    bool nested = false;
    SetEventPump([&] {
        // Once the outer request has its answer, a second discovery runs to its end inside it.
        if (nested || m_server.requests().size() != 1)
            return;
        nested = true;
        ShowNewestThread(m_view);
        EXPECT_EQ(CurrentThread, "555");
    });
    ShowNewestThread(m_view);
    EXPECT_TRUE(nested);
    EXPECT_EQ(CurrentThread, "987");
    EXPECT_EQ(m_view.navigations, (std::vector<std::string>{ThreadUrl("555"), ThreadUrl("987")}));
}

struct JumpCase {
    const char *name;
    bool confirm;
    std::string typed;
    std::string expected;
};

class JumpTest : public NewestThreadTest, public ::testing::WithParamInterface<JumpCase> {};

TEST_P(JumpTest, OpensTheConfirmedTextOrTheNewestThread) {
    const JumpCase &c = GetParam();
    m_pages = {Row("987")};
    CurrentThread = "42";
    int asked = 0;
    JumpToThread(m_view, [&](std::string_view caption, std::string &answer) {
        ++asked;
        EXPECT_EQ(caption, "");
        EXPECT_EQ(answer, "42");
        // A page that becomes ready while the box is open writes the current thread.
        CurrentThread = "77";
        answer = c.typed;
        return c.confirm;
    });
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(CurrentThread, c.expected);
    EXPECT_EQ(m_view.navigations, std::vector<std::string>{ThreadUrl(c.expected)});
    EXPECT_EQ(m_server.requests().size(), c.confirm ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, JumpTest,
    ::testing::Values(JumpCase{"confirm_1234", true, "1234", "1234"},
                      JumpCase{"confirm_empty", true, "", ""},
                      JumpCase{"confirm_abc", true, "abc", "abc"},
                      JumpCase{"confirm_gbk", true, "\xd6\xd0\xce\xc4", "\xd6\xd0\xce\xc4"},
                      JumpCase{"cancel", false, "ignored", "987"}),
    [](const ::testing::TestParamInfo<JumpCase> &row) { return std::string(row.param.name); });

TEST_F(NewestThreadTest, JumpWithoutABoxShowsTheNewestThread) {
    m_pages = {Row("987")};
    JumpToThread(m_view, AskText{});
    EXPECT_EQ(CurrentThread, "987");
}

}  // namespace
}  // namespace viewer
