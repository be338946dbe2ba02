#include "navigation/thread_navigator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_browser_view.h"

namespace viewer {
namespace {

using testing::FakeBrowserView;

constexpr const char *kBase = "http://forum.example/";
constexpr const char *kPrefix = "http://forum.example/thread-";

class ThreadNavigatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedBase = std::string(ForumBaseUrl());
        OverrideForumBaseUrlForTesting(kBase);
        CurrentThread.clear();
    }
    void TearDown() override {
        OverrideForumBaseUrlForTesting(m_savedBase);
        CurrentThread.clear();
    }

    FakeBrowserView m_view;

private:
    std::string m_savedBase;
};

TEST_F(ThreadNavigatorTest, DefaultBaseIsTheBuildConstant) {
    OverrideForumBaseUrlForTesting(VIEWER_FORUM_BASE_URL);
    EXPECT_EQ(ForumBaseUrl(), VIEWER_FORUM_BASE_URL);
    EXPECT_EQ(ThreadUrlPrefix(), std::string(VIEWER_FORUM_BASE_URL) + "thread-");
}

TEST_F(ThreadNavigatorTest, AddressShapes) {
    EXPECT_EQ(ForumBaseUrl(), kBase);
    EXPECT_EQ(ThreadUrlPrefix(), kPrefix);
    EXPECT_EQ(ThreadUrl("987"), std::string(kPrefix) + "987-1-1.html");
    EXPECT_EQ(ThreadUrl(""), std::string(kPrefix) + "-1-1.html");
    EXPECT_EQ(ThreadUrl("abc"), std::string(kPrefix) + "abc-1-1.html");
    // GBK bytes go in untouched.
    EXPECT_EQ(ThreadUrl("\xd6\xd0"), std::string(kPrefix) + "\xd6\xd0-1-1.html");
    EXPECT_EQ(NewestListUrl(), std::string(kBase) + "forum.php?mod=guide&view=new");
}

struct StepCase {
    const char *name;
    std::string start;
    bool next;
    std::string expected;
};

class StepTest : public ThreadNavigatorTest, public ::testing::WithParamInterface<StepCase> {};

TEST_P(StepTest, WritesTheNumberAndOpensItsThread) {
    const StepCase &c = GetParam();
    CurrentThread = c.start;
    if (c.next)
        ShowNextThread(m_view);
    else
        ShowPreviousThread(m_view);
    EXPECT_EQ(CurrentThread, c.expected);
    EXPECT_EQ(m_view.navigations, std::vector<std::string>{ThreadUrl(c.expected)});
    EXPECT_TRUE(m_view.setUrls.empty());
}

INSTANTIATE_TEST_SUITE_P(
    CurrentThreadWriters, StepTest,
    ::testing::Values(StepCase{"next_from_987", "987", true, "988"},
                      StepCase{"previous_from_987", "987", false, "986"},
                      StepCase{"next_from_empty", "", true, "1"},
                      StepCase{"previous_from_empty", "", false, "-1"},
                      StepCase{"next_from_abc", "abc", true, "1"},
                      StepCase{"previous_from_abc", "abc", false, "-1"},
                      StepCase{"next_from_12abc", "12abc", true, "13"},
                      StepCase{"next_from_2_5", "2.5", true, "3.5"},
                      StepCase{"previous_from_2_5", "2.5", false, "1.5"},
                      StepCase{"next_from_full_width_12", "\xa3\xb1\xa3\xb2", true, "13"},
                      StepCase{"next_from_13_digits", "9999999999999", true, "1e+013"},
                      StepCase{"next_from_1e013", "1e+013", true, "1e+013"},
                      StepCase{"previous_from_1e013", "1e+013", false, "9999999999999"},
                      StepCase{"previous_from_1", "1", false, "0"}),
    [](const ::testing::TestParamInfo<StepCase> &row) { return std::string(row.param.name); });

TEST_F(ThreadNavigatorTest, PreviousFromEmptyOpensMinusOne) {
    ShowPreviousThread(m_view);
    ASSERT_EQ(m_view.navigations.size(), 1u);
    EXPECT_EQ(m_view.navigations[0], std::string(kPrefix) + "-1-1-1.html");
}

