#pragma once

#include "CallTags.h"
#include "FileListBox.h"
#include "FileNames.h"
#include "Journal.h"
#include "RecordingsFolder.h"
#include "WavProbe.h"
#include "frmMain2.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>

namespace tova::test {

// A recording of ms of tone, stored as the recorder stores calls: mono 16-bit PCM at 8 kHz.
inline bool writeRecording(const QString& name, int ms) {
    return writeTone(RecordingsFolder::file(name), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, ms);
}

// A recording of ms of silence that carries the call's tags, written as the recorder writes
// them: tags first, then the audio.
inline bool writeTaggedRecording(const QString& name, const CallInfo& call, int ms) {
    SF_INFO info{0, 8000, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* file = sf_open(fileNameBytes(RecordingsFolder::file(name)), SFM_WRITE, &info);
    if (!file) return false;
    writeCallTags(file, call);
    const std::vector<short> silence(std::size_t(ms * 8));
    const bool written = sf_write_short(file, silence.data(), sf_count_t(silence.size())) ==
                         sf_count_t(silence.size());
    return sf_close(file) == 0 && written;
}

// Points the system temporary folder, where the devices keep their working files, into `dir`.
inline void useTemporaryFolderIn(const QTemporaryDir& dir) {
    QDir().mkpath(dir.filePath(QStringLiteral("tmp")));
    qputenv("TMPDIR", QFile::encodeName(dir.filePath(QStringLiteral("tmp"))));
}

template <class T = QWidget> T* queryControl(const char* name) {
    frmMain2* window = DefaultForm<frmMain2>::loaded();
    return window ? window->findChild<T*>(QString::fromLatin1(name)) : nullptr;
}

// The journal's file, once it is there.
inline QString journalFile() {
    return Journal::path(RecordingsFolder::path());
}

// What a user does with the mouse: pick an entry of File1, choose "打开语音文件".
inline void selectFile(const QString& name) {
    auto* list = queryControl<FileListBox>("File1");
    const QList<QListWidgetItem*> found = list->findItems(name, Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(found[0]).center());
}

// As an input method commits what was typed, Chinese or not.
inline void typeText(QWidget* field, const QString& text) {
    QInputMethodEvent typed;
    typed.setCommitString(text);
    QApplication::sendEvent(field, &typed);
}

// Chooses a command of the window's menu bar.
inline void chooseMenu(QWidget* window, const char* name) {
    auto* bar = window->findChild<QMenuBar*>();
    QTest::mouseClick(bar, Qt::LeftButton, {},
                      bar->actionGeometry(window->findChild<QAction*>(name)).center());
}

inline void chooseOpen() {
    chooseMenu(DefaultForm<frmMain2>::loaded(), "mnuFileOpen");
}

} // namespace tova::test
