#include "app/qt/TfmPrincipal.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <exception>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>

#include "app/qt/EventCourier.h"
#include "app/qt/EventErrorBox.h"
#include "app/qt/IndicatorBox.h"
#include "app/qt/LabeledEdit.h"
#include "app/qt/LogBox.h"
#include "app/qt/Resources.h"
#include "app/qt/WindowCheckTab.h"
#include "app/qt/WindowFont.h"
#include "form/ApiTabSettings.h"
#include "form/MainForm.h"
#include "form/ServiceComponents.h"

namespace quelvar {

namespace {

QString text(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QRect rectOf(const FormControl& row) {
    return {row.rect.left, row.rect.top, row.rect.width, row.rect.height};
}

// A tab sheet's container: a raised bevel filling the sheet.
QFrame* makeSheetPanel(QWidget* sheet) {
    auto* panel = new QFrame(sheet);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    auto* layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(panel);
    return panel;
}

// Makes the control a row of the form describes, as a child of the parent.
QWidget* makeControl(const FormControl& row, QWidget* parent) {
    switch (row.kind) {
        case ControlKind::Component:
            break;
        case ControlKind::Container: {
            auto* container = new QFrame(parent);
            container->setFrameShape(QFrame::NoFrame);
            container->setGeometry(rectOf(row));
            return container;
        }
        case ControlKind::TabControl: {
            auto* tabs = new QTabWidget(parent);
            tabs->setGeometry(rectOf(row));
            tabs->setUsesScrollButtons(false);
            return tabs;
        }
        case ControlKind::TabSheet: {
            // The tab control lays its sheets out in its display area itself.
            auto* sheet = new QWidget;
            sheet->setObjectName(text(row.name));
            static_cast<QTabWidget*>(parent)->addTab(sheet, text(row.caption));
            return sheet;
        }
        case ControlKind::BevelPanel:
            return makeSheetPanel(parent);
        case ControlKind::GroupBox: {
            auto* box = new QGroupBox(text(row.caption), parent);
            box->setGeometry(rectOf(row));
            return box;
        }
        case ControlKind::Button: {
            auto* button = new QPushButton(text(row.caption), parent);
            button->setGeometry(rectOf(row));
            button->setFocusPolicy(Qt::NoFocus);
            button->setAutoDefault(false);
            return button;
        }
        case ControlKind::LabeledEdit: {
            auto* edit = new LabeledEdit(text(row.caption), parent);
            edit->editLabel()->setObjectName(text(row.name) + QStringLiteral("Label"));
            edit->setGeometry(rectOf(row));
            edit->setToolTip(text(row.hint));
            if (row.readOnly) {
                edit->setReadOnly(true);
            }
            return edit;
        }
        case ControlKind::CheckBox: {
            auto* box = new QCheckBox(text(row.caption), parent);
            box->setGeometry(rectOf(row));
            return box;
        }
        case ControlKind::LogBox: {
            auto* log = new LogBox(parent);
            log->setGeometry(rectOf(row));
            return log;
        }
        case ControlKind::GreenIndicator:
        case ControlKind::RedIndicator: {
            // An indicator starts hidden by itself.
            auto* indicator =
                new IndicatorBox(row.kind == ControlKind::GreenIndicator ? IndicatorColour::Green
                                                                         : IndicatorColour::Red,
                                 parent);
            indicator->setGeometry(rectOf(row));
            return indicator;
        }
    }
    return nullptr;
}

template <typename Widget>
Widget* child(QWidget& window, std::string_view name) {
    return window.findChild<Widget*>(text(name));
}

// Makes the check run's view of the tab of the kind, from the controls the form names.
std::unique_ptr<WindowCheckTab> makeCheckTab(QWidget& window, WindowThread& thread,
                                             CheckKind kind) {
    const FormTab& tab = MainForm::tab(kind);
    WindowCheckTab::Controls controls{child<QLineEdit>(window, tab.externo),
                                      child<QLineEdit>(window, tab.interno),
                                      child<QCheckBox>(window, tab.https),
                                      child<LogBox>(window, tab.log),
                                      {}};
    for (std::size_t i = 0; i < tab.indicators.size(); ++i) {
        controls.indicators[i] = child<QLabel>(window, tab.indicators[i]);
    }
    return std::make_unique<WindowCheckTab>(thread, controls);
}

}  // namespace

TfmPrincipal::TfmPrincipal(CheckRunSettings runSettings, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      RESTRequest1(RESTClient1, RESTResponse1),
      m_runSettings(std::move(runSettings)) {
    Resources::ensureLoaded();

    setUpServiceComponents(RESTClient1, RESTRequest1, m_runSettings.statusEndpoint);

    setObjectName(text(MainForm::kName));
    setWindowTitle(text(MainForm::kCaption));
    setWindowIcon(Resources::applicationIcon());
    setFixedSize(MainForm::kClientWidth, MainForm::kClientHeight);
    setFont(WindowFont::font());
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    createControls();
    setTabOrders();

    m_courier = std::make_unique<EventCourier>(this);
    for (const CheckKind kind : {CheckKind::Api, CheckKind::Web, CheckKind::Whats}) {
        m_tabs.emplace(kind, makeCheckTab(*this, *m_courier, kind));
    }

    connect(btnTestarPortasApi, &QPushButton::clicked, this,
            [this] { handleEvent([this] { btnTestarPortasApiClick(btnTestarPortasApi); }); });
    connect(btnTestarPortasWeb, &QPushButton::clicked, this,
            [this] { handleEvent([this] { btnTestarPortasWebClick(btnTestarPortasWeb); }); });
    connect(btnTestarPortasWhats, &QPushButton::clicked, this,
            [this] { handleEvent([this] { btnTestarPortasWhatsClick(btnTestarPortasWhats); }); });
}

TfmPrincipal::~TfmPrincipal() = default;

// Every member in declaration order, as the form describes it, each control a child of the
// one made before as its parent.
void TfmPrincipal::createControls() {
    std::map<std::string_view, QWidget*> made{{MainForm::kName, this}};
    MainForm::forEachMember(*this, [&made](auto& member, const FormControl& row) {
        using Member = std::remove_reference_t<decltype(member)>;
        if constexpr (std::is_pointer_v<Member>) {
            QWidget* widget = makeControl(row, made.at(row.parent));
            widget->setObjectName(text(row.name));
            if (!row.enabled) {
                widget->setEnabled(false);
            }
            made.emplace(row.name, widget);
            member = qobject_cast<Member>(widget);
        }
    });
    PageControl1->setCurrentWidget(made.at(MainForm::kFrontSheet));

    // Every control carries the window's font itself: a platform theme may give some classes
    // (labels, buttons, fields) fonts of their own, which would take precedence over the font
    // the window hands down.
    for (QWidget* child : findChildren<QWidget*>()) {
        child->setFont(font());
    }
}

// Tab order: one chain through all three tabs, each sheet's controls in the form's order within
// each parent, group boxes passed into; the controls of the tabs behind are skipped as they are
// hidden. The tab bar closes each tab's cycle.
void TfmPrincipal::setTabOrders() {
    std::vector<QWidget*> chain{PageControl1->tabBar()};
    const std::function<void(std::string_view)> follow = [&](std::string_view parent) {
        for (const FormControl* row : MainForm::tabOrderOf(parent)) {
            if (row->kind == ControlKind::GroupBox) {
                follow(row->name);
            } else {
                chain.push_back(findChild<QWidget*>(text(row->name)));
            }
        }
    };
    for (const FormControl* sheet : MainForm::childrenOf(MainForm::control("TabSheet1").parent)) {
        for (const FormControl* panel : MainForm::childrenOf(sheet->name)) {
            follow(panel->name);
        }
    }
    for (std::size_t i = 1; i < chain.size(); ++i) {
        QWidget::setTabOrder(chain[i - 1], chain[i]);
    }
}

void TfmPrincipal::TestaPortas(const QString& tipo) {
    testaPortasUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(tipo.utf16()),
                                         static_cast<std::size_t>(tipo.size())));
}

void TfmPrincipal::carregarConfig() {
    readApiTabSettings(
        [this](std::string_view field, const std::u16string& text) {
            child<QLineEdit>(*this, field)->setText(QString::fromStdU16String(text));
        },
        [this](std::string_view box, bool checked) {
            child<QCheckBox>(*this, box)->setChecked(checked);
        });
}

void TfmPrincipal::runTabCheck(CheckKind kind) {
    runTabCheckOnWorker(kind, *m_tabs.at(kind),
                        ServiceProfile{RESTClient1, RESTRequest1, RESTResponse1}, m_runSettings);
}

void TfmPrincipal::showBusy(bool busy) {
    if (busy) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QGuiApplication::restoreOverrideCursor();
    }
}

void TfmPrincipal::waitForRun(const std::atomic<bool>& ended) {
    // The run's one wake-up ends one exec; a later one is only begun if a stale quit ended
    // this one early.
    do {
        m_runLoop.exec(QEventLoop::ExcludeUserInputEvents);
    } while (!ended);
}

void TfmPrincipal::wakeFromRun() {
    // By name, so that nothing made on the run's thread is read on the window's (the slot
    // object of a functor call would be, with only Qt's own queue between them).
    QMetaObject::invokeMethod(&m_runLoop, "quit", Qt::QueuedConnection);
}

void TfmPrincipal::closeAfterRun() {
    close();
}

template <typename Handler>
void TfmPrincipal::handleEvent(Handler handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        EventErrorBox::show(QString::fromUtf8(error.what()));
    }
}

void TfmPrincipal::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The window system's own shows (a restore from the task bar) are not a first show.
    if (!event->spontaneous()) {
        handleEvent([this] { FormShow(this); });
    }
}

void TfmPrincipal::closeEvent(QCloseEvent* event) {
    // A close asked for during a run is carried out once the run has ended.
    if (!mayCloseNow()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

}  // namespace quelvar
