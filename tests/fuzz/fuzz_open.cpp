// libFuzzer target: any bytes as a file that a device opens, plays back and saves.
#include "WavContent.h"

#include <QFile>
#include <QTemporaryDir>

using namespace tova;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    QFile file(dir.filePath("input.wav"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 0;
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();
    ContentFault fault = ContentFault::None;
    const std::unique_ptr<WavContent> content = WavContent::load(file.fileName(), dir.path(), fault);
    if (!content) return 0;
    const qint64 frames = content->frames();
    std::vector<qint16> pcm(std::size_t(256) * content->channels());
    content->read(0, pcm.data(), 256);
    content->read(qMax<qint64>(0, frames - 100), pcm.data(), 256);
    content->write(frames / 2, pcm.data(), 256);
    content->save(dir.filePath("saved.wav"), false);
    return 0;
}
