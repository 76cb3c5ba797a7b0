#pragma once

#include <QFile>
#include <QString>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace tova::test {

// What a WAV file on disk holds, as libsndfile reads it.
struct WavProbe {
    bool readable = false;
    int format = 0;
    int sampleRate = 0;
    int channels = 0;
    std::vector<double> mono; // first channel, -1 to 1

    explicit WavProbe(const QString& path) {
        SF_INFO info{};
        SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
        if (!file) return;
        readable = true;
        format = info.format;
        sampleRate = info.samplerate;
        channels = info.channels;
        std::vector<double> frames(std::size_t(info.frames) * info.channels);
        const sf_count_t got = sf_readf_double(file, frames.data(), info.frames);
        for (sf_count_t i = 0; i < got; ++i)
            mono.push_back(frames[std::size_t(i) * info.channels]);
        sf_close(file);
    }

    qint64 frames() const { return qint64(mono.size()); }
    qint64 milliseconds() const { return sampleRate ? frames() * 1000 / sampleRate : 0; }

    double rms(std::size_t from = 0, std::size_t to = SIZE_MAX) const {
        to = std::min(to, mono.size());
        double sum = 0;
        for (std::size_t i = from; i < to; ++i)
            sum += mono[i] * mono[i];
        return to > from ? std::sqrt(sum / double(to - from)) : 0;
    }

    // The frequency of a clean tone, from how often it crosses zero going up.
    double toneHz(std::size_t from = 0, std::size_t to = SIZE_MAX) const {
        to = std::min(to, mono.size());
        int crossings = 0;
        std::size_t first = 0, last = 0;
        for (std::size_t i = from + 1; i < to; ++i) {
            if (mono[i - 1] < 0 && mono[i] >= 0) {
                if (crossings++ == 0) first = i;
                last = i;
            }
        }
        return crossings > 1 ? (crossings - 1) * double(sampleRate) / double(last - first) : 0;
    }
};

// Writes ms of a tone at hz (0 for silence) in the given libsndfile format.
inline bool writeTone(const QString& path, int format, int sampleRate, int channels, int ms,
                      double hz = 440) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file) return false;
    const qint64 frames = qint64(ms) * sampleRate / 1000;
    std::vector<double> pcm;
    for (qint64 i = 0; i < frames; ++i)
        pcm.insert(pcm.end(), channels,
                   0.5 * std::sin(2 * std::numbers::pi * hz * double(i) / sampleRate));
    const bool ok = sf_writef_double(file, pcm.data(), frames) == frames;
    sf_close(file);
    return ok;
}

} // namespace tova::test
