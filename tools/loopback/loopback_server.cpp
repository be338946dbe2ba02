#include "loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <list>
#include <mutex>
#include <thread>

// The one place of the project that assumes POSIX sockets.

namespace viewer::loopback {

namespace {

// A request head larger than this is taken as garbage and the connection is dropped.
constexpr std::size_t kMaxHeadBytes = 1024 * 1024;
// How long a normal close waits for the peer's end of stream before it closes anyway.
constexpr int kLingerOnCloseMs = 1000;

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

bool ContainsIgnoreCase(std::string_view text, std::string_view needle) {
    if (needle.size() > text.size())
        return false;
    for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
        if (EqualsIgnoreCase(text.substr(i, needle.size()), needle))
            return true;
    }
    return false;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::string_view ReasonPhrase(int status) {
    switch (status) {
        case 100:
            return "Continue";
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 304:
            return "Not Modified";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 500:
            return "Internal Server Error";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

std::string StatusLine(int status) {
    std::string line = "HTTP/1.1 " + std::to_string(status) + " ";
    line += ReasonPhrase(status);
    line += "\r\n";
    return line;
}

// How far the parse of one request got.
enum class Parse { NeedMore, Complete, Invalid };

// Parses one request from the front of `data`; on Complete, `used` is the count of bytes it
// took and `request` is filled in.
Parse ParseRequest(std::string_view data, Request &request, std::size_t &used) {
    const std::size_t headEnd = data.find("\r\n\r\n");
    if (headEnd == std::string_view::npos)
        return data.size() > kMaxHeadBytes ? Parse::Invalid : Parse::NeedMore;
    const std::size_t headSize = headEnd + 4;

    Request parsed;
    parsed.head = std::string(data.substr(0, headSize));
    const std::string_view requestLine = data.substr(0, data.find("\r\n"));
    const std::size_t firstBlank = requestLine.find(' ');
    if (firstBlank == std::string_view::npos)
        return Parse::Invalid;
    const std::size_t secondBlank = requestLine.find(' ', firstBlank + 1);
    parsed.method = std::string(requestLine.substr(0, firstBlank));
    parsed.target = std::string(requestLine.substr(
        firstBlank + 1, secondBlank == std::string_view::npos ? std::string_view::npos
                                                              : secondBlank - firstBlank - 1));

    const bool chunked = ContainsIgnoreCase(parsed.header("Transfer-Encoding"), "chunked");
    std::size_t position = headSize;
    if (chunked) {
        // Chunk-size line (extensions ignored), data, CRLF; a zero size ends the body, then
        // trailer lines up to an empty line.
        for (;;) {
            const std::size_t lineEnd = data.find("\r\n", position);
            if (lineEnd == std::string_view::npos)
                return Parse::NeedMore;
            const std::string_view sizeText = data.substr(position, lineEnd - position);
            std::size_t size = 0;
            std::size_t digits = 0;
            for (char c : sizeText) {
                int value = -1;
                if (c >= '0' && c <= '9')
                    value = c - '0';
                else if (LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f')
                    value = LowerAscii(c) - 'a' + 10;
                if (value < 0)
                    break;
                if (size > (kMaxHeadBytes * 1024))
                    return Parse::Invalid;
                size = size * 16 + static_cast<std::size_t>(value);
                ++digits;
            }
            if (digits == 0)
                return Parse::Invalid;
            position = lineEnd + 2;
            if (size == 0) {
                for (;;) {
                    const std::size_t trailerEnd = data.find("\r\n", position);
                    if (trailerEnd == std::string_view::npos)
                        return Parse::NeedMore;
                    const bool empty = trailerEnd == position;
                    position = trailerEnd + 2;
                    if (empty)
                        break;
                }
                break;
            }
            if (data.size() < position + size + 2)
                return Parse::NeedMore;
            parsed.body.append(data.substr(position, size));
            position += size + 2;
        }
    } else {
        const std::string lengthText = std::string(Trim(parsed.header("Content-Length")));
        std::size_t length = 0;
        for (char c : lengthText) {
            if (c < '0' || c > '9')
                return Parse::Invalid;
            length = length * 10 + static_cast<std::size_t>(c - '0');
            if (length > kMaxHeadBytes * 1024)
                return Parse::Invalid;
        }
        if (data.size() < headSize + length)
            return Parse::NeedMore;
        parsed.body = std::string(data.substr(headSize, length));
        position = headSize + length;
    }
    parsed.raw = std::string(data.substr(0, position));
    request = std::move(parsed);
    used = position;
    return Parse::Complete;
}

}  // namespace

std::string Request::header(std::string_view name) const {
    std::string_view rest = head;
    const std::size_t firstLineEnd = rest.find("\r\n");
    if (firstLineEnd == std::string_view::npos)
        return {};
    rest.remove_prefix(firstLineEnd + 2);
    while (!rest.empty()) {
        const std::size_t lineEnd = rest.find("\r\n");
        const std::string_view line = rest.substr(0, lineEnd);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && EqualsIgnoreCase(line.substr(0, colon), name))
            return std::string(Trim(line.substr(colon + 1)));
        if (lineEnd == std::string_view::npos)
            break;
        rest.remove_prefix(lineEnd + 2);
    }
    return {};
}

Reply &Reply::send(std::string bytes) {
    Action action;
    action.kind = Action::Kind::Send;
    action.bytes = std::move(bytes);
    actions.push_back(std::move(action));
    return *this;
}

Reply &Reply::send(std::shared_ptr<const std::string> bytes) {
    Action action;
    action.kind = Action::Kind::Send;
    action.shared = std::move(bytes);
    actions.push_back(std::move(action));
    return *this;
}

Reply &Reply::pause(std::chrono::milliseconds duration) {
    Action action;
    action.kind = Action::Kind::Pause;
    action.duration = duration;
    actions.push_back(std::move(action));
    return *this;
}

Reply &Reply::reset() {
    Action action;
    action.kind = Action::Kind::Reset;
    actions.push_back(std::move(action));
    return *this;
}

Reply &Reply::hang() {
    Action action;
    action.kind = Action::Kind::Hang;
    actions.push_back(std::move(action));
    return *this;
}

Reply &Reply::close() {
    Action action;
    action.kind = Action::Kind::Close;
    actions.push_back(std::move(action));
    return *this;
}

Reply Reply::Http(int status, std::string body, std::string extraHeaders) {
    std::string head = StatusLine(status);
    head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    head += extraHeaders;
    head += "\r\n";
    Reply reply;
    if (body.empty()) {
        reply.send(std::move(head));
    } else {
        // Head and body go out as one send so small answers arrive in one segment.
        head += body;
        reply.send(std::move(head));
    }
    return reply;
}

Reply Reply::Chunked(int status, std::string body, std::size_t chunkSize,
                     std::string extraHeaders) {
    std::string head = StatusLine(status);
    head += "Transfer-Encoding: chunked\r\n";
    head += extraHeaders;
    head += "\r\n";
    Reply reply;
    reply.send(std::move(head));
    if (chunkSize == 0)
        chunkSize = std::max<std::size_t>(body.size(), 1);
    char sizeText[32];
    for (std::size_t offset = 0; offset < body.size(); offset += chunkSize) {
        const std::size_t size = std::min(chunkSize, body.size() - offset);
        std::snprintf(sizeText, sizeof sizeText, "%zx\r\n", size);
        std::string chunk = sizeText;
        chunk.append(body, offset, size);
        chunk += "\r\n";
        reply.send(std::move(chunk));
    }
    reply.send("0\r\n\r\n");
    return reply;
}

struct LoopbackServer::State {
    struct Connection {
        int fd = -1;
        std::thread thread;
        bool done = false;
    };

    Handler handler;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<Request> record;
    std::list<Connection> connections;
    bool stopping = false;
    bool running = false;
    int listenFd = -1;
    int wakeRead = -1;  // readable once the server stops; every wait polls it
    int wakeWrite = -1;
    std::uint16_t port = 0;
    std::thread acceptor;

    void AcceptLoop();
    void Serve(Connection *connection);
    bool Stopping() const {
        std::lock_guard lock(mutex);
        return stopping;
    }
    // Waits until fd is ready for `events` or the server stops; false on stop or error.
    bool WaitFor(int fd, short events, int timeoutMs) const;
    bool SendAll(int fd, std::string_view bytes) const;
    // Sleeps for `duration` unless the server stops first; false on stop.
    bool Sleep(std::chrono::milliseconds duration) const;
    void WaitForStop() const {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return stopping; });
    }
    void ReapFinished();
};

bool LoopbackServer::State::WaitFor(int fd, short events, int timeoutMs) const {
    pollfd fds[2] = {{fd, events, 0}, {wakeRead, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        if (fds[1].revents != 0)
            return false;
        return (fds[0].revents & (events | POLLHUP | POLLERR)) != 0;
    }
}

bool LoopbackServer::State::SendAll(int fd, std::string_view bytes) const {
    while (!bytes.empty()) {
        if (!WaitFor(fd, POLLOUT, -1))
            return false;
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool LoopbackServer::State::Sleep(std::chrono::milliseconds duration) const {
    std::unique_lock lock(mutex);
    return !changed.wait_for(lock, duration, [this] { return stopping; });
}

void LoopbackServer::State::ReapFinished() {
    std::list<Connection> finished;
    {
        std::lock_guard lock(mutex);
        for (auto it = connections.begin(); it != connections.end();) {
            if (it->done) {
                auto next = std::next(it);
                finished.splice(finished.end(), connections, it);
                it = next;
            } else {
                ++it;
            }
        }
    }
    for (Connection &connection : finished)
        connection.thread.join();
}

void LoopbackServer::State::AcceptLoop() {
    for (;;) {
        if (!WaitFor(listenFd, POLLIN, -1))
            return;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED)
                continue;
            return;
        }
        ReapFinished();
        std::lock_guard lock(mutex);
        if (stopping) {
            ::close(fd);
            return;
        }
        connections.emplace_back();
        Connection *connection = &connections.back();
        connection->fd = fd;
        connection->thread = std::thread([this, connection] { Serve(connection); });
    }
}

void LoopbackServer::State::Serve(Connection *connection) {
    const int fd = connection->fd;
    std::string pending;
    bool open = true;
    bool resetOnClose = false;
    char chunk[64 * 1024];

    while (open) {
        Request request;
        std::size_t used = 0;
        bool continueSent = false;
        Parse parse = ParseRequest(pending, request, used);
        while (parse == Parse::NeedMore) {
            // A client that waits for an interim answer before sending its body gets one.
            const std::size_t headEnd = pending.find("\r\n\r\n");
            if (!continueSent && headEnd != std::string::npos && headEnd + 4 == pending.size()) {
                Request head;
                head.head = pending;
                if (ContainsIgnoreCase(head.header("Expect"), "100-continue")) {
                    continueSent = true;
                    if (!SendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n"))
                        break;
                }
            }
            if (!WaitFor(fd, POLLIN, -1))
                break;
            const ssize_t got = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
            if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
                continue;
            if (got <= 0)
                break;
            pending.append(chunk, static_cast<std::size_t>(got));
            parse = ParseRequest(pending, request, used);
        }
        if (parse != Parse::Complete)
            break;
        pending.erase(0, used);

        {
            std::lock_guard lock(mutex);
            record.push_back(request);
        }
        changed.notify_all();

        const Reply reply = handler ? handler(request) : Reply::Http(404, {});
        for (const Action &action : reply.actions) {
            switch (action.kind) {
                case Action::Kind::Send:
                    open = SendAll(fd, action.shared ? std::string_view(*action.shared)
                                                     : std::string_view(action.bytes));
                    break;
                case Action::Kind::Pause:
                    open = Sleep(action.duration);
                    break;
                case Action::Kind::Reset:
                    resetOnClose = true;
                    open = false;
                    break;
                case Action::Kind::Hang:
                    WaitForStop();
                    open = false;
                    break;
                case Action::Kind::Close:
                    open = false;
                    break;
            }
            if (!open)
                break;
        }
        if (open) {
            const std::string connectionHeader = request.header("Connection");
            const std::string_view requestLine =
                std::string_view(request.head).substr(0, request.head.find("\r\n"));
            const bool http10 = requestLine.ends_with("HTTP/1.0");
            if (ContainsIgnoreCase(connectionHeader, "close") ||
                (http10 && !ContainsIgnoreCase(connectionHeader, "keep-alive")))
                open = false;
        }
    }

    if (resetOnClose) {
        linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    } else {
        // Half-close first and let the peer finish, so unread input does not turn the close
        // into a reset.
        ::shutdown(fd, SHUT_WR);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kLingerOnCloseMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !WaitFor(fd, POLLIN, static_cast<int>(left.count())))
                break;
            const ssize_t got = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
                break;
        }
    }
    std::lock_guard lock(mutex);
    ::close(fd);
    connection->fd = -1;
    connection->done = true;
}

LoopbackServer::LoopbackServer(Handler handler) : m_state(std::make_unique<State>()) {
    m_state->handler = std::move(handler);
}

LoopbackServer::~LoopbackServer() {
    stop();
}

bool LoopbackServer::start(std::uint16_t port) {
    State &s = *m_state;
    if (s.running)
        return false;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int wake[2] = {-1, -1};
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0 ||
        ::pipe2(wake, O_CLOEXEC) != 0) {
        ::close(fd);
        return false;
    }
    s.listenFd = fd;
    s.wakeRead = wake[0];
    s.wakeWrite = wake[1];
    s.port = ntohs(address.sin_port);
    {
        std::lock_guard lock(s.mutex);
        s.stopping = false;
    }
    s.running = true;
    s.acceptor = std::thread([&s] { s.AcceptLoop(); });
    return true;
}

