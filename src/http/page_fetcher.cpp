#include "http/page_fetcher.h"

#include "http/http_session.h"
#include "http/url.h"
#include "text/text.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace viewer {

namespace {

constexpr std::string_view kProxyListPrefix = "http=";
constexpr std::string_view kHttpVersion = "HTTP/1.1";
constexpr int kReadChunkBytes = 512;
constexpr int kRawHeaderBufferBytes = 1024;

constexpr std::string_view kAcceptKey = "Accept: ";
constexpr std::string_view kAcceptLine =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*\r\n";
constexpr std::string_view kRefererKey = "Referer: ";
constexpr std::string_view kAcceptLanguageKey = "Accept-Language: ";
constexpr std::string_view kAcceptLanguageLine = "Accept-Language: zh-cn\r\n";
constexpr std::string_view kFormContentTypeLine =
    "Content-Type: application/x-www-form-urlencoded\r\n";

EventPump g_eventPump;
// Bumped by StopRunningFetches; a fetch stops when it no longer sees the value it began with.
std::atomic<unsigned> g_stopGeneration{0};

}  // namespace

void SetEventPump(EventPump pump) {
    g_eventPump = std::move(pump);
}

void StopRunningFetches() {
    ++g_stopGeneration;
}

std::string FetchPage(std::string_view requestUrl, std::string &method,
                      std::string_view proxyAddress, bool useProxy, std::string &headers,
                      std::string_view body, std::string &rawHeaders, bool wantRawHeaders) {
    const unsigned generation = g_stopGeneration.load();
    const auto stopped = [generation] { return g_stopGeneration.load() != generation; };
    // A copy, so a pump replaced while this fetch runs cannot pull the function from under it.
    const EventPump pump = g_eventPump;
    const auto processPendingEvents = [&pump] {
        if (pump)
            pump();
    };

    HttpRoot root = useProxy ? HttpRoot::Open(kFetchUserAgent, HttpAccess::Proxy,
                                              JoinTexts(kProxyListPrefix, proxyAddress))
                             : HttpRoot::Open(kFetchUserAgent, HttpAccess::Direct, "");
    if (!root.isOpen())
        return {};

    HttpConnection connection =
        HttpConnection::Open(root, UrlHost(requestUrl), UrlPort(requestUrl));
    if (!connection.isOpen()) {
        root.close();
        return {};
    }

    if (!TextsEqual(ToUpperCase(method), "POST"))
        method = "GET";

    HttpRequest request =
        HttpRequest::Open(connection, method, UrlObjectPath(requestUrl), kHttpVersion);
    if (!request.isOpen()) {
        root.close();
        connection.close();
        return {};
    }

    request.setTimeout(HttpTimeout::Connect, kFetchTimeoutMs);
    request.setTimeout(HttpTimeout::Receive, kFetchTimeoutMs);
    request.setTimeout(HttpTimeout::Send, kFetchTimeoutMs);
    request.setWaitHook([&] {
        if (stopped())
            return false;
        processPendingEvents();
        return !stopped();
    });

    // The keys count wherever they stand in the block, and the caller's text is extended as
    // it is, even when its last line lacks its line end.
    if (FindText(headers, kAcceptKey, 1, true) == -1)
        headers = JoinTexts(headers, kAcceptLine);
    if (FindText(headers, kRefererKey, 1, true) == -1)
        headers = JoinTexts(headers, kRefererKey, requestUrl, "\r\n");
    if (FindText(headers, kAcceptLanguageKey, 1, true) == -1)
        headers = JoinTexts(headers, kAcceptLanguageLine);

    if (TextsEqual(method, "GET")) {
        request.send(headers, {});
    } else {
        if (TextLength(body) > 0) {
            headers = JoinTexts(headers, kFormContentTypeLine,
                                "Content-Length: ", ToText(TextLength(body)), "\r\n");
        }
        request.send(headers, body);
    }

    // The body grows in place, sized up front from the announced length where there is
    // one; a stop request or the size bound ends it like a failed read.
    std::string accumulated;
    if (const std::int64_t announced = request.announcedLength(); announced > 0)
        accumulated.reserve(static_cast<std::size_t>(
            std::min<std::int64_t>(announced, static_cast<std::int64_t>(kMaxFetchBodyBytes))));
    int count = 1;
    while (count > 0) {
        const std::size_t room = kMaxFetchBodyBytes - accumulated.size();
        if (room == 0 || stopped())
            break;
        ByteBuffer chunk = ZeroBytes(kReadChunkBytes);
        processPendingEvents();
        if (stopped())
            break;
        count = request.read(chunk.data(),
                             static_cast<int>(std::min<std::size_t>(kReadChunkBytes, room)));
        accumulated.append(reinterpret_cast<const char *>(chunk.data()),
                           static_cast<std::size_t>(count));
    }

    if (wantRawHeaders) {
        std::string buffer = SpaceText(kRawHeaderBufferBytes);
        int length = kRawHeaderBufferBytes;
        // A head of more than 1023 bytes does not fit, and a failed query gives the empty text
        // rather than the blanks the buffer was filled with.
        if (request.queryRawHeaders(buffer.data(), length))
            rawHeaders = std::string(buffer.c_str());
        else
            rawHeaders.clear();
    }

    root.close();
    connection.close();
    request.close();
    // The text ends before the first zero byte; cut in place rather than copy a large body.
    if (const std::size_t zero = accumulated.find('\0'); zero != std::string::npos)
        accumulated.resize(zero);
    return accumulated;
}

}  // namespace viewer
