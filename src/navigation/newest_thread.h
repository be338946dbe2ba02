#pragma once

// Discovery of the forum's newest thread and the jump to a typed thread number.

#include <functional>
#include <string>
#include <string_view>

#include "navigation/browser_view.h"

namespace viewer {

// The body of the last download of the newest-threads page; empty when it failed.
extern std::string GuidePageHtml;

// The markers that frame the first thread number on the newest-threads page.
std::string GuideStartMarker();
std::string_view GuideEndMarker();  // GBK bytes, 46 of them

// A modal input box: shows `answer` selected in its field under `caption` ("" gives the
// default caption "请输入："); on confirm stores the field's text in `answer` and returns true,
// on cancel leaves `answer` alone and returns false. Texts are code-page bytes.
using AskText = std::function<bool(std::string_view caption, std::string &answer)>;

// Downloads the newest-threads page, stores its first thread number in CurrentThread and
// opens that thread.
void ShowNewestThread(BrowserView &view);
// "跳转": asks for a thread number and opens it; a cancelled box shows the newest thread.
void JumpToThread(BrowserView &view, const AskText &ask);

}  // namespace viewer