void LoopbackServer::stop() {
    State &s = *m_state;
    if (!s.running)
        return;
    {
        std::lock_guard lock(s.mutex);
        s.stopping = true;
        // Wakes every blocked poll at once; the pipe is never read, so it stays readable.
        const char byte = 0;
        [[maybe_unused]] const ssize_t written = ::write(s.wakeWrite, &byte, 1);
        ::shutdown(s.listenFd, SHUT_RDWR);
        for (State::Connection &connection : s.connections) {
            if (connection.fd >= 0)
                ::shutdown(connection.fd, SHUT_RDWR);
        }
    }
    s.changed.notify_all();
    s.acceptor.join();
    for (State::Connection &connection : s.connections)
        connection.thread.join();
    s.connections.clear();
    ::close(s.listenFd);
    ::close(s.wakeRead);
    ::close(s.wakeWrite);
    s.listenFd = s.wakeRead = s.wakeWrite = -1;
    s.running = false;
}

std::uint16_t LoopbackServer::port() const {
    return m_state->port;
}

std::string LoopbackServer::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(m_state->port) + std::string(path);
}

std::vector<Request> LoopbackServer::requests() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->record;
}

bool LoopbackServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout,
                                     [&] { return m_state->record.size() >= count; });
}

void LoopbackServer::clearRequests() {
    std::lock_guard lock(m_state->mutex);
    m_state->record.clear();
}

}  // namespace viewer::loopback
