#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QFrame>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <string_view>
#include <type_traits>
#include <vector>

#include "app/qt/LabeledEdit.h"
#include "app/qt/LogBox.h"
#include "app/qt/Startup.h"
#include "app/qt/TfmPrincipal.h"
#include "app/qt/ThemeRegistry.h"
#include "app/qt/WindowFont.h"
#include "form/MainForm.h"
#include "settings/SettingsFile.h"
#include "tests/app/qt/ModalBoxCatcher.h"
#include "tests/checks/HttpMessages.h"
#include "tests/fixtures/Certificates.h"
#include "tests/fixtures/HeldFile.h"
#include "tests/fixtures/ScriptedServer.h"
#include "tests/fixtures/TestFiles.h"
#include "tests/form/ConfigFile.h"
#include "tests/form/RunScenarios.h"
#include "tests/form/TabCycle.h"
#include "tests/status/StatusProcess.h"

using namespace std::chrono_literals;
using quelvar::CheckRunSettings;
using quelvar::ControlKind;
using quelvar::FormControl;
using quelvar::LabeledEdit;
using quelvar::LogBox;
using quelvar::MainForm;
using quelvar::SettingsFile;
using quelvar::TfmPrincipal;
using quelvar::test::CaughtBox;
using quelvar::test::Exchange;
using quelvar::test::httpReply;
using quelvar::test::ModalBoxCatcher;
using quelvar::test::removeConfig;
using quelvar::test::responseReply;
using quelvar::test::ScriptedServer;
using quelvar::test::textReply;
using quelvar::test::writeConfig;

namespace {

QString text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

const QString kExternalStart = text(quelvar::test::kExternalStart);
const QString kSeparatorAndInternalStart = text(quelvar::test::kSeparatorAndInternalStart);

bool isIndicator(const FormControl& row) {
    return row.kind == ControlKind::GreenIndicator || row.kind == ControlKind::RedIndicator;
}

// The rows of the form's controls, the components left out.
std::vector<const FormControl*> controlRows() {
    std::vector<const FormControl*> rows;
    for (const FormControl& row : MainForm::controls()) {
        if (row.kind != ControlKind::Component) {
            rows.push_back(&row);
        }
    }
    return rows;
}

// The indicators' names in the form's order.
QStringList indicatorNames() {
    QStringList names;
    for (const FormControl* row : controlRows()) {
        if (isIndicator(*row)) {
            names.append(text(row->name));
        }
    }
    return names;
}

// Returns whether the widget is of the class the window makes for the row's kind.
bool isOfKind(QWidget* widget, ControlKind kind) {
    switch (kind) {
        case ControlKind::Component:
            return false;
        case ControlKind::Container:
        case ControlKind::BevelPanel:
            return qobject_cast<QFrame*>(widget) != nullptr;
        case ControlKind::TabControl:
            return qobject_cast<QTabWidget*>(widget) != nullptr;
        case ControlKind::TabSheet:
            return widget->metaObject() == &QWidget::staticMetaObject;
        case ControlKind::GroupBox:
            return qobject_cast<QGroupBox*>(widget) != nullptr;
        case ControlKind::Button:
            return qobject_cast<QPushButton*>(widget) != nullptr;
        case ControlKind::LabeledEdit:
            return qobject_cast<LabeledEdit*>(widget) != nullptr;
        case ControlKind::CheckBox:
            return qobject_cast<QCheckBox*>(widget) != nullptr;
        case ControlKind::LogBox:
            return qobject_cast<LogBox*>(widget) != nullptr;
        case ControlKind::GreenIndicator:
        case ControlKind::RedIndicator:
            return qobject_cast<QLabel*>(widget) != nullptr;
    }
    return false;
}

// Returns the text the widget shows as the row's caption: a tab's text for a sheet, the label
// of a labelled edit.
QString captionOf(TfmPrincipal& w, const FormControl& row, QWidget* widget) {
    switch (row.kind) {
        case ControlKind::TabSheet:
            return w.PageControl1->tabText(w.PageControl1->indexOf(widget));
        case ControlKind::GroupBox:
            return qobject_cast<QGroupBox*>(widget)->title();
        case ControlKind::Button:
        case ControlKind::CheckBox:
            return qobject_cast<QAbstractButton*>(widget)->text();
        case ControlKind::LabeledEdit:
            return qobject_cast<LabeledEdit*>(widget)->editLabel()->text();
        default:
            return {};
    }
}

// Settings for runs that end at once: a status endpoint on a loopback port nobody listens on
// and no pause.
CheckRunSettings quickSettings(const std::string& statusEndpoint = {}) {
    CheckRunSettings settings;
    settings.statusEndpoint =
        statusEndpoint.empty()
            ? "http://127.0.0.1:" + std::to_string(quelvar::test::refusingPort()) + "/v1/status"
            : statusEndpoint;
    settings.pause = 0ms;
    settings.directTimeouts.connect = 5000ms;
    settings.directTimeouts.read = 5000ms;
    return settings;
}

QString configPath() {
    return QString::fromStdString(quelvar::test::configPath().string());
}

// Shows the window as the program does and returns the boxes its show raised.
QList<CaughtBox> showWindow(TfmPrincipal& window) {
    ModalBoxCatcher catcher(&window);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        qWarning("window not exposed");
    }
    return catcher.boxes();
}

// What a run may change on a tab.
struct TabState {
    QString external;
    QString internal;
    bool https = false;
    QString log;
    QList<bool> indicators;

    bool operator==(const TabState&) const = default;
};

TabState stateOf(TfmPrincipal& w, const QString& tab) {
    const auto edit = [&](const QString& role) {
        return w.findChild<QLineEdit*>(QStringLiteral("edt") + tab + role)->text();
    };
    TabState state{
        edit(QStringLiteral("Externo")),
        edit(QStringLiteral("Interno")),
        w.findChild<QCheckBox*>(QStringLiteral("cb") + tab + QStringLiteral("Https"))->isChecked(),
        {},
        {}};
    const QString logName = tab == u"Api" ? QStringLiteral("memoAPILog")
                                          : QStringLiteral("memo") + tab + QStringLiteral("Log");
    state.log = w.findChild<LogBox*>(logName)->text();
    for (const char* suffix : {"ExtGreen", "ExtRed", "IntGreen", "IntRed"}) {
        state.indicators.append(
            !w.findChild<QLabel*>(QStringLiteral("img") + tab + QLatin1String(suffix))->isHidden());
    }
    return state;
}

