#pragma once

// The forum's address shapes, the number of the thread on screen and the handlers that move
// the web view from thread to thread.

#include <string>
#include <string_view>

#include "navigation/browser_view.h"

namespace viewer {

// The number of the thread on screen, as text: decimal digits as a rule, but empty after an
// address without a number and whatever the user confirmed in the jump box.
extern std::string CurrentThread;

// "http://host/", a constant of the build.
std::string_view ForumBaseUrl();
// ForumBaseUrl() + "thread-".
std::string_view ThreadUrlPrefix();
// ThreadUrlPrefix() + n + "-1-1.html", n inserted byte for byte without any test.
std::string ThreadUrl(std::string_view n);
// ForumBaseUrl() + "forum.php?mod=guide&view=new".
std::string NewestListUrl();

// Lets a test point the address shapes at a forum it started itself.
void OverrideForumBaseUrlForTesting(std::string baseUrl);

// Navigates the view to ThreadUrl(CurrentThread).
void OpenCurrentThread(BrowserView &view);

void ShowPreviousThread(BrowserView &view);  // "上一页"
void ShowNextThread(BrowserView &view);      // "下一页"
void ShowNewestList(BrowserView &view);      // "最新贴"
// A document became ready: reads the thread number back from its address.
void TrackThreadAddress(BrowserView &view);
// A link asks for a new window: the view follows it itself. The answer is always false.
bool KeepNewWindowInView(BrowserView &view);

}  // namespace viewer
