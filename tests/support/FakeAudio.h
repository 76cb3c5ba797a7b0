#pragma once

#include <QtGlobal>

#include <chrono>

namespace tova::test {

// A sound system behind every multimedia device for the life of this object, where audio
// moves only when the test says so, and synchronously.
class FakeAudio {
public:
    FakeAudio();
    ~FakeAudio();
    // Every recording device gets d of a 440 Hz tone.
    void capture(std::chrono::milliseconds d) { move(d, true); }
    // Every playing device plays d, up to its end.
    void play(std::chrono::milliseconds d) { move(d, false); }

private:
    static void move(std::chrono::milliseconds d, bool capture);
};

// For the life of this object each save fails after this many bytes.
struct FullDisk {
    explicit FullDisk(qint64 bytesBeforeFailure = 0);
    ~FullDisk();
};

} // namespace tova::test
