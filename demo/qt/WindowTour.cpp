// Starts the window as the program does, presses each tab's "Testar Portas" button with the
// mouse, saves a screenshot of each tab into the folder given as the only argument and prints
// each tab's log.
#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <cstdio>

#include "app/qt/LabeledEdit.h"
#include "app/qt/LogBox.h"
#include "app/qt/Startup.h"
#include "app/qt/TfmPrincipal.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quelvar-window-tour SCREENSHOT-FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    int toolkitArgc = 1;
    QApplication application(toolkitArgc, argv);
    quelvar::prepareApplication();

    quelvar::TfmPrincipal window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "the window was not shown\n");
        return 1;
    }

    // The demo's status service answers its own /healthcheck on 127.0.0.1:8080.
    const QString demoAddress = QStringLiteral("127.0.0.1:8080");
    window.edtWebExterno->setText(demoAddress);
    window.edtWebInterno->setText(demoAddress);
    window.edtWhatsExterno->setText(demoAddress);
    window.edtWhatsInterno->setText(demoAddress);

    struct Stop {
        QWidget* sheet;
        QPushButton* button;
        quelvar::LogBox* log;
        const char* file;
    };
    const Stop stops[] = {
        {window.TabSheet1, window.btnTestarPortasApi, window.memoAPILog, "quelvar-api-web.png"},
        {window.TabSheet2, window.btnTestarPortasWeb, window.memoWebLog, "quelvar-lumora-web.png"},
        {window.TabSheet3, window.btnTestarPortasWhats, window.memoWhatsLog,
         "quelvar-whatsapp.png"},
    };
    for (const Stop& stop : stops) {
        window.PageControl1->setCurrentWidget(stop.sheet);
        QTest::qWait(100);
        // The click returns when the run has ended.
        QTest::mouseClick(stop.button, Qt::LeftButton);
        QTest::qWait(100);
        const QString path = QDir(folder).filePath(QString::fromLatin1(stop.file));
        window.grab().save(path);
        std::printf(
            "%s\n%s\n", qUtf8Printable(path),
            qUtf8Printable(
                QString(stop.log->text()).replace(QStringLiteral("\r\n"), QStringLiteral("\n"))));
    }
    return 0;
}
