#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

// A raw client socket, so the bytes on the wire are exactly what the test writes.

namespace viewer::loopback {
namespace {

using namespace std::chrono_literals;

class Client {
public:
    explicit Client(std::uint16_t port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~Client() { ::close(m_fd); }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    bool connected() const { return m_connected; }
    void write(std::string_view bytes) {
        ASSERT_EQ(::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Reads until `count` bytes arrived, the peer closed or `timeout` passed; errorOut tells
    // a reset apart from a normal end.
    std::string read(std::size_t count, std::chrono::milliseconds timeout,
                     int *errorOut = nullptr) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fd{m_fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
                break;
            char chunk[4096];
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n < 0 && errorOut)
                *errorOut = errno;
            if (n <= 0)
                break;
            got.append(chunk, static_cast<std::size_t>(n));
        }
        return got;
    }

private:
    int m_fd = -1;
    bool m_connected = false;
};

TEST(LoopbackServer, RecordsPipelinedRequestsOnOneConnectionByteForByte) {
    LoopbackServer server([](const Request &request) {
        return Reply::Http(200, request.method + " " + request.target + " " + request.body);
    });
    ASSERT_TRUE(server.start());
    Client client(server.port());
    ASSERT_TRUE(client.connected());
    const std::string first = "POST /a HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc";
    const std::string second =
        "POST /b HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nxy\r\n1;ext=1\r\nz\r\n0\r\n"
        "Trailer: t\r\n\r\n";
    const std::string third = "GET /c HTTP/1.1\r\n\r\n";
    client.write(first + second + third);
    const std::string expected =
        "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nPOST /a abc"
        "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\nPOST /b xyz"
        "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nGET /c ";
    EXPECT_EQ(client.read(expected.size(), 5s), expected);
    ASSERT_TRUE(server.waitForRequests(3, 5s));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].raw, first);
    EXPECT_EQ(requests[1].raw, second);
    EXPECT_EQ(requests[1].body, "xyz");
    EXPECT_EQ(requests[2].raw, third);
    EXPECT_EQ(requests[0].header("content-length"), "3");
}

TEST(LoopbackServer, ResetReachesThePeerAsAReset) {
    LoopbackServer server([](const Request &) { return Reply().send("partial").reset(); });
    ASSERT_TRUE(server.start());
    Client client(server.port());
    client.write("GET / HTTP/1.1\r\n\r\n");
    int error = 0;
    const std::string got = client.read(1000, 5s, &error);
    EXPECT_EQ(error, ECONNRESET) << got;
}

TEST(LoopbackServer, StopEndsHangingAndPausedRepliesAndIdleConnectionsPromptly) {
    LoopbackServer server([](const Request &request) {
        if (request.target == "/hang")
            return Reply().send("HTTP/1.1 200 OK\r\n").hang();
        return Reply().pause(std::chrono::hours(1));
    });
    ASSERT_TRUE(server.start());
    Client hanging(server.port());
    Client pausing(server.port());
    Client idle(server.port());
    hanging.write("GET /hang HTTP/1.1\r\n\r\n");
    pausing.write("GET /pause HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(server.waitForRequests(2, 5s));
    const auto started = std::chrono::steady_clock::now();
    server.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    // Every connection was closed, so each client sees the end of the stream.
    EXPECT_EQ(idle.read(1, 2s), "");
}

}  // namespace
}  // namespace viewer::loopback
