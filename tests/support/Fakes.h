#pragma once

#include "CommonDialog.h"
#include "MessageBoxes.h"
#include "RegionalClock.h"

#include <QList>
#include <QStringList>

#include <functional>

namespace tova::test {

// Installs a fake behind a seam for the life of this object, then puts the real one back.
template <class Fake, class SeamType> class Installed {
public:
    Installed() {
        auto fake = std::make_unique<Fake>();
        m_fake = fake.get();
        SeamType::install(std::move(fake));
    }
    ~Installed() { SeamType::install(nullptr); }
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;
    Fake* operator->() const { return m_fake; }
    Fake& operator*() const { return *m_fake; }

private:
    Fake* m_fake;
};

// Records every message box and answers from a queue (OK when the queue is empty).
class FakeMessageBoxes : public MessageBoxes {
public:
    struct Shown {
        QString prompt;
        int style;
        QString title;
    };
    int show(QWidget* parent, const QString& prompt, int style, const QString& title) override;

    QList<Shown> shown;
    QList<int> answers;
    // Runs while the box is "up", as a modal box would let events run.
    std::function<void()> whileShown;
};
using MessageBoxesFake = Installed<FakeMessageBoxes, MessageBoxSeam>;

// Answers save-file dialogs from a queue; an empty answer, or an empty queue, cancels.
class FakeFileDialogs : public FileDialogs {
public:
    QString saveFileName(QWidget* parent, const QString& filter) override;

    QStringList answers;
    QStringList filters;
};
using FileDialogsFake = Installed<FakeFileDialogs, FileDialogSeam>;

// A clock that stands still at a set moment, with set regional formats.
class FixedClock : public RegionalClock {
public:
    QDateTime now() const override {
        return moments.size() > 1 ? moments.takeFirst() : moments.first();
    }
    QString shortDateFormat() const override { return dateFormat; }
    QString timeFormat() const override { return timeOfDayFormat; }
    QString decimalPoint() const override { return point; }

    // Each reading takes the next moment; the last one stays.
    mutable QList<QDateTime> moments{QDateTime(QDate(2007, 3, 15), QTime(14, 5, 9))};
    QString dateFormat = QStringLiteral("yyyy-M-d");
    QString timeOfDayFormat = QStringLiteral("H:mm:ss");
    QString point = QStringLiteral(".");
};
using ClockFake = Installed<FixedClock, ClockSeam>;

} // namespace tova::test
