// FindText and ExtractBetween over a 1 MiB newest-threads page whose only thread-list row sits
// at its end, measured beside std::string_view::find on the same page.

#include "text/text.h"

#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

namespace {

const std::string kThreadUrlPrefix = "http://127.0.0.1:18080/thread-";
const std::string kGuideStartMarker =
    "\">\n<tr>\n<td class=\"icn\">\n<a href=\"" + kThreadUrlPrefix;
// "新窗口打开" in GBK.
const std::string kNewWindowTitle = "\xd0\xc2\xb4\xb0\xbf\xda\xb4\xf2\xbf\xaa";
const std::string kGuideEndMarker =
    "-1-1.html\" title=\"" + kNewWindowTitle + "\" target=\"_blank\">";

constexpr std::size_t kPageSize = 1 << 20;

// Rows of the forum's other lists: the same markup up to the address, which leads to a
// section instead of a thread, so every row is a near miss that a search must reject.
std::string SectionRow(int n) {
    const std::string number = std::to_string(n);
    return "<tbody id=\"stickthread_" + number + "\">\n<tr>\n<td class=\"icn\">\n<a href=\"" +
           "http://127.0.0.1:18080/forum-" + number + "-1.html\" title=\"" + kNewWindowTitle +
           "\" target=\"_blank\">\n<img src=\"static/image/common/folder_new.gif\" /></a>\n</td>\n"
           "<th class=\"common\">\n<a href=\"forum.php?mod=viewthread&amp;tid=" +
           number +
           "\" onclick=\"atarget(this)\" class=\"xst\">"
           // "每日签到与问答交流" and "楼主" in GBK
           "\xc3\xbf\xc8\xd5\xc7\xa9\xb5\xbd\xd3\xeb\xce\xca\xb4\xf0\xbd\xbb\xc1\xf7</a>\n"
           "</th>\n<td class=\"by\"><cite><a href=\"space-uid-" +
           number + ".html\" c=\"1\">\xc2\xa5\xd6\xf7" + number +
           "</a></cite><em><span>2026-12-11 07:00</span></em></td>\n"
           "<td class=\"num\"><a href=\"forum.php\" class=\"xi2\">12</a><em>345</em></td>\n"
           "</tr>\n</tbody>\n";
}

std::string MakeGuidePage() {
    std::string page =
        "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\">\n<html>\n<head>\n"
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\" />\n"
        "<title>\xd7\xee\xd0\xc2\xcc\xfb\xd7\xd3</title>\n</head>\n<body>\n<table>\n";
    const std::string threadRow =
        "<tbody id=\"normalthread_987654\">\n<tr>\n<td class=\"icn\">\n"
        "<a href=\"" +
        kThreadUrlPrefix + "987654" + kGuideEndMarker + "\n</a>\n</td>\n</tr>\n</tbody>\n";
    const std::string footer = "</table>\n</body>\n</html>\n";
    for (int n = 1; page.size() + threadRow.size() + footer.size() < kPageSize; ++n)
        page += SectionRow(n);
    page.resize(kPageSize - threadRow.size() - footer.size(), ' ');
    page += threadRow;
    page += footer;
    return page;
}

const std::string &GuidePage() {
    static const std::string page = MakeGuidePage();
    return page;
}

void Report(benchmark::State &state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(GuidePage().size()));
}

void BM_StringViewFind(benchmark::State &state) {
    const std::string_view page = GuidePage();
    for (auto _ : state)
        benchmark::DoNotOptimize(page.find(kGuideStartMarker));
    Report(state);
}
BENCHMARK(BM_StringViewFind);

void BM_FindTextExact(benchmark::State &state) {
    const std::string_view page = GuidePage();
    for (auto _ : state)
        benchmark::DoNotOptimize(viewer::FindText(page, kGuideStartMarker));
    Report(state);
}
BENCHMARK(BM_FindTextExact);

void BM_FindTextIgnoreCase(benchmark::State &state) {
    const std::string_view page = GuidePage();
    for (auto _ : state)
        benchmark::DoNotOptimize(viewer::FindText(page, kGuideStartMarker, 1, true));
    Report(state);
}
BENCHMARK(BM_FindTextIgnoreCase);

// A needle of letters only, the case in which no byte of it can be searched for as it is.
void BM_FindTextIgnoreCaseLetters(benchmark::State &state) {
    const std::string_view page = GuidePage();
    for (auto _ : state)
        benchmark::DoNotOptimize(viewer::FindText(page, "normalthread", 1, true));
    Report(state);
}
BENCHMARK(BM_FindTextIgnoreCaseLetters);

void BM_ExtractBetween(benchmark::State &state) {
    const std::string_view page = GuidePage();
    for (auto _ : state)
        benchmark::DoNotOptimize(viewer::ExtractBetween(page, kGuideStartMarker, kGuideEndMarker));
    Report(state);
}
BENCHMARK(BM_ExtractBetween);

}  // namespace
