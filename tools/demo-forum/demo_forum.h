#pragma once

// The demo forum: GBK pages in the forum's shapes, served on 127.0.0.1. scripts/run.sh runs it
// for the viewer, and the GUI tests use it as their forum.
//
//   /forum.php?mod=guide&view=new   the newest-threads list, newest first, one row per thread
//   /thread-N-1-1.html              thread N (first page), for N in [firstThread, newestThread]
//   /thread-N-2-1.html              its second page
//   /frame-N.html                   the small page that thread N shows in an iframe
//   /qq.txt                         takes a suggestion by POST and answers "ok"
// Anything else gets 404 with a small GBK page.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "loopback_server.h"

namespace viewer::demo {

struct ForumOptions {
    int firstThread = 900;
    int newestThread = 987;
};

class DemoForum {
public:
    explicit DemoForum(ForumOptions options = {});
    ~DemoForum();

    // Listens on 127.0.0.1:port (0 picks a free port). False when it cannot listen.
    bool start(std::uint16_t port = 0);
    // Builds the links on this base address (ending in "/") instead of the listening one and
    // serves the pages below its path, as a forum behind another host name would. Before start().
    void setBaseUrl(std::string baseUrl);
    void stop();
    // "http://127.0.0.1:<port>/": the base address that the pages' links are built on.
    std::string baseUrl() const;
    std::uint16_t port() const;

    // Holds the answer to every request for the newest-threads list until released.
    void holdNewestList(bool hold);
    // Replaces the newest-threads page with these bytes ("" restores the generated page).
    void setNewestListPage(std::string bytes);

    std::vector<loopback::Request> requests() const;
    // Waits, at most `timeout`, until a request whose target begins with `targetPrefix` arrives
    // after the first `skip` requests of the record.
    bool waitForRequest(std::string_view targetPrefix, std::chrono::milliseconds timeout,
                        std::size_t skip = 0) const;
    void clearRequests();

    // Called for every request as it arrives, on a server thread, one call at a time.
    void setRequestObserver(std::function<void(const loopback::Request &)> observer);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The generated pages, as GBK bytes; baseUrl ends in "/".
std::string NewestListPage(std::string_view baseUrl, const ForumOptions &options);
std::string ThreadPage(std::string_view baseUrl, int thread, int page, const ForumOptions &options);
std::string FramePage(std::string_view baseUrl, int thread, const ForumOptions &options);
std::string NotFoundPage(std::string_view baseUrl);

// UTF-8 to GBK and back, through the GB18030 codec.
std::string ToGbk(std::string_view utf8);
std::string FromGbk(std::string_view gbk);

}  // namespace viewer::demo
