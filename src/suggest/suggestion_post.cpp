#include "suggest/suggestion_post.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace viewer {
namespace {

FormPostOptions g_postOptions;
std::chrono::milliseconds g_waitBound = kSuggestionWaitBound;

// The one request that the GUI thread and its worker share.
struct PostRecord {
    std::string url;
    std::string body;
    FormPostOptions options;
    std::atomic<bool> stop{false};
    FormPostAnswer answer;  // written by the worker before `finished`
    std::atomic<bool> finished{false};
    std::mutex waiterMutex;
    QEventLoop *waiter = nullptr;  // set only while the GUI thread waits in it
};

struct Workers {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::shared_ptr<PostRecord>> running;
};

// Never destroyed: a worker still running at exit must not find it gone.
Workers &RunningWorkers() {
    static Workers *workers = new Workers;
    return *workers;
}

void Forget(const std::shared_ptr<PostRecord> &record) {
    Workers &workers = RunningWorkers();
    {
        const std::lock_guard lock(workers.mutex);
        std::erase(workers.running, record);
    }
    workers.changed.notify_all();
}

void RunPost(const std::shared_ptr<PostRecord> &record) {
    FormPostAnswer answer = FormPost(record->url, record->body, record->options, &record->stop);
    record->answer = std::move(answer);
    record->finished.store(true, std::memory_order_release);
    {
        const std::lock_guard lock(record->waiterMutex);
        if (record->waiter != nullptr)
            QMetaObject::invokeMethod(record->waiter, &QEventLoop::quit, Qt::QueuedConnection);
    }
    Forget(record);
}

// Ends the wait once the bound passes without user input, or when the application quits.
class WaitBound : public QObject {
public:
    WaitBound(QEventLoop &loop, const PostRecord &record, std::chrono::milliseconds bound)
        : m_loop(loop), m_record(record) {
        m_timer.setSingleShot(true);
        m_timer.setInterval(bound);
        connect(&m_timer, &QTimer::timeout, this, &WaitBound::giveUpUnlessFinished);
        m_timer.start();
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~WaitBound() override { QCoreApplication::instance()->removeEventFilter(this); }

    bool gaveUp() const { return m_gaveUp; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->isInputEvent())
            m_timer.start();
        else if (event->type() == QEvent::Quit && watched == QCoreApplication::instance())
            giveUpUnlessFinished();
        return false;
    }

private:
    void giveUpUnlessFinished() {
        if (m_record.finished.load(std::memory_order_acquire))
            return;  // its queued quit is on the way
        m_gaveUp = true;
        m_loop.quit();
    }

    QEventLoop &m_loop;
    const PostRecord &m_record;
    QTimer m_timer;
    bool m_gaveUp = false;
};

}  // namespace

std::string ResponseText(const FormPostAnswer &answer) {
    std::string text = answer.body;
    if (answer.utf8 && !text.empty()) {
        // A byte-order mark is kept as a character, so only an empty answer converts to nothing.
        QStringDecoder fromUtf8(QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom);
        const QString decoded = fromUtf8(QByteArrayView(text.data(), qsizetype(text.size())));
        QStringEncoder toCodePage("GB18030");
        const QByteArray bytes = toCodePage(decoded);
        text.assign(bytes.constData(), std::size_t(bytes.size()));
    }
    const auto zero = text.find('\0');
    if (zero != std::string::npos)
        text.resize(zero);
    return text;
}

std::string PostWhileDispatching(std::string_view url, std::string_view body) {
    auto record = std::make_shared<PostRecord>();
    record->url = url;
    record->body = body;
    record->options = g_postOptions;

    QEventLoop loop;
    const WaitBound bound(loop, *record, g_waitBound);
    {
        const std::lock_guard lock(record->waiterMutex);
        record->waiter = &loop;
    }
    {
        const std::lock_guard lock(RunningWorkers().mutex);
        RunningWorkers().running.push_back(record);
    }
    try {
        std::thread([record] { RunPost(record); }).detach();
    } catch (const std::system_error &) {
        Forget(record);
        return {};
    }

    if (!record->finished.load(std::memory_order_acquire))
        loop.exec();
    {
        const std::lock_guard lock(record->waiterMutex);
        record->waiter = nullptr;
    }
    if (bound.gaveUp() || !record->finished.load(std::memory_order_acquire))
        return {};
    return ResponseText(record->answer);
}

bool StopSuggestionPosts(std::chrono::milliseconds bound) {
    Workers &workers = RunningWorkers();
    std::unique_lock lock(workers.mutex);
    for (const auto &record : workers.running)
        record->stop.store(true);
    return workers.changed.wait_for(lock, bound, [&workers] { return workers.running.empty(); });
}

std::size_t RunningSuggestionPosts() {
    const std::lock_guard lock(RunningWorkers().mutex);
    return RunningWorkers().running.size();
}

void SetSuggestionPostOptionsForTesting(FormPostOptions options) {
    g_postOptions = std::move(options);
}

void SetSuggestionWaitBoundForTesting(std::chrono::milliseconds bound) {
    g_waitBound = bound;
}

}  // namespace viewer
