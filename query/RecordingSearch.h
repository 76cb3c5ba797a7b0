#pragma once

#include <QString>

namespace tova {

class RecordingIndex;

// What a user looks for in the recordings folder: the files whose name, or whose call's number
// or caller's name, holds the text, ignoring case. An empty text finds every file.
class RecordingSearch {
public:
    RecordingSearch(const RecordingIndex& index, const QString& text);

    bool operator()(const QString& fileName) const;

private:
    const RecordingIndex& m_index;
    QString m_text;
};

} // namespace tova
