#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "demo_forum.h"

namespace viewer::demo {
namespace {

using namespace std::chrono_literals;

// The viewer's markers, written out here so that the pages are checked against the bytes the
// viewer looks for, not against the generator's own idea of them.
std::string StartMarker(std::string_view baseUrl) {
    return "\">\n<tr>\n<td class=\"icn\">\n<a href=\"" + std::string(baseUrl) + "thread-";
}
// "-1-1.html\" title=\"新窗口打开\" target=\"_blank\">" in GBK.
const std::string kEndMarker =
    "-1-1.html\" title=\"\xd0\xc2\xb4\xb0\xbf\xda\xb4\xf2\xbf\xaa\" target=\"_blank\">";

std::vector<std::size_t> FindAll(std::string_view text, std::string_view needle) {
    std::vector<std::size_t> at;
    for (auto pos = text.find(needle); pos != std::string_view::npos;
         pos = text.find(needle, pos + 1)) {
        at.push_back(pos);
    }
    return at;
}

// Every byte of 0x80 and above must open a two-byte GBK character (no four-byte GB18030 forms).
::testing::AssertionResult IsGbk(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            continue;
        }
        if (lead == 0x80 || lead == 0xff || i + 1 == bytes.size()) {
            return ::testing::AssertionFailure() << "bad lead byte at " << i;
        }
        const auto trail = static_cast<unsigned char>(bytes[++i]);
        if (trail < 0x40 || trail == 0x7f || trail == 0xff) {
            return ::testing::AssertionFailure() << "bad trail byte at " << i;
        }
    }
    return ::testing::AssertionSuccess();
}

struct ListCase {
    const char *name;
    std::string baseUrl;
    ForumOptions options;
};

void PrintTo(const ListCase &row, std::ostream *out) {
    *out << row.name;
}

class NewestListShape : public ::testing::TestWithParam<ListCase> {};

TEST_P(NewestListShape, EveryRowCarriesTheMarkersOnceNewestFirst) {
    const auto &[name, baseUrl, options] = GetParam();
    const std::string page = NewestListPage(baseUrl, options);
    const auto starts = FindAll(page, StartMarker(baseUrl));
    const auto ends = FindAll(page, kEndMarker);
    const int rows = options.newestThread - options.firstThread + 1;
    ASSERT_EQ(starts.size(), static_cast<std::size_t>(rows));
    ASSERT_EQ(ends.size(), static_cast<std::size_t>(rows));
    for (int row = 0; row < rows; ++row) {
        const std::size_t from = starts[row] + StartMarker(baseUrl).size();
        ASSERT_LT(from, ends[row]) << "row " << row;
        EXPECT_EQ(page.substr(from, ends[row] - from), std::to_string(options.newestThread - row))
            << "row " << row;
    }
    EXPECT_EQ(page.find('\r'), std::string::npos) << "line feeds only";
    EXPECT_TRUE(IsGbk(page));
}

