#pragma once

#include "Form.h"

class QAction;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QSpinBox;
class QTableView;

namespace tova {

class CallLogModel;

// The call log "通话记录": every call attempt, newest first, with filters that combine (a search,
// the direction, the date, a shortest length), the note of the selected call, its export, and
// the way to the phonebook. Opening it counts the missed calls as seen.
class frmCallLog : public Form {
    Q_OBJECT
public:
    frmCallLog();

    // The direction filter on 未接: the main window's missed-call line.
    void showMissed();

protected:
    void Form_Load() override;

private:
    void filter_Change();
    void cboDate_Change();
    void grdCalls_DblClick(const QModelIndex& index);
    void grdCalls_SelChange();
    void txtNote_LostFocus();
    void mnuExport_Click();
    void mnuPhonebook_Click();
    void model_Answered();

    QMenuBar* m_menuBar;
    QAction* mnuExport;
    QAction* mnuPhonebook;
    QWidget* m_client;
    QLineEdit* txtSearch;
    QComboBox* cboDirection;
    QComboBox* cboDate;
    QDateEdit* dtpFrom;
    QDateEdit* dtpTo;
    QSpinBox* spnShortest;
    QLabel* lblCount;
    QPushButton* cmdPhonebook;
    QTableView* grdCalls;
    QLineEdit* txtNote;
    CallLogModel* m_model;
    qint64 m_selectedCall = 0;
};

} // namespace tova
