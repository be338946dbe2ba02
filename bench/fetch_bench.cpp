// Downloads 16 MiB and 64 MiB bodies from a loopback server through FetchPage and through the
// curl command line (`curl -s -o /dev/null`), in one run, so the two can be compared; and the
// cost of merely holding a body of that size, which FetchPage pays and curl does not.

#include "http/page_fetcher.h"
#include "loopback_server.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using viewer::loopback::LoopbackServer;
using viewer::loopback::Reply;
using viewer::loopback::Request;

constexpr std::size_t kMiB = 1024 * 1024;

std::shared_ptr<const std::string> Body(std::size_t mebibytes) {
    return std::make_shared<const std::string>(mebibytes * kMiB, 'b');
}

// The bodies are built once and shared by every answer, so the server copies nothing.
LoopbackServer &Server() {
    static const auto small = Body(16);
    static const auto large = Body(64);
    static LoopbackServer server([](const Request &request) {
        const auto &body = request.target == "/64" ? large : small;
        return Reply()
            .send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body->size()) + "\r\n\r\n")
            .send(body);
    });
    static const bool started = server.start();
    (void)started;
    return server;
}

void BM_FetchPage(benchmark::State &state) {
    const auto mebibytes = static_cast<std::size_t>(state.range(0));
    const std::string url = Server().url("/" + std::to_string(mebibytes));
    // Every body is kept to the end, so no fetch lands in memory a previous one warmed up:
    // the program fetches its page once, into fresh memory.
    std::vector<std::string> kept;
    kept.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        std::string method, headers, rawHeaders;
        kept.push_back(viewer::FetchPage(url, method, "", false, headers, "", rawHeaders, false));
        if (kept.back().size() != mebibytes * kMiB) {
            state.SkipWithError("short body");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * mebibytes * kMiB));
}

void BM_CurlCommand(benchmark::State &state) {
    const auto mebibytes = static_cast<std::size_t>(state.range(0));
    const std::string command =
        "curl -s -o /dev/null '" + Server().url("/" + std::to_string(mebibytes)) + "'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("curl failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * mebibytes * kMiB));
}

// The floor under FetchPage that curl writing to /dev/null never pays: a fresh string of the
// body's size, filled once, in memory that no earlier iteration touched.
void BM_HoldBody(benchmark::State &state) {
    const auto bytes = static_cast<std::size_t>(state.range(0)) * kMiB;
    std::vector<std::string> kept;
    kept.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        std::string body;
        body.reserve(bytes);
        body.append(bytes, 'b');
        kept.push_back(std::move(body));
    }
}

BENCHMARK(BM_HoldBody)
    ->Arg(16)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(8);
BENCHMARK(BM_FetchPage)
    ->Arg(16)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(8);
BENCHMARK(BM_CurlCommand)
    ->Arg(16)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(8);

}  // namespace

int main(int argc, char **argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Server().stop();
    curl_global_cleanup();
    return 0;
}
