#pragma once

#include "Form.h"
#include "RecordingsFolder.h"
#include "WavProbe.h"
#include "frmMain2.h"

#include <QString>

#include <chrono>

class QTemporaryDir;

namespace tova::test {

constexpr int kToneRate = 8000;
constexpr double kToneFrequency = 440.0;
constexpr double kToneAmplitude = 0.5; // what writeTone writes

// A recording named `name` in the recordings folder: `duration` of tone as mono 16-bit PCM,
// the format the recorder stores calls in.
inline bool writeRecording(const QString& name, std::chrono::milliseconds duration) {
    return writeTone(RecordingsFolder::file(name), SF_FORMAT_WAV | SF_FORMAT_PCM_16, kToneRate, 1,
                     int(duration.count()), kToneFrequency);
}

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
