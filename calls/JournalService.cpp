#include "JournalService.h"

#include "AppInfo.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QThread>
#include <QTimer>

#include <chrono>

namespace tova {

namespace {

// Files read between two looks at what the windows ask: about 20 ms of work.
constexpr int kLearnChunk = 200;
// How soon after the folder changes it is read: a call being stored changes it several times.
constexpr std::chrono::milliseconds kFolderSettles{300};
// How often another copy's commits are looked for: one cheap read of SQLite's shared memory.
constexpr std::chrono::seconds kOtherCopiesEvery{2};

JournalService* g_instance = nullptr;

} // namespace

// Lives on the journal's thread and owns the Journal there.
class JournalWorker : public QObject {
public:
    JournalWorker(JournalService& service, const QString& folder)
        : m_service(service)
        , m_folder(folder) {}

    void start() {
        m_journal = std::make_unique<Journal>(m_folder);
        // Made and dropped on this thread, like everything with a timer.
        m_watcher = std::make_unique<QFileSystemWatcher>();
        m_settle = std::make_unique<QTimer>();
        m_poll = std::make_unique<QTimer>();
        m_settle->setSingleShot(true);
        m_settle->setInterval(kFolderSettles);
        m_poll->setInterval(kOtherCopiesEvery);
        connect(m_watcher.get(), &QFileSystemWatcher::directoryChanged, m_settle.get(),
                qOverload<>(&QTimer::start));
        connect(m_settle.get(), &QTimer::timeout, this, [this] { learnAgain(); });
        connect(m_poll.get(), &QTimer::timeout, this, [this] { lookForOthers(); });
        m_poll->start();
        learnAgain();
        wrote();
    }

    void stop() {
        m_poll.reset();
        m_settle.reset();
        m_watcher.reset();
        m_journal.reset();
    }

    void run(const std::function<void(Journal&)>& work) {
        if (m_journal) work(*m_journal);
    }

    // After a write: the count of missed calls and the phonebook may have changed.
    void wrote() {
        if (!m_journal) return;
        const int missed = m_journal->missedCount();
        auto book = std::make_shared<const Phonebook>(m_journal->phonebook());
        const QString problem = m_journal->takeProblem();
        {
            std::lock_guard lock(m_service.m_mutex);
            m_service.m_missed = missed;
            m_service.m_phonebook = std::move(book);
            if (!problem.isEmpty()) m_service.m_problem = problem;
        }
        // Our own commit must not read as another copy's at the next look.
        m_journal->changedElsewhere();
        QMetaObject::invokeMethod(&m_service, [&service = m_service, missed, problem] {
            if (!problem.isEmpty()) emit service.problem(problem);
            emit service.missedCountChanged(missed);
            emit service.changed();
        }, Qt::QueuedConnection);
    }

    void learnAgain() {
        if (!m_journal) return;
        // A folder made since, or made again, is watched from now on.
        if (m_watcher->directories().isEmpty() || !QFileInfo::exists(m_folder)) {
            m_watcher->removePaths(m_watcher->directories());
            if (QFileInfo::exists(m_folder)) m_watcher->addPath(m_folder);
        }
        m_rescan = true;
        if (!m_learning) learnStep();
    }

private:
    void learnStep() {
        m_learning = true;
        const LearnProgress progress = m_journal->learn(m_rescan ? 0 : kLearnChunk);
        m_rescan = false;
        {
            std::lock_guard lock(m_service.m_mutex);
            m_service.m_progress = progress;
        }
        QMetaObject::invokeMethod(&m_service, [&service = m_service, progress] {
            emit service.learning(progress.done, progress.total);
        }, Qt::QueuedConnection);
        if (progress.finished()) {
            m_learning = false;
            return wrote();
        }
        // Queued behind what the windows have asked meanwhile; a step that learned something
        // lets them see it.
        if (++m_steps % 5 == 0) wrote();
        QMetaObject::invokeMethod(this, [this] { learnStep(); }, Qt::QueuedConnection);
    }

    void lookForOthers() {
        if (m_journal && m_journal->changedElsewhere()) wrote();
    }

    JournalService& m_service;
    QString m_folder;
    std::unique_ptr<Journal> m_journal;
    std::unique_ptr<QFileSystemWatcher> m_watcher;
    std::unique_ptr<QTimer> m_settle;
    std::unique_ptr<QTimer> m_poll;
    bool m_learning = false;
    bool m_rescan = false;
    int m_steps = 0;
};

JournalService& JournalService::instance() {
    if (!g_instance) {
        g_instance = new JournalService(recordingsFolder());
        // Its thread ends before the application's objects go.
        qAddPostRoutine([] { delete std::exchange(g_instance, nullptr); });
    }
    return *g_instance;
}

JournalService::JournalService(const QString& recordingsFolder)
    : m_thread(new QThread)
    , m_worker(new JournalWorker(*this, recordingsFolder))
    , m_phonebook(std::make_shared<const Phonebook>()) {
    m_thread->setObjectName(QStringLiteral("journal"));
    m_worker->moveToThread(m_thread);
    m_thread->start();
    QMetaObject::invokeMethod(m_worker, [worker = m_worker] { worker->start(); },
                              Qt::QueuedConnection);
}

JournalService::~JournalService() {
    shutdown();
}

void JournalService::shutdown() {
    if (!m_thread) return;
    QMetaObject::invokeMethod(m_worker, [worker = m_worker] { worker->stop(); },
                              Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_worker;
    delete m_thread;
    m_worker = nullptr;
    m_thread = nullptr;
}

void JournalService::run(std::function<void(Journal&)> work, bool writes) {
    QMetaObject::invokeMethod(
        m_worker,
        [worker = m_worker, work = std::move(work), writes] {
            worker->run(work);
            if (writes) worker->wrote();
        },
        Qt::QueuedConnection);
}

void JournalService::saveAttempt(const CallAttempt& attempt) {
    write([attempt](Journal& journal) { journal.saveAttempt(attempt); });
}

void JournalService::linkRecording(const QString& attemptKey, const QString& fileName) {
    write([attemptKey, fileName](Journal& journal) {
        journal.linkRecording(attemptKey, fileName);
    });
    folderChanged();
}

void JournalService::linkRecovered(const QString& fileName) {
    write([fileName](Journal& journal) { journal.linkRecovered(fileName); });
    folderChanged();
}

void JournalService::folderChanged() {
    QMetaObject::invokeMethod(m_worker, [worker = m_worker] { worker->learnAgain(); },
                              Qt::QueuedConnection);
}

QString JournalService::contactName(const QString& number) const {
    std::lock_guard lock(m_mutex);
    return m_phonebook->nameOf(number);
}

LearnProgress JournalService::progress() const {
    std::lock_guard lock(m_mutex);
    return m_progress;
}

int JournalService::missedCount() const {
    std::lock_guard lock(m_mutex);
    return m_missed;
}

QString JournalService::takeProblem() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_problem, {});
}

} // namespace tova
