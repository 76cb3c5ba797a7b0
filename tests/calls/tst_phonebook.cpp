#include "ContactFiles.h"
#include "Phonebook.h"

#include <QStringEncoder>
#include <QTest>

using namespace tova;

namespace {

// name|number,number|group, one contact after another with ";" between.
QString described(const QList<Contact>& contacts) {
    QStringList each;
    for (const Contact& contact : contacts)
        each << contact.name + u'|' + contact.numbers.join(u',') + u'|' + contact.group;
    return each.join(u';');
}

QByteArray gb18030(const QString& text) {
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

} // namespace

class PhonebookTest : public QObject {
    Q_OBJECT

private slots:
    // Which contact a number belongs to: digits only, +86 and 0086 folded, a local caller ID
    // against the number with its area code and the other way round, the longest match first.
    void lookup_data() {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("name");
        QTest::newRow("area code, blanks") << "(010) 8888 6666"
                                           << "张三";
        QTest::newRow("+86 landline") << "+86 10 88886666"
                                      << "张三";
        QTest::newRow("local, stored local") << "88886666"
                                             << "李四";
        QTest::newRow("0086 mobile") << "0086 138-0013-8000"
                                     << "李四";
        QTest::newRow("full-width") << "１３９００１３９０００"
                                    << "赵六";
        QTest::newRow("local, stored with area code") << "87654321"
                                                      << "王五";
        QTest::newRow("with area code, stored local") << "02188886666"
                                                      << "李四";
        QTest::newRow("another area") << "02187654321"
                                      << "";
        QTest::newRow("a part of a mobile number") << "00138000"
                                                   << "";
        QTest::newRow("withheld") << "号码保密"
                                  << "";
    }
    void lookup() {
        QFETCH(QString, number);
        QFETCH(QString, name);
        const Phonebook book({{1, "张三", {"010-88886666"}, {}},
                              {2, "李四", {"88886666", "13800138000"}, {}},
                              {3, "王五", {"0571 87654321"}, {}},
                              {4, "赵六", {"+86 139 0013 9000"}, {}}});
        QCOMPARE(book.nameOf(number), name);
    }

    // Files as phones, address books and spreadsheets write them.
    void imports_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("contacts");
        QTest::newRow("vCard 3.0, folded, several numbers")
            << QByteArray(
                   "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:张三\r\nN:张;三;;;\r\nTEL;TYPE=CELL:138 "
                   "0013 8000\r\nitem1.TEL;TYPE=WORK:010-8888\r\n 6666\r\nCATEGORIES:客户,朋"
                   "友\r\nEND:VCARD\r\n")
            << "张三|138 0013 8000,010-88886666|客户";
        QTest::newRow("vCard 2.1, quoted-printable")
            << QByteArray(
                   "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:"
                   "=E6=9D=8E;=E5=9B=9B;;;\r\nFN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:=E6="
                   "9D=8E=\r\n=E5=9B=9B\r\nTEL;CELL;PREF:13900139000\r\nEND:VCARD\r\n")
            << "李四|13900139000|";
        QTest::newRow("vCard 2.1, GB2312")
            << "BEGIN:VCARD\nVERSION:2.1\nFN;CHARSET=GB2312:" + gb18030("王五") +
                   "\nTEL:0571-87654321\nEND:VCARD\n"
            << "王五|0571-87654321|";
        QTest::newRow("vCard 4.0, N only, tel URI, escapes")
            << QByteArray(
                   "BEGIN:VCARD\nVERSION:4.0\nN:Brooks;Mary;;;\nTEL;VALUE=uri;TYPE=\"voice,w"
                   "ork\":tel:+1-555-123-4567;ext=5\nEND:VCARD\nBEGIN:VCARD\nVERSION:4.0\nFN:"
                   "Wang\\, Xiao\\;\nTEL:1\nEND:VCARD\n")
            << "Mary Brooks|+1-555-123-4567|;Wang, Xiao;|1|";
        QTest::newRow("vCard, no name") << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nTEL:88886666\r"
                                                      "\nEND:VCARD\r\n")
                                        << "|88886666|";
        QTest::newRow("CSV, UTF-8, Chinese headings")
            << QByteArray(
                   "\xEF\xBB\xBF姓名,手机,办公电话,分组\r\n张三,13800138000,010-88886666,客户"
                   "\r\n没有号码,,,\r\n\"李,四\",\"139 0013 9000\",,\r\n")
            << "张三|13800138000,010-88886666|客户;李,四|139 0013 9000|";
        QTest::newRow("CSV, GB18030, English headings")
            << gb18030("First Name,Last Name,Mobile Phone,Business Phone\r\n三,张,13800138000,\n")
            << "张三|13800138000|";
        QTest::newRow("CSV, several values in a cell")
            << QByteArray(
                   "Name,Phone 1 - Type,Phone 1 - Value,Group Membership\n\"Zhang, San\",Mobi"
                   "le,13800138000 ::: 13900139000,* myContacts ::: 客户\n")
            << "Zhang, San|13800138000,13900139000|客户";
        QTest::newRow("CSV, no number column") << QByteArray("姓名,地址\n张三,北京\n") << "";
    }
    void imports() {
        QFETCH(QByteArray, file);
        QFETCH(QString, contacts);
        const bool vcard = file.contains("BEGIN:VCARD");
        QCOMPARE(described(vcard ? readVCards(file) : readContactsCsv(file)), contacts);
    }

    // An export reads back as it was, long lines folded between characters.
    void exportReadsBack() {
        const QList<Contact> contacts{{0, QString(40, u'长'), {"010-88886666", "138"}, "客户"},
                                      {0, "Wang, Xiao; \\", {"1"}, {}}};
        const QByteArray file = writeVCards(contacts);
        for (const QByteArray& line : file.split('\n'))
            QVERIFY(line.size() <= 76);
        QCOMPARE(described(readVCards(file)), described(contacts));
    }
};

QTEST_GUILESS_MAIN(PhonebookTest)
#include "tst_phonebook.moc"
