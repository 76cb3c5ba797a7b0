#pragma once

#include "Journal.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QThread;

namespace tova {

class JournalWorker;

// The journal of the recordings folder for the windows: every database call runs on a thread
// of its own, so that a journal that another copy holds, or a slow disk, never holds up a
// window. Answers come back on the thread the service lives on (the windows'). A second thread
// reads the recordings folder in the background (what the index does not yet hold, and
// whatever is added or removed later); the service notices what other copies write.
class JournalService : public QObject {
    Q_OBJECT
public:
    // The one for recordingsFolder(), started at first use and stopped with the application.
    static JournalService& instance();
    explicit JournalService(const QString& recordingsFolder);
    ~JournalService() override;

    // Runs work on the journal's thread, then done with its result on this thread, unless
    // context has gone by then.
    template <class Result>
    void ask(QObject* context, std::function<Result(Journal&)> work,
             std::function<void(const Result&)> done, bool writes = false) {
        QPointer<QObject> guard(context);
        run(
            [this, guard, work = std::move(work), done = std::move(done)](Journal& journal) {
                Result result = work(journal);
                QMetaObject::invokeMethod(
                    this,
                    [guard, done, result = std::move(result)] {
                        if (guard) done(result);
                    },
                    Qt::QueuedConnection);
            },
            writes);
    }
    // The same for work that writes: changed() follows it.
    template <class Result>
    void change(QObject* context, std::function<Result(Journal&)> work,
                std::function<void(const Result&)> done) {
        ask(context, std::move(work), std::move(done), true);
    }
    void write(std::function<void(Journal&)> work) { run(std::move(work), true); }

    void saveAttempt(const CallAttempt& attempt);
    void linkRecording(const QString& attemptKey, const QString& fileName);
    void linkRecovered(const QString& fileName);
    // Something was stored in the folder or taken from it: it is read again soon.
    void folderChanged();

    // The phonebook's name for a number, from a copy held here: no database, no wait.
    QString contactName(const QString& number) const;
    LearnProgress progress() const;
    int missedCount() const;
    // Once: what became of a broken journal; else empty.
    QString takeProblem();

signals:
    // The journal changed, by a write of this copy, another copy's, or the folder's files.
    void changed();
    void learning(qint64 done, qint64 total);
    void missedCountChanged(int count);
    void problem(const QString& message);

private:
    friend class JournalWorker;
    void run(std::function<void(Journal&)> work, bool writes);

    // The one that answers, then the one that learns the folder.
    std::vector<QThread*> m_threads;
    std::vector<JournalWorker*> m_workers;
    mutable std::mutex m_mutex; // guards what the worker hands over below
    std::shared_ptr<const Phonebook> m_phonebook;
    LearnProgress m_progress;
    int m_missed = 0;
    QString m_problem;
};

} // namespace tova
