#include "http/form_post.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <stdexcept>

#include "loopback_process.h"
#include "loopback_server.h"

namespace viewer {
namespace {

using namespace std::chrono_literals;
using loopback::LoopbackServer;
using loopback::Reply;
using loopback::Request;

constexpr std::string_view kAcceptLine =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*\r\n";

// Gzip of `size` zero bytes (or of `data` when given), produced piecewise so a bomb costs no
// memory.
std::string Gzip(std::string_view data, std::size_t zeros = 0) {
    z_stream stream{};
    if (deflateInit2(&stream, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out;
    std::string input(data);
    if (zeros > 0)
        input.assign(1 << 20, '\0');
    std::size_t rounds = zeros > 0 ? zeros / input.size() : 1;
    char buffer[1 << 16];
    for (std::size_t round = 0; round < rounds; ++round) {
        stream.next_in = reinterpret_cast<Bytef *>(input.data());
        stream.avail_in = static_cast<uInt>(input.size());
        const int flush = round + 1 == rounds ? Z_FINISH : Z_NO_FLUSH;
        int rc = Z_OK;
        do {
            stream.next_out = reinterpret_cast<Bytef *>(buffer);
            stream.avail_out = sizeof buffer;
            rc = deflate(&stream, flush);
            out.append(buffer, sizeof buffer - stream.avail_out);
        } while (stream.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    }
    deflateEnd(&stream);
    return out;
}

// A loopback server that answers every request with `reply`.
struct Fixed {
    explicit Fixed(Reply reply) : server([reply](const Request &) { return reply; }) {
        if (!server.start())
            throw std::runtime_error("loopback server did not start");
    }
    LoopbackServer server;
};

TEST(FormPostWire, RequestIsTheBrowsersPostByteForByte) {
    Fixed fixed(Reply::Http(200, "ok"));
    const std::string url = fixed.server.url("/qq.txt");
    const std::string body = "title=a&b=c&content=x";

    const FormPostAnswer answer = FormPost(url, body);

    ASSERT_EQ(answer.body, "ok") << answer.error;
    const auto requests = fixed.server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string expected =
        "POST /qq.txt HTTP/1.1\r\n"
        "Host: 127.0.0.1:" +
        std::to_string(fixed.server.port()) +
        "\r\n"
        "User-Agent: Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 5.1; SV1; .NET CLR "
        "2.0.50727) Tavrel\r\n" +
        std::string(kAcceptLine) + "Referer: " + url +
        "\r\n"
        "Accept-Language: zh-cn\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\n"
        "Content-Length: 21\r\n"
        "\r\n" +
        body;
    EXPECT_EQ(requests[0].raw, expected);
}

TEST(FormPostWire, EmptyAndLargeBodiesGoOutWithTheirLengthAndNoExpect) {
    Fixed fixed(Reply::Http(200, "ok"));
    const std::string large(2u << 20, 'x');
    // A view without storage is the empty body too.
    for (const std::string_view body : {std::string_view(), std::string_view(large)}) {
        fixed.server.clearRequests();
        ASSERT_EQ(FormPost(fixed.server.url("/qq.txt"), body).body, "ok");
        const auto requests = fixed.server.requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].header("Content-Length"), std::to_string(body.size()));
        EXPECT_EQ(requests[0].head.find("Expect"), std::string::npos) << requests[0].head;
        EXPECT_EQ(requests[0].body, body);
    }
}

TEST(FormPostWire, EnvironmentProxyCarriesTheRequestWithoutExtraLines) {
    Fixed proxy(Reply::Http(200, "via proxy"));
    FormPostAnswer answer;
    {
        const loopback::ScopedEnvironment useProxy("http_proxy", proxy.server.url(""));
        answer = FormPost("http://feedback.example/qq.txt", "title=&content=");
    }

    EXPECT_EQ(answer.body, "via proxy") << answer.error;
    const auto requests = proxy.server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "http://feedback.example/qq.txt");
    EXPECT_EQ(requests[0].header("Host"), "feedback.example");
    EXPECT_EQ(requests[0].head.find("Proxy-Connection"), std::string::npos) << requests[0].head;
}

struct AnswerCase {
    const char *name;
    Reply reply;
    std::string body;
    bool utf8;
};

TEST(FormPostAnswers, BodyIsTakenWhateverTheStatusAndDecodedOnlyWhenMarkedAndSigned) {
    const std::string page = "<html>not found</html>";
    const std::string zipped = Gzip(page);
    const AnswerCase cases[] = {
        {"empty 200", Reply::Http(200, ""), "", false},
        {"404 page", Reply::Http(404, page), page, false},
        {"500 page", Reply::Http(500, page), page, false},
        {"chunked", Reply::Chunked(200, page, 5), page, false},
        {"gzip", Reply::Http(200, zipped, "Content-Encoding: gzip\r\n"), page, false},
        {"deflate with gzip bytes", Reply::Http(200, zipped, "Content-Encoding: deflate\r\n"), page,
         false},
        {"Gzip in capitals", Reply::Http(200, zipped, "Content-Encoding: Gzip\r\n"), zipped, false},
        {"gzip without signature", Reply::Http(200, page, "Content-Encoding: gzip\r\n"), page,
         false},
        {"signature without marking", Reply::Http(200, zipped), zipped, false},
        {"utf-8", Reply::Http(200, "\xe4\xb8\xad", "Content-Type: text/html; charset=utf-8\r\n"),
         "\xe4\xb8\xad", true},
        {"UTF-8 in capitals", Reply::Http(200, "x", "Content-Type: text/html; charset=UTF-8\r\n"),
         "x", false},
    };
    for (const AnswerCase &c : cases) {
        SCOPED_TRACE(c.name);
        Fixed fixed(c.reply);
        const FormPostAnswer answer = FormPost(fixed.server.url("/qq.txt"), "title=&content=");
        EXPECT_EQ(answer.body, c.body) << answer.error;
        EXPECT_EQ(answer.utf8, c.utf8);
    }
}

TEST(FormPostAnswers, GzipBombStopsAtTheCap) {
    const std::string bomb = Gzip({}, 200u << 20);
    ASSERT_LT(bomb.size(), 1u << 20);
    Fixed fixed(Reply::Http(200, bomb, "Content-Encoding: gzip\r\n"));

    const FormPostAnswer answer = FormPost(fixed.server.url("/qq.txt"), "x");

    ASSERT_EQ(answer.body.size(), kMaxFormPostBodyBytes);
    EXPECT_EQ(answer.body.find_first_not_of('\0'), std::string::npos);
}

TEST(FormPostAnswers, RawBodyStopsAtTheCap) {
    Fixed fixed(Reply::Http(200, std::string(kMaxFormPostBodyBytes + 4096, 'a')));
    const FormPostAnswer answer = FormPost(fixed.server.url("/qq.txt"), "x");
    EXPECT_EQ(answer.body.size(), kMaxFormPostBodyBytes);
}

TEST(FormPostAnswers, GunzipJoinsMembersAndKeepsWhatPrecedesDamage) {
    EXPECT_EQ(GunzipCapped(Gzip("abc") + Gzip("def"), 100), "abcdef");
    EXPECT_EQ(GunzipCapped(Gzip("abcdef"), 4), "abcd");
    const std::string big(100000, 'q');
    const std::string zipped = Gzip(big);
    const std::string cut = GunzipCapped(zipped.substr(0, zipped.size() - 8), 1u << 20);
    EXPECT_EQ(cut, big);  // only the trailer is missing
    EXPECT_EQ(GunzipCapped("\x1f\x8bgarbage", 100), "");
}

// Redirects: /r/N answers with a redirect to /r/N+1 until N reaches `hops`, then with "end".
struct Chain {
    Chain(int hops, int status)
        : server([hops, status](const Request &request) {
              const int n = std::atoi(request.target.c_str() + 3);
              if (n >= hops)
                  return Reply::Http(200, "end " + request.method + " " + request.body);
              return Reply::Http(status, "moving",
                                 "Location: /r/" + std::to_string(n + 1) + "\r\n");
          }) {
        if (!server.start())
            throw std::runtime_error("loopback server did not start");
    }
    LoopbackServer server;
};

TEST(FormPostRedirects, LastAnswerCountsAndTheMethodChangesAsInBrowsers) {
    const struct {
        int status;
        std::string last;
    } cases[] = {{301, "end GET "},
                 {302, "end GET "},
                 {303, "end GET "},
                 {307, "end POST title=&content="},
                 {308, "end POST title=&content="}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.status);
        Chain chain(3, c.status);
        const FormPostAnswer answer = FormPost(chain.server.url("/r/0"), "title=&content=");
        EXPECT_EQ(answer.body, c.last) << answer.error;
        const auto requests = chain.server.requests();
        ASSERT_EQ(requests.size(), 4u);
        // The form's own lines are those of a browser's follow-up request.
        EXPECT_EQ(requests[3].header("User-Agent"), kFormPostUserAgent);
    }
}

TEST(FormPostRedirects, TenHopsAreFollowedAndTheEleventhFails) {
    Chain ten(10, 302);
    EXPECT_EQ(FormPost(ten.server.url("/r/0"), "x").body, "end GET ");
    Chain eleven(11, 302);
    const FormPostAnswer answer = FormPost(eleven.server.url("/r/0"), "x");
    EXPECT_EQ(answer.body, "");
    EXPECT_FALSE(answer.error.empty());
}

TEST(FormPostFailures, NothingOrWhatArrivedBeforeTheFailure) {
    FormPostOptions quick;
    quick.idleTimeout = 400ms;
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n";
    const struct {
        const char *name;
        Reply reply;
        std::string body;
    } cases[] = {
        {"reset before answering", Reply().reset(), ""},
        {"closed before answering", Reply().close(), ""},
        {"silent server", Reply().hang(), ""},
        {"head then silence", Reply().send(head).hang(), ""},
        {"part of the body then silence", Reply().send(head + "partial").hang(), "partial"},
        {"part of the body then reset", Reply().send(head + "partial").pause(100ms).reset(),
         "partial"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Fixed fixed(c.reply);
        const auto started = std::chrono::steady_clock::now();
        const FormPostAnswer answer = FormPost(fixed.server.url("/qq.txt"), "x", quick);
        EXPECT_EQ(answer.body, c.body);
        EXPECT_FALSE(answer.error.empty());
        EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
    }
}

TEST(FormPostFailures, ServerThatReadsNothingEndsTheSendAtTheIdleBound) {
    loopback::SilentListener listener;
    ASSERT_NE(listener.port(), 0);
    FormPostOptions quick;
    quick.idleTimeout = 300ms;
    const auto started = std::chrono::steady_clock::now();
    const FormPostAnswer answer =
        FormPost("http://127.0.0.1:" + std::to_string(listener.port()) + "/qq.txt",
                 std::string(32u << 20, 'p'), quick);
    EXPECT_EQ(answer.body, "");
    EXPECT_FALSE(answer.error.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
}

TEST(FormPostFailures, RefusedConnectionAndStopYieldNothing) {
    std::string url;
    {
        Fixed gone(Reply::Http(200, "x"));
        url = gone.server.url("/qq.txt");
    }
    EXPECT_EQ(FormPost(url, "x").body, "");

    Fixed silent(Reply().hang());
    const std::atomic<bool> stop{true};
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(FormPost(silent.server.url("/qq.txt"), "x", {}, &stop).body, "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
}

}  // namespace
}  // namespace viewer
