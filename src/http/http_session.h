#pragma once

// A small HTTP client session on libcurl with what the page fetcher needs: a root (user agent,
// direct or through an HTTP proxy), a connection (host and port), and a request (verb, object
// path, version) that is sent once and read in small pieces. Each handle is move-only and
// frees what it holds when it is closed or destroyed; a request keeps copies of what it took
// from its root and connection, so the three may be closed in any order.
//
// Every request goes to the server (no cache), speaks HTTP/1.1, follows at most 10 redirects
// (to https too, certificates verified) and sends no line of its own beyond the request line,
// Host and User-Agent. While it waits it calls its wait hook at least every 50 ms.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace viewer {

enum class HttpAccess { Direct, Proxy };
enum class HttpTimeout { Connect, Receive, Send };

class HttpRoot {
public:
    HttpRoot() = default;
    // Direct: no proxy of the system or the environment is used. Proxy: proxyList holds
    // "http=host:port" (entries separated by blanks or semicolons; an entry without "scheme="
    // serves every scheme), and every host goes through it. Not open when the agent holds a
    // line break or a proxy is asked for but the list names none.
    static HttpRoot Open(std::string_view agent, HttpAccess access, std::string_view proxyList);

    HttpRoot(HttpRoot &&other) noexcept;
    HttpRoot &operator=(HttpRoot &&other) noexcept;
    HttpRoot(const HttpRoot &) = delete;
    HttpRoot &operator=(const HttpRoot &) = delete;
    ~HttpRoot() = default;

    bool isOpen() const { return m_open; }
    void close();

private:
    friend class HttpConnection;
    friend class HttpRequest;
    bool m_open = false;
    std::string m_agent;
    std::string m_proxy;  // "" for direct
};

class HttpConnection {
public:
    HttpConnection() = default;
    // Port 0 stands for 80. Not open when the root is not, when the host is empty or holds a
    // byte that cannot stand in a host name, or when the port is outside 0..65535.
    static HttpConnection Open(const HttpRoot &root, std::string_view host, int port);

    HttpConnection(HttpConnection &&other) noexcept;
    HttpConnection &operator=(HttpConnection &&other) noexcept;
    HttpConnection(const HttpConnection &) = delete;
    HttpConnection &operator=(const HttpConnection &) = delete;
    ~HttpConnection() = default;

    bool isOpen() const { return m_open; }
    void close();

private:
    friend class HttpRequest;
    bool m_open = false;
    std::string m_agent;
    std::string m_proxy;
    std::string m_host;
    int m_port = 80;
};

class HttpRequest {
public:
    // Called at least every 50 ms while the request waits for the network; returning false
    // abandons the request, which then reads as failed.
    using WaitHook = std::function<bool()>;

    HttpRequest();
    // The verb goes on the request line as given; "POST" is sent as a browser's POST (a 301,
    // 302 or 303 turns it into a GET). Only "HTTP/1.1" is spoken, whatever version is named.
    // Not open when the connection is not or libcurl cannot make its handles.
    static HttpRequest Open(const HttpConnection &connection, std::string_view verb,
                            std::string_view objectPath, std::string_view version);

    HttpRequest(HttpRequest &&other) noexcept;
    HttpRequest &operator=(HttpRequest &&other) noexcept;
    HttpRequest(const HttpRequest &) = delete;
    HttpRequest &operator=(const HttpRequest &) = delete;
    ~HttpRequest();

    bool isOpen() const;
    void close();

    // Connect: connecting, including the name look-up. Send and Receive: the longest time no
    // byte may move while the request goes out and while the answer comes in. False when
    // the request is closed or already sent, or the value is not positive.
    bool setTimeout(HttpTimeout option, int milliseconds);
    void setWaitHook(WaitHook hook);

    // Sends the request with headerBlock (lines ending "\r\n") and body, and waits for the
    // answer's head. A POST body goes out even when empty, with no line describing it unless
    // the block holds one. False when the answer's head did not arrive.
    bool send(std::string_view headerBlock, std::string_view body);
    // Copies up to `size` bytes of the answer body into buffer; the count, 0 at the end of
    // the body and 0 when reading failed.
    int read(std::uint8_t *buffer, int size);
    // The final answer's status line and header lines, each ending "\r\n", followed by a NUL,
    // into buffer of `length` bytes; on success length becomes the count without the NUL.
    // False, with length set to the room needed and the buffer untouched, when they do not
    // fit; false as well when no answer arrived.
    bool queryRawHeaders(char *buffer, int &length) const;

    // The body length the answer announced, or -1 when it announced none.
    std::int64_t announcedLength() const;

    // libcurl's last error message, for test logs only.
    std::string errorText() const;

private:
    struct Transfer;
    std::unique_ptr<Transfer> m_transfer;
};

// Tests only: caps every time-out a request is given at `bound` (zero or less removes the cap),
// so failure tests need not wait 18 seconds.
void SetHttpTimeoutCapForTesting(std::chrono::milliseconds bound);

}  // namespace viewer
