#include "http/page_fetcher.h"
#include "http/http_session.h"
#include "loopback_process.h"
#include "loopback_server.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace viewer {
namespace {

using namespace std::chrono_literals;
using loopback::LoopbackServer;
using loopback::Reply;
using loopback::Request;

constexpr std::string_view kUserAgentLine =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n";
constexpr std::string_view kAcceptLine =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*\r\n";
constexpr std::string_view kLanguageLine = "Accept-Language: zh-cn\r\n";
constexpr std::string_view kFormLine = "Content-Type: application/x-www-form-urlencoded\r\n";

struct FetchArgs {
    std::string method;
    std::string proxyAddress;
    bool useProxy = false;
    std::string headers;
    std::string body;
    std::string rawHeaders = "untouched";
    bool wantRawHeaders = false;
};

struct Fetched {
    std::string result;
    std::string method;
    std::string headers;
    std::string rawHeaders;
    std::chrono::milliseconds took{};
};

Fetched Fetch(const std::string &url, FetchArgs args = {}) {
    const auto started = std::chrono::steady_clock::now();
    std::string result = FetchPage(url, args.method, args.proxyAddress, args.useProxy, args.headers,
                                   args.body, args.rawHeaders, args.wantRawHeaders);
    return {std::move(result), args.method, args.headers, args.rawHeaders,
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  started)};
}

// The request line and the two lines libcurl puts before the block.
std::string Head(std::string_view verb, std::string_view target, std::string_view host) {
    std::string head = std::string(verb) + " " + std::string(target) + " HTTP/1.1\r\nHost: ";
    head += host;
    head += "\r\n";
    head += kUserAgentLine;
    return head;
}

std::string Defaults(std::string_view url) {
    return std::string(kAcceptLine) + "Referer: " + std::string(url) + "\r\n" +
           std::string(kLanguageLine);
}

// Every test leaves the process as it found it: no pump, no shortened bounds.
class FetcherTest : public ::testing::Test {
protected:
    void TearDown() override {
        SetEventPump({});
        SetHttpTimeoutCapForTesting(0ms);
    }

    // A server that answers every request with `reply`.
    void Serve(std::function<Reply(const Request &)> handler) {
        m_server = std::make_unique<LoopbackServer>(std::move(handler));
        ASSERT_TRUE(m_server->start());
    }
    void Serve(Reply reply) {
        Serve([reply](const Request &) { return reply; });
    }
    std::string Url(std::string_view path) const { return m_server->url(path); }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(m_server->port()); }
    std::vector<Request> Requests() const { return m_server->requests(); }

    std::unique_ptr<LoopbackServer> m_server;
};

// ---------------------------------------------------------------------------------------------
// What goes on the wire

TEST_F(FetcherTest, DiscoveryRequestCarriesExactlyTheThreeDefaultLines) {
    Serve(Reply::Http(200, "<html>list</html>"));
    const std::string url = Url("/forum.php?mod=guide&view=new");
    const Fetched fetched = Fetch(url);

    EXPECT_EQ(fetched.result, "<html>list</html>");
    EXPECT_EQ(fetched.method, "GET");
    EXPECT_EQ(fetched.headers, Defaults(url));
    EXPECT_EQ(fetched.rawHeaders, "untouched");
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw,
              Head("GET", "/forum.php?mod=guide&view=new", HostPort()) + Defaults(url) + "\r\n");
}

