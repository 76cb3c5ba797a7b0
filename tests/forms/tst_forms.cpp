#include "Form.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

using namespace tova;

namespace {

QStringList g_calls;

class Probe : public Form {
public:
    short refuse = 0;

protected:
    void Form_Load() override { g_calls << QStringLiteral("load"); }
    void Form_QueryUnload(short& Cancel, short UnloadMode) override {
        g_calls << QStringLiteral("query %1").arg(UnloadMode);
        Cancel = refuse;
    }
    void Form_Unload(short&) override { g_calls << QStringLiteral("unload"); }
};

class Other : public Form {};

} // namespace

class TestForms : public QObject {
    Q_OBJECT

private slots:
    void init() { g_calls.clear(); }
    void cleanup() {
        if (Probe* probe = DefaultForm<Probe>::loaded()) probe->refuse = 0;
        DefaultForm<Probe>::Unload();
        DefaultForm<Other>::Unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void secondLoadRunsNoLoadSteps() {
        Probe& first = DefaultForm<Probe>::Load();
        Probe& second = DefaultForm<Probe>::Show();
        QCOMPARE(&first, &second);
        QCOMPARE(g_calls, QStringList{QStringLiteral("load")});
        QVERIFY(second.isVisible());
        QCOMPARE(Form::loadedCount(), 1);
    }

    void unloadRunsClosingCheckThenUnloadAndAllowsFreshLoad() {
        QPointer<Probe> first = &DefaultForm<Probe>::Show();
        QVERIFY(DefaultForm<Probe>::Unload());
        QCOMPARE(g_calls, (QStringList{"load", "query 1", "unload"}));
        QCOMPARE(DefaultForm<Probe>::loaded(), nullptr);
        QVERIFY(!first->isVisible());
        QTRY_VERIFY(first.isNull());

        DefaultForm<Probe>::Load();
        QCOMPARE(g_calls.last(), QStringLiteral("load"));
        QCOMPARE(g_calls.count("load"), 2);
    }

    void unloadOfWindowNotLoadedDoesNothing() {
        QVERIFY(DefaultForm<Probe>::Unload());
        QVERIFY(g_calls.isEmpty());
    }

    void closingCheckCanRefuse() {
        Probe& probe = DefaultForm<Probe>::Show();
        probe.refuse = 1;
        QVERIFY(!DefaultForm<Probe>::Unload());
        QVERIFY(!probe.close());
        QCOMPARE(g_calls, (QStringList{"load", "query 1", "query 0"}));
        QCOMPARE(DefaultForm<Probe>::loaded(), &probe);
        QVERIFY(probe.isVisible());

        probe.refuse = 0;
        QVERIFY(probe.close());
        QCOMPARE(g_calls.last(), QStringLiteral("unload"));
        QCOMPARE(DefaultForm<Probe>::loaded(), nullptr);
    }

    void processEndsAfterLastWindow() {
        QSignalSpy allGone(&FormRegistry::instance(), &FormRegistry::allUnloaded);
        DefaultForm<Probe>::Show();
        DefaultForm<Other>::Show();
        QVERIFY(DefaultForm<Probe>::Unload());
        QCOMPARE(allGone.count(), 0);
        DefaultForm<Other>::loaded()->close();
        QCOMPARE(allGone.count(), 1);
    }

    void windowOpensAtScreenOriginWithHourglassOnRequest() {
        Probe& probe = DefaultForm<Probe>::Show();
        QCOMPARE(probe.frameGeometry().topLeft(), QPoint(0, 0));
        probe.setMousePointer(vbHourglass);
        QCOMPARE(probe.cursor().shape(), Qt::WaitCursor);
        QCOMPARE(probe.MousePointer(), 11);
        probe.setMousePointer(vbDefault);
        QCOMPARE(probe.cursor().shape(), Qt::ArrowCursor);
    }
};

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
