// Builds the window as start-up does, shows it, lets it paint once and quits; with --floor, a bare
// dialog with a tab widget instead. Timed and measured from outside by bench/run-all.sh.
#include <QApplication>
#include <QDialog>
#include <QTabWidget>
#include <QTimer>

#include <cstring>

#include "gui/app/TestSheet.h"
#include "gui/app/VelmoApp.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const bool bFloor = argc > 1 && std::strcmp(argv[1], "--floor") == 0;
    QTimer::singleShot(0, &application, &QApplication::quit);
    if (bFloor) {
        QDialog dialog;
        auto* tabs = new QTabWidget(&dialog);
        for (const char* caption : {"Router", "Status", "Polling", "About"}) {
            tabs->addTab(new QWidget, QString::fromLatin1(caption));
        }
        dialog.show();
        return QApplication::exec();
    }
    CVelmoApp app;
    app.SetRegistryKey(QStringLiteral("Ravik"));
    CTestSheet sheet;
    sheet.show();
    return QApplication::exec();
}
