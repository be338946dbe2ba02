#include "navigation/thread_navigator.h"

#include <utility>

#include "text/text.h"

#ifndef VIEWER_FORUM_BASE_URL
#error "VIEWER_FORUM_BASE_URL must name the forum's base address"
#endif

namespace viewer {

std::string CurrentThread;

namespace {

struct AddressShapes {
    std::string base = VIEWER_FORUM_BASE_URL;
    std::string prefix = JoinTexts(base, "thread-");
};

AddressShapes &Shapes() {
    static AddressShapes shapes;
    return shapes;
}

// The number in a thread address stands between the prefix and the next one of these.
constexpr std::string_view kNumberEnd = "-1-1";
constexpr std::string_view kThreadUrlEnd = "-1-1.html";
constexpr std::string_view kNewestListPath = "forum.php?mod=guide&view=new";

void StepCurrentThread(BrowserView &view, int step) {
    CurrentThread = ToText(ToNumber(CurrentThread) + ToNumber(step));
    OpenCurrentThread(view);
}

}  // namespace

std::string_view ForumBaseUrl() {
    return Shapes().base;
}

std::string_view ThreadUrlPrefix() {
    return Shapes().prefix;
}

std::string ThreadUrl(std::string_view n) {
    return JoinTexts(ThreadUrlPrefix(), n, kThreadUrlEnd);
}

std::string NewestListUrl() {
    return JoinTexts(ForumBaseUrl(), kNewestListPath);
}

void OverrideForumBaseUrlForTesting(std::string baseUrl) {
    AddressShapes &shapes = Shapes();
    shapes.prefix = JoinTexts(baseUrl, "thread-");
    shapes.base = std::move(baseUrl);
}

void OpenCurrentThread(BrowserView &view) {
    view.Navigate(ThreadUrl(CurrentThread));
}

void ShowPreviousThread(BrowserView &view) {
    StepCurrentThread(view, -1);
}

void ShowNextThread(BrowserView &view) {
    StepCurrentThread(view, 1);
}

void ShowNewestList(BrowserView &view) {
    view.Navigate(NewestListUrl());
}

void TrackThreadAddress(BrowserView &view) {
    const std::string address = view.Url();
    if (FindText(address, ThreadUrlPrefix()) == -1)
        return;
    CurrentThread = ExtractBetween(address, ThreadUrlPrefix(), kNumberEnd);
}

bool KeepNewWindowInView(BrowserView &view) {
    view.SetUrl(view.StatusText());
    return false;
}

}  // namespace viewer
