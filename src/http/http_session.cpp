#include "http/http_session.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>
#include <vector>

namespace viewer {

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

constexpr Milliseconds kWaitHookInterval{50};
constexpr long kMaxRedirects = 10;

std::atomic<long long> g_timeoutCapMs{0};

struct EasyDeleter {
    void operator()(CURL *easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM *multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};
struct UrlDeleter {
    void operator()(CURLU *url) const { curl_url_cleanup(url); }
};
struct CurlTextDeleter {
    void operator()(char *text) const { curl_free(text); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;
using CurlText = std::unique_ptr<char, CurlTextDeleter>;

bool Append(HeaderList &list, const std::string &line) {
    curl_slist *head = curl_slist_append(list.get(), line.c_str());
    if (!head)
        return false;
    (void)list.release();
    list.reset(head);
    return true;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (LowerAscii(text[i]) != LowerAscii(prefix[i]))
            return false;
    }
    return true;
}

bool IsCurlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Whether a line of the block begins with `name` followed by ':' or ';', the way libcurl
// looks for a header line of its own.
bool HasLineNamed(std::string_view block, std::string_view name) {
    std::size_t position = 0;
    while (position < block.size()) {
        std::size_t end = block.find("\r\n", position);
        if (end == std::string_view::npos)
            end = block.size();
        const std::string_view line = block.substr(position, end - position);
        if (StartsWithIgnoreCase(line, name) && line.size() > name.size() &&
            (line[name.size()] == ':' || line[name.size()] == ';'))
            return true;
        position = end + 2;
    }
    return false;
}

bool IsHostByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c >= 0x80;
}

// Control bytes and blanks cannot stand in a request target; they are escaped so that no
// address can break the request line or add a header line.
std::string EscapeTarget(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(path.size());
    for (char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f) {
            escaped += '%';
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 0x0f];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

// The path and query libcurl would put on the request line for `url`; false when libcurl
// would refuse the address or read another host out of it.
bool CurlRequestTarget(const std::string &url, std::string_view host, std::string &target) {
    UrlHandle handle(curl_url());
    if (!handle)
        return false;
    if (curl_url_set(handle.get(), CURLUPART_URL, url.c_str(),
                     CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS) != CURLUE_OK)
        return false;
    char *raw = nullptr;
    if (curl_url_get(handle.get(), CURLUPART_HOST, &raw, 0) != CURLUE_OK)
        return false;
    const CurlText parsedHost(raw);
    if (std::string_view(parsedHost.get()) != host)
        return false;
    raw = nullptr;
    if (curl_url_get(handle.get(), CURLUPART_PATH, &raw, 0) != CURLUE_OK)
        return false;
    const CurlText path(raw);
    target = path.get();
    raw = nullptr;
    const CURLUcode query = curl_url_get(handle.get(), CURLUPART_QUERY, &raw, 0);
    const CurlText queryText(raw);
    if (query == CURLUE_OK && queryText) {
        target += '?';
        target += queryText.get();
    }
    return true;
}

}  // namespace

void SetHttpTimeoutCapForTesting(std::chrono::milliseconds bound) {
    g_timeoutCapMs = bound.count() > 0 ? bound.count() : 0;
}

// ---------------------------------------------------------------------------------------------

HttpRoot HttpRoot::Open(std::string_view agent, HttpAccess access, std::string_view proxyList) {
    HttpRoot root;
    if (agent.find_first_of("\r\n") != std::string_view::npos)
        return root;
    root.m_agent = std::string(agent);
    if (access == HttpAccess::Proxy) {
        // The entry for http, or one without a scheme that serves every scheme.
        std::string_view chosen;
        std::size_t position = 0;
        while (position < proxyList.size()) {
            const std::size_t end = proxyList.find_first_of(" ;", position);
            const std::string_view entry = proxyList.substr(
                position, end == std::string_view::npos ? std::string_view::npos : end - position);
            position = end == std::string_view::npos ? proxyList.size() : end + 1;
            const std::size_t equals = entry.find('=');
            if (equals == std::string_view::npos) {
                if (chosen.empty())
                    chosen = entry;
            } else if (StartsWithIgnoreCase(entry, "http=") && equals == 4) {
                chosen = entry.substr(equals + 1);
            }
        }
        if (StartsWithIgnoreCase(chosen, "http://"))
            chosen.remove_prefix(7);
        // Without an address the request would quietly go direct, which a proxy user did not
        // ask for; another scheme would not be an HTTP proxy.
        if (chosen.empty() || chosen.find("://") != std::string_view::npos ||
            chosen.find_first_of("\r\n\t /") != std::string_view::npos)
            return root;
        root.m_proxy = "http://" + std::string(chosen);
    }
    root.m_open = true;
    return root;
}

HttpRoot::HttpRoot(HttpRoot &&other) noexcept
    : m_open(std::exchange(other.m_open, false)),
      m_agent(std::move(other.m_agent)),
      m_proxy(std::move(other.m_proxy)) {}

HttpRoot &HttpRoot::operator=(HttpRoot &&other) noexcept {
    m_open = std::exchange(other.m_open, false);
    m_agent = std::move(other.m_agent);
    m_proxy = std::move(other.m_proxy);
    return *this;
}

void HttpRoot::close() {
    m_open = false;
    m_agent.clear();
    m_proxy.clear();
}

// ---------------------------------------------------------------------------------------------

HttpConnection HttpConnection::Open(const HttpRoot &root, std::string_view host, int port) {
    HttpConnection connection;
    if (!root.isOpen() || host.empty() || port < 0 || port > 65535)
        return connection;
    for (char c : host) {
        if (!IsHostByte(static_cast<unsigned char>(c)))
            return connection;
    }
    connection.m_agent = root.m_agent;
    connection.m_proxy = root.m_proxy;
    connection.m_host = std::string(host);
    connection.m_port = port == 0 ? 80 : port;
    connection.m_open = true;
    return connection;
}

HttpConnection::HttpConnection(HttpConnection &&other) noexcept
    : m_open(std::exchange(other.m_open, false)),
      m_agent(std::move(other.m_agent)),
      m_proxy(std::move(other.m_proxy)),
      m_host(std::move(other.m_host)),
      m_port(other.m_port) {}

HttpConnection &HttpConnection::operator=(HttpConnection &&other) noexcept {
    m_open = std::exchange(other.m_open, false);
    m_agent = std::move(other.m_agent);
    m_proxy = std::move(other.m_proxy);
    m_host = std::move(other.m_host);
    m_port = other.m_port;
    return *this;
}

void HttpConnection::close() {
    m_open = false;
    m_host.clear();
}

// ---------------------------------------------------------------------------------------------

struct HttpRequest::Transfer {
    // Taken at open.
    std::string agent;
    std::string proxy;
    std::string url;
    std::string exactTarget;  // set only when libcurl would not send the path byte for byte
    std::string verb;
    int connectMs = 0;
    int receiveMs = 0;
    int sendMs = 0;
    WaitHook hook;

