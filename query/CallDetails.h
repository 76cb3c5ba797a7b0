#pragma once

#include <QList>

class QLabel;

namespace tova {

struct Recording;

// Shows what is known of the selected call in five labels: number, name, direction, start and
// length. Caller ID comes from the telephone network, so each label shows plain text only.
class CallDetails {
public:
    // number, name, direction, start, length
    explicit CallDetails(const QList<QLabel*>& labels);

    // nullptr, or a file without audio, empties the labels.
    void show(const Recording* recording);

private:
    QList<QLabel*> m_labels;
};

} // namespace tova
