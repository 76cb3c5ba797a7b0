#pragma once

#include "Form.h"
#include "frmMain2.h"

#include <QString>

#include <chrono>

class QTemporaryDir;

namespace tova::test {

constexpr int kToneRate = 8000;
constexpr double kToneFrequency = 440.0;
constexpr double kToneAmplitude = 0.5;

// Writes `duration` of a 440 Hz tone at half scale as a mono 16-bit PCM WAV, the format the
// recorder stores calls in.
bool writeToneWav(const QString& path, std::chrono::milliseconds duration);

// The length of a sound file in milliseconds, -1 when it does not read as one.
qint64 soundFileLength(const QString& path);

// Points the system temporary folder, where the devices keep their working files, into `dir`.
void useTemporaryFolderIn(const QTemporaryDir& dir);

inline frmMain2* queryWindow() {
    return DefaultForm<frmMain2>::loaded();
}

template <class T> T* queryControl(const char* name) {
    frmMain2* window = queryWindow();
    return window ? window->findChild<T*>(QString::fromLatin1(name)) : nullptr;
}

// What a user does with the mouse: pick an entry of File1, choose "打开语音文件".
void selectFile(const QString& name);
void chooseOpen();

} // namespace tova::test