    // Declared before the handles that point into them, so they are freed after them.
    std::string body;
    HeaderList headers;
    HeaderList proxyHeaders;
    MultiHandle multi;
    EasyHandle easy;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    std::string failure;

    bool added = false;
    bool sent = false;
    bool finished = false;
    bool failed = false;

    // Body bytes that libcurl handed over and the reads have not taken yet.
    std::string data;
    std::size_t readOffset = 0;

    // The head of the latest answer, normalised to "\r\n" line ends.
    std::string head;
    bool headDone = false;
    bool finalHead = false;

    bool connected = false;
    Clock::time_point lastProgress = Clock::now();
    curl_off_t uploaded = 0;
    bool uploading = false;

    ~Transfer() {
        if (added)
            curl_multi_remove_handle(multi.get(), easy.get());
    }

    void fail(std::string reason) {
        if (failed)
            return;
        failed = true;
        failure = std::move(reason);
        if (added) {
            curl_multi_remove_handle(multi.get(), easy.get());
            added = false;
        }
    }

    static int EffectiveMs(int ms) {
        const long long cap = g_timeoutCapMs.load();
        return (cap > 0 && (ms <= 0 || ms > cap)) ? static_cast<int>(cap) : ms;
    }

    static std::size_t OnBody(char *bytes, std::size_t size, std::size_t count, void *self) {
        auto *transfer = static_cast<Transfer *>(self);
        transfer->data.append(bytes, size * count);
        transfer->lastProgress = Clock::now();
        return size * count;
    }

