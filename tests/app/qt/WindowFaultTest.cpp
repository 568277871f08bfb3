#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include <chrono>
#include <string>

#include "app/qt/LabeledEdit.h"
#include "app/qt/LogBox.h"
#include "app/qt/TfmPrincipal.h"
#include "tests/fixtures/ScriptedServer.h"
#include "tests/form/ConfigFile.h"
#include "tests/form/RunScenarios.h"

using namespace std::chrono_literals;
using quelvar::CheckRunSettings;
using quelvar::LogBox;
using quelvar::RestClient;
using quelvar::TfmPrincipal;
using quelvar::test::Exchange;
using quelvar::test::ScriptedServer;

namespace {

// The read time-out of the direct profile and the receive time-out of the service profile in
// these runs. Both measure silence: an exchange fails once no byte has arrived for this long,
// however long the whole reply takes.
constexpr std::chrono::milliseconds kSilence{500};
constexpr std::chrono::milliseconds kConnect{3000};
// A run against a faulty server ends well within this; the profiles' own 30 s would not.
constexpr qint64 kRunBoundMs = 15000;

const QString kExternalStart = QStringLiteral("Testando Conexão Externa...\r\n");
const QString kSeparatorAndInternalStart =
    QStringLiteral("-----------------------------\r\n\r\n\r\nTestando Conexão Interna...\r\n");
const QString kExternalOk = QStringLiteral("Conexão Externa - ok\r\n");
const QString kExternalError = QStringLiteral("Conexão Externa - Erro\r\n");
const QString kInternalOk = QStringLiteral("Conexão Interna - ok\r\n");
const QString kInternalError = QStringLiteral("Conexão Interna - Erro\r\n");
const QString kAllGreen = kExternalStart + kExternalOk + kSeparatorAndInternalStart + kInternalOk;

std::string httpReply(const std::string& body, const std::string& contentType = "text/plain") {
    return "HTTP/1.1 200 OK\r\nContent-Type: " + contentType +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
           body;
}

std::string statusOk() {
    return httpReply(R"({"response":{"chain":[{"statusCode":200}],"status":"ok","code":""}})",
                     "application/json");
}

// The API tab takes its addresses from config.js beside the executable.
void writeApiConfig(const std::string& internalAuthority) {
    quelvar::test::writeConfig(
        quelvar::test::apiTabConfig("servidor.invalid:10446", internalAuthority, false));
}

struct RunResult {
    QString log;
    QStringList visible;
    qint64 elapsedMs = 0;
};

// A window whose runs have short time-outs on both profiles and no pause, set up for one tab
// ("Api" or "Whats") against the status service and internal server given.
class FaultWindow {
public:
    FaultWindow(const QString& tab, const ScriptedServer& status, const ScriptedServer& internal)
        : m_tab(tab), m_window(settings(status)) {
        m_window.RESTClient1.setTimeouts(RestClient::Timeouts{kConnect, kSilence, kSilence});
        if (tab == u"Api") {
            writeApiConfig(internal.authority());
        }
        m_window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_window));
        m_window.PageControl1->setCurrentIndex(tab == u"Api" ? 0 : 2);
        if (tab == u"Whats") {
            QTest::keyClicks(m_window.edtWhatsExterno, QStringLiteral("servidor.invalid:21465"));
            QTest::keyClicks(m_window.edtWhatsInterno,
                             QString::fromStdString(internal.authority()));
        }
    }

    // Clicks the tab's button and returns what the run left on the tab.
    RunResult run() {
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(
            m_window.findChild<QPushButton*>(QStringLiteral("btnTestarPortas") + m_tab),
            Qt::LeftButton);
        RunResult result;
        result.elapsedMs = clock.elapsed();
        result.log = m_window
                         .findChild<LogBox*>(m_tab == u"Api" ? QStringLiteral("memoAPILog")
                                                             : QStringLiteral("memoWhatsLog"))
                         ->text();
        for (const char* suffix : {"ExtGreen", "ExtRed", "IntGreen", "IntRed"}) {
            const QString name = QStringLiteral("img") + m_tab + QLatin1String(suffix);
            if (!m_window.findChild<QLabel*>(name)->isHidden()) {
                result.visible.append(name);
            }
        }
        return result;
    }

    TfmPrincipal& window() { return m_window; }

private:
    static CheckRunSettings settings(const ScriptedServer& status) {
        CheckRunSettings settings;
        settings.statusEndpoint = status.url("/v1/status");
        settings.pause = 0ms;
        settings.directTimeouts.connect = kConnect;
        settings.directTimeouts.read = kSilence;
        return settings;
    }

    QString m_tab;
    TfmPrincipal m_window;
};

QStringList names(const QString& tab, std::initializer_list<const char*> suffixes) {
    QStringList list;
    for (const char* suffix : suffixes) {
        list.append(QStringLiteral("img") + tab + QLatin1String(suffix));
    }
    return list;
}

}  // namespace

Q_DECLARE_METATYPE(Exchange)

