#include "Fakes.h"
#include "JournalService.h"
#include "MMControl.h"
#include "QuerySupport.h"
#include "Windows.h"
#include "frmCallLog.h"
#include "frmPhonebook.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTableWidget>

using namespace tova;
using namespace tova::test;

// The call log and the phonebook windows over the real journal: calls recorded in the folder,
// missed calls and a contact in the journal, dated around today.
class CallLogTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_temp;
    RecordingsFolder m_folder;
    MessageBoxesFake m_boxes;
    FileDialogsFake m_dialogs;
    const QDate m_today = QDate::currentDate();

    template <class T = QWidget> T* control(const char* name) {
        frmCallLog* log = DefaultForm<frmCallLog>::loaded();
        return log ? log->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    }
    // One column of the rows shown, top to bottom.
    QStringList column(CallLogColumn which) {
        QStringList texts;
        const QAbstractItemModel* model = control<QTableView>("grdCalls")->model();
        for (int row = 0; row < model->rowCount(); ++row)
            texts << model->index(row, int(which)).data().toString();
        return texts;
    }
    QDateTime today(int hour) const { return QDateTime(m_today, QTime(hour, 0)); }
    void missed(const QString& number, const QDateTime& at) {
        JournalService::instance().saveAttempt(
            {newAttemptKey(), kMissed, number, {}, at, at, {}, at.addSecs(8), 3});
    }
    int rowOf(const QString& number) { return int(column(CallLogColumn::Number).indexOf(number)); }
    void selectRow(const QString& number) {
        auto* grid = control<QTableView>("grdCalls");
        const QRect cell = grid->visualRect(grid->model()->index(rowOf(number), 0));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    }

