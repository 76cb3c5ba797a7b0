#include "RecordingSearch.h"

#include "RecordingIndex.h"

namespace tova {

RecordingSearch::RecordingSearch(const RecordingIndex& index, const QString& text)
    : m_index(index)
    , m_text(text) {}

bool RecordingSearch::operator()(const QString& fileName) const {
    if (fileName.contains(m_text, Qt::CaseInsensitive)) return true;
    const Recording* recording = m_index.find(fileName);
    return recording && (recording->tagged.call.number.contains(m_text, Qt::CaseInsensitive) ||
                         recording->tagged.call.name.contains(m_text, Qt::CaseInsensitive));
}

} // namespace tova
