#include "CallDetails.h"

#include "RecordingIndex.h"
#include "RegionalClock.h"

#include <QLabel>

namespace tova {

CallDetails::CallDetails(const QList<QLabel*>& labels)
    : m_labels(labels) {
    for (QLabel* label : m_labels)
        label->setTextFormat(Qt::PlainText);
}

void CallDetails::show(const Recording* recording) {
    QStringList texts(m_labels.size());
    if (recording && recording->isCall()) {
        const RegionalClock& clock = ClockSeam::get();
        const CallInfo& call = recording->tagged.call;
        const QDateTime started = recording->started();
        texts = {call.number, call.name, call.direction,
                 clock.dateText(started.date()) + u' ' + clock.timeText(started.time()),
                 secondsText(recording->tagged.milliseconds, clock.decimalPoint()) +
                     QStringLiteral(" 秒")};
    }
    for (qsizetype i = 0; i < m_labels.size(); ++i)
        m_labels[i]->setText(texts.value(i));
}

} // namespace tova