    static std::size_t OnHeader(char *bytes, std::size_t size, std::size_t count, void *self) {
        auto *transfer = static_cast<Transfer *>(self);
        transfer->lastProgress = Clock::now();
        std::string_view line(bytes, size * count);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.remove_suffix(1);
        if (line.starts_with("HTTP/")) {
            transfer->head.assign(line);
            transfer->head += "\r\n";
            transfer->headDone = false;
            transfer->finalHead = false;
        } else if (!transfer->headDone && !transfer->head.empty()) {
            if (line.empty()) {
                transfer->headDone = true;
                // An interim answer (1xx) is followed by the real one.
                const std::size_t blank = transfer->head.find(' ');
                transfer->finalHead =
                    blank == std::string::npos || transfer->head.compare(blank + 1, 1, "1") != 0;
            } else {
                transfer->head.append(line);
                transfer->head += "\r\n";
            }
        }
        return size * count;
    }

    static int OnSocket(void *self, curl_socket_t, curlsocktype) {
        static_cast<Transfer *>(self)->connected = false;
        return CURL_SOCKOPT_OK;
    }

    static int OnConnected(void *self, char *, char *, int, int) {
        auto *transfer = static_cast<Transfer *>(self);
        transfer->connected = true;
        transfer->lastProgress = Clock::now();
        return CURL_PREREQFUNC_OK;
    }

    bool configure(std::string_view headerBlock);
    // Runs the transfer until ready() holds or it ends, fails or is abandoned.
    template <typename Ready>
    void drive(Ready ready);
    void collectDone();
};

bool HttpRequest::Transfer::configure(std::string_view headerBlock) {
    CURL *e = easy.get();
    bool ok = true;
    auto set = [&](CURLoption option, auto value) {
        ok = ok && curl_easy_setopt(e, option, value) == CURLE_OK;
    };

    // The block goes out line by line in its own order. An empty line would end the head
    // early, so it is left out. libcurl reads "Name:" with nothing after the colon as "do
    // not send Name" and sends "Name;" as "Name:", so a line with a blank value is handed over
    // in the second form (its trailing blanks are lost); libcurl never sends a line without a
    // colon.
    // A Content-Length line for this very body at the end of the block is left to libcurl,
    // which writes the same line in the same place and leaves it out when a redirect turns
    // the POST into a GET; sent as a line of the block it would announce a body that never
    // comes.
    const std::string ownLength = "Content-Length: " + std::to_string(body.size());
    if (!body.empty() &&
        (headerBlock.ends_with(ownLength + "\r\n") || headerBlock.ends_with(ownLength))) {
        const std::string_view rest = headerBlock.substr(0, headerBlock.rfind(ownLength));
        if ((rest.empty() || rest.ends_with("\r\n")) && !HasLineNamed(rest, "Content-Length"))
            headerBlock = rest;
    }

    std::size_t position = 0;
    while (position < headerBlock.size()) {
        std::size_t end = headerBlock.find("\r\n", position);
        if (end == std::string_view::npos)
            end = headerBlock.size();
        std::string_view line = headerBlock.substr(position, end - position);
        position = end + 2;
        if (line.empty())
            continue;
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && colon > 0 &&
            std::all_of(line.begin() + static_cast<std::ptrdiff_t>(colon) + 1, line.end(),
                        IsCurlSpace)) {
            ok = ok && Append(headers, std::string(line.substr(0, colon)) + ";");
        } else {
            ok = ok && Append(headers, std::string(line));
        }
    }
    // What libcurl would add by itself is switched off; a line of the block with the same name
    // still goes out, because libcurl only adds its own when the block holds none.
    ok = ok && Append(headers, "Accept:") && Append(headers, "Expect:") &&
         Append(headers, "Content-Type:");
    if (body.empty())
        ok = ok && Append(headers, "Content-Length:");

