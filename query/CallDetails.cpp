#include "CallDetails.h"

#include "Journal.h"
#include "RegionalClock.h"

#include <QLabel>

namespace tova {

CallDetails::CallDetails(const QList<QLabel*>& labels)
    : m_labels(labels) {
    for (QLabel* label : m_labels)
        label->setTextFormat(Qt::PlainText);
}

void CallDetails::show(const CallLogRow* call) {
    QStringList texts(m_labels.size());
    if (call) {
        const RegionalClock& clock = ClockSeam::get();
        texts = {call->number, call->name(), call->direction,
                 clock.dateText(call->start.date()) + u' ' + clock.timeText(call->start.time()),
                 call->milliseconds < 0 ? QString()
                                        : secondsText(call->milliseconds, clock.decimalPoint()) +
                                              QStringLiteral(" 秒")};
    }
    for (qsizetype i = 0; i < m_labels.size(); ++i)
        m_labels[i]->setText(texts.value(i));
}

} // namespace tova
