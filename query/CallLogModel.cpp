#include "CallLogModel.h"

#include "FileNames.h"
#include "JournalService.h"
#include "RegionalClock.h"

namespace tova {

namespace {
const QStringList kHeadings{QStringLiteral("日期"), QStringLiteral("时间"), QStringLiteral("方向"),
                            QStringLiteral("号码"), QStringLiteral("姓名"), QStringLiteral("时长"),
                            QStringLiteral("备注"), QStringLiteral("文件")};
} // namespace

CallLogModel::CallLogModel(QObject* parent)
    : QAbstractTableModel(parent) {}

void CallLogModel::setFilter(const CallLogFilter& filter) {
    m_filter = filter;
    refresh();
}

void CallLogModel::refresh() {
    const int asked = ++m_asked;
    const CallLogFilter filter = m_filter;
    const CallLogOrder order = m_order;
    JournalService::instance().ask<CallLogPage>(
        this,
        [filter, order](Journal& journal) { return journal.callLog(filter, order, 0, kPageRows); },
        [this, asked](const CallLogPage& page) {
            if (asked != m_asked) return;
            beginResetModel();
            m_total = page.total;
            m_pages = {{0, page.rows}};
            m_fetching.clear();
            endResetModel();
            emit answered();
        });
}

void CallLogModel::fetch(int page) const {
    if (m_fetching.contains(page)) return;
    m_fetching.insert(page);
    auto* self = const_cast<CallLogModel*>(this);
    const int asked = m_asked;
    const CallLogFilter filter = m_filter;
    const CallLogOrder order = m_order;
    JournalService::instance().ask<CallLogPage>(
        self,
        [filter, order, page](Journal& journal) {
            return journal.callLog(filter, order, qint64(page) * kPageRows, kPageRows);
        },
        [self, asked, page](const CallLogPage& answer) {
            if (asked != self->m_asked) return;
            self->m_pages.insert(page, answer.rows);
            const int first = page * kPageRows;
            emit self->dataChanged(self->index(first, 0),
                                   self->index(first + kPageRows - 1, kCallLogColumnCount - 1));
        });
}

const CallLogRow* CallLogModel::call(int row) const {
    const auto page = m_pages.constFind(row / kPageRows);
    if (page == m_pages.cend()) {
        if (row >= 0 && row < m_total) fetch(row / kPageRows);
        return nullptr;
    }
    const int at = row % kPageRows;
    return at < page->size() ? &page->at(at) : nullptr;
}

int CallLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_total);
}

int CallLogModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kCallLogColumnCount;
}

QVariant CallLogModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    const CallLogRow* row = call(index.row());
    if (!row) return {};
    const RegionalClock& clock = ClockSeam::get();
    switch (CallLogColumn(index.column())) {
    case CallLogColumn::Date:
        return clock.dateText(row->start.date());
    case CallLogColumn::Time:
        return clock.timeText(row->start.time());
    case CallLogColumn::Direction:
        return row->direction;
    case CallLogColumn::Number:
        return row->number;
    case CallLogColumn::Name:
        return row->name();
    case CallLogColumn::Length:
        return row->milliseconds < 0
                   ? QString()
                   : secondsText(row->milliseconds, clock.decimalPoint()) + QStringLiteral(" 秒");
    case CallLogColumn::Note:
        return row->note;
    case CallLogColumn::File:
        return displayFileName(row->fileName);
    }
    return {};
}

QVariant CallLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return kHeadings.value(section);
}

void CallLogModel::sort(int column, Qt::SortOrder order) {
    const CallLogOrder wanted{CallLogColumn(column), order == Qt::DescendingOrder};
    if (wanted.column == m_order.column && wanted.descending == m_order.descending) return;
    m_order = wanted;
    refresh();
}

} // namespace tova
