#include "frmPhonebook.h"

#include "CommonDialog.h"
#include "ContactFiles.h"
#include "JournalService.h"
#include "MessageBoxes.h"
#include "Twips.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTableWidget>

namespace tova {

namespace {

constexpr QSize kClientSize = twipsSize(9600, 7200);

constexpr ControlDesign kDesign[] = {
    {"grdContacts", nullptr, 120, 120, 9360, 4800}, {"lblName", "姓名：", 120, 5085, 900, 300},
    {"txtName", nullptr, 1080, 5040, 3600, 375},    {"lblGroup", "分组：", 4920, 5085, 900, 300},
    {"txtGroup", nullptr, 5760, 5040, 3720, 375},   {"lblNumbers", "号码：", 120, 5565, 900, 300},
    {"txtNumbers", nullptr, 1080, 5520, 8400, 375}, {"cmdNew", "新建", 1080, 6060, 1095, 435},
    {"cmdSave", "保存", 2280, 6060, 1095, 435},     {"cmdDelete", "删除", 3480, 6060, 1095, 435},
    {"lblStatus", nullptr, 120, 6660, 9360, 375},
};
constexpr const char* kTabOrder[] = {"grdContacts", "txtName", "txtGroup", "txtNumbers",
                                     "cmdSave",     "cmdNew",  "cmdDelete"};

const QString kNumberSeparator = QStringLiteral("、");
const QRegularExpression kNumberSeparators(QStringLiteral("[、,，;；]"));
const QString kImportTypes =
    QStringLiteral("通讯录 (*.vcf *.csv);;vCard (*.vcf);;CSV 文件 (*.csv)");
const QString kExportTypes = QStringLiteral("vCard (*.vcf)");

template <class T> T* named(T* control, const char* name) {
    control->setObjectName(QString::fromLatin1(name));
    return control;
}

QStringList numbersIn(const QString& text) {
    QStringList numbers;
    for (const QString& number : text.split(kNumberSeparators))
        if (!number.trimmed().isEmpty()) numbers << number.trimmed();
    return numbers;
}

} // namespace

frmPhonebook::frmPhonebook()
    : m_menuBar(new QMenuBar(this))
    , m_client(new QWidget(this))
    , grdContacts(named(new QTableWidget(0, 3, m_client), "grdContacts"))
    , txtName(named(new QLineEdit(m_client), "txtName"))
    , txtNumbers(named(new QLineEdit(m_client), "txtNumbers"))
    , txtGroup(named(new QLineEdit(m_client), "txtGroup"))
    , cmdNew(named(new QPushButton(m_client), "cmdNew"))
    , cmdSave(named(new QPushButton(m_client), "cmdSave"))
    , cmdDelete(named(new QPushButton(m_client), "cmdDelete"))
    , lblStatus(named(new QLabel(m_client), "lblStatus")) {
    setWindowTitle(QStringLiteral("电话本"));
    mnuImport = m_menuBar->addAction(QStringLiteral("导入…"));
    mnuImport->setObjectName(QStringLiteral("mnuImport"));
    mnuExport = m_menuBar->addAction(QStringLiteral("导出…"));
    mnuExport->setObjectName(QStringLiteral("mnuExport"));
    for (const char* name : {"lblName", "lblGroup", "lblNumbers"})
        named(new QLabel(m_client), name);
    applyDesign(m_client, kDesign);
    applyTabOrder(m_client, kTabOrder);

    grdContacts->setHorizontalHeaderLabels(
        {QStringLiteral("姓名"), QStringLiteral("号码"), QStringLiteral("分组")});
    grdContacts->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdContacts->setSelectionMode(QAbstractItemView::SingleSelection);
    grdContacts->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdContacts->verticalHeader()->hide();
    grdContacts->horizontalHeader()->setStretchLastSection(true);
    txtNumbers->setPlaceholderText(QStringLiteral("多个号码用“、”分开"));
    lblStatus->setTextFormat(Qt::PlainText);

    placeWithMenu(m_menuBar, m_client, kClientSize);

    connect(mnuImport, &QAction::triggered, this, &frmPhonebook::mnuImport_Click);
    connect(mnuExport, &QAction::triggered, this, &frmPhonebook::mnuExport_Click);
    connect(grdContacts, &QTableWidget::itemSelectionChanged, this,
            &frmPhonebook::grdContacts_SelChange);
    connect(cmdNew, &QPushButton::clicked, this, &frmPhonebook::cmdNew_Click);
    connect(cmdSave, &QPushButton::clicked, this, &frmPhonebook::cmdSave_Click);
    connect(cmdDelete, &QPushButton::clicked, this, &frmPhonebook::cmdDelete_Click);
}

void frmPhonebook::Form_Load() {
    listContacts();
}

void frmPhonebook::listContacts(qint64 select) {
    JournalService::instance().ask<QList<Contact>>(
        this, [](Journal& journal) { return journal.contacts(); },
        [this, select](const QList<Contact>& contacts) {
            m_contacts = contacts;
            const QSignalBlocker quiet(grdContacts);
            grdContacts->setRowCount(int(contacts.size()));
            for (int row = 0; row < contacts.size(); ++row) {
                const Contact& contact = contacts[row];
                const QStringList texts{contact.name, contact.numbers.join(kNumberSeparator),
                                        contact.group};
                for (int column = 0; column < texts.size(); ++column)
                    grdContacts->setItem(row, column, new QTableWidgetItem(texts[column]));
                if (contact.id == select) grdContacts->selectRow(row);
            }
            if (select == 0) grdContacts->clearSelection();
        });
}

void frmPhonebook::grdContacts_SelChange() {
    const int row = grdContacts->currentRow();
    if (grdContacts->selectedItems().isEmpty() || row < 0 || row >= m_contacts.size()) return;
    const Contact& contact = m_contacts[row];
    m_editing = contact.id;
    txtName->setText(contact.name);
    txtNumbers->setText(contact.numbers.join(kNumberSeparator));
    txtGroup->setText(contact.group);
}

void frmPhonebook::cmdNew_Click() {
    m_editing = 0;
    grdContacts->clearSelection();
    for (QLineEdit* field : {txtName, txtNumbers, txtGroup})
        field->clear();
    txtName->setFocus();
}

void frmPhonebook::cmdSave_Click() {
    const Contact contact{m_editing, txtName->text().trimmed(), numbersIn(txtNumbers->text()),
                          txtGroup->text().trimmed()};
    if (contact.name.isEmpty() || contact.numbers.isEmpty()) {
        lblStatus->setText(QStringLiteral("请填写姓名和至少一个号码。"));
        return;
    }
    JournalService::instance().change<qint64>(
        this, [contact](Journal& journal) { return journal.saveContact(contact); },
        [this](qint64 id) {
            lblStatus->setText(id ? QStringLiteral("已保存。") : QStringLiteral("没有保存。"));
            if (id) m_editing = id;
            listContacts(id);
        });
}

void frmPhonebook::cmdDelete_Click() {
    const qint64 id = m_editing;
    if (id == 0) return;
    if (MsgBox(QStringLiteral("删除联系人“%1”吗？").arg(txtName->text()),
               vbYesNoCancel + vbQuestion, QStringLiteral("电话本"), this) != vbYes)
        return;
    JournalService::instance().change<bool>(
        this,
        [id](Journal& journal) {
            journal.removeContact(id);
            return true;
        },
        [this](bool) {
            cmdNew_Click();
            lblStatus->setText(QStringLiteral("已删除。"));
            listContacts();
        });
}

void frmPhonebook::mnuImport_Click() {
    const QString path = FileDialogSeam::get().openFileName(this, kImportTypes);
    if (path.isEmpty()) return;
    setMousePointer(vbHourglass);
    // Read and written on the journal's thread: a large file or a slow disk holds up no window.
    JournalService::instance().change<int>(
        this,
        [path](Journal& journal) {
            bool readable = false;
            const QList<Contact> contacts = readContactFile(path, readable);
            return readable ? journal.addContacts(contacts) : -1;
        },
        [this, path](int added) {
            setMousePointer(vbDefault);
            lblStatus->setText(added < 0 ? QStringLiteral("无法读取 %1").arg(path)
                                         : QStringLiteral("导入了 %1 个联系人。").arg(added));
            listContacts();
        });
}

void frmPhonebook::mnuExport_Click() {
    const QString path = FileDialogSeam::get().saveFileName(this, kExportTypes);
    if (path.isEmpty()) return;
    JournalService::instance().ask<QString>(
        this,
        [path](Journal& journal) {
            QSaveFile file(path);
            const QByteArray cards = writeVCards(journal.contacts());
            const bool saved = file.open(QIODevice::WriteOnly) &&
                               file.write(cards) == cards.size() && file.commit();
            return saved ? QString() : file.errorString();
        },
        [this](const QString& error) {
            lblStatus->setText(error.isEmpty()
                                   ? QStringLiteral("已导出 %1 个联系人。").arg(m_contacts.size())
                                   : QStringLiteral("没有导出：") + error);
        });
}

} // namespace tova
