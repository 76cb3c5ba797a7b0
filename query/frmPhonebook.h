#pragma once

#include "Form.h"
#include "Phonebook.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QTableWidget;

namespace tova {

// The phonebook "电话本": the contacts with their numbers and group; add, edit, delete, import
// from vCard or CSV, export as vCard. Their names show wherever their numbers do.
class frmPhonebook : public Form {
    Q_OBJECT
public:
    frmPhonebook();

protected:
    void Form_Load() override;

private:
    void grdContacts_SelChange();
    void cmdNew_Click();
    void cmdSave_Click();
    void cmdDelete_Click();
    void mnuImport_Click();
    void mnuExport_Click();
    void listContacts(qint64 select = 0);

    QMenuBar* m_menuBar;
    QAction* mnuImport;
    QAction* mnuExport;
    QWidget* m_client;
    QTableWidget* grdContacts;
    QLineEdit* txtName;
    QLineEdit* txtNumbers;
    QLineEdit* txtGroup;
    QPushButton* cmdNew;
    QPushButton* cmdSave;
    QPushButton* cmdDelete;
    QLabel* lblStatus;
    QList<Contact> m_contacts;
    qint64 m_editing = 0; // the contact in the fields; 0: a new one
};

} // namespace tova
