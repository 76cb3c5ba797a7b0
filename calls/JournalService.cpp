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

// Files read in one transaction: about 30 ms of work, as long as a note may wait to be written.
constexpr int kLearnChunk = 200;
// Steps between the windows' looks at what the index knows so far.
constexpr int kStepsBetweenLooks = 10;
// How soon after the folder changes it is read: a call being stored changes it several times.
constexpr std::chrono::milliseconds kFolderSettles{300};
// How often another copy's commits are looked for: one cheap read of SQLite's shared memory.
constexpr std::chrono::seconds kOtherCopiesEvery{2};

JournalService* g_instance = nullptr;

} // namespace

// Lives on a thread of its own and owns a Journal there: one answers what the windows ask and
// writes what they write, the other reads the recordings folder into the index. WAL lets the
// first read while the second writes, so that a question never waits for 100,000 files.
class JournalWorker : public QObject {
public:
    enum Role { Requests, Learning };

    JournalWorker(JournalService& service, const QString& folder, Role role)
        : m_service(service)
        , m_folder(folder)
        , m_role(role) {}

    void start() {
        m_journal = std::make_unique<Journal>(m_folder);
        // Made and dropped on this thread, like everything with a timer.
        m_timer = std::make_unique<QTimer>();
        if (m_role == Requests) {
            m_timer->setInterval(kOtherCopiesEvery);
            connect(m_timer.get(), &QTimer::timeout, this, [this] { lookForOthers(); });
            m_timer->start();
            return wrote();
        }
        m_watcher = std::make_unique<QFileSystemWatcher>();
        m_timer->setSingleShot(true);
        m_timer->setInterval(kFolderSettles);
        connect(m_watcher.get(), &QFileSystemWatcher::directoryChanged, m_timer.get(),
                qOverload<>(&QTimer::start));
        connect(m_timer.get(), &QTimer::timeout, this, [this] { learnAgain(); });
        learnAgain();
    }

    void stop() {
        m_timer.reset();
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
        {
            std::lock_guard lock(m_service.m_mutex);
            m_service.m_missed = missed;
            m_service.m_phonebook = std::move(book);
        }
        // Our own commit must not read as another copy's at the next look.
        m_journal->changedElsewhere();
        QMetaObject::invokeMethod(
            &m_service, [&service = m_service, missed] { emit service.missedCountChanged(missed); },
            Qt::QueuedConnection);
        changed();
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
    // Tells the windows, with what became of a broken journal if this connection found one.
    void changed() {
        const QString problem = m_journal->takeProblem();
        if (!problem.isEmpty()) {
            std::lock_guard lock(m_service.m_mutex);
            m_service.m_problem = problem;
        }
        QMetaObject::invokeMethod(
            &m_service,
            [&service = m_service, problem] {
                if (!problem.isEmpty()) emit service.problem(problem);
                emit service.changed();
            },
            Qt::QueuedConnection);
    }

    void learnStep() {
        m_learning = true;
        const LearnProgress progress = m_journal->learn(m_rescan ? 0 : kLearnChunk);
        m_rescan = false;
        {
            std::lock_guard lock(m_service.m_mutex);
            m_service.m_progress = progress;
        }
        QMetaObject::invokeMethod(
            &m_service,
            [&service = m_service, progress] {
                emit service.learning(progress.done, progress.total);
            },
            Qt::QueuedConnection);
        if (progress.finished()) {
            m_learning = false;
            return changed();
        }
        // Now and then the windows see what is known so far; a change of the folder meanwhile
        // gets in between the steps.
        if (++m_steps % kStepsBetweenLooks == 0) changed();
        QMetaObject::invokeMethod(
            this, [this] { learnStep(); }, Qt::QueuedConnection);
    }

    void lookForOthers() {
        if (m_journal && m_journal->changedElsewhere()) wrote();
    }

    JournalService& m_service;
    QString m_folder;
    Role m_role;
    std::unique_ptr<Journal> m_journal;
    std::unique_ptr<QFileSystemWatcher> m_watcher;
    std::unique_ptr<QTimer> m_timer;
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

JournalService::JournalService(const QString& recordingsFolder) {
    m_phonebook = std::make_shared<const Phonebook>();
    for (const auto role : {JournalWorker::Requests, JournalWorker::Learning}) {
        auto* thread = new QThread;
        thread->setObjectName(role == JournalWorker::Requests ? QStringLiteral("journal")
                                                              : QStringLiteral("index"));
        auto* worker = new JournalWorker(*this, recordingsFolder, role);
        worker->moveToThread(thread);
        thread->start();
        QMetaObject::invokeMethod(
            worker, [worker] { worker->start(); }, Qt::QueuedConnection);
        m_threads.push_back(thread);
        m_workers.push_back(worker);
    }
}

JournalService::~JournalService() {
    for (std::size_t i = 0; i < m_threads.size(); ++i) {
        JournalWorker* worker = m_workers[i];
        QMetaObject::invokeMethod(
            worker, [worker] { worker->stop(); }, Qt::BlockingQueuedConnection);
        m_threads[i]->quit();
        m_threads[i]->wait();
        delete worker;
        delete m_threads[i];
    }
}

void JournalService::run(std::function<void(Journal&)> work, bool writes) {
    QMetaObject::invokeMethod(
        m_workers.front(),
        [worker = m_workers.front(), work = std::move(work), writes] {
            worker->run(work);
            if (writes) worker->wrote();
        },
        Qt::QueuedConnection);
}

void JournalService::saveAttempt(const CallAttempt& attempt) {
    write([attempt](Journal& journal) { journal.saveAttempt(attempt); });
}

void JournalService::linkRecording(const QString& attemptKey, const QString& fileName) {
    write(
        [attemptKey, fileName](Journal& journal) { journal.linkRecording(attemptKey, fileName); });
    folderChanged();
}

void JournalService::linkRecovered(const QString& fileName) {
    write([fileName](Journal& journal) { journal.linkRecovered(fileName); });
    folderChanged();
}

void JournalService::folderChanged() {
    QMetaObject::invokeMethod(
        m_workers.back(), [worker = m_workers.back()] { worker->learnAgain(); },
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
