#pragma once

#include <QFile>

#include <sndfile.hh>

#include <cmath>
#include <numbers>
#include <vector>

namespace tova::test {

// What a WAV file on disk holds, as libsndfile reads it.
struct WavProbe {
    bool readable = false;
    int format = 0, sampleRate = 0, channels = 0;
    std::vector<double> mono; // first channel, -1 to 1

    explicit WavProbe(const QString& path) {
        SndfileHandle file(QFile::encodeName(path).constData());
        readable = bool(file);
        format = file.format();
        sampleRate = file.samplerate();
        channels = file.channels();
        std::vector<double> frames(std::size_t(file.frames() * channels));
        mono.resize(std::size_t(file.readf(frames.data(), file.frames())));
        for (std::size_t i = 0; i < mono.size(); ++i)
            mono[i] = frames[i * channels];
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
        std::vector<std::size_t> rises;
        for (std::size_t i = from + 1; i < to; ++i)
            if (mono[i - 1] < 0 && mono[i] >= 0) rises.push_back(i);
        if (rises.size() < 2) return 0;
        return double(rises.size() - 1) * sampleRate / double(rises.back() - rises.front());
    }
};

// Writes ms of a tone at hz (0 for silence) in the given libsndfile format.
inline bool writeTone(const QString& path, int format, int sampleRate, int channels, int ms,
                      double hz = 440) {
    SndfileHandle file(QFile::encodeName(path).constData(), SFM_WRITE, format, channels,
                       sampleRate);
    std::vector<double> pcm(std::size_t(qint64(ms) * sampleRate / 1000 * channels));
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = 0.5 * std::sin(2 * std::numbers::pi * hz * double(i / channels) / sampleRate);
    return file && file.write(pcm.data(), sf_count_t(pcm.size())) == sf_count_t(pcm.size());
}

} // namespace tova::test
