#include "QuerySupport.h"

#include "FileListBox.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>

#include <sndfile.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace tova::test {

bool writeToneWav(const QString& path, std::chrono::milliseconds duration) {
    SF_INFO info{};
    info.samplerate = kToneRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file) return false;
    std::vector<double> samples(static_cast<size_t>(duration.count()) * kToneRate / 1000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = kToneAmplitude *
                     std::sin(2 * std::numbers::pi * kToneFrequency * double(i) / kToneRate);
    const sf_count_t written =
        sf_write_double(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    return sf_close(file) == 0 && written == static_cast<sf_count_t>(samples.size());
}

qint64 soundFileLength(const QString& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file) return -1;
    sf_close(file);
    return info.samplerate > 0 ? info.frames * 1000 / info.samplerate : -1;
}

void useTemporaryFolderIn(const QTemporaryDir& dir) {
    const QString folder = dir.filePath(QStringLiteral("tmp"));
    QDir().mkpath(folder);
    qputenv("TMPDIR", QFile::encodeName(folder));
}

void selectFile(const QString& name) {
    auto* list = queryControl<FileListBox>("File1");
    QVERIFY(list);
    const QList<QListWidgetItem*> found = list->findItems(name, Qt::MatchExactly);
    QCOMPARE(found.size(), 1);
    list->scrollToItem(found.constFirst());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(found.constFirst()).center());
    QCOMPARE(list->FileName(), name);
}

void chooseOpen() {
    frmMain2* window = queryWindow();
    QVERIFY(window);
    auto* bar = window->findChild<QMenuBar*>();
    auto* action = window->findChild<QAction*>(QStringLiteral("mnuFileOpen"));
    QVERIFY(bar && action);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(action).center());
}

} // namespace tova::test