INSTANTIATE_TEST_SUITE_P(
    Pages, NewestListShape,
    ::testing::Values(ListCase{"DefaultForum", "http://127.0.0.1:18080/", {}},
                      ListCase{"OneThread", "http://127.0.0.1:18080/", {42, 42}},
                      ListCase{"ForumBelowAPath", "http://forum.example/bbs/", {1, 12}},
                      ListCase{"LongNumbers", "http://h/", {999999990, 999999999}}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(NewestListShape, AnEmptyRangeHasNoRow) {
    const std::string page = NewestListPage("http://h/", {5, 3});
    EXPECT_EQ(page.find(StartMarker("http://h/")), std::string::npos);
    EXPECT_EQ(page.find(kEndMarker), std::string::npos);
}

TEST(Pages, AreGbkNotUtf8) {
    // "最新发表" in GBK; the same words in UTF-8 must not be there.
    const std::string page = NewestListPage("http://h/", {});
    EXPECT_NE(page.find("\xd7\xee\xd0\xc2\xb7\xa2\xb1\xed"), std::string::npos);
    EXPECT_EQ(page.find("\xe6\x9c\x80\xe6\x96\xb0"), std::string::npos);
    EXPECT_EQ(FromGbk(ToGbk("最新发表 ok")), "最新发表 ok");
}

struct ThreadCase {
    const char *name;
    int thread;
    int page;
    std::vector<std::string> present;
    std::vector<std::string> absent;
};

void PrintTo(const ThreadCase &row, std::ostream *out) {
    *out << row.name;
}

class ThreadPages : public ::testing::TestWithParam<ThreadCase> {};

TEST_P(ThreadPages, LinkAsAForumDoes) {
    const auto &c = GetParam();
    const std::string base = "http://127.0.0.1:18080/";
    const std::string page = ThreadPage(base, c.thread, c.page, ForumOptions{900, 987});
    EXPECT_TRUE(IsGbk(page));
    EXPECT_EQ(page.find('\r'), std::string::npos);
    EXPECT_NE(page.find("charset=gbk"), std::string::npos);
    // A thread page never looks like a row of the newest-threads list.
    EXPECT_EQ(page.find(StartMarker(base)), std::string::npos);
    for (const auto &text : c.present) {
        EXPECT_NE(page.find(base + text), std::string::npos) << text;
    }
    for (const auto &text : c.absent) {
        EXPECT_EQ(page.find(base + text), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pages, ThreadPages,
    ::testing::Values(
        ThreadCase{
            "Middle",
            950,
            1,
            {"thread-949-1-1.html\"", "thread-951-1-1.html\" target=\"_blank\"",
             "thread-950-2-1.html\"", "frame-950.html\"", "forum.php?mod=guide&amp;view=new\""},
            {}},
        ThreadCase{"Newest", 987, 1, {"thread-986-1-1.html\""}, {"thread-988-1-1.html"}},
        ThreadCase{"First", 900, 1, {"thread-901-1-1.html\""}, {"thread-899-1-1.html"}},
        ThreadCase{"SecondPage", 950, 2, {"thread-950-1-1.html\"", "frame-950.html\""}, {}}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(FramePages, LinkNeighboursInANewWindow) {
    const std::string page = FramePage("http://h/", 950, ForumOptions{900, 987});
    EXPECT_TRUE(IsGbk(page));
    EXPECT_NE(page.find("http://h/thread-948-1-1.html\" target=\"_blank\""), std::string::npos);
    EXPECT_NE(page.find("http://h/thread-952-1-1.html\" target=\"_blank\""), std::string::npos);
}

// The served forum, read with a plain HTTP client.
struct Answer {
    long status = 0;
    std::string contentType;
    std::string body;
};

std::size_t Collect(char *data, std::size_t size, std::size_t count, void *out) {
    static_cast<std::string *>(out)->append(data, size * count);
    return size * count;
}

Answer Fetch(const std::string &url, const std::string *postBody = nullptr) {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    Answer answer;
    if (!curl) {
        return answer;
    }
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_PROXY, "");
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, 10000L);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &answer.body);
    if (postBody) {
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, postBody->c_str());
        curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(postBody->size()));
    }
    if (curl_easy_perform(curl.get()) != CURLE_OK) {
        return answer;
    }
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &answer.status);
    char *type = nullptr;
    curl_easy_getinfo(curl.get(), CURLINFO_CONTENT_TYPE, &type);
    answer.contentType = type ? type : "";
    return answer;
}

class ServedForum : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_forum.start()); }
    std::string Url(std::string_view path) const { return m_forum.baseUrl() + std::string(path); }

    DemoForum m_forum{ForumOptions{900, 987}};
};

TEST_F(ServedForum, AnswersItsAddresses) {
    struct Row {
        const char *path;
        long status;
        const char *contentType;
    };
    const Row rows[] = {
        {"forum.php?mod=guide&view=new", 200, "text/html; charset=gbk"},
        {"thread-987-1-1.html", 200, "text/html; charset=gbk"},
        {"thread-900-2-1.html", 200, "text/html; charset=gbk"},
        {"frame-950.html", 200, "text/html; charset=gbk"},
        {"thread-988-1-1.html", 404, "text/html; charset=gbk"},
        {"thread-899-1-1.html", 404, "text/html; charset=gbk"},
        {"thread-950-3-1.html", 404, "text/html; charset=gbk"},
        {"thread--1-1-1.html", 404, "text/html; charset=gbk"},
        {"thread-1-1.html", 404, "text/html; charset=gbk"},
        {"favicon.ico", 404, "text/html; charset=gbk"},
        {"qq.txt", 405, "text/plain"},
    };
    for (const auto &row : rows) {
        const Answer answer = Fetch(Url(row.path));
        EXPECT_EQ(answer.status, row.status) << row.path;
        EXPECT_EQ(answer.contentType, row.contentType) << row.path;
        EXPECT_FALSE(answer.body.empty()) << row.path;
        EXPECT_TRUE(IsGbk(answer.body)) << row.path;
    }
    EXPECT_EQ(Fetch(Url("thread-987-1-1.html")).body,
              ThreadPage(m_forum.baseUrl(), 987, 1, ForumOptions{900, 987}));
}