TEST_F(FetcherTest, HeaderBlockIsBuiltAndSentAsTheCallerWroteIt) {
    struct Case {
        const char *name;
        std::string headers;
        std::function<std::string(const std::string &url)> block;  // returned in `headers`
        std::function<std::string(const std::string &url)> wire;   // "" means: same as block
    };
    const std::string accept(kAcceptLine);
    const std::string language(kLanguageLine);
    const auto referer = [](const std::string &url) { return "Referer: " + url + "\r\n"; };
    const std::vector<Case> cases = {
        {"lower-case accept line counts",
         "accept: text/html\r\n",
         [&](auto &url) { return "accept: text/html\r\n" + referer(url) + language; },
         {}},
        {"key inside a longer name counts",
         "X-Referer: 1\r\n",
         [&](auto &) { return "X-Referer: 1\r\n" + accept + language; },
         {}},
        {"accept without blank does not count",
         "Accept:text/html\r\n",
         [&](auto &url) { return "Accept:text/html\r\n" + accept + referer(url) + language; },
         {}},
        {"only accept-language given",
         "Accept-Language: en\r\n",
         [&](auto &url) { return "Accept-Language: en\r\n" + accept + referer(url); },
         {}},
        {"last line without line end is joined",
         "X-A: 1",
         [&](auto &url) { return "X-A: 1" + accept + referer(url) + language; },
         {}},
        {"all three given, nothing added",
         "Referer: r\r\nAccept: a\r\nAccept-Language: l\r\n",
         [&](auto &) { return std::string("Referer: r\r\nAccept: a\r\nAccept-Language: l\r\n"); },
         {}},
        {"line with an empty value is sent",
         "X-Empty:\r\n",
         [&](auto &url) { return "X-Empty:\r\n" + Defaults(url); },
         {}},
        {"two lines of one name both go out",
         "X-Twice: 1\r\nX-Twice: 2\r\n",
         [&](auto &url) { return "X-Twice: 1\r\nX-Twice: 2\r\n" + Defaults(url); },
         {}},
        {"an empty line in the block cannot end the head", "X-A: 1\r\n\r\nX-B: 2\r\n",
         [&](auto &url) { return "X-A: 1\r\n\r\nX-B: 2\r\n" + Defaults(url); },
         [&](auto &url) { return "X-A: 1\r\nX-B: 2\r\n" + Defaults(url); }},
        {"a block of two-byte characters",
         "X-Name: \xd0\xc2\xcc\xfb\r\n",
         [&](auto &url) { return "X-Name: \xd0\xc2\xcc\xfb\r\n" + Defaults(url); },
         {}},
    };
    Serve(Reply::Http(200, "ok"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        m_server->clearRequests();
        const std::string url = Url("/p");
        FetchArgs args;
        args.headers = c.headers;
        const Fetched fetched = Fetch(url, args);
        EXPECT_EQ(fetched.result, "ok");
        EXPECT_EQ(fetched.headers, c.block(url));
        const auto requests = Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].raw,
                  Head("GET", "/p", HostPort()) + (c.wire ? c.wire(url) : c.block(url)) + "\r\n");
    }
}

TEST_F(FetcherTest, PostSendsTheVerbAsWrittenAndTheBodyByteForByte) {
    struct Case {
        const char *name;
        std::string method;
        std::string headers;
        std::string body;
        std::string extraBlock;  // after the caller's lines and the defaults
    };
    const std::string big(1536 * 1024, 'x');  // above libcurl's Expect threshold
    const std::vector<Case> cases = {
        {"POST with a short body", "POST", "", "a=1",
         std::string(kFormLine) + "Content-Length: 3\r\n"},
        {"lower-case post stays post", "post", "", "a=1",
         std::string(kFormLine) + "Content-Length: 3\r\n"},
        {"mixed case Post", "Post", "", "\xd6\xd0=1",
         std::string(kFormLine) + "Content-Length: 4\r\n"},
        {"empty body: no content lines", "POST", "", "", ""},
        {"empty body with post", "post", "", "", ""},
        {"caller's content type is kept and a second one added", "POST",
         "Content-Type: text/plain\r\n", "abc", std::string(kFormLine) + "Content-Length: 3\r\n"},
        {"a body above 1 MiB has no Expect line", "POST", "", big,
         std::string(kFormLine) + "Content-Length: 1572864\r\n"},
    };
    Serve([](const Request &request) { return Reply::Http(200, "got " + request.method); });
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        m_server->clearRequests();
        const std::string url = Url("/submit");
        FetchArgs args;
        args.method = c.method;
        args.headers = c.headers;
        args.body = c.body;
        const Fetched fetched = Fetch(url, args);
        EXPECT_EQ(fetched.method, c.method);
        EXPECT_EQ(fetched.result, "got " + c.method);
        const std::string block = c.headers + Defaults(url) + c.extraBlock;
        EXPECT_EQ(fetched.headers, block);
        const auto requests = Requests();
        ASSERT_EQ(requests.size(), 1u);
        const std::string expected =
            Head(c.method, "/submit", HostPort()) + block + "\r\n" + c.body;
        EXPECT_EQ(requests[0].raw.size(), expected.size());
        EXPECT_TRUE(requests[0].raw == expected) << requests[0].head;
    }
}

