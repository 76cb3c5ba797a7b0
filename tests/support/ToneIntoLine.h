#pragma once

#include "WavProbe.h"

#include <QProcess>

namespace tova::test {

// A caller's voice on the telephone line: the private sound server plays a sine tone into its
// null sink "line", whose monitor is the default input, as long as this object lives.
class ToneIntoLine {
public:
    explicit ToneIntoLine(double hz) {
        QProcess pactl;
        pactl.start(QStringLiteral("pactl"), {"load-module", "module-sine", "sink=line",
                                              QStringLiteral("frequency=%1").arg(qRound(hz))});
        if (pactl.waitForFinished() && pactl.exitCode() == 0)
            m_module = pactl.readAllStandardOutput().trimmed();
    }
    ~ToneIntoLine() { QProcess::execute(QStringLiteral("pactl"), {"unload-module", m_module}); }
    ToneIntoLine(const ToneIntoLine&) = delete;

    bool playing() const { return !m_module.isEmpty(); }

private:
    QString m_module;
};

} // namespace tova::test
