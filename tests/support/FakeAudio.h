#pragma once

#include <QtGlobal>

#include <chrono>
#include <memory>

namespace tova::test {

class FakeAudioBackend;

// A sound system behind every multimedia device for the life of this object, where audio
// moves only when the test says so, and synchronously.
class FakeAudio {
public:
    FakeAudio();
    ~FakeAudio();
    FakeAudio(const FakeAudio&) = delete;
    FakeAudio& operator=(const FakeAudio&) = delete;

    // Every recording device gets d of a 440 Hz tone.
    void capture(std::chrono::milliseconds d);
    // Every playing device plays d, up to its end.
    void play(std::chrono::milliseconds d);
    void setInputAvailable(bool available);
    void serverDies();

private:
    FakeAudioBackend* m_backend; // owned by the seam while installed
};

// For the life of this object each save fails after this many bytes.
class FullDisk {
public:
    explicit FullDisk(qint64 bytesBeforeFailure = 0);
    ~FullDisk();
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;
};

} // namespace tova::test
