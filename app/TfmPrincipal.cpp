#include "app/TfmPrincipal.h"

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
#include <string>
#include <thread>

#include "app/EventErrorBox.h"
#include "app/IndicatorBox.h"
#include "app/LabeledEdit.h"
#include "app/LogBox.h"
#include "app/Resources.h"
#include "app/WindowCheckTab.h"
#include "app/WindowFont.h"
#include "settings/SettingsFile.h"

namespace quelvar {

namespace {

const QString kCaption = QStringLiteral("Quelvar - WEB");
constexpr QSize kClientSize(645, 309);

const QString kTestarPortas = QStringLiteral("Testar Portas");
const QString kUsaHttps = QStringLiteral("Usa Conexão Segura (HTTPS)");
const QString kConfigHint = QStringLiteral("Carrega do arquivo config.js do lumora_web");

const QString kWebFirstHintLine = QStringLiteral(
    "Sem colocar o http/https na frente, esse seria o link de acesso pelo navegador ao Lumora "
    "Web.");
const QString kWebExternoHint = kWebFirstHintLine + QStringLiteral(
                                                        "\r\nExemplo: lumora.example.com:10446"
                                                        "\r\nIP Externo: Porta (se tiver)");
const QString kWebInternoHint =
    kWebFirstHintLine + QStringLiteral("\r\nExemplo: 192.168.0.10\r\nIP Interno: Porta (se tiver)");
const QString kWhatsExternoHint = QStringLiteral(
    "Sem colocar o http/https na frente, esse seria o IP e Porta Externo em que a API do "
    "WhatsApp está instalada.\r\nExemplo: whatsapp.example.com:21465\r\nIP Externo: Porta");
const QString kWhatsInternoHint = QStringLiteral(
    "Sem colocar o http/https na frente, esse seria o IP e Porta Interno em que a API do "
    "WhatsApp está instalada.\r\nExemplo: 192.168.0.20:21465\r\nIP Interno: Porta");

template <typename Widget>
Widget* named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// A tab sheet's container: a raised bevel filling the sheet.
QFrame* makeSheetPanel(QWidget* sheet, const char* name) {
    auto* panel = named(new QFrame(sheet), name);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    auto* layout = new QVBoxLayout(sheet);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(panel);
    return panel;
}

LabeledEdit* makeEdit(QWidget* parent, const char* name, const QString& label, QRect geometry,
                      const QString& hint) {
    auto* edit = named(new LabeledEdit(label, parent), name);
    edit->editLabel()->setObjectName(QString::fromLatin1(name) + QStringLiteral("Label"));
    edit->setGeometry(geometry);
    edit->setToolTip(hint);
    return edit;
}

QCheckBox* makeCheckBox(QWidget* parent, const char* name, QRect geometry) {
    auto* box = named(new QCheckBox(kUsaHttps, parent), name);
    box->setGeometry(geometry);
    return box;
}

QPushButton* makeButton(QWidget* parent, const char* name, QRect geometry) {
    auto* button = named(new QPushButton(kTestarPortas, parent), name);
    button->setGeometry(geometry);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoDefault(false);
    return button;
}

LogBox* makeLog(QWidget* parent, const char* name) {
    auto* log = named(new LogBox(parent), name);
    log->setGeometry(412, 13, 221, 265);
    return log;
}

IndicatorBox* makeIndicator(QWidget* parent, const char* name, IndicatorColour colour,
                            QRect geometry) {
    auto* indicator = named(new IndicatorBox(colour, parent), name);
    indicator->setGeometry(geometry);
    return indicator;
}

}  // namespace

TfmPrincipal::TfmPrincipal(CheckRunSettings runSettings, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      RESTRequest1(RESTClient1, RESTResponse1),
      m_runSettings(std::move(runSettings)) {
    Resources::ensureLoaded();

    RESTClient1.setAccept("application/json, text/plain; q=0.9, text/html;q=0.8,");
    RESTClient1.setAcceptCharset("UTF-8, *;q=0.8");
    RESTClient1.setContentType("application/json");
    RESTClient1.setBaseURL(m_runSettings.statusEndpoint);
    RESTClient1.setRaiseExceptionOn500(false);
    RESTRequest1.setMethod(RestMethod::Post);
    RESTRequest1.clearParameters();

    setObjectName(QStringLiteral("fmPrincipal"));
    setWindowTitle(kCaption);
    setWindowIcon(Resources::applicationIcon());
    setFixedSize(kClientSize);
    setFont(WindowFont::font());
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    createControls();
    setTabOrders();

    m_apiTab = std::make_unique<WindowCheckTab>(
        this,
        WindowCheckTab::Controls{edtApiExterno,
                                 edtApiInterno,
                                 cbApiHttps,
                                 memoAPILog,
                                 {imgApiExtGreen, imgApiExtRed, imgApiIntGreen, imgApiIntRed}});
    m_webTab = std::make_unique<WindowCheckTab>(
        this,
        WindowCheckTab::Controls{edtWebExterno,
                                 edtWebInterno,
                                 cbWebHttps,
                                 memoWebLog,
                                 {imgWebExtGreen, imgWebExtRed, imgWebIntGreen, imgWebIntRed}});
    m_whatsTab = std::make_unique<WindowCheckTab>(
        this, WindowCheckTab::Controls{
                  edtWhatsExterno,
                  edtWhatsInterno,
                  cbWhatsHttps,
                  memoWhatsLog,
                  {imgWhatsExtGreen, imgWhatsExtRed, imgWhatsIntGreen, imgWhatsIntRed}});

    connect(btnTestarPortasApi, &QPushButton::clicked, this,
            [this] { handleEvent([this] { btnTestarPortasApiClick(btnTestarPortasApi); }); });
    connect(btnTestarPortasWeb, &QPushButton::clicked, this,
            [this] { handleEvent([this] { btnTestarPortasWebClick(btnTestarPortasWeb); }); });
    connect(btnTestarPortasWhats, &QPushButton::clicked, this,
            [this] { handleEvent([this] { btnTestarPortasWhatsClick(btnTestarPortasWhats); }); });
}

TfmPrincipal::~TfmPrincipal() = default;

void TfmPrincipal::createControls() {
    constexpr IndicatorColour green = IndicatorColour::Green;
    constexpr IndicatorColour red = IndicatorColour::Red;

    Panel1 = named(new QFrame(this), "Panel1");
    Panel1->setFrameShape(QFrame::NoFrame);
    Panel1->setGeometry(QRect(QPoint(0, 0), kClientSize));

    PageControl1 = named(new QTabWidget(Panel1), "PageControl1");
    PageControl1->setGeometry(QRect(QPoint(0, 0), kClientSize));
    PageControl1->setUsesScrollButtons(false);
    TabSheet1 = named(new QWidget, "TabSheet1");
    TabSheet2 = named(new QWidget, "TabSheet2");
    TabSheet3 = named(new QWidget, "TabSheet3");
    PageControl1->addTab(TabSheet1, QStringLiteral("API Web"));
    PageControl1->addTab(TabSheet2, QStringLiteral("Lumora Web"));
    PageControl1->addTab(TabSheet3, QStringLiteral("Whatsapp"));

    Panel2 = makeSheetPanel(TabSheet1, "Panel2");
    Panel3 = makeSheetPanel(TabSheet2, "Panel3");
    Panel4 = makeSheetPanel(TabSheet3, "Panel4");

    // API Web. Its fields are filled from config.js only: read-only, and the box disabled.
    GroupBox1 = named(new QGroupBox(QStringLiteral("API WEB"), Panel2), "GroupBox1");
    GroupBox1->setGeometry(12, 0, 394, 150);
    btnTestarPortasApi = makeButton(GroupBox1, "btnTestarPortasApi", {286, 71, 91, 33});
    edtApiInterno = makeEdit(GroupBox1, "edtApiInterno", QStringLiteral("IP/Porta Interno:"),
                             {103, 44, 260, 21}, kConfigHint);
    edtApiExterno = makeEdit(GroupBox1, "edtApiExterno", QStringLiteral("IP/Porta Externo:"),
                             {103, 21, 260, 21}, kConfigHint);
    edtApiInterno->setReadOnly(true);
    edtApiExterno->setReadOnly(true);
    cbApiHttps = makeCheckBox(GroupBox1, "cbApiHttps", {103, 68, 177, 17});
    cbApiHttps->setEnabled(false);
    memoAPILog = makeLog(Panel2, "memoAPILog");

    // Lumora Web.
    GroupBox2 = named(new QGroupBox(QStringLiteral("Lumora Web"), Panel3), "GroupBox2");
    GroupBox2->setGeometry(12, 7, 394, 143);
    btnTestarPortasWeb = makeButton(GroupBox2, "btnTestarPortasWeb", {294, 69, 91, 33});
    edtWebExterno = makeEdit(GroupBox2, "edtWebExterno", QStringLiteral("IP/Porta Externa:"),
                             {103, 20, 260, 21}, kWebExternoHint);
    edtWebInterno = makeEdit(GroupBox2, "edtWebInterno", QStringLiteral("IP/Porta Interna:"),
                             {103, 42, 260, 21}, kWebInternoHint);
    cbWebHttps = makeCheckBox(GroupBox2, "cbWebHttps", {103, 66, 177, 17});
    memoWebLog = makeLog(Panel3, "memoWebLog");

    // Whatsapp: the log box comes first in its container.
    memoWhatsLog = makeLog(Panel4, "memoWhatsLog");
    GroupBox3 = named(new QGroupBox(QStringLiteral("Whatsapp"), Panel4), "GroupBox3");
    GroupBox3->setGeometry(12, 13, 394, 143);
    btnTestarPortasWhats = makeButton(GroupBox3, "btnTestarPortasWhats", {294, 69, 91, 33});
    edtWhatsExterno = makeEdit(GroupBox3, "edtWhatsExterno", QStringLiteral("IP/Porta Externa:"),
                               {103, 20, 260, 21}, kWhatsExternoHint);
    edtWhatsInterno = makeEdit(GroupBox3, "edtWhatsInterno", QStringLiteral("IP/Porta Interna:"),
                               {103, 42, 260, 21}, kWhatsInternoHint);
    cbWhatsHttps = makeCheckBox(GroupBox3, "cbWhatsHttps", {103, 66, 177, 17});

    imgApiExtGreen = makeIndicator(GroupBox1, "imgApiExtGreen", green, {365, 21, 20, 21});
    imgApiExtRed = makeIndicator(GroupBox1, "imgApiExtRed", red, {365, 21, 20, 21});
    imgApiIntRed = makeIndicator(GroupBox1, "imgApiIntRed", red, {365, 44, 20, 21});
    imgApiIntGreen = makeIndicator(GroupBox1, "imgApiIntGreen", green, {365, 44, 20, 21});
    imgWebIntGreen = makeIndicator(GroupBox2, "imgWebIntGreen", green, {365, 42, 20, 21});
    imgWebExtRed = makeIndicator(GroupBox2, "imgWebExtRed", red, {365, 20, 19, 21});
    imgWebExtGreen = makeIndicator(GroupBox2, "imgWebExtGreen", green, {365, 20, 20, 21});
    imgWebIntRed = makeIndicator(GroupBox2, "imgWebIntRed", red, {365, 42, 20, 21});
    imgWhatsIntRed = makeIndicator(GroupBox3, "imgWhatsIntRed", red, {364, 42, 20, 21});
    imgWhatsExtGreen = makeIndicator(GroupBox3, "imgWhatsExtGreen", green, {364, 20, 20, 21});
    imgWhatsExtRed = makeIndicator(GroupBox3, "imgWhatsExtRed", red, {364, 20, 20, 21});
    imgWhatsIntGreen = makeIndicator(GroupBox3, "imgWhatsIntGreen", green, {364, 42, 20, 21});

    PageControl1->setCurrentWidget(TabSheet3);

    // Every control carries the window's font itself: a platform theme may give some classes
    // (labels, buttons, fields) fonts of their own, which would take precedence over the font
    // the window hands down.
    for (QWidget* child : findChildren<QWidget*>()) {
        child->setFont(font());
    }
}

// Tab order within each container; the chain runs through all three tabs, and the controls
// of the tabs behind are skipped as they are hidden. The tab bar closes each tab's cycle.
void TfmPrincipal::setTabOrders() {
    QWidget* const chain[] = {
        PageControl1->tabBar(), edtApiInterno,   edtApiExterno, cbApiHttps, memoAPILog,
        edtWebExterno,          edtWebInterno,   cbWebHttps,    memoWebLog, memoWhatsLog,
        edtWhatsExterno,        edtWhatsInterno, cbWhatsHttps};
    for (std::size_t i = 1; i < std::size(chain); ++i) {
        QWidget::setTabOrder(chain[i - 1], chain[i]);
    }
}

void TfmPrincipal::btnTestarPortasApiClick(QObject* /*Sender*/) {
    TestaPortas(QStringLiteral("api"));
}

void TfmPrincipal::FormShow(QObject* /*Sender*/) {
    carregarConfig();
}

void TfmPrincipal::btnTestarPortasWebClick(QObject* /*Sender*/) {
    TestaPortas(QStringLiteral("web"));
}

void TfmPrincipal::btnTestarPortasWhatsClick(QObject* /*Sender*/) {
    TestaPortas(QStringLiteral("whats"));
}

void TfmPrincipal::TestaPortas(const QString& tipo) {
    if (tipo == u"api") {
        testarPortasApi();
    } else if (tipo == u"web") {
        testarPortasWeb();
    } else {
        testarPortasWhats();
    }
}

void TfmPrincipal::testarPortasApi() {
    runCheckOf(CheckKind::Api, *m_apiTab);
}

void TfmPrincipal::testarPortasWeb() {
    runCheckOf(CheckKind::Web, *m_webTab);
}

void TfmPrincipal::testarPortasWhats() {
    runCheckOf(CheckKind::Whats, *m_whatsTab);
}

void TfmPrincipal::carregarConfig() {
    class Target : public SettingsTarget {
    public:
        explicit Target(TfmPrincipal& window) : m_window(window) {}
        void setUsaHttps(bool checked) override { m_window.cbApiHttps->setChecked(checked); }
        void setIpExterno(const std::u16string& text) override {
            m_window.edtApiExterno->setText(QString::fromStdU16String(text));
        }
        void setIpInterno(const std::u16string& text) override {
            m_window.edtApiInterno->setText(QString::fromStdU16String(text));
        }

    private:
        TfmPrincipal& m_window;
    };
    Target target(*this);
    SettingsFile::read(SettingsFile::besideExecutable(), target);
}

// The run works on a thread of its own while this thread goes on drawing the window, with
// user input held back by the window system until the run has ended. Every call of the run
// on its tab is carried out here (WindowCheckTab), so the controls are only touched from this
// thread.
void TfmPrincipal::runCheckOf(CheckKind kind, WindowCheckTab& tab) {
    if (m_running) {
        return;
    }
    m_running = true;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);

    std::exception_ptr failure;
    QEventLoop loop;
    std::thread worker([&] {
        try {
            runCheck(product(kind), tab, ServiceProfile{RESTClient1, RESTRequest1, RESTResponse1},
                     m_runSettings);
        } catch (...) {
            failure = std::current_exception();
        }
        // By name, so that nothing made on this thread is read on the window's (the slot
        // object of a functor call would be, with only Qt's own queue between them).
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();

    QGuiApplication::restoreOverrideCursor();
    m_running = false;
    if (m_closeRequested) {
        m_closeRequested = false;
        close();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
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
    if (m_running) {
        m_closeRequested = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

}  // namespace quelvar
