#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "app/SettingsFile.h"
#include "http/Error.h"
#include "tests/fixtures/TestFiles.h"
#include "tests/fixtures/ThrowMessage.h"

using quelvar::SettingsFile;
using quelvar::SettingsTarget;
using quelvar::test::TempDir;

namespace {

// Records every call of the reader, in order, as "https=1", "externo=text", "interno=text".
class RecordingTarget : public SettingsTarget {
public:
    std::function<void()> onCall;
    QStringList calls;

    void setUsaHttps(bool checked) override { record(QStringLiteral("https=%1").arg(checked)); }
    void setIpExterno(const QString& text) override { record(QStringLiteral("externo=") + text); }
    void setIpInterno(const QString& text) override { record(QStringLiteral("interno=") + text); }

private:
    void record(const QString& call) {
        calls.append(call);
        if (onCall) {
            onCall();
        }
    }
};

// Returns whether another open file description can take an exclusive lock on the file now.
bool canLock(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return locked;
}

// Pads with a comment line so that the text after it starts at the byte offset.
std::string paddedTo(std::size_t offset) {
    std::string padding = "// ";
    padding.append(offset - padding.size() - 1, 'p');
    padding += '\n';
    return padding;
}

const QString kNoMapping = QStringLiteral(
    "No mapping for the Unicode character exists in the target multi-byte code page");

}  // namespace

