#include "ListenAddress.h"
#include "Sessions.h"

#include <QTest>

using namespace tova;
using namespace std::chrono_literals;

// What [web] listen= takes and whether it is served over TLS; the sessions' and the wrong
// passwords' clocks, which the server's tests cannot wait for.
class TestWebSessions : public QObject {
    Q_OBJECT

private slots:
    void listen_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("url"); // empty: refused
        QTest::newRow("default") << ""
                                 << "http://127.0.0.1:8787/";
        QTest::newRow("loopback host") << "127.0.0.1:9000"
                                       << "http://127.0.0.1:9000/";
        QTest::newRow("localhost") << "localhost"
                                   << "http://127.0.0.1:8787/";
        QTest::newRow("IPv6 loopback") << "[::1]:8080"
                                       << "http://[::1]:8080/";
        QTest::newRow("rest of 127/8") << "127.0.0.2:0"
                                       << "https://127.0.0.2:0/";
        QTest::newRow("every address") << "0.0.0.0"
                                       << "https://0.0.0.0:8787/";
        QTest::newRow("LAN") << "192.168.1.20:443"
                             << "https://192.168.1.20:443/";
        QTest::newRow("bare IPv6") << "fe80::1"
                                   << "https://[fe80::1]:8787/";
        QTest::newRow("IPv6 any") << "[::]:8787"
                                  << "https://[::]:8787/";
        QTest::newRow("mapped loopback") << "[::ffff:127.0.0.1]"
                                         << "https://[::ffff:127.0.0.1]:8787/";
        QTest::newRow("host name") << "recorder.lan:8787"
                                   << "";
        QTest::newRow("port too big") << "127.0.0.1:65536"
                                      << "";
        QTest::newRow("signed port") << "127.0.0.1:+80"
                                     << "";
        QTest::newRow("empty port") << "127.0.0.1:"
                                    << "";
        QTest::newRow("unclosed bracket") << "[::1:80"
                                          << "";
    }
    void listen() {
        QFETCH(QString, text);
        QFETCH(QString, url);
        const auto address = ListenAddress::parse(text);
        QCOMPARE(address ? address->url() : QString(), url);
    }

    void delay_data() {
        QTest::addColumn<int>("failures");
        QTest::addColumn<int>("seconds");
        for (const auto& [failures, seconds] :
             {std::pair{0, 0}, {1, 1}, {2, 2}, {3, 4}, {6, 32}, {7, 60}, {40, 60}})
            QTest::addRow("%d", failures) << failures << seconds;
    }
    void delay() {
        QFETCH(int, failures);
        QFETCH(int, seconds);
        QCOMPARE(failureDelay(failures), std::chrono::milliseconds(seconds * 1000));
    }

    void session() {
        Sessions sessions;
        const SteadyTime start{};
        const QByteArray token = sessions.open(start), other = sessions.open(start + 1h);
        QCOMPARE(token.size(), 64);
        QVERIFY(token != other);
        const auto csrf = sessions.csrfToken(token, start + 12h - 1s);
        QVERIFY(csrf && csrf->size() == 64 && *csrf != token);
        QCOMPARE(sessions.csrfToken(token, start + 12h), std::nullopt);
        QCOMPARE(sessions.csrfToken(token.left(63), start), std::nullopt);
        sessions.close(other);
        QCOMPARE(sessions.csrfToken(other, start + 2h), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestWebSessions)
#include "tst_websessions.moc"
