#include "navigation/newest_thread.h"

#include "http/page_fetcher.h"
#include "navigation/thread_navigator.h"
#include "text/text.h"

namespace viewer {

std::string GuidePageHtml;

std::string GuideStartMarker() {
    return JoinTexts("\">\n<tr>\n<td class=\"icn\">\n<a href=\"", ThreadUrlPrefix());
}

std::string_view GuideEndMarker() {
    // "新窗口打开" in GBK.
    return "-1-1.html\" title=\"\xd0\xc2\xb4\xb0\xbf\xda\xb4\xf2\xbf\xaa\" target=\"_blank\">";
}

void ShowNewestThread(BrowserView &view) {
    std::string method;
    std::string headers;
    std::string rawHeaders;
    std::string page =
        FetchPage(NewestListUrl(), method, "", false, headers, "", rawHeaders, false);
    GuidePageHtml = std::move(page);
    CurrentThread = ExtractBetween(GuidePageHtml, GuideStartMarker(), GuideEndMarker());
    OpenCurrentThread(view);
}

void JumpToThread(BrowserView &view, const AskText &ask) {
    // The box may stay open while pages finish; a confirmed text replaces whatever they wrote.
    std::string answer = CurrentThread;
    if (ask && ask("", answer)) {
        CurrentThread = std::move(answer);
        OpenCurrentThread(view);
        return;
    }
    ShowNewestThread(view);
}

}  // namespace viewer