TEST_F(FetcherTest, AnyOtherMethodIsAGetWithoutBody) {
    Serve(Reply::Http(200, "ok"));
    for (const char *method : {"", "GET", "get", "PUT", "HEAD", "POST ", "P0ST"}) {
        SCOPED_TRACE(method);
        m_server->clearRequests();
        const std::string url = Url("/p");
        FetchArgs args;
        args.method = method;
        args.body = "ignored";
        const Fetched fetched = Fetch(url, args);
        EXPECT_EQ(fetched.method, "GET");
        EXPECT_EQ(fetched.result, "ok");
        const auto requests = Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].raw, Head("GET", "/p", HostPort()) + Defaults(url) + "\r\n");
    }
}

TEST_F(FetcherTest, ObjectPathGoesOnTheRequestLineAsSplit) {
    struct Case {
        const char *name;
        std::string path;    // appended to the server's address
        std::string target;  // on the request line
    };
    const std::vector<Case> cases = {
        {"query kept", "/forum.php?mod=guide&view=new", "/forum.php?mod=guide&view=new"},
        {"dot segments kept", "/a/../b/./c", "/a/../b/./c"},
        {"fragment kept", "/a#b", "/a#b"},
        {"empty query kept", "/a?", "/a?"},
        {"percent escapes kept", "/a%2Fb%zz", "/a%2Fb%zz"},
        {"two-byte characters kept", "/\xd0\xc2.html", "/\xd0\xc2.html"},
        {"a blank cannot split the request line", "/a b", "/a%20b"},
        {"a line break cannot add a header", "/a\r\nX-Injected: 1", "/a%0D%0AX-Injected:%201"},
        {"no path", "", "/"},
    };
    Serve(Reply::Http(200, "ok"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        m_server->clearRequests();
        const std::string url = "http://127.0.0.1:" + std::to_string(m_server->port()) + c.path;
        EXPECT_EQ(Fetch(url).result, "ok");
        const auto requests = Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].target, c.target);
        EXPECT_EQ(requests[0].raw, Head("GET", c.target, HostPort()) + Defaults(url) + "\r\n");
    }
}

// ---------------------------------------------------------------------------------------------
// Answers and failures

TEST_F(FetcherTest, FailuresEndTheBodyWithWhatArrived) {
    SetHttpTimeoutCapForTesting(400ms);
    const std::string head100 = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n";
    const std::string fifty(50, 'f');
    struct Case {
        const char *name;
        std::function<Reply()> reply;  // empty: nobody listens
        std::string url;               // instead of the server, when set
        std::string result;
    };
    const std::vector<Case> cases = {
        {"refused port", {}, "", ""},
        {"host under .invalid", {}, "http://viewer-test.invalid/a", ""},
        {"silence", [] { return Reply().hang(); }, "", ""},
        {"silence in mid-body", [&] { return Reply().send(head100 + fifty).hang(); }, "", fifty},
        {"reset in mid-body", [&] { return Reply().send(head100 + fifty).reset(); }, "", fifty},
        {"close in mid-body", [&] { return Reply().send(head100 + fifty).close(); }, "", fifty},
        {"not HTTP at all", [] { return Reply().send("hello\r\n\r\n").close(); }, "", ""},
        {"chunked body", [] { return Reply::Chunked(200, std::string(3000, 'c'), 700); }, "",
         std::string(3000, 'c')},
        {"NUL in the body", [] { return Reply::Http(200, std::string("abc\0def", 7)); }, "", "abc"},
        {"empty body", [] { return Reply::Http(200, ""); }, "", ""},
        {"404 with a page", [] { return Reply::Http(404, "<p>missing</p>"); }, "",
         "<p>missing</p>"},
        {"slow but never silent for long",
         [&] {
             return Reply()
                 .send(head100)
                 .pause(250ms)
                 .send(fifty)
                 .pause(250ms)
                 .send(fifty.substr(0, 25))
                 .pause(250ms)
                 .send(fifty.substr(25));
         },
         "", fifty + fifty},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string url = c.url;
        if (c.reply) {
            Serve(c.reply());
            url = Url("/a");
        } else if (url.empty()) {
            url = "http://127.0.0.1:" + std::to_string(loopback::FreeLoopbackPort()) + "/a";
        }
        FetchArgs args;
        args.wantRawHeaders = true;
        const Fetched fetched = Fetch(url, args);
        EXPECT_EQ(fetched.result, c.result);
        EXPECT_EQ(fetched.headers, Defaults(url)) << "the block is built even when sending fails";
        EXPECT_LT(fetched.took, 3s);
        m_server.reset();
    }
}