TEST_F(ServedForum, TakesASuggestionAndRecordsIt) {
    const std::string body = "title=a&b=c&content=\xce\xca\xcc\xe2";  // 问题 in GBK
    const Answer answer = Fetch(Url("qq.txt"), &body);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, "ok");
    ASSERT_TRUE(m_forum.waitForRequest("/qq.txt", 5s));
    const auto requests = m_forum.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, body);
    m_forum.clearRequests();
    EXPECT_TRUE(m_forum.requests().empty());
}

TEST_F(ServedForum, WaitForRequestLooksOnlyPastSkip) {
    Fetch(Url("thread-950-1-1.html"));
    EXPECT_TRUE(m_forum.waitForRequest("/thread-950", 5s));
    EXPECT_FALSE(m_forum.waitForRequest("/thread-950", 50ms, 1));
    EXPECT_FALSE(m_forum.waitForRequest("/thread-951", 50ms));
}

TEST_F(ServedForum, HoldsTheNewestListUntilReleased) {
    m_forum.holdNewestList(true);
    auto answer = std::async(std::launch::async,
                             [this] { return Fetch(Url("forum.php?mod=guide&view=new")); });
    ASSERT_TRUE(m_forum.waitForRequest("/forum.php", 5s));
    // Other pages are served meanwhile.
    EXPECT_EQ(Fetch(Url("thread-950-1-1.html")).status, 200);
    EXPECT_EQ(answer.wait_for(300ms), std::future_status::timeout);
    m_forum.holdNewestList(false);
    ASSERT_EQ(answer.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(answer.get().status, 200);
}

TEST_F(ServedForum, ServesAReplacedNewestListAndRestoresIt) {
    m_forum.setNewestListPage("no rows here");
    EXPECT_EQ(Fetch(Url("forum.php?mod=guide&view=new")).body, "no rows here");
    m_forum.setNewestListPage("");
    EXPECT_EQ(Fetch(Url("forum.php?mod=guide&view=new")).body,
              NewestListPage(m_forum.baseUrl(), ForumOptions{900, 987}));
}

TEST(DemoForumLifetime, StopReleasesAHeldRequest) {
    DemoForum forum;
    ASSERT_TRUE(forum.start());
    forum.holdNewestList(true);
    const std::string url = forum.baseUrl() + "forum.php?mod=guide&view=new";
    auto answer = std::async(std::launch::async, [url] { return Fetch(url); });
    ASSERT_TRUE(forum.waitForRequest("/forum.php", 5s));
    forum.stop();
    EXPECT_EQ(answer.wait_for(10s), std::future_status::ready);
}

TEST(DemoForumLifetime, ServesBelowThePathOfItsBaseAddress) {
    DemoForum forum;
    forum.setBaseUrl("http://localhost:18080/bbs/");
    ASSERT_TRUE(forum.start());
    EXPECT_EQ(forum.baseUrl(), "http://localhost:18080/bbs/");
    const std::string root = "http://127.0.0.1:" + std::to_string(forum.port()) + "/";
    const Answer thread = Fetch(root + "bbs/thread-987-1-1.html");
    EXPECT_EQ(thread.status, 200);
    EXPECT_NE(thread.body.find("http://localhost:18080/bbs/thread-986-1-1.html"),
              std::string::npos);
    EXPECT_EQ(Fetch(root + "thread-987-1-1.html").status, 404);
    const std::string body = "title=&content=";
    EXPECT_EQ(Fetch(root + "qq.txt", &body).body, "ok");
}

}  // namespace
}  // namespace viewer::demo
