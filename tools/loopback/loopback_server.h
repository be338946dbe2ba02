#pragma once

// A small HTTP/1.1 server on 127.0.0.1 for tests and the demo forum. It records the raw
// bytes of every request exactly as they arrived and answers each one with a scripted reply:
// bytes to send, pauses, a reset, or silence until the server stops. Connections are served
// concurrently and kept alive until the peer or the reply closes them.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace viewer::loopback {

struct Request {
    std::string raw;     // head and body, byte for byte as received
    std::string method;  // from the request line
    std::string target;  // from the request line, as sent
    std::string head;    // request line and header lines, up to and including the blank line
    std::string body;    // as many bytes as Content-Length said (chunked bodies decoded)
    // The value of the first header line named `name` (ASCII case ignored), or "".
    std::string header(std::string_view name) const;
};

// One step of a reply.
struct Action {
    enum class Kind { Send, Pause, Reset, Hang, Close };
    Kind kind = Kind::Send;
    std::string bytes;                          // Send
    std::shared_ptr<const std::string> shared;  // Send, instead of bytes when set (no copy)
    std::chrono::milliseconds duration{0};      // Pause
};

// What the server does for one request, step by step. After the last step the connection
// stays open for the next request unless a step closed it.
struct Reply {
    std::vector<Action> actions;

    Reply &send(std::string bytes);
    // Sends bytes that many replies share, such as a large body, without copying them.
    Reply &send(std::shared_ptr<const std::string> bytes);
    Reply &pause(std::chrono::milliseconds duration);
    Reply &reset();  // closes with RST
    Reply &hang();   // sends nothing more until the server stops
    Reply &close();  // closes normally

    // A complete answer with Content-Length; extraHeaders are whole lines ending "\r\n".
    static Reply Http(int status, std::string body, std::string extraHeaders = {});
    // The same body in chunked transfer encoding, cut into chunks of chunkSize bytes.
    static Reply Chunked(int status, std::string body, std::size_t chunkSize,
                         std::string extraHeaders = {});
};

class LoopbackServer {
public:
    using Handler = std::function<Reply(const Request &)>;

    explicit LoopbackServer(Handler handler);
    ~LoopbackServer();  // stops
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    // Listens on 127.0.0.1:port (0 picks a free port). False when it cannot listen.
    bool start(std::uint16_t port = 0);
    void stop();
    std::uint16_t port() const;
    // "http://127.0.0.1:<port>" followed by path.
    std::string url(std::string_view path = "/") const;

    // Every request received so far, in order of arrival.
    std::vector<Request> requests() const;
    // Waits until at least `count` requests have arrived, at most `timeout`.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    void clearRequests();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace viewer::loopback
