#pragma once

#include "CallInfo.h"

#include <sndfile.h>

namespace tova {

// A stored call as its file tells it: the call's fields from the file's RIFF INFO tags and the
// length of its audio.
struct TaggedCall {
    CallInfo call;
    qint64 milliseconds = -1; // -1: no audio libsndfile reads
};

inline const QString kTaggingSoftware = QStringLiteral("TOVA电话录音系统");

// Puts the call's fields into the file's INFO tags: number as title, name as artist, direction
// as comment, start as date (ISO 8601), how it ended as genre. Only a file opened for writing with no audio written
// yet takes them; empty fields are left out.
void writeCallTags(SNDFILE* file, const CallInfo& call);

// The call's fields from the tags of a file open for reading, cleaned as caller ID is.
CallInfo callTags(SNDFILE* file);

// The tags and length of the file at path, each field cleaned as caller ID is. A file without
// tags, or one that is no audio at all, gives empty fields.
TaggedCall readCallTags(const QString& path);

} // namespace tova