    set(CURLOPT_ERRORBUFFER, errorBuffer);
    set(CURLOPT_NOSIGNAL, 1L);
    // A request abandoned while its host name is still being looked up must not wait for it.
    set(CURLOPT_QUICK_EXIT, 1L);
    set(CURLOPT_URL, url.c_str());
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    if (exactTarget.empty()) {
        set(CURLOPT_FOLLOWLOCATION, 1L);
        set(CURLOPT_MAXREDIRS, kMaxRedirects);
    } else {
        // A fixed target would be sent to every redirect's address too, so none is followed.
        set(CURLOPT_REQUEST_TARGET, exactTarget.c_str());
    }
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_USERAGENT, agent.c_str());
    set(CURLOPT_HTTPHEADER, headers.get());
    // CURLOPT_PROXY set, even to "", keeps http_proxy, ALL_PROXY and no_proxy out.
    set(CURLOPT_PROXY, proxy.c_str());
    if (!proxy.empty()) {
        set(CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
        set(CURLOPT_PROXYPORT, 80L);
        set(CURLOPT_NOPROXY, "");
        set(CURLOPT_HEADEROPT, static_cast<long>(CURLHEADER_SEPARATE));
        ok = ok && Append(proxyHeaders, "Proxy-Connection:");
        set(CURLOPT_PROXYHEADER, proxyHeaders.get());
        set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    }
    const int connect = EffectiveMs(connectMs);
    if (connect > 0)
        set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect));

    if (verb == "GET") {
        set(CURLOPT_HTTPGET, 1L);
    } else if (verb == "POST" || !body.empty()) {
        // libcurl keeps a custom verb across a redirect that turns the POST into a GET.
        if (verb == "POST")
            set(CURLOPT_POST, 1L);
        else
            set(CURLOPT_CUSTOMREQUEST, verb.c_str());
        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        set(CURLOPT_POSTFIELDS, body.data());
        uploading = !body.empty();
    } else {
        set(CURLOPT_CUSTOMREQUEST, verb.c_str());
    }

    set(CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    set(CURLOPT_WRITEDATA, static_cast<void *>(this));
    set(CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    set(CURLOPT_HEADERDATA, static_cast<void *>(this));
    set(CURLOPT_SOCKOPTFUNCTION, &Transfer::OnSocket);
    set(CURLOPT_SOCKOPTDATA, static_cast<void *>(this));
    set(CURLOPT_PREREQFUNCTION, &Transfer::OnConnected);
    set(CURLOPT_PREREQDATA, static_cast<void *>(this));
    return ok;
}

void HttpRequest::Transfer::collectDone() {
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(multi.get(), &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        finished = true;
        if (message->data.result != CURLE_OK && failure.empty())
            failure = curl_easy_strerror(message->data.result);
    }
}

template <typename Ready>
void HttpRequest::Transfer::drive(Ready ready) {
    auto lastHook = Clock::now();
    for (;;) {
        if (failed || finished || ready())
            return;
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            fail("the transfer could not go on");
            return;
        }
        collectDone();
        if (finished || ready())
            return;

        const auto now = Clock::now();
        curl_off_t up = 0;
        if (uploading && curl_easy_getinfo(easy.get(), CURLINFO_SIZE_UPLOAD_T, &up) == CURLE_OK &&
            up != uploaded) {
            uploaded = up;
            lastProgress = now;
        }
        const bool sending = uploading && uploaded < static_cast<curl_off_t>(body.size());
        const int bound = EffectiveMs(sending ? sendMs : receiveMs);
        Milliseconds idleLeft = Milliseconds::max();
        if (connected && bound > 0) {
            idleLeft =
                Milliseconds(bound) - std::chrono::duration_cast<Milliseconds>(now - lastProgress);
            if (idleLeft.count() <= 0) {
                fail(sending ? "no byte could be sent in time" : "no byte arrived in time");
                return;
            }
        }
        if (now - lastHook >= kWaitHookInterval) {
            lastHook = now;
            if (hook && !hook()) {
                fail("abandoned");
                return;
            }
            continue;
        }
        const auto hookLeft =
            kWaitHookInterval - std::chrono::duration_cast<Milliseconds>(now - lastHook);
        const auto wait = std::max(Milliseconds(1), std::min(hookLeft, idleLeft));
        if (curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(wait.count()), nullptr) !=
            CURLM_OK) {
            fail("waiting failed");
            return;
        }
    }
}

HttpRequest::HttpRequest() = default;
HttpRequest::HttpRequest(HttpRequest &&other) noexcept = default;
HttpRequest &HttpRequest::operator=(HttpRequest &&other) noexcept = default;
HttpRequest::~HttpRequest() = default;

