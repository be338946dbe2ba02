#include "demo_forum.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

#include <array>
#include <charconv>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>

namespace viewer::demo {

namespace {

// Pages are written here in UTF-8 and leave the generators as GBK.
constexpr std::string_view kForumName = "翎澜演示论坛";

constexpr std::string_view kStyle = R"(<style>
body{margin:0;background:#eef2f6;color:#333;font:14px/1.7 "Noto Sans CJK SC","Microsoft YaHei","SimSun",sans-serif}
a{color:#23578c;text-decoration:none}
a:hover{color:#c0392b;text-decoration:underline}
#hd{background:linear-gradient(#3b7bbf,#2a5f99);color:#fff;padding:0 16px;height:44px;line-height:44px}
#hd .logo{font-size:19px;font-weight:bold;color:#fff;letter-spacing:1px}
#hd .nav{float:right}
#hd .nav a{color:#dcebfa;margin-left:18px}
#wp{max-width:860px;margin:0 auto;padding:8px 12px}
#pt{color:#888;font-size:12px;margin:2px 0 8px}
.box{background:#fff;border:1px solid #d5dde6;border-radius:4px;margin-bottom:10px;overflow:hidden}
.box h2{margin:0;padding:6px 12px;font-size:14px;background:#f5f8fb;border-bottom:1px solid #e3e9ef;color:#2a5f99}
table.tl{width:100%;border-collapse:collapse}
table.tl th,table.tl td{padding:6px 8px;border-bottom:1px solid #eef1f5;text-align:left;font-weight:normal}
table.tl tr.hdr td{color:#999;font-size:12px;background:#fafbfc}
td.icn{width:22px}
.ico{display:inline-block;width:14px;height:14px;border-radius:3px;background:#8db8e4;vertical-align:middle}
td.by,td.num{width:120px;font-size:12px;color:#999}
td.by cite{display:block;font-style:normal;color:#555}
.new{color:#e67e22;font-size:12px;margin-left:6px}
h1{margin:0;padding:10px 14px 4px;font-size:19px;color:#222}
.meta{padding:0 14px 8px;color:#999;font-size:12px;border-bottom:1px solid #eef1f5}
.post{display:flex;border-bottom:1px solid #eef1f5}
.post:last-child{border-bottom:0}
.pls{width:110px;flex:none;background:#f7f9fb;padding:12px;text-align:center;font-size:12px;color:#777}
.avatar{width:48px;height:48px;margin:0 auto 6px;border-radius:50%;background:#b9cfe6;color:#fff;font-size:22px;line-height:48px}
.pls b{display:block;color:#23578c}
.plc{flex:1;padding:8px 14px}
.plc .floor{float:right;color:#bbb;font-size:12px}
.plc .time{color:#999;font-size:12px}
.plc p{margin:6px 0}
.pg{padding:8px 12px;font-size:13px}
.pg a,.pg strong{display:inline-block;min-width:22px;padding:0 6px;margin-right:4px;border:1px solid #cfd8e2;border-radius:3px;text-align:center;background:#fff}
.pg strong{background:#2a5f99;border-color:#2a5f99;color:#fff}
.nav2{padding:8px 12px;font-size:13px;color:#999}
.nav2 a{margin-right:18px}
iframe{display:block;width:100%;height:92px;border:0;border-top:1px solid #eef1f5}
#ft{text-align:center;color:#aaa;font-size:12px;padding:10px 0 16px}
</style>)";

constexpr std::array<std::string_view, 15> kTitles = {
    "周末去西湖骑行的路线推荐",         "新手求助：家里的路由器总是掉线怎么办",
    "分享一道家常红烧肉的做法",         "今年冬天第一场雪，随手拍几张",
    "大家平时都用什么软件记笔记？",     "老房子装修踩过的坑，给后来人提个醒",
    "孩子上小学前需要准备些什么",       "二手书交换帖：欢迎大家来换书",
    "旧电脑装上新系统之后快了很多",     "推荐几部最近看过的好电影",
    "小区楼下新开了一家面馆，味道不错", "求推荐适合初学者的吉他",
    "记录一次说走就走的短途旅行",       "阳台种菜第三年的一点心得",
    "论坛使用小技巧汇总（持续更新）",
};

constexpr std::array<std::string_view, 8> kAuthors = {
    "清风徐来", "小鱼儿", "老张", "山间明月", "阿木", "半夏", "北方的狼", "晴天",
};

constexpr std::array<std::string_view, 8> kParagraphs = {
    "前几天和朋友聊起这件事，觉得值得写下来和大家分享一下。",
    "说来也巧，我也是偶然才发现的，之前一直没有注意到。",
    "整个过程其实并不复杂，关键是要有耐心，一步一步来。",
    "网上的说法很多，我挑了几个自己试过、觉得靠谱的写在这里。",
    "如果有说得不对的地方，欢迎各位坛友指正，互相学习。",
    "最后提醒一句：量力而行，安全第一，别嫌麻烦。",
    "附上几点小经验，希望对有同样需要的朋友有点帮助。",
    "以后有新的进展我会在楼下继续更新，大家可以关注一下。",
};

constexpr std::array<std::string_view, 8> kReplies = {
    "感谢楼主分享，收藏了！",
    "写得很详细，学到了。",
    "我也遇到过类似的情况，后来按这个办法解决了。",
    "顶一下，希望更多人看到。",
    "请问楼主，第二步具体是怎么操作的？",
    "支持一下，期待后续更新。",
    "路过，看看大家怎么说。",
    "同感，深有体会。",
};

template <std::size_t N>
std::string_view Pick(const std::array<std::string_view, N> &pool, long long seed) {
    return pool[static_cast<std::size_t>((seed % static_cast<long long>(N) + N) % N)];
}

std::string Num(long long value) {
    return std::to_string(value);
}

std::string Ago(long long minutes) {
    if (minutes < 60) {
        return Num(minutes < 1 ? 1 : minutes) + " 分钟前";
    }
    if (minutes < 24 * 60) {
        return Num(minutes / 60) + " 小时前";
    }
    return Num(minutes / (24 * 60)) + " 天前";
}

// How long ago thread n was posted, in minutes: newer threads are younger.
long long PostedAgo(int thread, const ForumOptions &options) {
    return (static_cast<long long>(options.newestThread) - thread) * 43 + 3;
}

std::string ThreadHref(std::string_view baseUrl, long long thread, int page = 1) {
    std::string href(baseUrl);
    href += "thread-" + Num(thread) + "-" + Num(page) + "-1.html";
    return href;
}

std::string Head(std::string_view title) {
    std::string html;
    html += "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n";
    html += "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">\n";
    html += "<title>";
    html += title;
    html += "</title>\n";
    html += kStyle;
    html += "\n</head>\n";
    return html;
}

std::string Header(std::string_view baseUrl) {
    std::string html = "<div id=\"hd\"><span class=\"logo\">";
    html += kForumName;
    html += "</span><span class=\"nav\"><a href=\"";
    html += baseUrl;
    html += "forum.php?mod=guide&amp;view=new\">最新发表</a><a href=\"";
    html += baseUrl;
    html += "forum.php?mod=guide&amp;view=hot\">热门</a><a href=\"";
    html += baseUrl;
    html += "forum.php?mod=guide&amp;view=digest\">精华</a></span></div>\n";
    return html;
}

std::string Footer() {
    std::string html = "<div id=\"ft\">";
    html += kForumName;
    html += " · 仅供演示，内容均为虚构</div>\n";
    return html;
}

std::string Post(int floor, std::string_view author, long long minutesAgo,
                 std::string_view paragraphs) {
    std::string html = "<div class=\"post\">\n<div class=\"pls\"><div class=\"avatar\">";
    html += author.substr(0, 3);  // the first character: every name here is CJK, 3 bytes each
    html += "</div><b>";
    html += author;
    html += "</b>";
    html += floor == 1 ? "楼主" : "坛友";
    html += "</div>\n<div class=\"plc\"><span class=\"floor\">";
    html += floor == 1 ? std::string("楼主") : Num(floor) + "#";
    html += "</span><span class=\"time\">发表于 ";
    html += Ago(minutesAgo);
    html += "</span>\n";
    html += paragraphs;
    html += "</div>\n</div>\n";
    return html;
}

bool AllDigits(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

std::optional<int> ParseNumber(std::string_view text) {
    if (!AllDigits(text) || text.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// "thread-N-P-1.html" gives {N, P}.
std::optional<std::pair<int, int>> ParseThreadPath(std::string_view path) {
    constexpr std::string_view prefix = "thread-";
    constexpr std::string_view suffix = "-1.html";
    if (!StartsWith(path, prefix) || path.size() < prefix.size() + suffix.size() ||
        path.substr(path.size() - suffix.size()) != suffix) {
        return std::nullopt;
    }
    std::string_view middle =
        path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
    const auto dash = middle.find('-');
    if (dash == std::string_view::npos) {
        return std::nullopt;
    }
    const auto thread = ParseNumber(middle.substr(0, dash));
    const auto page = ParseNumber(middle.substr(dash + 1));
    if (!thread || !page) {
        return std::nullopt;
    }
    return std::pair{*thread, *page};
}

// The path of an absolute http address: "http://host:port/forum/" gives "/forum/".
std::string PathOf(std::string_view url) {
    const auto scheme = url.find("://");
    const auto start = url.find('/', scheme == std::string_view::npos ? 0 : scheme + 3);
    return start == std::string_view::npos ? std::string("/") : std::string(url.substr(start));
}

constexpr std::string_view kHtmlType = "Content-Type: text/html; charset=gbk\r\n";

}  // namespace

std::string ToGbk(std::string_view utf8) {
    QStringEncoder encoder("GB18030");
    const QByteArray bytes =
        encoder.encode(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::string FromGbk(std::string_view gbk) {
    QStringDecoder decoder("GB18030");
    const QString text =
        decoder.decode(QByteArrayView(gbk.data(), static_cast<qsizetype>(gbk.size())));
    return text.toUtf8().toStdString();
}

std::string NewestListPage(std::string_view baseUrl, const ForumOptions &options) {
    std::string html = Head(std::string("最新发表 - ") + std::string(kForumName));
    html += "<body>\n";
    html += Header(baseUrl);
    html += "<div id=\"wp\">\n<div id=\"pt\">";
    html += kForumName;
    html += "&nbsp;&rsaquo;&nbsp;最新发表</div>\n<div class=\"box\">\n<h2>最新发表</h2>\n";
    html += "<table class=\"tl\" summary=\"最新发表\" cellspacing=\"0\" cellpadding=\"0\">\n";
    html += "<tr class=\"hdr\">\n<td></td><td>标题</td><td>作者</td><td>回复/查看</td>\n</tr>\n";
    // Each row is opened exactly as the viewer's markers expect: newline-separated tags and a
    // new-window link in the icon cell, newest thread first.
    for (long long n = options.newestThread; n >= options.firstThread; --n) {
        const auto thread = static_cast<int>(n);
        html += "<tbody id=\"normalthread_" + Num(n) + "\">\n<tr>\n<td class=\"icn\">\n<a href=\"";
        html += ThreadHref(baseUrl, n);
        html +=
            "\" title=\"新窗口打开\" target=\"_blank\">\n<span class=\"ico\"></span></a>\n</td>\n";
        html += "<th class=\"common\">\n<a href=\"" + ThreadHref(baseUrl, n) + "\" class=\"xst\">";
        html += Pick(kTitles, n);
        html += "</a>";
        if (n == options.newestThread) {
            html += "<span class=\"new\">New</span>";
        }
        html += "\n</th>\n<td class=\"by\"><cite>";
        html += Pick(kAuthors, n);
        html += "</cite><em>" + Ago(PostedAgo(thread, options)) + "</em></td>\n";
        html += "<td class=\"num\">" + Num((n * 7) % 23 + 2) + " / " + Num((n * 37) % 900 + 60) +
                "</td>\n</tr>\n</tbody>\n";
    }
    html += "</table>\n</div>\n</div>\n";
    html += Footer();
    html += "</body>\n</html>\n";
    return ToGbk(html);
}

std::string ThreadPage(std::string_view baseUrl, int thread, int page,
                       const ForumOptions &options) {
    const std::string_view title = Pick(kTitles, thread);
    std::string html = Head(std::string(title) + " - " + std::string(kForumName));
    html += "<body>\n";
    html += Header(baseUrl);
    html += "<div id=\"wp\">\n<div id=\"pt\"><a href=\"";
    html += baseUrl;
    html += "forum.php?mod=guide&amp;view=new\">";
    html += kForumName;
    html += "</a>&nbsp;&rsaquo;&nbsp;主题 " + Num(thread) +
            (page > 1 ? "&nbsp;&rsaquo;&nbsp;第 " + Num(page) + " 页" : "") + "</div>\n";
    html += "<div class=\"box\">\n<h1>";
    html += title;
    html += "</h1>\n<div class=\"meta\">主题编号 " + Num(thread) + " · 查看 " +
            Num((thread * 37LL) % 900 + 60) + " · 回复 " + Num((thread * 7LL) % 23 + 2) +
            "</div>\n";

    const long long ago = PostedAgo(thread, options);
    if (page <= 1) {
        std::string text = "<p>";
        text += Pick(kParagraphs, thread);
        text += "</p>\n<p>";
        text += Pick(kParagraphs, thread + 3);
        text += "</p>\n<p>";
        text += Pick(kParagraphs, thread + 5);
        text += "</p>\n";
        html += Post(1, Pick(kAuthors, thread), ago, text);
        html += Post(2, Pick(kAuthors, thread + 3), ago > 20 ? ago - 20 : 1,
                     "<p>" + std::string(Pick(kReplies, thread)) + "</p>\n");
    } else {
        html += Post(3, Pick(kAuthors, thread + 5), ago > 30 ? ago - 30 : 1,
                     "<p>" + std::string(Pick(kReplies, thread + 2)) + "</p>\n");
        html += Post(4, Pick(kAuthors, thread), ago > 40 ? ago - 40 : 1,
                     "<p>谢谢大家的回复，我会继续更新的。</p>\n");
    }

    html += "<div class=\"pg\">";
    html +=
        page <= 1 ? "<strong>1</strong>" : "<a href=\"" + ThreadHref(baseUrl, thread) + "\">1</a>";
    html += page == 2 ? std::string("<strong>2</strong>")
                      : "<a href=\"" + ThreadHref(baseUrl, thread, 2) + "\">2</a>";
    if (page <= 1) {
        html += "<a href=\"" + ThreadHref(baseUrl, thread, 2) + "\" class=\"nxt\">下一页</a>";
    }
    html += "</div>\n</div>\n";

    html += "<div class=\"box\">\n<div class=\"nav2\">";
    if (thread > options.firstThread) {
        html += "<a href=\"" + ThreadHref(baseUrl, thread - 1LL) + "\">&lsaquo; 上一主题</a>";
    }
    if (thread < options.newestThread) {
        html += "<a href=\"" + ThreadHref(baseUrl, thread + 1LL) +
                "\" target=\"_blank\">下一主题 &rsaquo;</a>";
    }
    html += "<a href=\"";
    html += baseUrl;
    html += "forum.php?mod=guide&amp;view=new\">返回最新发表</a></div>\n";
    html += "<iframe src=\"";
    html += baseUrl;
    html += "frame-" + Num(thread) + ".html\" title=\"相关主题\"></iframe>\n</div>\n</div>\n";
    html += Footer();
    html += "</body>\n</html>\n";
    return ToGbk(html);
}

std::string FramePage(std::string_view baseUrl, int thread, const ForumOptions &options) {
    std::string html = Head("相关主题");
    html += "<body style=\"background:#fff\">\n<div class=\"box\" style=\"border:0;margin:0\">\n";
    html += "<h2>相关主题</h2>\n<div class=\"nav2\">";
    // Two neighbours inside the range, opened in a new window as the forum's sidebars do.
    for (long long other : {thread - 2LL, thread + 2LL}) {
        if (other >= options.firstThread && other <= options.newestThread) {
            html += "<a href=\"" + ThreadHref(baseUrl, other) + "\" target=\"_blank\">";
            html += Pick(kTitles, other);
            html += "</a>";
        }
    }
    html += "</div>\n</div>\n</body>\n</html>\n";
    return ToGbk(html);
}

std::string NotFoundPage(std::string_view baseUrl) {
    std::string html = Head(std::string("提示信息 - ") + std::string(kForumName));
    html += "<body>\n";
    html += Header(baseUrl);
    html += "<div id=\"wp\">\n<div class=\"box\">\n<h2>提示信息</h2>\n";
    html += "<div class=\"plc\"><p>抱歉，您访问的页面不存在或已被删除。</p>\n<p><a href=\"";
    html += baseUrl;
    html += "forum.php?mod=guide&amp;view=new\">返回最新发表</a></p></div>\n</div>\n</div>\n";
    html += Footer();
    html += "</body>\n</html>\n";
    return ToGbk(html);
}

struct DemoForum::State {
    explicit State(ForumOptions forumOptions)
        : options(std::move(forumOptions)),
          server([this](const loopback::Request &request) { return Answer(request); }) {}

    loopback::Reply Answer(const loopback::Request &request);
    loopback::Reply AnswerNewestList(const std::string &base);

    ForumOptions options;
    std::string fixedBaseUrl;
    std::string baseUrl;
    std::string basePath = "/";

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<loopback::Request> record;
    bool holdList = false;
    bool stopping = false;
    std::string listOverride;

    std::mutex observerMutex;
    std::function<void(const loopback::Request &)> observer;

    // Last, so that it stops, and no handler runs any more, before the rest goes away.
    loopback::LoopbackServer server;
};

loopback::Reply DemoForum::State::AnswerNewestList(const std::string &base) {
    std::string page;
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return !holdList || stopping; });
        page = listOverride;
    }
    if (page.empty()) {
        page = NewestListPage(base, options);
    }
    return loopback::Reply::Http(200, std::move(page), std::string(kHtmlType));
}

loopback::Reply DemoForum::State::Answer(const loopback::Request &request) {
    std::string base;
    std::string basePathNow;
    {
        std::lock_guard lock(mutex);
        record.push_back(request);
        base = baseUrl;
        basePathNow = basePath;
    }
    changed.notify_all();
    // The record above is the one this forum answers from; the server's own copy would only grow.
    server.clearRequests();
    {
        std::lock_guard lock(observerMutex);
        if (observer) {
            observer(request);
        }
    }

    std::string_view target = request.target;
    target = target.substr(0, target.find('#'));
    const auto queryAt = target.find('?');
    const std::string_view path = target.substr(0, queryAt);
    const std::string_view query =
        queryAt == std::string_view::npos ? std::string_view() : target.substr(queryAt + 1);

    if (path == "/qq.txt" || path == basePathNow + "qq.txt") {
        if (request.method != "POST") {
            return loopback::Reply::Http(405, "POST only\n",
                                         "Content-Type: text/plain\r\nAllow: POST\r\n");
        }
        return loopback::Reply::Http(200, "ok", "Content-Type: text/plain\r\n");
    }

    if (StartsWith(path, basePathNow)) {
        const std::string_view page = path.substr(basePathNow.size());
        if (page == "forum.php" && query.find("mod=guide") != std::string_view::npos) {
            return AnswerNewestList(base);
        }
        if (const auto thread = ParseThreadPath(page);
            thread && thread->first >= options.firstThread &&
            thread->first <= options.newestThread && (thread->second == 1 || thread->second == 2)) {
            return loopback::Reply::Http(200,
                                         ThreadPage(base, thread->first, thread->second, options),
                                         std::string(kHtmlType));
        }
        constexpr std::string_view framePrefix = "frame-";
        constexpr std::string_view frameSuffix = ".html";
        if (StartsWith(page, framePrefix) &&
            page.size() > framePrefix.size() + frameSuffix.size() &&
            page.substr(page.size() - frameSuffix.size()) == frameSuffix) {
            const auto thread = ParseNumber(page.substr(
                framePrefix.size(), page.size() - framePrefix.size() - frameSuffix.size()));
            if (thread && *thread >= options.firstThread && *thread <= options.newestThread) {
                return loopback::Reply::Http(200, FramePage(base, *thread, options),
                                             std::string(kHtmlType));
            }
        }
    }
    return loopback::Reply::Http(404, NotFoundPage(base), std::string(kHtmlType));
}

DemoForum::DemoForum(ForumOptions options) : m_state(std::make_unique<State>(std::move(options))) {}

DemoForum::~DemoForum() {
    stop();
}

bool DemoForum::start(std::uint16_t port) {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = false;
    }
    if (!m_state->server.start(port)) {
        return false;
    }
    std::lock_guard lock(m_state->mutex);
    m_state->baseUrl = m_state->fixedBaseUrl.empty()
                           ? "http://127.0.0.1:" + Num(m_state->server.port()) + "/"
                           : m_state->fixedBaseUrl;
    m_state->basePath = PathOf(m_state->baseUrl);
    return true;
}

void DemoForum::setBaseUrl(std::string baseUrl) {
    std::lock_guard lock(m_state->mutex);
    m_state->fixedBaseUrl = std::move(baseUrl);
}

void DemoForum::stop() {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
    }
    m_state->changed.notify_all();
    m_state->server.stop();
}

std::string DemoForum::baseUrl() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->baseUrl;
}

std::uint16_t DemoForum::port() const {
    return m_state->server.port();
}

void DemoForum::holdNewestList(bool hold) {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->holdList = hold;
    }
    m_state->changed.notify_all();
}

void DemoForum::setNewestListPage(std::string bytes) {
    std::lock_guard lock(m_state->mutex);
    m_state->listOverride = std::move(bytes);
}

std::vector<loopback::Request> DemoForum::requests() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->record;
}

bool DemoForum::waitForRequest(std::string_view targetPrefix, std::chrono::milliseconds timeout,
                               std::size_t skip) const {
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_for(lock, timeout, [&] {
        for (std::size_t i = skip; i < m_state->record.size(); ++i) {
            if (StartsWith(m_state->record[i].target, targetPrefix)) {
                return true;
            }
        }
        return false;
    });
}

void DemoForum::clearRequests() {
    std::lock_guard lock(m_state->mutex);
    m_state->record.clear();
}

void DemoForum::setRequestObserver(std::function<void(const loopback::Request &)> observer) {
    std::lock_guard lock(m_state->observerMutex);
    m_state->observer = std::move(observer);
}

}  // namespace viewer::demo
