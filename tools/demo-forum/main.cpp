// demo-forum: serves the demo forum until SIGINT or SIGTERM.
//
//   demo-forum [--base-url http://127.0.0.1:18080/] [--first 900] [--newest 987]

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "demo_forum.h"

namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void RequestStop(int) {
    g_stopRequested = 1;
}

struct Address {
    std::string base;
    std::uint16_t port = 80;
};

// Accepts "http://host[:port]/path/"; the pages are served on 127.0.0.1 whatever the host.
std::optional<Address> ParseBaseUrl(std::string_view url) {
    constexpr std::string_view scheme = "http://";
    if (url.substr(0, scheme.size()) != scheme || url.empty() || url.back() != '/') {
        return std::nullopt;
    }
    const std::string_view rest = url.substr(scheme.size());
    const std::string_view authority = rest.substr(0, rest.find('/'));
    if (authority.empty()) {
        return std::nullopt;
    }
    Address address{std::string(url)};
    const auto colon = authority.rfind(':');
    if (colon != std::string_view::npos) {
        const std::string_view digits = authority.substr(colon + 1);
        if (digits.empty() || digits.size() > 5) {
            return std::nullopt;
        }
        unsigned long port = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            port = port * 10 + static_cast<unsigned long>(c - '0');
        }
        if (port == 0 || port > 65535) {
            return std::nullopt;
        }
        address.port = static_cast<std::uint16_t>(port);
    }
    return address;
}

std::optional<int> ParseInt(std::string_view text) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// Terminal control bytes from a client must not reach the terminal as they are.
std::string Printable(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int Usage(const char *program) {
    std::cerr << "usage: " << program
              << " [--base-url http://127.0.0.1:18080/] [--first N] [--newest N]\n";
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    std::string baseUrl = "http://127.0.0.1:18080/";
    viewer::demo::ForumOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(argv[0]);
            return 0;
        }
        if (i + 1 >= argc) {
            return Usage(argv[0]);
        }
        const std::string_view value = argv[++i];
        if (arg == "--base-url") {
            baseUrl = value;
        } else if (arg == "--first" || arg == "--newest") {
            const auto number = ParseInt(value);
            if (!number) {
                return Usage(argv[0]);
            }
            (arg == "--first" ? options.firstThread : options.newestThread) = *number;
        } else {
            return Usage(argv[0]);
        }
    }
    const auto address = ParseBaseUrl(baseUrl);
    if (!address) {
        std::cerr << "demo-forum: the base URL must look like http://127.0.0.1:18080/\n";
        return 2;
    }
    if (options.firstThread > options.newestThread) {
        std::cerr << "demo-forum: --first must not be above --newest\n";
        return 2;
    }

    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);

    viewer::demo::DemoForum forum(options);
    forum.setBaseUrl(address->base);
    std::mutex printMutex;
    forum.setRequestObserver([&printMutex](const viewer::loopback::Request &request) {
        std::lock_guard lock(printMutex);
        std::cout << Printable(request.method) << ' ' << Printable(request.target) << '\n';
        if (request.method == "POST" && request.target.find("qq.txt") != std::string::npos) {
            std::cout << "  suggestion: " << Printable(viewer::demo::FromGbk(request.body)) << '\n';
        }
        std::cout.flush();
    });
    if (!forum.start(address->port)) {
        std::cerr << "demo-forum: cannot listen on 127.0.0.1:" << address->port
                  << " (is it in use?)\n";
        return 1;
    }

    const std::string &base = address->base;
    std::cout << "demo-forum: listening on 127.0.0.1:" << address->port << " as " << base << '\n'
              << "  newest threads  " << base << "forum.php?mod=guide&view=new\n"
              << "  threads         " << base
              << "thread-N-1-1.html and thread-N-2-1.html, N = " << options.firstThread << ".."
              << options.newestThread << '\n'
              << "  suggestions     POST /qq.txt on the same port (answers \"ok\")\n"
              << "Stop it with Ctrl+C." << std::endl;

    while (g_stopRequested == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        // Requests are printed as they come; keeping them would only grow for as long as it runs.
        forum.clearRequests();
    }
    forum.stop();
    std::cout << "demo-forum: stopped" << std::endl;
    return 0;
}