TEST_F(FetcherTest, AnAddressWithoutAUsableHostOrPortLeavesTheCallersVariablesAlone) {
    for (const char *url : {"", "http://", "http://127.0.0.1?x=1", "http://127.0.0.1:99999/",
                            "http://127.0.0.1:-80/"}) {
        SCOPED_TRACE(url);
        FetchArgs args;
        args.method = "put";
        args.headers = "X-A: 1\r\n";
        args.wantRawHeaders = true;
        const Fetched fetched = Fetch(url, args);
        EXPECT_EQ(fetched.result, "");
        EXPECT_EQ(fetched.method, "put");
        EXPECT_EQ(fetched.headers, "X-A: 1\r\n");
        EXPECT_EQ(fetched.rawHeaders, "untouched");
    }
}

TEST_F(FetcherTest, AServerThatReadsNothingEndsThePostAtTheSendBound) {
    SetHttpTimeoutCapForTesting(300ms);
    loopback::SilentListener listener;
    ASSERT_NE(listener.port(), 0);
    FetchArgs args;
    args.method = "POST";
    args.body = std::string(32 * 1024 * 1024, 'p');
    const Fetched fetched =
        Fetch("http://127.0.0.1:" + std::to_string(listener.port()) + "/submit", args);
    EXPECT_EQ(fetched.result, "");
    EXPECT_LT(fetched.took, 3s);
}

TEST_F(FetcherTest, BodyStopsAtTheCapAndABodyOfExactlyTheCapIsWhole) {
    const std::string full(kMaxFetchBodyBytes, 'b');
    Serve([&full](const Request &request) {
        return request.target == "/over" ? Reply::Http(200, full + "over") : Reply::Http(200, full);
    });
    const std::string exact = Fetch(Url("/exact")).result;
    EXPECT_EQ(exact.size(), kMaxFetchBodyBytes);
    EXPECT_TRUE(exact == full);
    const std::string over = Fetch(Url("/over")).result;
    EXPECT_EQ(over.size(), kMaxFetchBodyBytes);
    EXPECT_TRUE(over == full);
}