HttpRequest HttpRequest::Open(const HttpConnection &connection, std::string_view verb,
                              std::string_view objectPath, std::string_view) {
    HttpRequest request;
    if (!connection.isOpen() || verb.empty() ||
        verb.find_first_of(" \t\r\n") != std::string_view::npos)
        return request;
    auto transfer = std::make_unique<Transfer>();
    transfer->easy.reset(curl_easy_init());
    transfer->multi.reset(curl_multi_init());
    if (!transfer->easy || !transfer->multi)
        return request;
    transfer->agent = connection.m_agent;
    transfer->proxy = connection.m_proxy;
    transfer->verb = std::string(verb);

    const std::string path = EscapeTarget(objectPath);
    const std::string origin =
        "http://" + connection.m_host + ":" + std::to_string(connection.m_port);
    std::string curlTarget;
    // libcurl escapes bytes above 0x7f when it writes the request line.
    const bool plain = std::none_of(path.begin(), path.end(),
                                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (plain && path.starts_with("/") &&
        CurlRequestTarget(origin + path, connection.m_host, curlTarget) && curlTarget == path) {
        transfer->url = origin + path;
    } else {
        // libcurl would drop a fragment or otherwise rewrite this path; send it as it is.
        transfer->url = origin + "/";
        if (transfer->proxy.empty()) {
            transfer->exactTarget = path;
        } else {
            transfer->exactTarget = "http://" + connection.m_host;
            if (connection.m_port != 80)
                transfer->exactTarget += ":" + std::to_string(connection.m_port);
            transfer->exactTarget += path;
        }
    }
    request.m_transfer = std::move(transfer);
    return request;
}

bool HttpRequest::isOpen() const {
    return m_transfer != nullptr;
}

void HttpRequest::close() {
    m_transfer.reset();
}

bool HttpRequest::setTimeout(HttpTimeout option, int milliseconds) {
    if (!m_transfer || m_transfer->sent || milliseconds <= 0)
        return false;
    switch (option) {
        case HttpTimeout::Connect:
            m_transfer->connectMs = milliseconds;
            break;
        case HttpTimeout::Receive:
            m_transfer->receiveMs = milliseconds;
            break;
        case HttpTimeout::Send:
            m_transfer->sendMs = milliseconds;
            break;
    }
    return true;
}

void HttpRequest::setWaitHook(WaitHook hook) {
    if (m_transfer)
        m_transfer->hook = std::move(hook);
}

bool HttpRequest::send(std::string_view headerBlock, std::string_view body) {
    if (!m_transfer || m_transfer->sent)
        return false;
    Transfer &t = *m_transfer;
    t.sent = true;
    t.body = std::string(body);
    if (!t.configure(headerBlock)) {
        t.fail("the request could not be set up");
        return false;
    }
    if (curl_multi_add_handle(t.multi.get(), t.easy.get()) != CURLM_OK) {
        t.fail("the request could not be started");
        return false;
    }
    t.added = true;
    t.drive([&t] { return t.finalHead || t.readOffset < t.data.size(); });
    return t.finalHead || t.readOffset < t.data.size();
}

int HttpRequest::read(std::uint8_t *buffer, int size) {
    if (!m_transfer || !m_transfer->sent || size <= 0)
        return 0;
    Transfer &t = *m_transfer;
    if (t.readOffset == t.data.size()) {
        t.data.clear();
        t.readOffset = 0;
        t.drive([&t] { return !t.data.empty(); });
    }
    const std::size_t count =
        std::min(static_cast<std::size_t>(size), t.data.size() - t.readOffset);
    if (count > 0)
        std::memcpy(buffer, t.data.data() + t.readOffset, count);
    t.readOffset += count;
    return static_cast<int>(count);
}

bool HttpRequest::queryRawHeaders(char *buffer, int &length) const {
    if (!m_transfer || !m_transfer->headDone)
        return false;
    const std::string &head = m_transfer->head;
    if (length < 0 || head.size() + 1 > static_cast<std::size_t>(length)) {
        length = static_cast<int>(std::min<std::size_t>(head.size() + 1, 0x7fffffff));
        return false;
    }
    std::memcpy(buffer, head.data(), head.size());
    buffer[head.size()] = '\0';
    length = static_cast<int>(head.size());
    return true;
}

std::int64_t HttpRequest::announcedLength() const {
    curl_off_t length = -1;
    if (!m_transfer || !m_transfer->finalHead ||
        curl_easy_getinfo(m_transfer->easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) !=
            CURLE_OK)
        return -1;
    return length;
}

std::string HttpRequest::errorText() const {
    if (!m_transfer)
        return "not open";
    std::string text = m_transfer->failure;
    if (m_transfer->errorBuffer[0] != '\0') {
        if (!text.empty())
            text += ": ";
        text += m_transfer->errorBuffer;
    }
    return text;
}

}  // namespace viewer