TEST_F(ThreadNavigatorTest, NewestListLeavesTheCurrentThread) {
    CurrentThread = "987";
    ShowNewestList(m_view);
    EXPECT_EQ(CurrentThread, "987");
    EXPECT_EQ(m_view.navigations, std::vector<std::string>{NewestListUrl()});
}

TEST_F(ThreadNavigatorTest, OpenCurrentThreadJoinsTheTextAsItIs) {
    CurrentThread = "a b<c";
    OpenCurrentThread(m_view);
    EXPECT_EQ(m_view.navigations,
              std::vector<std::string>{std::string(kPrefix) + "a b<c-1-1.html"});
}

struct TrackCase {
    const char *name;
    std::string address;
    bool changes;
    std::string expected;
};

class TrackTest : public ThreadNavigatorTest, public ::testing::WithParamInterface<TrackCase> {};

TEST_P(TrackTest, ReadsTheNumberFromThreadAddressesOnly) {
    const TrackCase &c = GetParam();
    CurrentThread = "555";
    m_view.url = c.address;
    TrackThreadAddress(m_view);
    EXPECT_EQ(CurrentThread, c.changes ? c.expected : "555");
    EXPECT_TRUE(m_view.navigations.empty());
    EXPECT_TRUE(m_view.setUrls.empty());
}

INSTANTIATE_TEST_SUITE_P(
    ReadyDocuments, TrackTest,
    ::testing::Values(
        TrackCase{"thread", std::string(kPrefix) + "987-1-1.html", true, "987"},
        TrackCase{"thread_with_fragment", std::string(kPrefix) + "987-1-1.html#pid5", true, "987"},
        TrackCase{"second_page", std::string(kPrefix) + "987-2-1.html", true, ""},
        TrackCase{"empty_number", std::string(kPrefix) + "-1-1.html", true, ""},
        TrackCase{"text_number", std::string(kPrefix) + "abc-1-1.html", true, "abc"},
        TrackCase{"prefix_inside_address",
                  std::string("http://other.example/go?to=") + kPrefix + "42-1-1.html", true, "42"},
        TrackCase{"query_address", std::string(kBase) + "forum.php?mod=viewthread&tid=987", false,
                  ""},
        TrackCase{"about_blank", "about:blank", false, ""},
        TrackCase{"newest_list", std::string(kBase) + "forum.php?mod=guide&view=new", false, ""},
        TrackCase{"capital_prefix", "HTTP://FORUM.EXAMPLE/THREAD-987-1-1.html", false, ""},
        TrackCase{"empty_address", "", false, ""}),
    [](const ::testing::TestParamInfo<TrackCase> &row) { return std::string(row.param.name); });

TEST_F(ThreadNavigatorTest, LastReadyThreadDocumentDecides) {
    for (const std::string &address : {ThreadUrl("10"), std::string("about:blank"), ThreadUrl("11"),
                                       std::string(kBase) + "frame-11.html"}) {
        m_view.url = address;
        TrackThreadAddress(m_view);
    }
    EXPECT_EQ(CurrentThread, "11");
}

struct NewWindowCase {
    const char *name;
    std::string status;
};

class NewWindowTest : public ThreadNavigatorTest,
                      public ::testing::WithParamInterface<NewWindowCase> {};

TEST_P(NewWindowTest, RefusesTheWindowAndFollowsTheStatusText) {
    CurrentThread = "987";
    m_view.statusText = GetParam().status;
    EXPECT_FALSE(KeepNewWindowInView(m_view));
    EXPECT_EQ(m_view.setUrls, std::vector<std::string>{GetParam().status});
    EXPECT_TRUE(m_view.navigations.empty());
    EXPECT_EQ(CurrentThread, "987");
}

INSTANTIATE_TEST_SUITE_P(
    NewWindows, NewWindowTest,
    ::testing::Values(NewWindowCase{"thread_link", std::string(kPrefix) + "988-1-1.html"},
                      NewWindowCase{"empty_status", ""},
                      NewWindowCase{"other_text", "\xd6\xd0 not an address"}),
    [](const ::testing::TestParamInfo<NewWindowCase> &row) { return std::string(row.param.name); });

}  // namespace
}  // namespace viewer