TEST_F(FetcherTest, RawHeadersAreTheFinalAnswersHead) {
    struct Case {
        const char *name;
        std::function<Reply(const Request &)> reply;
        std::string rawHeaders;
        std::string result;
    };
    const std::string longValue(1100, 'v');
    const std::vector<Case> cases = {
        {"plain answer", [](const Request &) { return Reply::Http(200, "ok", "X-A: b\r\n"); },
         "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nX-A: b\r\n", "ok"},
        {"after a redirect",
         [](const Request &request) {
             return request.target == "/start" ? Reply::Http(302, "moved", "Location: /end\r\n")
                                               : Reply::Http(200, "end");
         },
         "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n", "end"},
        {"bare line feeds come back with CR LF",
         [](const Request &) {
             return Reply().send("HTTP/1.1 200 OK\nContent-Length: 2\nX-A: b\n\nok");
         },
         "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nX-A: b\r\n", "ok"},
        {"a head longer than the buffer gives the empty text",
         [&](const Request &) { return Reply::Http(200, "ok", "X-Long: " + longValue + "\r\n"); },
         "", "ok"},
        {"no answer gives the empty text", [](const Request &) { return Reply().close(); }, "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Serve(c.reply);
        FetchArgs args;
        args.wantRawHeaders = true;
        const Fetched fetched = Fetch(Url("/start"), args);
        EXPECT_EQ(fetched.rawHeaders, c.rawHeaders);
        EXPECT_EQ(fetched.result, c.result);
    }
    Serve(Reply::Http(200, "ok"));
    EXPECT_EQ(Fetch(Url("/")).rawHeaders, "untouched");
}

TEST_F(FetcherTest, RedirectsAreFollowedUpToTen) {
    // /r/N answers with a redirect to /r/N-1; /r/0 with the page.
    Serve([](const Request &request) {
        const int left = std::stoi(request.target.substr(3));
        if (left == 0)
            return Reply::Http(200, "arrived");
        return Reply::Http(302, "", "Location: /r/" + std::to_string(left - 1) + "\r\n");
    });
    EXPECT_EQ(Fetch(Url("/r/10")).result, "arrived");
    EXPECT_EQ(Fetch(Url("/r/11")).result, "");
}

TEST_F(FetcherTest, PostAnsweredWithSeeOtherIsFetchedWithAPlainGet) {
    Serve([](const Request &request) {
        if (request.target == "/submit")
            return Reply::Http(303, "", "Location: /done\r\n");
        return Reply::Http(200, request.method + " " + request.body);
    });
    const std::string url = Url("/submit");
    FetchArgs args;
    args.method = "POST";
    args.body = "a=1";
    EXPECT_EQ(Fetch(url, args).result, "GET ");
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, "a=1");
    EXPECT_EQ(requests[1].header("Content-Length"), "");
    EXPECT_EQ(requests[1].body, "");
}

// ---------------------------------------------------------------------------------------------
// The window's events, stopping and nesting

TEST_F(FetcherTest, EventsArePumpedBeforeEveryRead) {
    const std::string body(20 * 512 + 1, 'x');
    Serve(Reply::Http(200, body));
    int pumped = 0;
    SetEventPump([&pumped] { ++pumped; });
    EXPECT_EQ(Fetch(Url("/")).result, body);
    // 21 reads with bytes and the one that finds the end.
    EXPECT_GE(pumped, 22);
}

