#pragma once

// Helpers for tests that need more than the loopback server: a helper program run as a child
// process (a real proxy, say), a free loopback port for it, and environment variables set
// for the length of a scope.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace viewer::loopback {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // stops
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Runs program with arguments, its output discarded. False when it cannot be started.
    bool start(const std::string &program, const std::vector<std::string> &arguments);
    // Asks the process to end, kills it when it has not ended within `grace`, and reaps it.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));
    bool running() const;

private:
    int m_pid = -1;
};

// A port on 127.0.0.1 that nothing listened on a moment ago, or 0.
std::uint16_t FreeLoopbackPort();
// True once something accepts connections on 127.0.0.1:port, waiting at most `timeout`.
bool WaitUntilListening(std::uint16_t port, std::chrono::milliseconds timeout);

// Listens on 127.0.0.1 and never accepts: connections complete in the backlog and nothing
// sent to them is ever read once the kernel's buffers are full.
class SilentListener {
public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener &) = delete;
    SilentListener &operator=(const SilentListener &) = delete;

    std::uint16_t port() const { return m_port; }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

// Sets (or with nullopt removes) an environment variable until the end of the scope.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, std::optional<std::string> value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

}  // namespace viewer::loopback
