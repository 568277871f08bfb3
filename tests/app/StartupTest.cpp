#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFontInfo>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include "app/EventErrorBox.h"
#include "app/Resources.h"
#include "app/ThemeRegistry.h"
#include "app/WindowFont.h"
#include "tests/app/ModalBoxCatcher.h"

using quelvar::EventErrorBox;
using quelvar::ThemeRegistry;
using quelvar::WindowFont;
using quelvar::test::ModalBoxCatcher;

// Start-up pieces of the program: the application title and event error box, the theme
// lookup and the window font.
class StartupTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { qApp->setStyleSheet({}); }

    void applicationTitle_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("title");
        QTest::newRow("installed") << "/usr/bin/quelvar"
                                   << "quelvar";
        QTest::newRow("capitals after the first") << "/opt/x/QUELVAR"
                                                  << "Quelvar";
        QTest::newRow("first kept as it is") << "/opt/x/qUELVAR"
                                             << "quelvar";
        QTest::newRow("cut at the first dot") << "/a/Quel.Var.exe"
                                              << "Quel";
        QTest::newRow("renamed copy") << "/home/u/Teste-Portas.bin"
                                      << "Teste-portas";
        QTest::newRow("dot first") << "/a/.hidden"
                                   << "";
        QTest::newRow("one letter") << "/a/Q"
                                    << "Q";
        QTest::newRow("beyond ASCII") << "/a/ÁGUA.exe"
                                      << "Água";
        QTest::newRow("dots in the directory") << "/a.b/c.d/Quelvar"
                                               << "Quelvar";
    }
    void applicationTitle() {
        QFETCH(QString, path);
        QFETCH(QString, title);
        QCOMPARE(EventErrorBox::applicationTitle(path), title);
    }

    void boxText_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("text");
        QTest::newRow("letter") << "Cannot open"
                                << "Cannot open.";
        QTest::newRow("full stop") << "Done."
                                   << "Done.";
        QTest::newRow("slash comes after") << "path/"
                                           << "path/.";
        QTest::newRow("digit comes after") << "code 5"
                                           << "code 5.";
        QTest::newRow("hyphen comes before") << "a -"
                                             << "a -";
        QTest::newRow("exclamation comes before") << "stop!"
                                                  << "stop!";
        QTest::newRow("parenthesis comes before") << "(x)"
                                                  << "(x)";
        QTest::newRow("quotation mark comes before") << "\"x\""
                                                     << "\"x\"";
        QTest::newRow("beyond ASCII") << "conexão"
                                      << "conexão.";
        QTest::newRow("empty") << ""
                               << "";
    }
    void boxText() {
        QFETCH(QString, message);
        QFETCH(QString, text);
        QCOMPARE(EventErrorBox::boxText(message), text);
    }

    void eventErrorBoxShowsMessageWithOneOk() {
        ModalBoxCatcher catcher;
        EventErrorBox::show(QStringLiteral("No mapping"));
        QCOMPARE(catcher.boxes().size(), 1);
        const auto& box = catcher.boxes().front();
        QCOMPARE(box.title, QStringLiteral("test_app_startup"));
        QCOMPARE(box.text, QStringLiteral("No mapping."));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(box.buttonCount, 1);
    }

    void carriedThemesListRubyGraphite() {
        const ThemeRegistry themes;
        QCOMPARE(themes.carriedNames(), QStringList{QStringLiteral("Ruby Graphite")});
        QVERIFY(themes.loadedNames().isEmpty());
    }

    void findIgnoresCase_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("as carried") << "Ruby Graphite";
        QTest::newRow("lower case") << "ruby graphite";
        QTest::newRow("upper case") << "RUBY GRAPHITE";
        QTest::newRow("mixed") << "rUbY gRaPhItE";
    }
    void findIgnoresCase() {
        QFETCH(QString, name);
        const auto styleSheet = ThemeRegistry().find(name);
        QVERIFY(styleSheet.has_value());
        QVERIFY(styleSheet->contains(QStringLiteral("QPushButton")));
    }

    void findMissesOtherNames_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << "";
        QTest::newRow("part") << "Ruby";
        QTest::newRow("without blank") << "RubyGraphite";
        QTest::newRow("trailing blank") << "Ruby Graphite ";
        QTest::newRow("file name") << "Ruby Graphite.qss";
    }
    void findMissesOtherNames() {
        QFETCH(QString, name);
        QVERIFY(!ThemeRegistry().find(name).has_value());
    }

    void loadedThemesComeFirst() {
        ThemeRegistry themes;
        themes.addLoaded(QStringLiteral("RUBY graphite"),
                         QStringLiteral("QWidget { color: red; }"));
        QCOMPARE(themes.find(QStringLiteral("Ruby Graphite")).value(),
                 QStringLiteral("QWidget { color: red; }"));
        QCOMPARE(themes.loadedNames(), QStringList{QStringLiteral("RUBY graphite")});
    }

    void emptyFolderCarriesNothing() {
        const ThemeRegistry themes(QStringLiteral(":/no-such-folder"));
        QVERIFY(themes.carriedNames().isEmpty());
        QVERIFY(!themes.find(QStringLiteral("Ruby Graphite")).has_value());
    }

    void selectAppliesTheTheme() {
        QTest::failOnWarning(QRegularExpression(QStringLiteral("stylesheet|style sheet"),
                                                QRegularExpression::CaseInsensitiveOption));
        ModalBoxCatcher catcher;
        QVERIFY(ThemeRegistry().select(QStringLiteral("ruby graphite")));
        QVERIFY(catcher.boxes().isEmpty());
        QCOMPARE(qApp->styleSheet(), ThemeRegistry().find(QStringLiteral("Ruby Graphite")).value());
        // A widget of each kind the window holds is drawn without a parse warning.
        QWidget probe;
        auto* tabs = new QTabWidget(&probe);
        auto* page = new QWidget;
        tabs->addTab(page, QStringLiteral("Tab"));
        auto* group = new QGroupBox(QStringLiteral("Group"), page);
        new QLineEdit(group);
        new QCheckBox(QStringLiteral("Box"), group);
        new QPushButton(QStringLiteral("Button"), group);
        new QLabel(QStringLiteral("Label"), group);
        new QPlainTextEdit(page);
        probe.resize(300, 200);
        QVERIFY(!probe.grab().isNull());
    }

    void selectMissingThemeShowsBoxAndKeepsStandardLook() {
        ModalBoxCatcher catcher;
        QVERIFY(!ThemeRegistry(QStringLiteral(":/no-such-folder"))
                     .select(QStringLiteral("Ruby Graphite")));
        QCOMPARE(catcher.boxes().size(), 1);
        const auto& box = catcher.boxes().front();
        QCOMPARE(box.text, QStringLiteral("Style 'Ruby Graphite' not found"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Close));
        QCOMPARE(box.buttonCount, 1);
        QVERIFY(qApp->styleSheet().isEmpty());
    }

    void selectUnknownNameNamesIt() {
        ModalBoxCatcher catcher;
        QVERIFY(!ThemeRegistry().select(QStringLiteral("Nonexistent Look")));
        QCOMPARE(catcher.boxes().size(), 1);
        QCOMPARE(catcher.boxes().front().text,
                 QStringLiteral("Style 'Nonexistent Look' not found"));
    }

    void indicatorPicturesAreLargeSolid32Bit_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("green") << quelvar::Resources::kGreenPicture << QSize(678, 1000)
                               << QColor(60, 213, 63);
        QTest::newRow("red") << quelvar::Resources::kRedPicture << QSize(640, 896)
                             << QColor(246, 0, 1);
    }
    void indicatorPicturesAreLargeSolid32Bit() {
        QFETCH(QString, file);
        QFETCH(QSize, size);
        QFETCH(QColor, colour);
        quelvar::Resources::ensureLoaded();
        const QImage picture(file);
        QCOMPARE(picture.size(), size);
        QCOMPARE(picture.depth(), 32);
        const QImage pixels = picture.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < pixels.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
            for (int x = 0; x < pixels.width(); ++x) {
                if (line[x] != colour.rgba()) {
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2 differs").arg(x).arg(y)));
                }
            }
        }
    }

    // The pictures are read once and shared by every pixmap made of them, with the pixels the
    // image reader gives.
    void indicatorPicturesAreShared() {
        using quelvar::IndicatorColour;
        using quelvar::Resources;
        const QPixmap green = Resources::indicatorPicture(IndicatorColour::Green);
        const QPixmap red = Resources::indicatorPicture(IndicatorColour::Red);
        QCOMPARE(green.size(), QSize(678, 1000));
        QCOMPARE(red.size(), QSize(640, 896));
        QCOMPARE(green.depth(), 32);
        QVERIFY(!green.hasAlphaChannel());
        QCOMPARE(Resources::indicatorPicture(IndicatorColour::Green).cacheKey(), green.cacheKey());
        QCOMPARE(Resources::indicatorPicture(IndicatorColour::Red).cacheKey(), red.cacheKey());
        QCOMPARE(green.toImage(),
                 QImage(Resources::kGreenPicture).convertToFormat(QImage::Format_RGB32));
        QCOMPARE(red.toImage(),
                 QImage(Resources::kRedPicture).convertToFormat(QImage::Format_RGB32));
    }

    // The icon's renditions hold the pixels the SVG icon engine draws at each size, as the
    // window system receives them (unpremultiplied ARGB).
    void applicationIconMatchesTheSvg_data() {
        QTest::addColumn<int>("size");
        for (int size : quelvar::Resources::kIconSizes) {
            QTest::newRow(QByteArray::number(size).constData()) << size;
        }
    }
    void applicationIconMatchesTheSvg() {
        QFETCH(int, size);
        quelvar::Resources::ensureLoaded();
        const QIcon icon = quelvar::Resources::applicationIcon();
        QVERIFY(icon.availableSizes().contains(QSize(size, size)));
        const QIcon drawn(quelvar::Resources::kIcon);
        const QImage expected =
            drawn.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32);
        QVERIFY(!expected.isNull());
        QCOMPARE(icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32),
                 expected);
    }

    void iconIsCarried() {
        quelvar::Resources::ensureLoaded();
        QVERIFY(QFile::exists(quelvar::Resources::kIcon));
        const QImage icon(quelvar::Resources::kIcon);
        QVERIFY(!icon.isNull());
    }

    void windowFontIsTahomaElevenPixels() {
        const bool tahoma = WindowFont::loadTahoma();
        QCOMPARE(tahoma, QFile::exists(WindowFont::kWineTahoma) ||
                             QFontDatabase::families().contains(QStringLiteral("Tahoma")));
        const QFont font = WindowFont::font();
        QCOMPARE(font.pixelSize(), 11);
        if (tahoma) {
            QCOMPARE(QFontInfo(font).family(), QStringLiteral("Tahoma"));
        }
    }

    void missingFontFileLeavesSansSerif() {
        // A second load with files that do not exist changes nothing and does not fail.
        const bool before = QFontDatabase::families().contains(QStringLiteral("Tahoma"));
        QCOMPARE(WindowFont::loadTahoma(QStringLiteral("/nonexistent/tahoma.ttf")), before);
        QCOMPARE(WindowFont::font().pixelSize(), 11);
    }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
