#pragma once

#include "AppInfo.h"

#include <QDir>
#include <QStringList>

#include <sndfile.h>

#include <vector>

namespace tova::test {

// The recordings folder beside the test program, there for the life of this object.
class RecordingsFolder {
public:
    RecordingsFolder() { QDir().mkpath(path()); }
    ~RecordingsFolder() { QDir(path()).removeRecursively(); }
    RecordingsFolder(const RecordingsFolder&) = delete;
    RecordingsFolder& operator=(const RecordingsFolder&) = delete;

    static QString path() { return recordingsFolder(); }
    static QStringList files() { return QDir(path()).entryList(QDir::Files, QDir::Name); }
};

// A WAV file as libsndfile reads it, samples interleaved as floats in [-1, 1].
struct WavFile {
    bool ok = false;
    int sampleRate = 0;
    int channels = 0;
    std::vector<float> samples;

    qint64 frames() const { return channels ? qint64(samples.size()) / channels : 0; }
    qint64 milliseconds() const { return sampleRate ? frames() * 1000 / sampleRate : 0; }

    static WavFile read(const QString& path) {
        WavFile wav;
        SF_INFO info{};
        SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
        if (!file) return wav;
        wav.sampleRate = info.samplerate;
        wav.channels = info.channels;
        wav.samples.resize(size_t(info.frames) * size_t(info.channels));
        wav.ok = sf_readf_float(file, wav.samples.data(), info.frames) == info.frames;
        sf_close(file);
        return wav;
    }
};

} // namespace tova::test
