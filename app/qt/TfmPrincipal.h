#pragma once

#include <QEventLoop>
#include <QString>
#include <QWidget>

#include <atomic>
#include <map>
#include <memory>

#include "checks/CheckRun.h"
#include "form/MainFormEvents.h"
#include "form/WindowRun.h"
#include "http/RestClient.h"
#include "http/RestRequest.h"
#include "http/RestResponse.h"

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace quelvar {

class LabeledEdit;
class LogBox;
class EventCourier;
class WindowCheckTab;

// The main window: three tabs, one per product, each with its address fields, HTTPS box,
// "Testar Portas" button, indicators and log box; the service-profile members that every run
// shares; the dispatch from the buttons to the check runs; and the reading of the settings
// file when the window is first shown. The event handlers and check runs are the form's
// (MainFormEvents).
class TfmPrincipal : public QWidget,
                     public MainFormEvents<TfmPrincipal, QObject*>,
                     private WindowRun {
    Q_OBJECT

public:
    // Makes the window, hidden, with every control in its initial state. The run settings give
    // the status service's endpoint (the base URL of RESTClient1), the pause before each
    // internal probe and the direct profile's time-outs.
    explicit TfmPrincipal(CheckRunSettings runSettings = {}, QWidget* parent = nullptr);
    ~TfmPrincipal() override;

    RestClient RESTClient1;
    RestRequest RESTRequest1;
    RestResponse RESTResponse1;
    QFrame* Panel1 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QFrame* Panel2 = nullptr;
    QFrame* Panel3 = nullptr;
    QFrame* Panel4 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QPushButton* btnTestarPortasApi = nullptr;
    LabeledEdit* edtApiInterno = nullptr;
    LabeledEdit* edtApiExterno = nullptr;
    QCheckBox* cbApiHttps = nullptr;
    LogBox* memoAPILog = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QPushButton* btnTestarPortasWeb = nullptr;
    LabeledEdit* edtWebExterno = nullptr;
    LabeledEdit* edtWebInterno = nullptr;
    QCheckBox* cbWebHttps = nullptr;
    LogBox* memoWebLog = nullptr;
    LogBox* memoWhatsLog = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QPushButton* btnTestarPortasWhats = nullptr;
    LabeledEdit* edtWhatsExterno = nullptr;
    LabeledEdit* edtWhatsInterno = nullptr;
    QCheckBox* cbWhatsHttps = nullptr;
    QLabel* imgApiExtGreen = nullptr;
    QLabel* imgApiExtRed = nullptr;
    QLabel* imgApiIntRed = nullptr;
    QLabel* imgApiIntGreen = nullptr;
    QLabel* imgWebIntGreen = nullptr;
    QLabel* imgWebExtRed = nullptr;
    QLabel* imgWebExtGreen = nullptr;
    QLabel* imgWebIntRed = nullptr;
    QLabel* imgWhatsIntRed = nullptr;
    QLabel* imgWhatsExtGreen = nullptr;
    QLabel* imgWhatsExtRed = nullptr;
    QLabel* imgWhatsIntGreen = nullptr;

    // Starts the check run of the kind, compared exactly: "api", "web", and any other text the
    // WhatsApp run; returns when the run has ended. A call while a run is in progress starts
    // nothing.
    void TestaPortas(const QString& tipo);
    // Fills the API tab's fields and HTTPS box from config.js beside the executable; throws
    // Error with the reader's message when the file cannot be opened or decoded.
    void carregarConfig();

    // Returns the settings every run is given.
    const CheckRunSettings& runSettings() const { return m_runSettings; }
    using WindowRun::isRunning;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    friend class MainFormEvents<TfmPrincipal, QObject*>;

    void createControls();
    void setTabOrders();
    // Performs the check run of the kind's tab.
    void runTabCheck(CheckKind kind);
    // A run's time in Qt: the override cursor, a nested event loop that leaves user input out,
    // its quit queued from the run's thread, and close().
    void showBusy(bool busy) override;
    void waitForRun(const std::atomic<bool>& ended) override;
    void wakeFromRun() override;
    void closeAfterRun() override;
    // Runs an event handler and shows an error that escapes it in the event error box.
    template <typename Handler>
    void handleEvent(Handler handler);

    CheckRunSettings m_runSettings;
    // How the runs' calls reach this thread; made before the tabs and gone after them.
    std::unique_ptr<EventCourier> m_courier;
    // The check runs' view of each tab.
    std::map<CheckKind, std::unique_ptr<WindowCheckTab>> m_tabs;
    // The loop the window's events are handled in during a run.
    QEventLoop m_runLoop;
};

}  // namespace quelvar
