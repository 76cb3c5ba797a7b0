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
    Installed() { SeamType::install(std::unique_ptr<Fake>(m_fake)); }
    ~Installed() { SeamType::install(nullptr); }
    Installed(const Installed&) = delete;
    Fake* operator->() const { return m_fake; }

private:
    Fake* m_fake = new Fake;
};

// Records every message box and answers from a queue (OK when the queue is empty).
struct FakeMessageBoxes : MessageBoxes {
    struct Shown {
        QString prompt;
        int style;
        QString title;
    };
    QList<Shown> shown;
    QList<int> answers;
    // Runs while the box is "up", as a modal box would let events run.
    std::function<void()> whileShown;
    int show(QWidget*, const QString& prompt, int style, const QString& title) override {
        shown.append({prompt, style, title});
        if (whileShown) whileShown();
        return answers.isEmpty() ? vbOK : answers.takeFirst();
    }
};
using MessageBoxesFake = Installed<FakeMessageBoxes, MessageBoxSeam>;

// Answers file dialogs from a queue; an empty answer, or an empty queue, cancels.
struct FakeFileDialogs : FileDialogs {
    QStringList answers;
    QStringList filters; // what each dialog offered
    QString saveFileName(QWidget*, const QString& filter) override {
        filters << filter;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QString openFileName(QWidget* parent, const QString& filter) override {
        return saveFileName(parent, filter);
    }
};
using FileDialogsFake = Installed<FakeFileDialogs, FileDialogSeam>;

// A clock at set moments, each reading taking the next (the last one stays), with set formats.
struct FixedClock : RegionalClock {
    mutable QList<QDateTime> moments{QDateTime(QDate(2007, 3, 15), QTime(14, 5, 9))};
    QString dateFormat = QStringLiteral("yyyy-M-d");
    QString timeOfDayFormat = QStringLiteral("H:mm:ss");
    QDateTime now() const override { return moments.size() > 1 ? moments.takeFirst() : moments[0]; }
    QString shortDateFormat() const override { return dateFormat; }
    QString timeFormat() const override { return timeOfDayFormat; }
    QString decimalPoint() const override { return QStringLiteral("."); }
};
using ClockFake = Installed<FixedClock, ClockSeam>;

} // namespace tova::test
