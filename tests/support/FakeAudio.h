#pragma once

#include <QtGlobal>

#include <chrono>
#include <memory>

namespace tova::test {

class FakeAudioBackend;

// A deterministic sound system behind every multimedia device for the life of this object;
// the real one comes back afterwards. Nothing happens on its own: audio moves only when the
// test says so, and synchronously.
class FakeAudio {
public:
    FakeAudio();
    ~FakeAudio();
    FakeAudio(const FakeAudio&) = delete;
    FakeAudio& operator=(const FakeAudio&) = delete;

    // The input delivers d of a 440 Hz tone, in the recording's format, to every device that
    // records; afterwards their Position and Length have moved on by d.
    void capture(std::chrono::milliseconds d);
    // The output plays d of what every playing device sends; Position moves on by d, up to
    // the end, where the device stops.
    void play(std::chrono::milliseconds d);
    // false: there is no input device, so Record fails with the error state set.
    void setInputAvailable(bool available);
    // The sound server goes away: running captures and playbacks stop with an error.
    void serverDies();

private:
    FakeAudioBackend* m_backend; // owned by the seam while installed
};

// For the life of this object the disk fills up after this many bytes of each "Save": a save
// that needs more fails there (a smaller file still fits).
class FullDisk {
public:
    explicit FullDisk(qint64 bytesBeforeFailure = 0);
    ~FullDisk();
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;
};

} // namespace tova::test
