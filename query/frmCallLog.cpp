#include "frmCallLog.h"

#include "CallLogExport.h"
#include "CallLogModel.h"
#include "JournalService.h"
#include "RegionalClock.h"
#include "Twips.h"
#include "frmMain2.h"
#include "frmPhonebook.h"

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>

namespace tova {

namespace {

constexpr QSize kClientSize = twipsSize(13200, 8280);

constexpr ControlDesign kDesign[] = {
    {"lblSearch", "查找：", 120, 165, 720, 300},
    {"txtSearch", nullptr, 840, 120, 3000, 375},
    {"lblDirection", "方向：", 4020, 165, 720, 300},
    {"cboDirection", nullptr, 4740, 120, 1200, 375},
    {"lblDate", "日期：", 6120, 165, 720, 300},
    {"cboDate", nullptr, 6840, 120, 1560, 375},
    {"dtpFrom", nullptr, 8520, 120, 1800, 375},
    {"lblTo", "至", 10440, 165, 300, 300},
    {"dtpTo", nullptr, 10800, 120, 1800, 375},
    {"lblShortest", "最短时长（秒）：", 120, 645, 1800, 300},
    {"spnShortest", nullptr, 1920, 600, 1080, 375},
    {"lblCount", nullptr, 3240, 645, 3000, 300},
    {"cmdPhonebook", "电话本", 11400, 570, 1200, 435},
    {"grdCalls", nullptr, 120, 1080, 12960, 6480},
    {"lblNoteCaption", "备注：", 120, 7725, 720, 300},
    {"txtNote", nullptr, 840, 7680, 11760, 375},
};
constexpr const char* kTabOrder[] = {"txtSearch", "cboDirection", "cboDate",
                                     "dtpFrom",   "dtpTo",        "spnShortest",
                                     "grdCalls",  "txtNote",      "cmdPhonebook"};

// The direction filter's entries, as the journal spells them; the first lists every one.
const QStringList kDirections{QStringLiteral("全部"), kIncoming, kOutgoing, kMissed,
                              kLocalRecording};
enum DateChoice { kAll, kToday, kLastWeek, kLastMonth, kRange };
const QStringList kDates{QStringLiteral("全部"), QStringLiteral("今天"), QStringLiteral("最近7天"),
                         QStringLiteral("最近30天"), QStringLiteral("日期范围")};
constexpr int kLongestShortest = 24 * 3600;
const QString kDateEditFormat = QStringLiteral("yyyy-MM-dd");

template <class T> T* named(T* control, const char* name) {
    control->setObjectName(QString::fromLatin1(name));
    return control;
}

} // namespace

frmCallLog::frmCallLog()
    : m_menuBar(new QMenuBar(this))
    , m_client(new QWidget(this))
    , txtSearch(named(new QLineEdit(m_client), "txtSearch"))
    , cboDirection(named(new QComboBox(m_client), "cboDirection"))
    , cboDate(named(new QComboBox(m_client), "cboDate"))
    , dtpFrom(named(new QDateEdit(m_client), "dtpFrom"))
    , dtpTo(named(new QDateEdit(m_client), "dtpTo"))
    , spnShortest(named(new QSpinBox(m_client), "spnShortest"))
    , lblCount(named(new QLabel(m_client), "lblCount"))
    , cmdPhonebook(named(new QPushButton(m_client), "cmdPhonebook"))
    , grdCalls(named(new QTableView(m_client), "grdCalls"))
    , txtNote(named(new QLineEdit(m_client), "txtNote"))
    , m_model(new CallLogModel(this)) {
    setWindowTitle(QStringLiteral("通话记录"));
    mnuExport = m_menuBar->addAction(QStringLiteral("导出…"));
    mnuExport->setObjectName(QStringLiteral("mnuExport"));
    mnuPhonebook = m_menuBar->addAction(QStringLiteral("电话本"));
    mnuPhonebook->setObjectName(QStringLiteral("mnuPhonebook"));
    for (const char* name :
         {"lblSearch", "lblDirection", "lblDate", "lblTo", "lblShortest", "lblNoteCaption"})
        named(new QLabel(m_client), name);
    applyDesign(m_client, kDesign);
    applyTabOrder(m_client, kTabOrder);

    txtSearch->setPlaceholderText(QStringLiteral("号码、姓名、备注或文件名"));
    txtSearch->setClearButtonEnabled(true);
    cboDirection->addItems(kDirections);
    cboDate->addItems(kDates);
    const QDate today = ClockSeam::get().now().date();
    for (QDateEdit* edit : {dtpFrom, dtpTo}) {
        edit->setDisplayFormat(kDateEditFormat);
        edit->setCalendarPopup(true);
        edit->setDate(today);
        edit->setEnabled(false);
    }
    spnShortest->setRange(0, kLongestShortest);
    txtNote->setEnabled(false);
    grdCalls->setModel(m_model);
    grdCalls->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdCalls->setSelectionMode(QAbstractItemView::SingleSelection);
    grdCalls->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdCalls->verticalHeader()->hide();
    // One line a call: without it the view measures 100,000 rows.
    grdCalls->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grdCalls->horizontalHeader()->setStretchLastSection(true);
    grdCalls->setSortingEnabled(true);
    grdCalls->horizontalHeader()->setSortIndicator(int(CallLogColumn::Date), Qt::DescendingOrder);

    placeWithMenu(m_menuBar, m_client, kClientSize);

    connect(mnuExport, &QAction::triggered, this, &frmCallLog::mnuExport_Click);
    connect(mnuPhonebook, &QAction::triggered, this, &frmCallLog::mnuPhonebook_Click);
    connect(cmdPhonebook, &QPushButton::clicked, this, &frmCallLog::mnuPhonebook_Click);
    connect(txtSearch, &QLineEdit::textChanged, this, &frmCallLog::filter_Change);
    connect(cboDirection, &QComboBox::currentIndexChanged, this, &frmCallLog::filter_Change);
    connect(cboDate, &QComboBox::currentIndexChanged, this, &frmCallLog::cboDate_Change);
    connect(dtpFrom, &QDateEdit::dateChanged, this, &frmCallLog::filter_Change);
    connect(dtpTo, &QDateEdit::dateChanged, this, &frmCallLog::filter_Change);
    connect(spnShortest, &QSpinBox::valueChanged, this, &frmCallLog::filter_Change);
    connect(grdCalls, &QTableView::doubleClicked, this, &frmCallLog::grdCalls_DblClick);
    connect(grdCalls->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &frmCallLog::grdCalls_SelChange);
    connect(txtNote, &QLineEdit::editingFinished, this, &frmCallLog::txtNote_LostFocus);
    connect(m_model, &CallLogModel::answered, this, &frmCallLog::model_Answered);
    // Calls of another copy, notes written elsewhere, recordings added to the folder or taken
    // from it.
    connect(&JournalService::instance(), &JournalService::changed, m_model, &CallLogModel::refresh);
}

void frmCallLog::Form_Load() {
    JournalService::instance().write([](Journal& journal) { journal.markMissedSeen(); });
    reportJournalProblems(this);
    filter_Change();
}

void frmCallLog::showMissed() {
    cboDirection->setCurrentIndex(int(kDirections.indexOf(kMissed)));
    JournalService::instance().write([](Journal& journal) { journal.markMissedSeen(); });
}

void frmCallLog::cboDate_Change() {
    const bool range = cboDate->currentIndex() == kRange;
    dtpFrom->setEnabled(range);
    dtpTo->setEnabled(range);
    filter_Change();
}

void frmCallLog::filter_Change() {
    CallLogFilter filter;
    filter.text = txtSearch->text();
    if (cboDirection->currentIndex() > 0) filter.direction = cboDirection->currentText();
    const QDate today = ClockSeam::get().now().date();
    switch (cboDate->currentIndex()) {
    case kToday:
        filter.from = filter.to = today;
        break;
    case kLastWeek:
        filter.from = today.addDays(-6), filter.to = today;
        break;
    case kLastMonth:
        filter.from = today.addDays(-29), filter.to = today;
        break;
    case kRange:
        filter.from = dtpFrom->date(), filter.to = dtpTo->date();
        break;
    }
    filter.shortestMs = qint64(spnShortest->value()) * 1000;
    m_model->setFilter(filter);
}

void frmCallLog::model_Answered() {
    lblCount->setText(QStringLiteral("共 %1 条").arg(m_model->total()));
    // The selection went with the old rows; the call selected before is found again on the
    // first page, where a new one comes.
    for (int row = 0; row < std::min<qint64>(m_model->total(), CallLogModel::kPageRows); ++row) {
        const CallLogRow* call = m_model->call(row);
        if (call && call->id == m_selectedCall) return grdCalls->selectRow(row);
    }
}

void frmCallLog::grdCalls_SelChange() {
    // A note being written stays, whatever the rows do meanwhile.
    if (txtNote->hasFocus()) return;
    const QModelIndexList rows = grdCalls->selectionModel()->selectedRows();
    const CallLogRow* call = rows.isEmpty() ? nullptr : m_model->call(rows.first().row());
    if (call && call->id == m_selectedCall) return;
    m_selectedCall = call ? call->id : 0;
    txtNote->setText(call ? call->note : QString());
    txtNote->setEnabled(call != nullptr);
}

void frmCallLog::grdCalls_DblClick(const QModelIndex& index) {
    const CallLogRow* call = m_model->call(index.row());
    if (!call || !call->hasRecording()) return;
    DefaultForm<frmMain2>::Show().openRecording(call->fileName);
}

void frmCallLog::txtNote_LostFocus() {
    const qint64 call = m_selectedCall;
    const QString note = txtNote->text();
    if (call == 0) return;
    JournalService::instance().write(
        [call, note](Journal& journal) { journal.setNote(call, note); });
}

void frmCallLog::mnuExport_Click() {
    exportCallLog(this, m_model->filter(), m_model->order());
}

void frmCallLog::mnuPhonebook_Click() {
    DefaultForm<frmPhonebook>::Show();
}

} // namespace tova
