#pragma once

#include "WavProbe.h"

#include <QProcess>
#include <QTemporaryDir>

#include <random>

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

// Line signals at 8 kHz: pieces of one or two frequencies (0 for none), over and over, with
// the line's noise at the given amplitude.
struct Piece {
    int f1, f2, ms;
};
inline std::vector<int16_t> cadence(const QList<Piece>& pieces, int repeat, double noise = 0) {
    std::vector<int16_t> pcm;
    std::mt19937 random(7);
    std::normal_distribution<double> hiss(0, noise);
    const auto wave = [](int hz, size_t n) {
        return hz ? std::sin(2 * std::numbers::pi * hz * double(n) / 8000) : 0;
    };
    for (int r = 0; r < repeat; ++r)
        for (const Piece& p : pieces)
            for (int i = 0; i < p.ms * 8; ++i)
                pcm.push_back(int16_t(std::lround(
                    4000 * (wave(p.f1, pcm.size()) + wave(p.f2, pcm.size())) + hiss(random))));
    return pcm;
}

// A speaker on the line, as espeak-ng says it, at 8 kHz.
inline std::vector<int16_t> speech() {
    QProcess say;
    say.startCommand("sh -c \"espeak-ng -v cmn -w /dev/stdout '您好，请问王经理在吗？我是上次和您约好的，"
                     "关于合同的事情，我们下午三点见面可以吗？' | sox -t wav - -r 8000 -c 1 -b 16 "
                     "-e signed -t raw -\"");
    say.waitForFinished();
    const QByteArray raw = say.readAllStandardOutput();
    std::vector<int16_t> pcm(size_t(raw.size() / 2));
    memcpy(pcm.data(), raw.constData(), pcm.size() * 2);
    return pcm;
}

// Plays pcm into the private sound server's line once, from now on.
class SoundIntoLine {
public:
    explicit SoundIntoLine(const std::vector<int16_t>& pcm) {
        m_pacat.start("pacat", {"--playback", "--device=line", "--format=s16le", "--rate=8000",
                                "--channels=1", "--latency-msec=50"});
        m_pacat.waitForStarted();
        m_pacat.write(reinterpret_cast<const char*>(pcm.data()), qint64(pcm.size() * 2));
        m_pacat.closeWriteChannel();
    }
    ~SoundIntoLine() {
        m_pacat.kill();
        m_pacat.waitForFinished();
    }

private:
    QProcess m_pacat;
};

} // namespace tova::test