QStringList visibleIndicators(TfmPrincipal& w) {
    QStringList visible;
    for (const QString& name : indicatorNames()) {
        if (!w.findChild<QLabel*>(name)->isHidden()) {
            visible.append(name);
        }
    }
    return visible;
}

QString outputDirectory() {
    const QByteArray fromEnvironment = qgetenv("QUELVAR_TEST_OUTPUT");
    const QString base = fromEnvironment.isEmpty() ? QCoreApplication::applicationDirPath()
                                                   : QString::fromLocal8Bit(fromEnvironment);
    const QString directory = base + QStringLiteral("/app");
    QDir().mkpath(directory);
    return directory;
}

// Returns whether every pixel of the image has the colour.
bool solid(const QImage& image, QColor colour) {
    const QImage pixels = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < pixels.height(); ++y) {
        for (int x = 0; x < pixels.width(); ++x) {
            if (QColor(pixels.pixel(x, y)).rgb() != colour.rgb()) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

Q_DECLARE_METATYPE(QList<bool>)

// The main window through its own controls: layout, texts, states, focus, the dispatch, the
// settings file read at the first show, and runs against loopback servers.
class WindowTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QApplication::setQuitOnLastWindowClosed(false);
        quelvar::WindowFont::loadTahoma();
        QTest::failOnWarning(QRegularExpression(QStringLiteral("stylesheet|style sheet"),
                                                QRegularExpression::CaseInsensitiveOption));
        QVERIFY(quelvar::ThemeRegistry().select(QStringLiteral("Ruby Graphite")));
    }

    // Every window reads config.js at its show; an empty one changes nothing.
    void init() { writeConfig(""); }
    void cleanupTestCase() { removeConfig(); }

    void initialState() {
        TfmPrincipal w(quickSettings());
        QVERIFY(!w.isVisible());
        QCOMPARE(showWindow(w).size(), 0);
        QCOMPARE(w.PageControl1->currentWidget(), w.TabSheet3);
        QCOMPARE(w.PageControl1->currentIndex(), 2);
        QVERIFY(visibleIndicators(w).isEmpty());
        // Each control shown or hidden, enabled or not, editable or not as the form has it;
        // the sheets behind are hidden by the tab control.
        for (const FormControl* row : controlRows()) {
            auto* widget = w.findChild<QWidget*>(text(row->name));
            QVERIFY2(widget != nullptr, row->name.data());
            QCOMPARE(widget->isHidden(), !row->visible);
            QCOMPARE(widget->isEnabled(), row->enabled);
            if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
                QCOMPARE(edit->isReadOnly(), row->readOnly);
            }
        }
        for (LogBox* log : {w.memoAPILog, w.memoWebLog, w.memoWhatsLog}) {
            QVERIFY(log->text().isEmpty());
            QVERIFY(log->toPlainText().isEmpty());
        }
        for (QLineEdit* edit :
             {static_cast<QLineEdit*>(w.edtApiExterno), static_cast<QLineEdit*>(w.edtApiInterno),
              static_cast<QLineEdit*>(w.edtWebExterno), static_cast<QLineEdit*>(w.edtWebInterno),
              static_cast<QLineEdit*>(w.edtWhatsExterno),
              static_cast<QLineEdit*>(w.edtWhatsInterno)}) {
            QVERIFY(edit->text().isEmpty());
        }
        for (QCheckBox* box : {w.cbApiHttps, w.cbWebHttps, w.cbWhatsHttps}) {
            QVERIFY(!box->isChecked());
        }
        QVERIFY(!w.isRunning());
    }

    void apiTabCannotBeChangedByTheUser() {
        TfmPrincipal w(quickSettings());
        showWindow(w);
        w.PageControl1->setCurrentWidget(w.TabSheet1);
        QTest::keyClicks(w.edtApiExterno, QStringLiteral("typed"));
        QTest::keyClicks(w.edtApiInterno, QStringLiteral("typed"));
        QTest::mouseClick(w.cbApiHttps, Qt::LeftButton);
        QVERIFY(w.edtApiExterno->text().isEmpty());
        QVERIFY(w.edtApiInterno->text().isEmpty());
        QVERIFY(!w.cbApiHttps->isChecked());
        // The other tabs take input.
        w.PageControl1->setCurrentWidget(w.TabSheet2);
        QTest::keyClicks(w.edtWebExterno, QStringLiteral("typed"));
        QTest::mouseClick(w.cbWebHttps, Qt::LeftButton);
        QCOMPARE(w.edtWebExterno->text(), QStringLiteral("typed"));
        QVERIFY(w.cbWebHttps->isChecked());
    }

    void windowFrameFontAndDefaults() {
        TfmPrincipal w;
        const QSize client(MainForm::kClientWidth, MainForm::kClientHeight);
        QCOMPARE(w.objectName(), text(MainForm::kName));
        QCOMPARE(w.windowTitle(), text(MainForm::kCaption));
        QCOMPARE(w.size(), client);
        QCOMPARE(w.minimumSize(), client);
        QCOMPARE(w.maximumSize(), client);
        const Qt::WindowFlags flags = w.windowFlags();
        QVERIFY(w.isWindow());
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));
        // A window of its own with its own task-bar entry, not a tool window.
        QCOMPARE(w.windowType(), Qt::Window);
        QCOMPARE(w.font().pixelSize(), 11);
        if (QFile::exists(quelvar::WindowFont::kWineTahoma)) {
            QCOMPARE(QFontInfo(w.font()).family(), QStringLiteral("Tahoma"));
            QCOMPARE(QFontInfo(w.edtWebExterno->font()).family(), QStringLiteral("Tahoma"));
            QCOMPARE(QFontInfo(w.memoWhatsLog->font()).family(), QStringLiteral("Tahoma"));
        }
        QCOMPARE(w.backgroundRole(), QPalette::Button);
        // The run settings by default: the build's status endpoint and a pause of one second.
        QCOMPARE(w.runSettings().pause, std::chrono::milliseconds(1000));
        QCOMPARE(w.runSettings().statusEndpoint, std::string(QUELVAR_STATUS_URL));
        // The service-profile members as the window makes them.
        QCOMPARE(w.RESTClient1.accept(),
                 std::string("application/json, text/plain; q=0.9, text/html;q=0.8,"));
        QCOMPARE(w.RESTClient1.acceptCharset(), std::string("UTF-8, *;q=0.8"));
        QCOMPARE(w.RESTClient1.contentType(), std::string("application/json"));
        QVERIFY(!w.RESTClient1.raiseExceptionOn500());
        QVERIFY(QString::fromStdString(w.RESTClient1.baseURL()).endsWith(u"/v1/status"));
        QCOMPARE(w.RESTRequest1.method(), quelvar::RestMethod::Post);
        QVERIFY(w.RESTRequest1.parameters().empty());
        QCOMPARE(&w.RESTRequest1.client(), &w.RESTClient1);
        QCOMPARE(&w.RESTRequest1.response(), &w.RESTResponse1);
    }

    // Every member is where the form puts it, of the class the window makes for its kind.
    void membersAreTheFormsControls() {
        TfmPrincipal w(quickSettings());
        int members = 0;
        MainForm::forEachMember(w, [&](auto& member, const FormControl& row) {
            ++members;
            if constexpr (std::is_pointer_v<std::remove_reference_t<decltype(member)>>) {
                QVERIFY2(member != nullptr, row.name.data());
                QCOMPARE(member->objectName(), text(row.name));
                QVERIFY2(isOfKind(member, row.kind), row.name.data());
            } else {
                QCOMPARE(row.kind, ControlKind::Component);
            }
        });
        QCOMPARE(members, static_cast<int>(MainForm::controls().size()));
    }

    void geometry_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("rect");
        for (const FormControl* row : controlRows()) {
            // The tab control lays its sheets out itself; their size is checked below.
            if (row->kind != ControlKind::TabSheet) {
                QTest::newRow(row->name.data())
                    << text(row->name) << text(row->parent)
                    << QRect(row->rect.left, row->rect.top, row->rect.width, row->rect.height);
            }
        }
    }
    void geometry() {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QRect, rect);
        TfmPrincipal w(quickSettings());
        showWindow(w);
        // Each sheet is laid out when it first comes to the front.
        for (int i = 0; i < 3; ++i) {
            w.PageControl1->setCurrentIndex(i);
            QCoreApplication::processEvents();
        }
        auto* widget = w.findChild<QWidget*>(name);
        QVERIFY(widget != nullptr);
        QCOMPARE(widget->parentWidget()->objectName(), parent);
        QCOMPARE(widget->geometry(), rect);
    }

    void sheetsAreTheTabControlsPages() {
        TfmPrincipal w(quickSettings());
        showWindow(w);
        for (const FormControl* row : MainForm::childrenOf("PageControl1")) {
            auto* sheet = w.findChild<QWidget*>(text(row->name));
            w.PageControl1->setCurrentWidget(sheet);
            QCoreApplication::processEvents();
            QCOMPARE(w.PageControl1->widget(MainForm::sheetIndex(row->name)), sheet);
            QCOMPARE(sheet->size(), QSize(row->rect.width, row->rect.height));
        }
    }

    void labelsSitLeftOfTheirFields_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("label");
        for (const FormControl* row : controlRows()) {
            if (row->kind == ControlKind::LabeledEdit) {
                QTest::newRow(row->name.data()) << text(row->name) << text(row->caption);
            }
        }
    }
    void labelsSitLeftOfTheirFields() {
        QFETCH(QString, field);
        QFETCH(QString, label);
        TfmPrincipal w(quickSettings());
        showWindow(w);
        auto* edit = w.findChild<LabeledEdit*>(field);
        QLabel* caption = edit->editLabel();
        QCOMPARE(caption->text(), label);
        QCOMPARE(caption->parentWidget(), edit->parentWidget());
        QCOMPARE(caption->width(), caption->sizeHint().width());
        QCOMPARE(caption->x() + caption->width() + MainForm::kLabelSpacing, edit->x());
        QCOMPARE(caption->y(), edit->y() + (edit->height() - caption->height()) / 2);
        QVERIFY(caption->x() > 0);
        QCOMPARE(caption->focusPolicy(), Qt::NoFocus);
    }

    void captions() {
        TfmPrincipal w(quickSettings());
        QCOMPARE(w.PageControl1->count(), 3);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(w.PageControl1->tabIcon(i).isNull());
        }
        for (const FormControl* row : controlRows()) {
            auto* widget = w.findChild<QWidget*>(text(row->name));
            QCOMPARE(captionOf(w, *row, widget), text(row->caption));
            if (row->kind == ControlKind::Button) {
                QCOMPARE(widget->focusPolicy(), Qt::NoFocus);
            }
        }
        QCOMPARE(w.Panel2->frameShadow(), QFrame::Raised);
        QCOMPARE(w.Panel1->frameShape(), QFrame::NoFrame);
    }

    // Each field shows the form's hint; no other widget has one.
    void hints() {
        TfmPrincipal w(quickSettings());
        int hinted = 0;
        for (QWidget* widget : w.findChildren<QWidget*>()) {
            const QString name = widget->objectName();
            const auto rows = MainForm::controls();
            const auto row = std::find_if(rows.begin(), rows.end(), [&](const FormControl& each) {
                return text(each.name) == name;
            });
            const QString hint = row != rows.end() ? text(row->hint) : QString();
            QCOMPARE(widget->toolTip(), hint);
            hinted += hint.isEmpty() ? 0 : 1;
        }
        QCOMPARE(hinted, 6);
    }

    void tabOrder_data() {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QStringList>("order");
        for (const FormControl* sheet : MainForm::childrenOf("PageControl1")) {
            QStringList order;
            for (std::string_view name : quelvar::test::tabCycle(sheet->name)) {
                order.append(text(name));
            }
            order.append(QStringLiteral("qt_tabwidget_tabbar"));
            QTest::newRow(sheet->caption.data()) << MainForm::sheetIndex(sheet->name) << order;
        }
    }
    void tabOrder() {
        QFETCH(int, tab);
        QFETCH(QStringList, order);
        TfmPrincipal w(quickSettings());
        showWindow(w);
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.PageControl1->setCurrentIndex(tab);
        w.PageControl1->tabBar()->setFocus(Qt::TabFocusReason);
        QCOMPARE(QApplication::focusWidget(), w.PageControl1->tabBar());
        QStringList forward;
        for (qsizetype i = 0; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            forward.append(QApplication::focusWidget()->objectName());
        }
        QCOMPARE(forward, order);
        QStringList backward;
        for (qsizetype i = 0; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
            backward.append(QApplication::focusWidget()->objectName());
        }
        QStringList reversed(order.rbegin() + 1, order.rend());
        reversed.append(order.back());
        QCOMPARE(backward, reversed);
    }

    void buttonsNeverTakeTheFocus() {
        TfmPrincipal w(quickSettings());
        showWindow(w);
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.edtWhatsExterno->setFocus();
        QTest::mouseClick(w.btnTestarPortasWhats, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), w.edtWhatsExterno);
        QVERIFY(w.memoWhatsLog->text().startsWith(kExternalStart));
    }

    void logBoxes() {
        TfmPrincipal w(quickSettings());
        showWindow(w);
        LogBox* log = w.memoWhatsLog;
        QVERIFY(log->isReadOnly());
        QCOMPARE(log->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(log->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(log->focusPolicy(), Qt::StrongFocus);
        QVERIFY(log->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));
        QVERIFY(log->textInteractionFlags().testFlag(Qt::TextSelectableByKeyboard));

        log->appendLine(QStringLiteral("Testando"));
        log->appendLine(QStringLiteral("\r\n"));
        QCOMPARE(log->text(), QStringLiteral("Testando\r\n\r\n\r\n"));
        QCOMPARE(log->toPlainText(), QStringLiteral("Testando\n\n\n"));

        // Not editable by the user, but selectable and copyable.
        log->setFocus();
        QTest::keyClicks(log, QStringLiteral("xyz"));
        QCOMPARE(log->text(), QStringLiteral("Testando\r\n\r\n\r\n"));
        log->selectAll();
        log->copy();
        QVERIFY(QApplication::clipboard()->text().startsWith(QStringLiteral("Testando")));

        // Long lines wrap at the box's width, and many lines bring no scroll bar.
        log->clearText();
        QVERIFY(log->text().isEmpty() && log->toPlainText().isEmpty());
        log->appendLine(QString(200, u'x'));
        for (int i = 0; i < 60; ++i) {
            log->appendLine(QStringLiteral("Conexão Interna - Erro"));
        }
        QCoreApplication::processEvents();
        QVERIFY(log->document()->firstBlock().layout()->lineCount() > 1);
        QVERIFY(!log->verticalScrollBar()->isVisible());
        QVERIFY(!log->horizontalScrollBar()->isVisible());
    }

    void indicatorsShowTheirPictureClipped_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<QSize>("picture");
        for (const FormControl* row : controlRows()) {
            if (!isIndicator(*row)) {
                continue;
            }
            const bool green = row->kind == ControlKind::GreenIndicator;
            QTest::newRow(row->name.data())
                << text(row->name) << (green ? QColor(60, 213, 63) : QColor(246, 0, 1))
                << (green ? QSize(678, 1000) : QSize(640, 896));
        }
    }
    void indicatorsShowTheirPictureClipped() {
        QFETCH(QString, name);
        QFETCH(QColor, colour);
        QFETCH(QSize, picture);
        TfmPrincipal w(quickSettings());
        showWindow(w);
        auto* indicator = w.findChild<QLabel*>(name);
        // A hidden indicator has not read its picture yet.
        QVERIFY(indicator->pixmap().isNull());
        indicator->show();
        QCOMPARE(indicator->pixmap().size(), picture);
        QCOMPARE(indicator->pixmap().depth(), 32);
        QVERIFY(!indicator->hasScaledContents());
        QCOMPARE(indicator->alignment(), Qt::AlignLeft | Qt::AlignTop);
        const QImage shown = indicator->grab().toImage();
        QCOMPARE(shown.size() / shown.devicePixelRatio(), indicator->size());
        QVERIFY(solid(shown, colour));
    }

    void dispatch_data() {
        QTest::addColumn<QString>("tipo");
        QTest::addColumn<QString>("tab");
        QTest::newRow("api") << "api"
                             << "Api";
        QTest::newRow("web") << "web"
                             << "Web";
        QTest::newRow("whats") << "whats"
                               << "Whats";
        QTest::newRow("API") << "API"
                             << "Whats";
        QTest::newRow("Web") << "Web"
                             << "Whats";
        QTest::newRow("WEB") << "WEB"
                             << "Whats";
        QTest::newRow("empty") << ""
                               << "Whats";
        QTest::newRow("api with blank") << "api "
                                        << "Whats";
        QTest::newRow("other") << "lumora"
                               << "Whats";
    }
    void dispatch() {
        QFETCH(QString, tipo);
        QFETCH(QString, tab);
        TfmPrincipal w(quickSettings());
        showWindow(w);
        w.TestaPortas(tipo);
        // The status service cannot be reached and the internal field is empty.
        const QString expected = kExternalStart + QStringLiteral("Conexão Externa - Erro\r\n") +
                                 kSeparatorAndInternalStart +
                                 QStringLiteral("Conexão Interna - Erro\r\n");
        for (const QString& each :
             {QStringLiteral("Api"), QStringLiteral("Web"), QStringLiteral("Whats")}) {
            const TabState state = stateOf(w, each);
            QCOMPARE(state.log, each == tab ? expected : QString());
            QCOMPARE(state.indicators, each == tab ? (QList<bool>{false, true, false, true})
                                                   : (QList<bool>{false, false, false, false}));
        }
    }

    void buttonsDispatchToTheirTab_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("tab");
        QTest::newRow("api") << "btnTestarPortasApi"
                             << "Api";
        QTest::newRow("web") << "btnTestarPortasWeb"
                             << "Web";
        QTest::newRow("whats") << "btnTestarPortasWhats"
                               << "Whats";
    }
    void buttonsDispatchToTheirTab() {
        QFETCH(QString, button);
        QFETCH(QString, tab);
        TfmPrincipal w(quickSettings());
        showWindow(w);
        w.PageControl1->setCurrentIndex(tab == u"Api" ? 0 : tab == u"Web" ? 1 : 2);
        QTest::mouseClick(w.findChild<QPushButton*>(button), Qt::LeftButton);
        for (const QString& each :
             {QStringLiteral("Api"), QStringLiteral("Web"), QStringLiteral("Whats")}) {
            QCOMPARE(stateOf(w, each).log.isEmpty(), each != tab);
        }
    }

    void settingsFile_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("externo");
        QTest::addColumn<QString>("interno");
        QTest::addColumn<bool>("https");
        QTest::addColumn<QString>("box");  // %1 stands for the file's path

        const auto row = [](const char* name, const QByteArray& bytes, const QString& externo,
                            const QString& interno = {}, bool https = false,
                            const QString& box = {}) {
            QTest::newRow(name) << "write" << bytes << externo << interno << https << box;
        };
        const auto httpsRow = [](const char* name, const QByteArray& line, bool https) {
            QTest::newRow(name) << "write" << line << QString() << QString() << https << QString();
        };
        // The single lines of the file format.
        httpsRow("true", "const USA_HTTPS = true;", true);
        httpsRow("false", "const USA_HTTPS = false;", false);
        httpsRow("True", "const USA_HTTPS = True;", false);
        httpsRow("quoted true", "const USA_HTTPS = 'true';", false);
        httpsRow("true without semicolon", "const USA_HTTPS = true", false);
        httpsRow("true with trailing blank", "const USA_HTTPS = true; ", false);
        httpsRow("true indented", "  const USA_HTTPS = true;", true);
        httpsRow("later false unticks", "const USA_HTTPS = true;\nconst USA_HTTPS = false;", false);
        const QByteArray before = "const IP_EXTERNO = 'antes';\n";
        row("single quotes", "const IP_EXTERNO = 'host:10446';", "host:10446");
        row("double quotes", "const IP_EXTERNO = \"host:10446\";", "host:10446");
        row("no semicolon", "const IP_EXTERNO = 'host:10446'", "host:1044");
        row("no quotation marks", "const IP_EXTERNO = host:10446;", "ost:1044");
        row("no blanks around =", before + "const IP_EXTERNO='x';", "antes");
        row("two blanks after const", before + "const  IP_EXTERNO = 'x';", "antes");
        row("two blanks after =", "const IP_EXTERNO =  'x';", "'x");
        row("empty value", before + "const IP_EXTERNO = '';", "");
        row("ends after the marker", before + "const IP_EXTERNO = ", "");
        row("blanks kept", "const IP_EXTERNO = ' host ';", " host ");
        row("= in the value", "const IP_EXTERNO = 'a=b';", "a=b");
        row("= before the marker", "x = 1; const IP_EXTERNO = 'h';", "; const IP_EXTERNO = 'h");
        row("export", "export const IP_EXTERNO = 'h';", "h");
        row("commented out overrides", "const IP_EXTERNO = 'live';\n// const IP_EXTERNO = 'old';",
            "old");
        row("trailing comment", "const IP_EXTERNO = 'host:10446'; // x", "host:10446'; //");
        row("two keys on one line", "const IP_EXTERNO = 'a'; const IP_INTERNO = 'b';",
            "a'; const IP_INTERNO = 'b", "a'; const IP_INTERNO = 'b");
        row("internal", "const IP_INTERNO = '10.1.1.1:8080';", "", "10.1.1.1:8080");
        row("later line wins", "const IP_EXTERNO = 'a';\nconst IP_EXTERNO = 'b';", "b");
        row("accented value", "const IP_EXTERNO = 'conexão.br';", "conexão.br");
        row("beyond the BMP", "const IP_EXTERNO = 'a\xF0\x9F\x98\x80z';",
            QStringLiteral("a") + QString::fromUtf8("\xF0\x9F\x98\x80") + QStringLiteral("z"));

        // Line ends.
        const QByteArray lines[] = {"const USA_HTTPS = true;", "const IP_EXTERNO = 'e:1';",
                                    "const IP_INTERNO = 'i:2';"};
        const auto joined = [&lines](const QByteArray& end, const QByteArray& last) {
            return lines[0] + end + lines[1] + end + lines[2] + last;
        };
        row("LF", joined("\n", "\n"), "e:1", "i:2", true);
        row("CR", joined("\r", "\r"), "e:1", "i:2", true);
        row("CR LF", joined("\r\n", "\r\n"), "e:1", "i:2", true);
        row("no final line end", joined("\r\n", ""), "e:1", "i:2", true);
        row("mixed", lines[0] + "\r" + lines[1] + "\n" + lines[2] + "\r\n", "e:1", "i:2", true);
        row("blank lines between", joined("\r\n\r\n\n\r", "\n\n"), "e:1", "i:2", true);

        // Byte-order marks.
        const QString sample = QString::fromUtf8(joined("\r\n", "\r\n"))
                                   .replace(QStringLiteral("e:1"), QStringLiteral("ção:1"));
        const QByteArray utf8 = sample.toUtf8();
        QByteArray littleEndian("\xFF\xFE", 2);
        QByteArray bigEndian("\xFE\xFF", 2);
        QByteArray noMark;
        for (const QChar c : QString::fromUtf8(joined("\r\n", "\r\n"))) {
            noMark.append(static_cast<char>(c.unicode() & 0xFF)).append(char(0));
        }
        for (const QChar c : sample) {
            const char high = static_cast<char>(c.unicode() >> 8);
            const char low = static_cast<char>(c.unicode() & 0xFF);
            littleEndian.append(low).append(high);
            bigEndian.append(high).append(low);
        }
        row("plain UTF-8", utf8, "ção:1", "i:2", true);
        row("UTF-8 with mark", "\xEF\xBB\xBF" + utf8, "ção:1", "i:2", true);
        row("UTF-16 LE with mark", littleEndian, "ção:1", "i:2", true);
        row("UTF-16 BE with mark", bigEndian, "ção:1", "i:2", true);
        row("UTF-16 without mark", noMark, "");
        row("empty file", "", "");
        row("UTF-8 mark only", "\xEF\xBB\xBF", "");
        row("UTF-16 LE mark only", "\xFF\xFE", "");
        row("UTF-16 BE mark only", "\xFE\xFF", "");

        // Strict UTF-8 without mark.
        const QString noMapping = QStringLiteral(
            "No mapping for the Unicode character exists in the target multi-byte code page.");
        row("Latin-1 letter", lines[1] + "\n" + "const IP_INTERNO = 'conex\xE3o';\n", "", "", false,
            noMapping);
        QByteArray firstBlock = "// ";
        const QByteArray kept = "const IP_EXTERNO = 'primeiro';\n";
        firstBlock.append(4096 - 3 - 1 - kept.size(), 'p').append('\n').append(kept);
        row("fault in the second block", firstBlock + "const IP_INTERNO = '\xE9';\n", "primeiro",
            "", false, noMapping);
        QByteArray straddling = firstBlock;
        straddling.chop(1);  // The line end moves to the second block, after the fault.
        row("fault straddling the block end",
            straddling +
                "\xC3"
                "x\n",
            "", "", false, noMapping);
        const QByteArray cutLine = "const IP_INTERNO = 'conex";
        QByteArray whole = "// ";
        whole.append(4095 - cutLine.size() - 4, 'p').append('\n').append(cutLine);
        QCOMPARE(whole.size(), 4095);
        whole.append("\xC3\xA3o';\n");
        row("character straddling the block end", whole, "", "conexão");

        // Open failures.
        QTest::newRow("missing file")
            << "missing" << QByteArray() << ""
            << "" << false << "Cannot open file \"%1\". No such file or directory.";
        QTest::newRow("directory") << "directory" << QByteArray() << ""
                                   << "" << false << "Cannot open file \"%1\". Is a directory.";
        QTest::newRow("locked") << "locked" << QByteArray(lines[1]) << ""
                                << "" << false
                                << "Cannot open file \"%1\". Resource temporarily unavailable.";
    }
    void settingsFile() {
        QFETCH(QString, setup);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, externo);
        QFETCH(QString, interno);
        QFETCH(bool, https);
        QFETCH(QString, box);

        removeConfig();
        std::optional<quelvar::test::HeldFile> holder;
        if (setup == u"write" || setup == u"locked") {
            writeConfig(bytes.toStdString());
        } else if (setup == u"directory") {
            QVERIFY(QDir().mkdir(configPath()));
        }
        if (setup == u"locked") {
            // Another process holds the file.
            holder.emplace(quelvar::test::configPath());
            QVERIFY(holder->held());
        }
        // A config.js in the working directory is never read.
        const bool decoy = QDir::currentPath() != QCoreApplication::applicationDirPath();
        if (decoy) {
            QFile file(QDir::current().filePath(QStringLiteral("config.js")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("const IP_INTERNO = 'working directory';\n");
        }

        TfmPrincipal w(quickSettings());
        const QList<CaughtBox> boxes = showWindow(w);
        holder.reset();
        if (decoy) {
            QFile::remove(QDir::current().filePath(QStringLiteral("config.js")));
        }

        QCOMPARE(w.edtApiExterno->text(), externo);
        QCOMPARE(w.edtApiInterno->text(), interno);
        QCOMPARE(w.cbApiHttps->isChecked(), https);
        if (box.isEmpty()) {
            QCOMPARE(boxes.size(), 0);
        } else {
            QCOMPARE(boxes.size(), 1);
            QCOMPARE(boxes[0].text, box.contains(u"%1") ? box.arg(configPath()) : box);
            QCOMPARE(boxes[0].title, QStringLiteral("app_window_test"));
            QCOMPARE(boxes[0].icon, QMessageBox::Critical);
            QCOMPARE(boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            QCOMPARE(boxes[0].buttonCount, 1);
            // The window comes on screen once the box is closed, and works.
            QVERIFY(!boxes[0].windowVisible);
        }
        QVERIFY(w.windowHandle()->isVisible());
        QCOMPARE(w.PageControl1->currentWidget(), w.TabSheet3);
        w.TestaPortas(QStringLiteral("whats"));
        QVERIFY(w.memoWhatsLog->text().startsWith(kExternalStart));
        removeConfig();
    }

    // A wrong quelvar.ini is shown in the event error box before the window; the window then
    // opens, every external check fails with the file's message (case H) and the internal
    // probe works.
    void quelvarIniErrorsComeInABoxBeforeTheWindow_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QTest::newRow("scheme and path")
            << QByteArray("[status]\nhost = https://x/\n")
            << QStringLiteral(
                   "%1, line 2: \"https://x/\" is not a host; write only the host and an "
                   "optional port.");
        QTest::newRow("host twice, no full stop after a parenthesis")
            << QByteArray("[status]\nhost = a.example\nhost = b.example\n")
            << QStringLiteral("%1, line 3: host given twice (first on line 2)");
        QTest::newRow("unknown key")
            << QByteArray("\xEF\xBB\xBF[status]\nhots = a.example\n")
            << QStringLiteral("%1, line 2: unknown key \"hots\" in [status].");
        QTest::newRow("a directory") << QByteArray() << QStringLiteral("Cannot open file \"%1\". ");
    }
    void quelvarIniErrorsComeInABoxBeforeTheWindow() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        const quelvar::test::TempDir dir;
        const std::filesystem::path ini = std::filesystem::path(dir.path()) / "quelvar.ini";
        if (bytes.isEmpty()) {
            std::filesystem::create_directory(ini);
        } else {
            dir.write("quelvar.ini", bytes.toStdString());
        }
        const QString expected = message.arg(QString::fromStdString(ini.string()));

        CheckRunSettings settings;
        QList<CaughtBox> boxes;
        {
            ModalBoxCatcher catcher;
            settings = quelvar::startupRunSettings(
                [&] { return std::vector<std::filesystem::path>{ini}; });
            boxes = catcher.boxes();
        }
        QCOMPARE(boxes.size(), 1);
        if (expected.endsWith(u' ')) {
            QVERIFY2(boxes[0].text.startsWith(expected), qPrintable(boxes[0].text));
        } else {
            QCOMPARE(boxes[0].text, expected);
        }
        QCOMPARE(boxes[0].title, QStringLiteral("app_window_test"));
        QCOMPARE(boxes[0].icon, QMessageBox::Critical);
        QCOMPARE(boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(settings.statusEndpoint, std::string(QUELVAR_STATUS_URL));

        // Asked of no one: a status service stands ready and is never called.
        const quelvar::test::RunScenario& run = quelvar::test::statusEndpointFaultScenario();
        quelvar::test::ScenarioServers servers(run);
        CheckRunSettings quick = quickSettings(servers.status.url("/v1/status"));
        quick.statusEndpointFault = settings.statusEndpointFault;
        TfmPrincipal w(quick);
        QCOMPARE(showWindow(w).size(), 0);
        w.PageControl1->setCurrentIndex(1);
        w.edtWebInterno->setText(QString::fromStdString(servers.internal.authority()));
        QStringList visible;
        for (const std::string& name : run.visible) {
            visible.append(text(name));
        }
        for (int again = 0; again < 2; ++again) {
            w.TestaPortas(QString::fromLatin1(run.tipo));
            QCOMPARE(w.memoWebLog->text(), text(run.log));
            QCOMPARE(visibleIndicators(w), visible);
            servers.internal.addReply(run.internalReply);
        }
        QVERIFY(servers.status.requests().empty());
        QCOMPARE(servers.internal.requests().size(), std::size_t{2});
    }

    // A quelvar.ini that names a real quelvar-status on a port of its own: the window asks it,
    // over HTTPS with the service's own certificate, and the external indicator turns green.
    void quelvarIniPointsTheWindowAtARealStatusService() {
        const quelvar::test::TempDir dir;
        const quelvar::test::Certificate certificate = quelvar::test::makeCertificate();
        const std::string certFile = dir.write("status.crt", certificate.certPem);
        const std::string keyFile = dir.write("status.key", certificate.keyPem);
        quelvar::test::StatusProcess service({"--listen", "127.0.0.1:0", "--tls-cert", certFile,
                                              "--tls-key", keyFile, "--allow-private",
                                              "--rate-per-minute", "0"});
        const std::uint16_t port = service.waitForPort("https");
        QVERIFY(port != 0);
        QVERIFY(port != 8443);
        const std::string ini =
            dir.write("quelvar.ini", "[status]\nhost = 127.0.0.1:" + std::to_string(port) + "\n");

        CheckRunSettings settings;
        {
            ModalBoxCatcher catcher;
            settings = quelvar::startupRunSettings(
                [&] { return std::vector<std::filesystem::path>{ini}; });
            QCOMPARE(catcher.boxes().size(), 0);
        }
        QCOMPARE(settings.statusEndpoint,
                 "https://127.0.0.1:" + std::to_string(port) + "/v1/status");
        QVERIFY(settings.statusEndpointFault.empty());

        const quelvar::test::RunScenario& run = quelvar::test::realStatusServiceScenario();
        ScriptedServer external;
        external.addReply(run.internalReply);
        ScriptedServer internal;
        internal.addReply(run.internalReply);
        settings.pause = 0ms;
        TfmPrincipal w(settings);
        QCOMPARE(w.RESTClient1.baseURL(), settings.statusEndpoint);
        QCOMPARE(showWindow(w).size(), 0);
        w.PageControl1->setCurrentIndex(1);
        w.edtWebExterno->setText(QString::fromStdString(external.authority()));
        w.edtWebInterno->setText(QString::fromStdString(internal.authority()));
        QTest::mouseClick(w.btnTestarPortasWeb, Qt::LeftButton);
        QCOMPARE(w.memoWebLog->text(), text(run.log));
        QStringList visible;
        for (const std::string& name : run.visible) {
            visible.append(text(name));
        }
        QCOMPARE(visibleIndicators(w), visible);
        // The service fetched the external address itself.
        QCOMPARE(external.requests().size(), std::size_t{1});
        QVERIFY(external.requests()[0].starts_with("GET " + run.path + " HTTP/1.1\r\n"));
    }

    void settingsFileIsReadAtEveryShowOnly() {
        writeConfig("const IP_EXTERNO = 'primeiro';\n");
        TfmPrincipal w(quickSettings());
        QVERIFY(w.edtApiExterno->text().isEmpty());
        showWindow(w);
        QCOMPARE(w.edtApiExterno->text(), QStringLiteral("primeiro"));
        writeConfig("const IP_EXTERNO = 'segundo';\n");
        // Switching tabs and runs do not read it again.
        w.PageControl1->setCurrentIndex(0);
        w.TestaPortas(QStringLiteral("api"));
        QCOMPARE(w.edtApiExterno->text(), QStringLiteral("primeiro"));
    }

    void fullRun_data() {
        QTest::addColumn<QString>("tipo");
        QTest::addColumn<QByteArray>("statusReply");
        QTest::addColumn<QByteArray>("internalReply");
        QTest::addColumn<bool>("https");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QStringList>("visible");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("internalPath");
        for (const quelvar::test::RunScenario& scenario : quelvar::test::runScenarios()) {
            QStringList visible;
            for (const std::string& name : scenario.visible) {
                visible.append(text(name));
            }
            QTest::newRow(scenario.name)
                << QString::fromLatin1(scenario.tipo)
                << QByteArray::fromStdString(scenario.statusReply)
                << QByteArray::fromStdString(scenario.internalReply) << scenario.https
                << text(scenario.log) << visible << QByteArray::fromStdString(scenario.path)
                << QByteArray::fromStdString(scenario.internalPath);
        }
    }
    void fullRun() {
        QFETCH(QString, tipo);
        QFETCH(QByteArray, statusReply);
        QFETCH(QByteArray, internalReply);
        QFETCH(bool, https);
        QFETCH(QString, log);
        QFETCH(QStringList, visible);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, internalPath);

        ScriptedServer status;
        status.add(Exchange{statusReply.toStdString()});
        ScriptedServer internal;
        internal.add(Exchange{internalReply.toStdString()});
        const QString externalAddress = QStringLiteral("servidor.invalid:10446");
        const QString internalAddress = QString::fromStdString(internal.authority());

        const QString tab = text(quelvar::test::tabOfKind(tipo.toStdString()));
        if (tab == u"Api") {
            writeConfig(quelvar::test::apiTabConfig(externalAddress.toStdString(),
                                                    internalAddress.toStdString(), https));
        }
        quelvar::test::RecordedPauses pauses;
        CheckRunSettings settings = quickSettings(status.url("/v1/status"));
        pauses.recordInto(settings);
        TfmPrincipal w(settings);
        QCOMPARE(showWindow(w).size(), 0);
        w.PageControl1->setCurrentIndex(tab == u"Api" ? 0 : tab == u"Web" ? 1 : 2);
        if (tab != u"Api") {
            QTest::keyClicks(
                w.findChild<QLineEdit*>(QStringLiteral("edt") + tab + QStringLiteral("Externo")),
                externalAddress);
            QTest::keyClicks(
                w.findChild<QLineEdit*>(QStringLiteral("edt") + tab + QStringLiteral("Interno")),
                internalAddress);
        }
        // The other tabs hold values and an earlier result that the run must leave alone.
        QMap<QString, TabState> others;
        for (const QString& each :
             {QStringLiteral("Api"), QStringLiteral("Web"), QStringLiteral("Whats")}) {
            if (each == tab) {
                continue;
            }
            if (each != u"Api") {
                w.findChild<QLineEdit*>(QStringLiteral("edt") + each + QStringLiteral("Externo"))
                    ->setText(QStringLiteral("outro:1"));
                w.findChild<QCheckBox*>(QStringLiteral("cb") + each + QStringLiteral("Https"))
                    ->setChecked(true);
            }
            w.findChild<LogBox*>(each == u"Api"
                                     ? QStringLiteral("memoAPILog")
                                     : QStringLiteral("memo") + each + QStringLiteral("Log"))
                ->appendLine(QStringLiteral("anterior"));
            w.findChild<QLabel*>(QStringLiteral("img") + each + QStringLiteral("ExtGreen"))->show();
            others.insert(each, stateOf(w, each));
        }
        // A result of an earlier run on this tab is cleared.
        w.findChild<QLabel*>(QStringLiteral("img") + tab + QStringLiteral("IntRed"))->show();

        QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("btnTestarPortas") + tab),
                          Qt::LeftButton);

        QVERIFY(!w.isRunning());
        QCOMPARE(stateOf(w, tab).log, log);
        QStringList shown = visibleIndicators(w);
        for (const QString& each : others.keys()) {
            shown.removeAll(QStringLiteral("img") + each + QStringLiteral("ExtGreen"));
            QCOMPARE(stateOf(w, each), others.value(each));
        }
        QCOMPARE(shown, visible);
        QCOMPARE(pauses.count.load(), 1);
        QCOMPARE(pauses.lastMilliseconds.load(), 1234LL);

        // The fields fed the run: the status service was asked about the external URL, and
        // the internal address got the internal GET.
        const auto statusRequests = status.requests();
        QCOMPARE(statusRequests.size(), std::size_t{1});
        const std::string scheme = https ? "https://" : "http://";
        QVERIFY(statusRequests[0].starts_with("POST /v1/status"));
        const std::string body = "{\"requestUrl\":\"" + scheme + externalAddress.toStdString() +
                                 path.toStdString() + "\"}";
        QVERIFY2(statusRequests[0].ends_with(body), statusRequests[0].c_str());
        const auto internalRequests = internal.requests();
        QCOMPARE(internalRequests.size(), std::size_t{1});
        QVERIFY2(
            internalRequests[0].starts_with("GET " + internalPath.toStdString() + " HTTP/1.1\r\n"),
            internalRequests[0].c_str());
    }

    // The window draws while a run waits, takes no part in a second run and closes only once
    // the run has ended.
    void runKeepsDrawingAndDefersClose() {
        ScriptedServer status;
        Exchange slow{responseReply(R"({"chain":[{"statusCode":"200"}]})")};
        slow.delay = 600ms;
        status.add(slow);
        TfmPrincipal w(quickSettings(status.url("/v1/status")));
        showWindow(w);

        struct Seen {
            bool running = false;
            QString log;
            std::optional<Qt::CursorShape> cursor;
            int paints = 0;
            bool visibleAfterClose = false;
            QString webLog;
        } seen;
        class PaintCounter : public QObject {
        public:
            int count = 0;
            bool eventFilter(QObject*, QEvent* event) override {
                if (event->type() == QEvent::Paint) {
                    ++count;
                }
                return false;
            }
        } counter;
        w.memoWhatsLog->viewport()->installEventFilter(&counter);

        QTimer::singleShot(300, &w, [&] {
            seen.running = w.isRunning();
            seen.log = w.memoWhatsLog->text();
            if (QGuiApplication::overrideCursor() != nullptr) {
                seen.cursor = QGuiApplication::overrideCursor()->shape();
            }
            seen.paints = counter.count;
            // A second run asked for meanwhile does not start.
            w.TestaPortas(QStringLiteral("web"));
            seen.webLog = w.memoWebLog->text();
            w.close();
            seen.visibleAfterClose = w.isVisible();
        });
        counter.count = 0;
        QElapsedTimer clock;
        clock.start();
        w.TestaPortas(QStringLiteral("whats"));
        QVERIFY(clock.elapsed() >= 500);

        QVERIFY(seen.running);
        QCOMPARE(seen.log, kExternalStart);
        QCOMPARE(seen.cursor, std::optional<Qt::CursorShape>(Qt::WaitCursor));
        QVERIFY(seen.paints > 0);
        QVERIFY(seen.webLog.isEmpty());
        QVERIFY(seen.visibleAfterClose);
        // After the run: the whole log, the cursor restored, the close carried out.
        QCOMPARE(w.memoWhatsLog->text(),
                 kExternalStart + QStringLiteral("Conexão Externa - ok\r\n") +
                     kSeparatorAndInternalStart + QStringLiteral("Conexão Interna - Erro\r\n"));
        QVERIFY(w.memoWebLog->text().isEmpty());
        QVERIFY(!w.isRunning());
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QVERIFY(!w.isVisible());
    }

    void secondRunStartsClean() {
        TfmPrincipal w(quickSettings());
        showWindow(w);
        w.TestaPortas(QStringLiteral("web"));
        const QString first = w.memoWebLog->text();
        w.TestaPortas(QStringLiteral("web"));
        QCOMPARE(w.memoWebLog->text(), first);
        QCOMPARE(visibleIndicators(w), (QStringList{"imgWebExtRed", "imgWebIntRed"}));
    }

    void screenshots() {
        ScriptedServer status;
        status.add(Exchange{responseReply(R"({"chain":[{"statusCode":200}]})")});
        status.add(Exchange{responseReply(R"({"chain":[],"code":"CERT_HAS_EXPIRED"})")});
        status.add(Exchange{responseReply(R"({"chain":[],"code":"ETIMEDOUT"})")});
        ScriptedServer internal;
        internal.add(Exchange{textReply(200, "OK", "ok")});
        internal.add(Exchange{textReply(200, "OK", "ok")});
        writeConfig(
            "const USA_HTTPS = false;\nconst IP_EXTERNO = 'api.example.com:10446';\n"
            "const IP_INTERNO = '" +
            internal.authority() + "';\n");
        TfmPrincipal w(quickSettings(status.url("/v1/status")));
        showWindow(w);
        w.edtWebExterno->setText(QStringLiteral("lumora.example.com:10446"));
        w.edtWebInterno->setText(QString::fromStdString(internal.authority()));
        w.edtWhatsExterno->setText(QStringLiteral("whatsapp.example.com:21465"));
        w.TestaPortas(QStringLiteral("api"));
        w.TestaPortas(QStringLiteral("web"));
        w.TestaPortas(QStringLiteral("whats"));
        const QString directory = outputDirectory();
        const char* const names[] = {"api-web", "lumora-web", "whatsapp"};
        for (int i = 0; i < 3; ++i) {
            w.PageControl1->setCurrentIndex(i);
            QCoreApplication::processEvents();
            const QImage shot = w.grab().toImage();
            QCOMPARE(shot.size() / shot.devicePixelRatio(), QSize(645, 309));
            const QString file =
                directory + QStringLiteral("/quelvar-%1.png").arg(QLatin1String(names[i]));
            QVERIFY(shot.save(file));
            qInfo("screenshot: %s", qPrintable(file));
        }
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