private slots:
    // A journal that is broken when the program starts is moved aside, and the first window
    // says where it went.
    void initTestCase() {
        useTemporaryFolderIn(m_temp);
        QVERIFY(QDir().mkpath(QFileInfo(journalFile()).path()));
        QFile garbage(journalFile());
        QVERIFY(garbage.open(QIODevice::WriteOnly) && garbage.write(QByteArray(4096, 'x')));
        garbage.close();
        DefaultForm<frmMain2>::Show();
        QTRY_COMPARE(m_boxes->shown.size(), 1);
        const QString moved = QFileInfo(journalFile()).dir().entryList({"*.broken-*"}).value(0);
        QCOMPARE(m_boxes->shown[0].prompt, "通话记录数据库已损坏，已移到 " +
                                               QFileInfo(journalFile()).path() + u'/' + moved +
                                               " 并新建了一个。录下的通话会从录音文件中重新读入；旧"
                                               "数据库中的未接来电和备注没有读入。");
        unloadAllWindows();

        QVERIFY(writeTaggedRecording(
            "2024-5-20143015.wav",
            {"13800138000", "王小明", kIncoming, QDateTime({2024, 5, 20}, {14, 30, 15})}, 2500));
        QVERIFY(writeTaggedRecording(
            "2024-5-21090000.wav", {"01088886666", {}, kOutgoing, QDateTime({2024, 5, 21}, {9, 0})},
            3000));
        QVERIFY(writeTaggedRecording("today.wav", {"02012345678", "LI", kLocalRecording, today(8)},
                                     500));
        missed("13900139000", today(7));
        missed("88886666", today(12).addDays(-6));
        missed("075512345678", today(12).addDays(-7));
        JournalService::instance().write([](Journal& journal) {
            journal.addContacts({{0, "张三", {"010-88886666"}, {}}});
        });
        QTRY_COMPARE(JournalService::instance().missedCount(), 3);
    }
    void init() {
        DefaultForm<frmCallLog>::Show();
        QTRY_COMPARE(control<QLabel>("lblCount")->text(), "共 6 条");
    }
    void cleanup() { unloadAllWindows(); }

    // The filters combine; rows newest first. Opening the log counted the missed calls as seen.
    void filters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("direction");
        QTest::addColumn<QString>("date");
        QTest::addColumn<int>("shortest");
        QTest::addColumn<QStringList>("numbers");
        QTest::newRow("everything")
            << ""
            << "全部"
            << "全部" << 0 << QStringList{"02012345678",  "13900139000", "88886666",
                                          "075512345678", "01088886666", "13800138000"};
        QTest::newRow("missed") << ""
                                << "未接"
                                << "全部" << 0
                                << QStringList{"13900139000", "88886666", "075512345678"};
        QTest::newRow("today") << ""
                               << "全部"
                               << "今天" << 0 << QStringList{"02012345678", "13900139000"};
        QTest::newRow("7 days, missed") << ""
                                        << "未接"
                                        << "最近7天" << 0 << QStringList{"13900139000", "88886666"};
        QTest::newRow("30 days") << ""
                                 << "全部"
                                 << "最近30天" << 0
                                 << QStringList{"02012345678", "13900139000", "88886666",
                                                "075512345678"};
        QTest::newRow("range") << ""
                               << "全部"
                               << "2024-05-20 2024-05-21" << 0
                               << QStringList{"01088886666", "13800138000"};
        QTest::newRow("contact's name") << "张三"
                                        << "全部"
                                        << "全部" << 0 << QStringList{"88886666", "01088886666"};
        QTest::newRow("caller's name, any case") << "li"
                                                 << "全部"
                                                 << "全部" << 0 << QStringList{"02012345678"};
        QTest::newRow("file name") << "20143015"
                                   << "全部"
                                   << "全部" << 0 << QStringList{"13800138000"};
        QTest::newRow("shortest 2 s") << ""
                                      << "全部"
                                      << "全部" << 2 << QStringList{"01088886666", "13800138000"};
        QTest::newRow("number, outgoing") << "0108"
                                          << "呼出"
                                          << "全部" << 0 << QStringList{"01088886666"};
    }
    void filters() {
        QFETCH(QString, text);
        QFETCH(QString, direction);
        QFETCH(QString, date);
        QFETCH(int, shortest);
        QFETCH(QStringList, numbers);
        QCOMPARE(JournalService::instance().missedCount(), 0);
        typeText(control("txtSearch"), text);
        auto* directions = control<QComboBox>("cboDirection");
        directions->setCurrentIndex(directions->findText(direction));
        auto* dates = control<QComboBox>("cboDate");
        const QStringList range = date.split(u' ');
        dates->setCurrentIndex(dates->findText(range.size() == 2 ? "日期范围" : date));
        if (range.size() == 2) {
            control<QDateEdit>("dtpFrom")->setDate(QDate::fromString(range[0], Qt::ISODate));
            control<QDateEdit>("dtpTo")->setDate(QDate::fromString(range[1], Qt::ISODate));
        }
        control<QSpinBox>("spnShortest")->setValue(shortest);
        QTRY_COMPARE(column(CallLogColumn::Number), numbers);
        QCOMPARE(control<QLabel>("lblCount")->text(),
                 QStringLiteral("共 %1 条").arg(numbers.size()));
    }

    // Every column of a row; a click on a heading orders by it.
    void columns() {
        const QAbstractItemModel* model = control<QTableView>("grdCalls")->model();
        QStringList shown;
        for (int c = 0; c < kCallLogColumnCount; ++c)
            shown << model->headerData(c, Qt::Horizontal).toString() + u'=' +
                         model->index(rowOf("01088886666"), c).data().toString();
        QCOMPARE(shown.join(u' '), "日期=21 May 2024 时间=09:00:00 方向=呼出 号码=01088886666 "
                                   "姓名=张三 时长=3 秒 备注= 文件=2024-5-21090000.wav");
        auto* header = control<QTableView>("grdCalls")->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          {header->sectionViewportPosition(int(CallLogColumn::Number)) + 5, 5});
        QTRY_COMPARE(column(CallLogColumn::Number).value(0), "01088886666");
    }

    // A note is saved when the field is left, searchable at once and kept.
    void note() {
        selectRow("13900139000");
        auto* field = control<QLineEdit>("txtNote");
        QVERIFY(field->isEnabled());
        QTest::mouseClick(field, Qt::LeftButton);
        typeText(field, "回拨客户");
        QTest::keyClick(field, Qt::Key_Tab);
        typeText(control("txtSearch"), "回拨");
        QTRY_COMPARE(column(CallLogColumn::Note), QStringList{"回拨客户"});
        unloadAllWindows();
        DefaultForm<frmCallLog>::Show();
        QTRY_COMPARE(column(CallLogColumn::Note).value(rowOf("13900139000")), "回拨客户");
    }

    // A double-click on a recorded call opens it in the query window, ready to play.
    void openRecording() {
        QTRY_VERIFY(rowOf("13800138000") >= 0);
        auto* grid = control<QTableView>("grdCalls");
        const QRect cell = grid->visualRect(grid->model()->index(rowOf("13800138000"), 0));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QTRY_VERIFY(queryControl<MMControl>("mci2"));
        QCOMPARE(queryControl<MMControl>("mci2")->FileName(),
                 RecordingsFolder::file("2024-5-20143015.wav"));
        QCOMPARE(queryControl<MMControl>("mci2")->Length(), 2500);
        QVERIFY(queryControl<MMControl>("mci2")->isButtonEnabled(MciButton::Play));
    }

    // The rows shown, as CSV or as a workbook whose numbers are text cells.
    void exportRows_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("holds");
        QTest::newRow("csv") << "calls.csv"
                             << QStringList{"日期,时间,方向,号码,姓名,时长（秒）,备注,文件名\r\n"
                                            "2024-05-21,09:00:00,呼出,01088886666,张三,3,,2024-5-"
                                            "21090000.wav\r\n2024-05-20,14:30:15,"};
        QTest::newRow("xlsx") << "calls.xlsx"
                              << QStringList{"<c r=\"D2\" t=\"inlineStr\"><is><t>01088886666</t>",
                                             "<c r=\"F2\"><v>3</v></c>",
                                             "<c r=\"D3\" t=\"inlineStr\"><is><t>13800138000</t>"};
    }
    void exportRows() {
        QFETCH(QString, file);
        QFETCH(QStringList, holds);
        auto* dates = control<QComboBox>("cboDate");
        dates->setCurrentIndex(dates->findText("日期范围"));
        control<QDateEdit>("dtpFrom")->setDate({2024, 5, 1});
        control<QDateEdit>("dtpTo")->setDate({2024, 5, 31});
        QTRY_COMPARE(control<QLabel>("lblCount")->text(), "共 2 条");
        const QString path = m_temp.filePath(file);
        m_dialogs->answers = {path};
        chooseMenu(DefaultForm<frmCallLog>::loaded(), "mnuExport");
        QCOMPARE(m_dialogs->filters.last(), "CSV 文件 (*.csv);;Excel 工作簿 (*.xlsx)");
        QTRY_VERIFY(QFileInfo::exists(path));
        QProcess unzip;
        unzip.start("unzip", {"-p", path, "xl/worksheets/sheet1.xml"});
        QVERIFY(unzip.waitForFinished());
        QFile csv(path);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QString written =
            QString::fromUtf8(file.endsWith("xlsx") ? unzip.readAll() : csv.readAll());
        for (const QString& part : holds)
            QVERIFY2(written.contains(part), qPrintable(written));
    }

    // Contacts added, imported and deleted in the phonebook; their names show in the log.
    void phonebook() {
        QTest::mouseClick(control("cmdPhonebook"), Qt::LeftButton);
        frmPhonebook* book = DefaultForm<frmPhonebook>::loaded();
        QVERIFY(book);
        const auto field = [book](const char* name) { return book->findChild<QLineEdit*>(name); };
        auto* contacts = book->findChild<QTableWidget*>("grdContacts");
        QTRY_COMPARE(contacts->rowCount(), 1);
        QTest::mouseClick(book->findChild<QPushButton*>("cmdNew"), Qt::LeftButton);
        typeText(field("txtName"), "李四");
        typeText(field("txtNumbers"), "0571-87654321、13900139000");
        QTest::mouseClick(book->findChild<QPushButton*>("cmdSave"), Qt::LeftButton);
        QTRY_COMPARE(contacts->rowCount(), 2);
        QTRY_COMPARE(column(CallLogColumn::Name).value(rowOf("13900139000")), "李四");
        QCOMPARE(column(CallLogColumn::Name).value(rowOf("88886666")), "张三");

        QFile cards(m_temp.filePath("contacts.vcf"));
        QVERIFY(cards.open(QIODevice::WriteOnly) &&
                cards.write("BEGIN:VCARD\nVERSION:3.0\nFN:王五\nTEL:075512345678\nEND:VCARD\n"));
        cards.close();
        m_dialogs->answers = {cards.fileName()};
        chooseMenu(book, "mnuImport");
        QTRY_COMPARE(book->findChild<QLabel*>("lblStatus")->text(), "导入了 1 个联系人。");
        QTRY_COMPARE(column(CallLogColumn::Name).value(rowOf("075512345678")), "王五");

        QTRY_COMPARE(contacts->rowCount(), 3);
        QTest::mouseClick(contacts->viewport(), Qt::LeftButton, {},
                          contacts->visualItemRect(contacts->item(2, 0)).center());
        QCOMPARE(field("txtName")->text(), "王五");
        m_boxes->answers = {vbYes};
        QTest::mouseClick(book->findChild<QPushButton*>("cmdDelete"), Qt::LeftButton);
        QTRY_COMPARE(contacts->rowCount(), 2);
        QTRY_COMPARE(column(CallLogColumn::Name).value(rowOf("075512345678")), "");
    }

    // While another copy writes the journal the windows go on answering; once it lets go the
    // note is saved and found, and the journal is still the one it was. A recording added to
    // the folder, or taken from it, shows without reopening.
    void journalHeldElsewhere() {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other copy");
        other.setDatabaseName(journalFile());
        QVERIFY(other.open());
        QSqlQuery hold(other);
        QVERIFY(hold.exec("BEGIN IMMEDIATE"));
        QTRY_VERIFY(rowOf("13900139000") >= 0);
        selectRow("13900139000");
        QTest::mouseClick(control("txtNote"), Qt::LeftButton);
        typeText(control("txtNote"), " 已回");
        QTest::keyClick(control("txtNote"), Qt::Key_Tab);
        typeText(control("txtSearch"), "已回");
        QElapsedTimer answering;
        answering.start();
        QTest::qWait(300);
        QVERIFY(answering.elapsed() < 1000);
        QCOMPARE(column(CallLogColumn::Number).size(), 6);
        QVERIFY(hold.exec("COMMIT"));
        QTRY_COMPARE(column(CallLogColumn::Number), QStringList{"13900139000"});
        QCOMPARE(QFileInfo(journalFile()).dir().entryList({"*.broken-*"}).size(), 1);
        other.close();

        control<QLineEdit>("txtSearch")->setText("139");
        QVERIFY(writeTaggedRecording("new.wav", {"13912345678", {}, kIncoming, today(9)}, 500));
        QTRY_COMPARE(column(CallLogColumn::Number), (QStringList{"13912345678", "13900139000"}));
        QVERIFY(QFile::remove(RecordingsFolder::file("new.wav")));
        QTRY_COMPARE(column(CallLogColumn::Number), QStringList{"13900139000"});
    }
};

QTEST_MAIN(CallLogTest)
#include "tst_calllog.moc"
