#pragma once

#include "WavProbe.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace tova::test {

// Plays a tone into the private sound server's null sink "line", whose monitor is the
// default input: what a caller's voice on the telephone line would be.
class ToneIntoLine {
public:
    ToneIntoLine(double hz, int seconds) {
        const QString file = m_dir.filePath(QStringLiteral("tone.wav"));
        if (writeTone(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1, seconds * 1000, hz))
            m_player.start(QStringLiteral("paplay"), {QStringLiteral("--device=line"), file});
    }
    ~ToneIntoLine() {
        m_player.kill();
        m_player.waitForFinished();
    }
    ToneIntoLine(const ToneIntoLine&) = delete;

    // True once the server is playing it.
    bool playing() {
        return m_player.waitForStarted() && QTest::qWaitFor([] {
                   QProcess pactl;
                   pactl.start(QStringLiteral("pactl"), {"list", "short", "sink-inputs"});
                   return pactl.waitForFinished() && !pactl.readAllStandardOutput().isEmpty();
               }, 10000);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_player;
};

} // namespace tova::test
