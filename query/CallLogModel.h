#pragma once

#include "Journal.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QSet>

namespace tova {

// The call log as a table view shows it: every call the filter lets through, fetched from the
// journal a page at a time as the view scrolls to it, so that 100,000 calls cost what one page
// does. A click on a heading orders by that column.
class CallLogModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kPageRows = 200;

    explicit CallLogModel(QObject* parent = nullptr);

    void setFilter(const CallLogFilter& filter);
    const CallLogFilter& filter() const { return m_filter; }
    const CallLogOrder& order() const { return m_order; }
    // Asks again, keeping filter and order: the journal has changed.
    void refresh();

    // The call in that row, nullptr while its page has not come.
    const CallLogRow* call(int row) const;
    qint64 total() const { return m_total; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

signals:
    // A new answer: the number of rows and the first page.
    void answered();

private:
    void fetch(int page) const;

    CallLogFilter m_filter;
    CallLogOrder m_order;
    qint64 m_total = 0;
    int m_asked = 0; // answers to older questions are dropped
    mutable QHash<int, QList<CallLogRow>> m_pages;
    mutable QSet<int> m_fetching;
};

} // namespace tova