// The settings file reader on its own: the order of its calls, the blocks, the hold it takes
// on the file and the release of it.
class SettingsFileTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void besideExecutableIsTheExecutablesDirectory() {
        const QString expected =
            QCoreApplication::applicationDirPath() + QStringLiteral("/config.js");
        QCOMPARE(SettingsFile::besideExecutable(), expected);
        QVERIFY(QFileInfo(SettingsFile::besideExecutable()).isAbsolute());
        // Never the working directory.
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(QDir::tempPath()));
        QCOMPARE(SettingsFile::besideExecutable(), expected);
        QDir::setCurrent(previous);
    }

    void callsInLineAndMarkerOrder() {
        TempDir dir;
        const std::string path =
            dir.write("config.js",
                      "const IP_INTERNO = 'i1';\n"
                      "const IP_EXTERNO = 'a'; const IP_INTERNO = 'b'; const USA_HTTPS = true;\n"
                      "const USA_HTTPS = true;\r\n"
                      "nothing here\r"
                      "const USA_HTTPS = no;");
        RecordingTarget target;
        SettingsFile::read(QString::fromStdString(path), target);
        const QString both = QStringLiteral("a'; const IP_INTERNO = 'b'; const USA_HTTPS = tru");
        // The third marker of line 2 takes its value from the first "=" of the line too.
        QCOMPARE(target.calls, (QStringList{
                                   QStringLiteral("interno=i1"),
                                   QStringLiteral("https=0"),
                                   QStringLiteral("externo=") + both,
                                   QStringLiteral("interno=") + both,
                                   QStringLiteral("https=1"),
                                   QStringLiteral("https=0"),
                               }));
    }

    void holdsTheFileExclusivelyWhileReading() {
        TempDir dir;
        const std::string path = dir.write("config.js", "const IP_EXTERNO = 'x';\n");
        RecordingTarget target;
        bool lockableDuringRead = true;
        target.onCall = [&] { lockableDuringRead = canLock(path); };
        SettingsFile::read(QString::fromStdString(path), target);
        QCOMPARE(target.calls.size(), 1);
        QVERIFY(!lockableDuringRead);
        QVERIFY(canLock(path));
    }

    void releasesTheFileAfterAFailure() {
        TempDir dir;
        const std::string path = dir.write("config.js", "const IP_EXTERNO = 'conex\xE3o';\n");
        RecordingTarget target;
        QCOMPARE_THROW_MESSAGE(SettingsFile::read(QString::fromStdString(path), target),
                               quelvar::Error, kNoMapping);
        QVERIFY(target.calls.isEmpty());
        QVERIFY(canLock(path));
    }

    void lockedByAnotherDescriptionIsRefused() {
        TempDir dir;
        const std::string path = dir.write("config.js", "const IP_EXTERNO = 'x';\n");
        const int holder = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        QVERIFY(holder >= 0);
        QCOMPARE(::flock(holder, LOCK_EX | LOCK_NB), 0);
        RecordingTarget target;
        const QString qpath = QString::fromStdString(path);
        QCOMPARE_THROW_MESSAGE(
            SettingsFile::read(qpath, target), quelvar::Error,
            QStringLiteral("Cannot open file \"%1\". Resource temporarily unavailable").arg(qpath));
        QVERIFY(target.calls.isEmpty());
        ::close(holder);
        SettingsFile::read(qpath, target);
        QCOMPARE(target.calls, QStringList{QStringLiteral("externo=x")});
    }

    void lockedByAnotherProcessIsRefused() {
        const QString flock = QStandardPaths::findExecutable(QStringLiteral("flock"));
        if (flock.isEmpty()) {
            QSKIP("util-linux flock is not installed");
        }
        TempDir dir;
        const QString path =
            QString::fromStdString(dir.write("config.js", "const IP_EXTERNO = 'x';\n"));
        QProcess holder;
        holder.start(flock, {QStringLiteral("--exclusive"), QStringLiteral("--no-fork"), path,
                             QStringLiteral("-c"), QStringLiteral("echo held; exec sleep 30")});
        QVERIFY(holder.waitForStarted(5000));
        QVERIFY(holder.waitForReadyRead(5000));
        QCOMPARE(holder.readAllStandardOutput(), QByteArray("held\n"));
        RecordingTarget target;
        QCOMPARE_THROW_MESSAGE(
            SettingsFile::read(path, target), quelvar::Error,
            QStringLiteral("Cannot open file \"%1\". Resource temporarily unavailable").arg(path));
        holder.kill();
        holder.waitForFinished(5000);
        SettingsFile::read(path, target);
    }

    void openFailures_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("systemText");
        QTest::newRow("missing") << "missing"
                                 << "No such file or directory";
        QTest::newRow("directory") << "directory"
                                   << "Is a directory";
        QTest::newRow("missing directory") << "missing directory"
                                           << "No such file or directory";
        QTest::newRow("not a directory") << "not a directory"
                                         << "Not a directory";
    }
    void openFailures() {
        QFETCH(QString, kind);
        QFETCH(QString, systemText);
        TempDir dir;
        const QString base = QString::fromStdString(dir.path());
        QString path = base + QStringLiteral("/config.js");
        if (kind == u"directory") {
            QVERIFY(QDir(base).mkdir(QStringLiteral("config.js")));
        } else if (kind == u"missing directory") {
            path = base + QStringLiteral("/gone/config.js");
        } else if (kind == u"not a directory") {
            dir.write("file", "x");
            path = base + QStringLiteral("/file/config.js");
        }
        RecordingTarget target;
        QCOMPARE_THROW_MESSAGE(SettingsFile::read(path, target), quelvar::Error,
                               QStringLiteral("Cannot open file \"%1\". %2").arg(path, systemText));
        QVERIFY(target.calls.isEmpty());
    }

    // A character of every UTF-8 length, its bytes split at every place by the block end.
    void charactersStraddlingTheBlockEndDecodeWhole() {
        const std::string value = "\xC3\xA3-\xE2\x82\xAC-\xF0\x9F\x98\x80";  // ã-€-😀
        const QString decoded = QStringLiteral("ã-€-") + QString::fromUtf8("\xF0\x9F\x98\x80");
        const std::string marker = "const IP_EXTERNO = '";
        for (std::size_t shift = 0; shift <= value.size(); ++shift) {
            // The value's bytes start `shift` bytes before the block end.
            const std::string content =
                paddedTo(4096 - shift - marker.size()) + marker + value + "';\n";
            TempDir dir;
            RecordingTarget target;
            const QString path = QString::fromStdString(dir.write("config.js", content));
            SettingsFile::read(path, target);
            QCOMPARE(target.calls, QStringList{QStringLiteral("externo=") + decoded});
        }
    }

    void crLfSplitByTheBlockEndIsOneLineEnd() {
        // The CR is the block's last byte and its LF the next block's first.
        const std::string line = "const IP_EXTERNO = 'x';";
        const std::string content =
            paddedTo(4095 - line.size()) + line + "\r\n" + "const IP_INTERNO = 'y';";
        QCOMPARE(content.find('\r'), std::size_t{4095});
        TempDir dir;
        RecordingTarget target;
        SettingsFile::read(QString::fromStdString(dir.write("config.js", content)), target);
        QCOMPARE(target.calls,
                 (QStringList{QStringLiteral("externo=x"), QStringLiteral("interno=y")}));
    }

    void loneCrAtTheBlockEndIsALineEnd() {
        const std::string line = "const IP_EXTERNO = 'x';";
        const std::string content =
            paddedTo(4095 - line.size()) + line + "\r" + "const IP_INTERNO = 'y';\r";
        TempDir dir;
        RecordingTarget target;
        SettingsFile::read(QString::fromStdString(dir.write("config.js", content)), target);
        QCOMPARE(target.calls,
                 (QStringList{QStringLiteral("externo=x"), QStringLiteral("interno=y")}));
    }

    void linesOfEarlierBlocksApplyBeforeAFault() {
        // Block 1 ends with a whole line; block 2 holds a Latin-1 byte.
        const std::string line = "const IP_EXTERNO = 'primeiro';\n";
        std::string content = paddedTo(4096 - line.size()) + line;
        QCOMPARE(content.size(), std::size_t{4096});
        content += "const IP_INTERNO = 'conex\xE3o';\n";
        TempDir dir;
        RecordingTarget target;
        QCOMPARE_THROW_MESSAGE(
            SettingsFile::read(QString::fromStdString(dir.write("config.js", content)), target),
            quelvar::Error, kNoMapping);
        QCOMPARE(target.calls, QStringList{QStringLiteral("externo=primeiro")});
    }

    void aFaultFailsItsWholeBlock() {
        // The line before the fault is in the same block: it is never applied.
        TempDir dir;
        RecordingTarget target;
        const std::string content =
            "const IP_EXTERNO = 'antes';\n// \xE9\nconst IP_INTERNO = 'x';\n";
        QCOMPARE_THROW_MESSAGE(
            SettingsFile::read(QString::fromStdString(dir.write("config.js", content)), target),
            quelvar::Error, kNoMapping);
        QVERIFY(target.calls.isEmpty());
    }

    void invalidSequences_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("Latin-1 letter") << QByteArray("\xE9");
        QTest::newRow("lone continuation") << QByteArray("\x80");
        QTest::newRow("overlong slash") << QByteArray("\xC0\xAF");
        QTest::newRow("overlong three bytes") << QByteArray("\xE0\x80\xAF");
        QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80");
        QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80");
        QTest::newRow("F5 lead") << QByteArray("\xF5\x80\x80\x80");
        QTest::newRow("cut short by a letter") << QByteArray("\xE2\x82x");
        QTest::newRow("cut short by the end of the file") << QByteArray("\xE2\x82");
    }
    void invalidSequences() {
        QFETCH(QByteArray, bytes);
        TempDir dir;
        RecordingTarget target;
        const std::string content = "const IP_EXTERNO = 'a';\n" + bytes.toStdString();
        QCOMPARE_THROW_MESSAGE(
            SettingsFile::read(QString::fromStdString(dir.write("config.js", content)), target),
            quelvar::Error, kNoMapping);
        QVERIFY(target.calls.isEmpty());
    }

    void withUtf8MarkFaultsAreReplaced() {
        TempDir dir;
        RecordingTarget target;
        const std::string content =
            "\xEF\xBB\xBF"
            "const IP_EXTERNO = 'a\xE9z';\n";
        SettingsFile::read(QString::fromStdString(dir.write("config.js", content)), target);
        QCOMPARE(target.calls, QStringList{QStringLiteral("externo=a\uFFFDz")});
    }

    void manyBlocksLastLineWins() {
        std::string content;
        for (int i = 0; i < 3000; ++i) {
            content += "const IP_EXTERNO = 'h" + std::to_string(i) + "';\r\n";
        }
        TempDir dir;
        RecordingTarget target;
        SettingsFile::read(QString::fromStdString(dir.write("config.js", content)), target);
        QCOMPARE(target.calls.size(), 3000);
        QCOMPARE(target.calls.back(), QStringLiteral("externo=h2999"));
        QCOMPARE(target.calls.at(1234), QStringLiteral("externo=h1234"));
    }

    void utf16AcrossBlocks() {
        // Code units and surrogate pairs split by the block end, in both byte orders.
        for (const bool bigEndian : {false, true}) {
            QString text;
            for (int i = 0; i < 700; ++i) {
                text += QStringLiteral("// ção ") + QString::fromUtf8("\xF0\x9F\x98\x80") +
                        QStringLiteral("\r\n");
            }
            text += QStringLiteral("const IP_INTERNO = '10.0.0.1:ção';\n");
            std::string content = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
            for (const QChar c : text) {
                const char high = static_cast<char>(c.unicode() >> 8);
                const char low = static_cast<char>(c.unicode() & 0xFF);
                content += bigEndian ? std::string{high, low} : std::string{low, high};
            }
            TempDir dir;
            RecordingTarget target;
            SettingsFile::read(QString::fromStdString(dir.write("config.js", content)), target);
            QCOMPARE(target.calls, QStringList{QStringLiteral("interno=10.0.0.1:ção")});
        }
    }
};

QTEST_GUILESS_MAIN(SettingsFileTest)
#include "SettingsFileTest.moc"