// Runs through the window's buttons against servers that misbehave: each run ends with the
// fixed lines within the profiles' time-outs, and a normal run on the same tab afterwards
// gives the green lines.
class WindowFaultTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void cleanupTestCase() { quelvar::test::removeConfig(); }

    void faultyInternalServer_data() {
        QTest::addColumn<QString>("tab");
        QTest::addColumn<Exchange>("fault");
        QTest::addColumn<bool>("reachable");
        // Whether the run must have waited at least one time-out.
        QTest::addColumn<bool>("waitsTimeout");

        Exchange hang;
        hang.action = Exchange::Action::Hang;
        // One byte, then a silence twice the time-out before the next.
        Exchange slowTrickle{httpReply("healthy")};
        slowTrickle.chunkSize = 1;
        slowTrickle.chunkDelay = kSilence * 2;
        // A byte every 20 ms: no silence reaches the time-out, though the whole reply, and
        // its Content-Type line alone, take longer than it.
        Exchange fastTrickle{httpReply("healthy", "text/plain; charset=utf-8")};
        fastTrickle.chunkSize = 1;
        fastTrickle.chunkDelay = 20ms;
        // 50 MB announced by Content-Length and sent in full.
        Exchange big{httpReply(std::string(50 * 1024 * 1024, 'x'))};

        for (const char* tab : {"Api", "Whats"}) {
            const auto row = [&](const char* what, const Exchange& fault, bool reachable,
                                 bool waits) {
                QTest::addRow("%s: %s", tab, what)
                    << QString::fromLatin1(tab) << fault << reachable << waits;
            };
            row("accepts and never answers", hang, false, true);
            row("trickles slower than the time-out", slowTrickle, false, true);
            row("trickles faster than the time-out", fastTrickle, true, true);
            row("sends 50 MB", big, true, false);
        }
    }
    void faultyInternalServer() {
        QFETCH(QString, tab);
        QFETCH(Exchange, fault);
        QFETCH(bool, reachable);
        QFETCH(bool, waitsTimeout);

        ScriptedServer status;
        status.setFallback(Exchange{statusOk()});
        ScriptedServer internal;
        internal.add(fault);
        internal.setFallback(Exchange{httpReply("healthy")});
        FaultWindow w(tab, status, internal);

        const RunResult faulty = w.run();
        QVERIFY(!w.window().isRunning());
        QCOMPARE(faulty.log, kExternalStart + kExternalOk + kSeparatorAndInternalStart +
                                 (reachable ? kInternalOk : kInternalError));
        QCOMPARE(faulty.visible, reachable ? names(tab, {"ExtGreen", "IntGreen"})
                                           : names(tab, {"ExtGreen", "IntRed"}));
        QVERIFY2(faulty.elapsedMs < kRunBoundMs, QByteArray::number(faulty.elapsedMs));
        if (waitsTimeout) {
            QVERIFY2(faulty.elapsedMs >= kSilence.count(), QByteArray::number(faulty.elapsedMs));
        }
        // One GET, not retried onto the next scripted exchange.
        QCOMPARE(internal.requests().size(), std::size_t{1});

        const RunResult after = w.run();
        QCOMPARE(after.log, kAllGreen);
        QCOMPARE(after.visible, names(tab, {"ExtGreen", "IntGreen"}));
        QCOMPARE(internal.requests().size(), std::size_t{2});
    }

    void faultyStatusService_data() {
        QTest::addColumn<QString>("tab");
        QTest::addColumn<Exchange>("fault");

        const std::string body = R"({"response":{"chain":[{"statusCode":200}]}})";
        const std::string headers =
            "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
            "Content-Length: " +
            std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
        // Headers sent, the body cut short of its Content-Length, then the connection closed.
        const Exchange cutInBody{headers + body.substr(0, body.size() / 2)};
        // Closed in the middle of the header lines.
        const Exchange cutInHeaders{headers.substr(0, 30)};
        for (const char* tab : {"Api", "Whats"}) {
            QTest::addRow("%s: body cut short", tab) << QString::fromLatin1(tab) << cutInBody;
            QTest::addRow("%s: headers cut short", tab) << QString::fromLatin1(tab) << cutInHeaders;
        }
    }
    void faultyStatusService() {
        QFETCH(QString, tab);
        QFETCH(Exchange, fault);

        ScriptedServer status;
        status.add(fault);
        status.setFallback(Exchange{statusOk()});
        ScriptedServer internal;
        internal.setFallback(Exchange{httpReply("healthy")});
        FaultWindow w(tab, status, internal);

        const RunResult faulty = w.run();
        QCOMPARE(faulty.log,
                 kExternalStart + kExternalError + kSeparatorAndInternalStart + kInternalOk);
        QCOMPARE(faulty.visible, names(tab, {"ExtRed", "IntGreen"}));
        QVERIFY2(faulty.elapsedMs < kRunBoundMs, QByteArray::number(faulty.elapsedMs));
        QCOMPARE(status.requests().size(), std::size_t{1});

        const RunResult after = w.run();
        QCOMPARE(after.log, kAllGreen);
        QCOMPARE(after.visible, names(tab, {"ExtGreen", "IntGreen"}));
        QCOMPARE(status.requests().size(), std::size_t{2});
    }
};

QTEST_MAIN(WindowFaultTest)
#include "WindowFaultTest.moc"