TEST_F(FetcherTest, EventsArePumpedWhileWaitingForTheAnswer) {
    Serve(Reply().pause(600ms).send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    int pumped = 0;
    SetEventPump([&pumped] { ++pumped; });
    EXPECT_EQ(Fetch(Url("/")).result, "ok");
    // Two reads, and at least one call per 50 ms of the 600 ms wait (some slack for a busy
    // machine, none for a fetch that only pumps before its reads).
    EXPECT_GE(pumped, 2 + 8);
}

TEST_F(FetcherTest, WithoutAPumpNothingIsProcessedAndTheFetchStillWorks) {
    Serve(Reply().pause(100ms).send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    SetEventPump({});
    EXPECT_EQ(Fetch(Url("/")).result, "ok");
}

TEST_F(FetcherTest, StopRunningFetchesEndsAFetchStuckInSilence) {
    // The full 18-second bounds: only the stop can end this fetch early.
    Serve(Reply().send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npart").hang());
    const auto started = std::chrono::steady_clock::now();
    SetEventPump([started] {
        if (std::chrono::steady_clock::now() - started > 200ms)
            StopRunningFetches();
    });
    const Fetched stopped = Fetch(Url("/"));
    EXPECT_EQ(stopped.result, "part");
    EXPECT_LT(stopped.took, 3s);

    SetEventPump({});
    Serve(Reply::Http(200, "after"));
    EXPECT_EQ(Fetch(Url("/")).result, "after") << "a fetch started after the stop runs normally";
}

TEST_F(FetcherTest, ANestedFetchFromThePumpFinishesFirstWithItsOwnState) {
    Serve([](const Request &request) {
        if (request.target == "/inner")
            return Reply::Http(200, "inner body");
        return Reply().pause(200ms).send(
            "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n"
            "outer body");
    });
    std::vector<std::string> finished;
    bool nested = false;
    SetEventPump([&] {
        if (nested)
            return;
        nested = true;
        FetchArgs args;
        args.headers = "X-Inner: 1\r\n";
        args.wantRawHeaders = true;
        const Fetched inner = Fetch(Url("/inner"), args);
        finished.push_back(inner.result);
        EXPECT_EQ(inner.rawHeaders, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n");
    });
    FetchArgs args;
    args.wantRawHeaders = true;
    const Fetched outer = Fetch(Url("/outer"), args);
    finished.push_back(outer.result);
    EXPECT_EQ(finished, (std::vector<std::string>{"inner body", "outer body"}));
    EXPECT_EQ(outer.headers, Defaults(Url("/outer")));
    EXPECT_EQ(outer.rawHeaders, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n");
}

// ---------------------------------------------------------------------------------------------
// Proxy and direct modes

TEST_F(FetcherTest, ProxyModeSendsTheAbsoluteAddressToTheProxyWhateverTheEnvironment) {
    LoopbackServer proxy([](const Request &) { return Reply::Http(200, "via proxy"); });
    ASSERT_TRUE(proxy.start());
    loopback::ScopedEnvironment noProxy("no_proxy", "*");
    loopback::ScopedEnvironment httpProxy("http_proxy", "http://127.0.0.1:1");
    const std::string url = "http://Forum.Example:8080/forum.php?mod=guide&view=new";
    FetchArgs args;
    args.useProxy = true;
    args.proxyAddress = "127.0.0.1:" + std::to_string(proxy.port());
    EXPECT_EQ(Fetch(url, args).result, "via proxy");
    const auto requests = proxy.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw, Head("GET", "http://forum.example:8080/forum.php?mod=guide&view=new",
                                    "forum.example:8080") +
                                   Defaults(url) + "\r\n");
}

TEST_F(FetcherTest, ProxyModeWithoutAProxyAddressSendsNothing) {
    Serve(Reply::Http(200, "direct"));
    FetchArgs args;
    args.useProxy = true;
    EXPECT_EQ(Fetch(Url("/"), args).result, "");
    EXPECT_TRUE(Requests().empty());
}

TEST_F(FetcherTest, DirectModeIgnoresProxyVariables) {
    SetHttpTimeoutCapForTesting(1000ms);
    Serve(Reply::Http(200, "direct"));
    const std::string dead = "http://127.0.0.1:" + std::to_string(loopback::FreeLoopbackPort());
    loopback::ScopedEnvironment httpProxy("http_proxy", dead);
    loopback::ScopedEnvironment allProxy("ALL_PROXY", dead);
    loopback::ScopedEnvironment noProxy("no_proxy", std::nullopt);
    const std::string url = Url("/p");
    EXPECT_EQ(Fetch(url).result, "direct");
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw, Head("GET", "/p", HostPort()) + Defaults(url) + "\r\n");
}

TEST_F(FetcherTest, ProxyModeThroughARealProxy) {
    const std::string tinyproxy = "/usr/bin/tinyproxy";
    if (!std::filesystem::exists(tinyproxy))
        GTEST_SKIP() << "tinyproxy is not installed";
    Serve([](const Request &request) { return Reply::Http(200, "origin saw " + request.target); });
    const std::uint16_t port = loopback::FreeLoopbackPort();
    ASSERT_NE(port, 0);
    const std::filesystem::path config = std::filesystem::temp_directory_path() /
                                         ("viewer-tinyproxy-" + std::to_string(port) + ".conf");
    {
        std::ofstream out(config);
        out << "Port " << port << "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 10\n"
            << "MaxClients 10\nLogLevel Critical\n";
    }
    loopback::ChildProcess proxy;
    ASSERT_TRUE(proxy.start(tinyproxy, {"-d", "-c", config.string()}));
    const bool listening = loopback::WaitUntilListening(port, 5s);
    std::filesystem::remove(config);
    ASSERT_TRUE(listening) << "tinyproxy did not start";

    const std::string url = Url("/thread-1-1-1.html");
    FetchArgs args;
    args.useProxy = true;
    args.proxyAddress = "127.0.0.1:" + std::to_string(port);
    EXPECT_EQ(Fetch(url, args).result, "origin saw /thread-1-1-1.html");
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].header("Via").find("tinyproxy"), std::string::npos) << requests[0].head;
    EXPECT_EQ(requests[0].header("Referer"), url);
    proxy.stop();
}

}  // namespace
}  // namespace viewer
