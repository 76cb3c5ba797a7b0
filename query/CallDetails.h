#pragma once

#include <QList>

class QLabel;

namespace tova {

struct CallLogRow;

// Shows what is known of the selected call in five labels: number, name (the contact's first),
// direction, start and length. Caller ID comes from the telephone network, so each label shows
// plain text only.
class CallDetails {
public:
    // number, name, direction, start, length
    explicit CallDetails(const QList<QLabel*>& labels);

    // nullptr, or a file without audio, empties the labels.
    void show(const CallLogRow* call);

private:
    QList<QLabel*> m_labels;
};

} // namespace tova
