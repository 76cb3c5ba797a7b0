#include "CallTags.h"

#include "FileNames.h"

#include <sndfile.h>

namespace tova {

namespace {

void setTag(SNDFILE* file, int tag, const QString& value) {
    if (!value.isEmpty()) sf_set_string(file, tag, value.toUtf8().constData());
}

QString tag(SNDFILE* file, int tag) {
    return cleanCallerField(QString::fromUtf8(sf_get_string(file, tag)));
}

} // namespace

void writeCallTags(SNDFILE* file, const CallInfo& call) {
    setTag(file, SF_STR_TITLE, call.number);
    setTag(file, SF_STR_ARTIST, call.name);
    setTag(file, SF_STR_COMMENT, call.direction);
    setTag(file, SF_STR_GENRE, call.ending);
    // With its offset from UTC, which Qt leaves out of a local time, so that the moment is the
    // same wherever the file is read.
    const QDateTime start = call.start.toOffsetFromUtc(call.start.offsetFromUtc());
    if (start.isValid()) setTag(file, SF_STR_DATE, start.toString(Qt::ISODate));
    setTag(file, SF_STR_SOFTWARE, kTaggingSoftware);
}

CallInfo callTags(SNDFILE* file) {
    return {tag(file, SF_STR_TITLE), tag(file, SF_STR_ARTIST), tag(file, SF_STR_COMMENT),
            QDateTime::fromString(tag(file, SF_STR_DATE), Qt::ISODate), tag(file, SF_STR_GENRE)};
}

TaggedCall readCallTags(const QString& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(fileNameBytes(path).constData(), SFM_READ, &info);
    if (!file) return {};
    TaggedCall tagged;
    tagged.call = callTags(file);
    if (info.samplerate > 0) tagged.milliseconds = info.frames * 1000 / info.samplerate;
    sf_close(file);
    return tagged;
}

} // namespace tova
