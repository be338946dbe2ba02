#include "suggest/suggestion.h"

#include <QCoreApplication>

#include "suggest/suggestion_post.h"
#include "suggest/thanks_box.h"
#include "text/text.h"

namespace viewer {
namespace {

// "请输入您要反馈的问题！" and "请输入您的联系方式！" in the code page.
constexpr std::string_view kProblemCaption =
    "\xc7\xeb\xca\xe4\xc8\xeb\xc4\xfa\xd2\xaa\xb7\xb4\xc0\xa1\xb5\xc4\xce\xca\xcc\xe2\xa3\xa1";
constexpr std::string_view kContactCaption =
    "\xc7\xeb\xca\xe4\xc8\xeb\xc4\xfa\xb5\xc4\xc1\xaa\xcf\xb5\xb7\xbd\xca\xbd\xa3\xa1";
constexpr std::chrono::milliseconds kExitWaitBound{3000};

std::string &FeedbackUrlOverride() {
    static std::string url;
    return url;
}

void StopPostsOnExit() {
    StopSuggestionPosts(kExitWaitBound);
}

// Running workers are stopped and awaited before the application and libcurl go away.
void WatchApplicationExit() {
    static bool watching = false;
    QCoreApplication *app = QCoreApplication::instance();
    if (watching || app == nullptr)
        return;
    watching = true;
    QObject::connect(app, &QCoreApplication::aboutToQuit, app, &StopPostsOnExit);
    qAddPostRoutine(&StopPostsOnExit);
}

}  // namespace

std::string_view FeedbackUrl() {
    const std::string &url = FeedbackUrlOverride();
    return url.empty() ? std::string_view(VIEWER_FEEDBACK_URL) : std::string_view(url);
}

void OverrideFeedbackUrlForTesting(std::string url) {
    FeedbackUrlOverride() = std::move(url);
}

std::string SuggestionBody(std::string_view contact, std::string_view problem) {
    return JoinTexts(std::string_view("title="), contact, std::string_view("&content="), problem);
}

void SendSuggestion(const AskText &ask) {
    WatchApplicationExit();
    std::string problem;
    std::string contact;
    if (!ask(kProblemCaption, problem))
        return;
    if (!ask(kContactCaption, contact))
        return;
    std::string answer;
    {
        const std::string body = SuggestionBody(contact, problem);
        answer = PostWhileDispatching(FeedbackUrl(), body);
    }
    if (TextsEqual(answer, ""))
        return;
    QCoreApplication::processEvents();
    ShowThanksBox();
}

}  // namespace viewer
