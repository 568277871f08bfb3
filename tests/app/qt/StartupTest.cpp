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
#include <QTabBar>
#include <QTabWidget>
#include <QToolTip>
#include <QtTest>

#include "app/qt/EventErrorBox.h"
#include "app/qt/Resources.h"
#include "app/qt/ThemeColours.h"
#include "app/qt/ThemeRegistry.h"
#include "app/qt/ThemeStyle.h"
#include "app/qt/WindowFont.h"
#include "base/Error.h"
#include "tests/app/qt/ModalBoxCatcher.h"
#include "tests/fixtures/ThrowMessage.h"

using quelvar::EventErrorBox;
using quelvar::ThemeColours;
using quelvar::ThemeRegistry;
using quelvar::ThemeStyle;
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
        QCOMPARE(box.title, QStringLiteral("app_startup_test"));
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
        const auto theme = ThemeRegistry().find(name);
        QVERIFY(theme.has_value());
        QCOMPARE(theme->name, QStringLiteral("Ruby Graphite"));
        QCOMPARE(theme->accent, QColor(0xa8, 0x22, 0x3b));
        QCOMPARE(theme->tipText, QColor(0xf1, 0xf2, 0xf4));
    }

    void findMissesOtherNames_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << "";
        QTest::newRow("part") << "Ruby";
        QTest::newRow("without blank") << "RubyGraphite";
        QTest::newRow("trailing blank") << "Ruby Graphite ";
        QTest::newRow("file name") << "RubyGraphite.theme";
    }
    void findMissesOtherNames() {
        QFETCH(QString, name);
        QVERIFY(!ThemeRegistry().find(name).has_value());
    }

    void loadedThemesComeFirst() {
        ThemeRegistry themes;
        themes.addLoaded(ThemeColours::parse("name RUBY graphite\naccent #ff0000\n"));
        QCOMPARE(themes.find(QStringLiteral("Ruby Graphite"))->accent, QColor(Qt::red));
        QCOMPARE(themes.loadedNames(), QStringList{QStringLiteral("RUBY graphite")});
    }

    void emptyFolderCarriesNothing() {
        const ThemeRegistry themes(QStringLiteral(":/no-such-folder"));
        QVERIFY(themes.carriedNames().isEmpty());
        QVERIFY(!themes.find(QStringLiteral("Ruby Graphite")).has_value());
    }

    void parseReadsRolesCommentsAndLineEnds() {
        const ThemeColours theme = ThemeColours::parse(
            "# comment\r\nname Dark Test\r\n\nface #0a0B0c\r\n#face #ffffff\nfield #102030");
        QCOMPARE(theme.name, QStringLiteral("Dark Test"));
        QCOMPARE(theme.face, QColor(0x0a, 0x0b, 0x0c));
        QCOMPARE(theme.field, QColor(0x10, 0x20, 0x30));
    }

    void parseRefusesUnreadableLines_data() {
        QTest::addColumn<QByteArray>("description");
        QTest::addColumn<QString>("message");
        QTest::newRow("no value") << QByteArray("name x\nface") << "Theme line without value: face";
        QTest::newRow("short colour")
            << QByteArray("name x\nface #12345") << "Theme colour is not #rrggbb: face #12345";
        QTest::newRow("no hash") << QByteArray("name x\nface 1234567")
                                 << "Theme colour is not #rrggbb: face 1234567";
        QTest::newRow("sign") << QByteArray("name x\nface #+12345")
                              << "Theme colour is not #rrggbb: face #+12345";
        QTest::newRow("not hex") << QByteArray("name x\nface #12345g")
                                 << "Theme colour is not #rrggbb: face #12345g";
        QTest::newRow("unknown role")
            << QByteArray("name x\nbackground #123456") << "Unknown theme role: background";
        QTest::newRow("role in other case")
            << QByteArray("name x\nFace #123456") << "Unknown theme role: Face";
        QTest::newRow("no name") << QByteArray("face #123456") << "Theme without name";
        QTest::newRow("empty") << QByteArray() << "Theme without name";
    }
    void parseRefusesUnreadableLines() {
        QFETCH(QByteArray, description);
        QFETCH(QString, message);
        QCOMPARE_THROW_MESSAGE(ThemeColours::parse(description), quelvar::Error, message);
    }

    // The theme is drawn by a style over Fusion, without a style sheet, in its colours.
    void selectAppliesTheTheme() {
        ModalBoxCatcher catcher;
        QVERIFY(ThemeRegistry().select(QStringLiteral("ruby graphite")));
        QVERIFY(catcher.boxes().isEmpty());
        QVERIFY(qApp->styleSheet().isEmpty());
        const auto* style = qobject_cast<const ThemeStyle*>(QApplication::style());
        QVERIFY(style != nullptr);
        QCOMPARE(style->baseStyle()->name(), QStringLiteral("fusion"));
        const ThemeColours theme = ThemeRegistry().find(QStringLiteral("Ruby Graphite")).value();
        QCOMPARE(style->colours().accent, theme.accent);
        QCOMPARE(QApplication::palette().color(QPalette::Window), theme.face);
        QCOMPARE(QApplication::palette().color(QPalette::Base), theme.field);
        QCOMPARE(QApplication::palette().color(QPalette::Disabled, QPalette::WindowText),
                 theme.disabledText);
        QCOMPARE(QToolTip::palette().color(QPalette::ToolTipBase), theme.tipFace);
        QCOMPARE(QToolTip::palette().color(QPalette::ToolTipText), theme.tipText);
    }

    // A pixel inside each kind of control the window holds has the theme's colour for it.
    void themeColoursTheControls() {
        ModalBoxCatcher catcher;
        QVERIFY(ThemeRegistry().select(QStringLiteral("Ruby Graphite")));
        const ThemeColours theme = ThemeRegistry().find(QStringLiteral("Ruby Graphite")).value();
        QWidget probe;
        probe.setBackgroundRole(QPalette::Button);
        probe.setAutoFillBackground(true);
        probe.resize(400, 300);
        auto* tabs = new QTabWidget(&probe);
        tabs->setGeometry(0, 0, 400, 300);
        auto* page = new QWidget;
        tabs->addTab(page, QStringLiteral("First"));
        tabs->addTab(new QWidget, QStringLiteral("Second"));
        auto* group = new QGroupBox(QStringLiteral("Group"), page);
        group->setGeometry(10, 10, 200, 120);
        auto* field = new QLineEdit(group);
        field->setGeometry(10, 20, 100, 21);
        auto* readOnly = new QLineEdit(group);
        readOnly->setGeometry(10, 45, 100, 21);
        readOnly->setReadOnly(true);
        auto* button = new QPushButton(QStringLiteral("Testar Portas"), group);
        button->setGeometry(110, 70, 80, 33);
        auto* disabled = new QPushButton(QStringLiteral("Off"), page);
        disabled->setGeometry(220, 150, 80, 33);
        disabled->setEnabled(false);
        auto* log = new QPlainTextEdit(page);
        log->setGeometry(220, 10, 100, 100);
        probe.show();
        QVERIFY(QTest::qWaitForWindowExposed(&probe));
        const QImage image = probe.grab().toImage();
        const auto at = [&](const QWidget* widget, QPoint point) {
            return image.pixelColor(widget->mapTo(&probe, point)).rgb();
        };
        const QRect firstTab = tabs->tabBar()->tabRect(0);
        const QRect secondTab = tabs->tabBar()->tabRect(1);
        QCOMPARE(at(tabs->tabBar(), firstTab.topLeft() + QPoint(4, 4)), theme.accent.rgb());
        QCOMPARE(at(tabs->tabBar(), secondTab.topLeft() + QPoint(4, 6)), theme.tab.rgb());
        // The ruby line under the tabs, across the pane's top.
        QCOMPARE(at(page, QPoint(200, -1)), theme.accent.rgb());
        QCOMPARE(at(page, QPoint(200, 150)), theme.face.rgb());
        QCOMPARE(at(group, QPoint(100, 100)), theme.groupFace.rgb());
        QCOMPARE(at(field, QPoint(50, 10)), theme.field.rgb());
        QCOMPARE(at(readOnly, QPoint(50, 10)), theme.readOnlyField.rgb());
        QCOMPARE(at(log, QPoint(50, 50)), theme.field.rgb());
        // The caption's face is cut out of the group's frame line.
        QCOMPARE(at(group, QPoint(5, 6)), theme.border.rgb());
        QCOMPARE(at(group, QPoint(11, 6)), theme.face.rgb());
        // The button's gradient runs from the top colour to the bottom one.
        const QColor top = at(button, QPoint(4, 2));
        const QColor bottom = at(button, QPoint(4, 30));
        QVERIFY2(qAbs(top.red() - theme.buttonTop.red()) <= 6, qPrintable(top.name()));
        QVERIFY2(qAbs(bottom.red() - theme.buttonBottom.red()) <= 6, qPrintable(bottom.name()));
        QCOMPARE(at(disabled, QPoint(4, 16)), theme.tab.rgb());
        QCOMPARE(readOnly->palette().color(QPalette::Text), theme.readOnlyText);
        QCOMPARE(field->palette().color(QPalette::Text), theme.text);
        QCOMPARE(log->palette().color(QPalette::Text), theme.logText);
    }

    // A hint is drawn on the tip face inside a ruby border.
    void toolTipsTakeTheTheme() {
        ModalBoxCatcher catcher;
        QVERIFY(ThemeRegistry().select(QStringLiteral("Ruby Graphite")));
        const ThemeColours theme = ThemeRegistry().find(QStringLiteral("Ruby Graphite")).value();
        QWidget owner;
        owner.resize(100, 100);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        QToolTip::showText(owner.mapToGlobal(QPoint(10, 10)), QStringLiteral("Hint text"), &owner);
        QWidget* tip = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->inherits("QTipLabel") && widget->isVisible()) {
                tip = widget;
            }
        }
        QVERIFY(tip != nullptr);
        const QImage image = tip->grab().toImage();
        QCOMPARE(image.pixelColor(0, 0).rgb(), theme.accent.rgb());
        QCOMPARE(image.pixelColor(2, 2).rgb(), theme.tipFace.rgb());
        QToolTip::hideText();
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
