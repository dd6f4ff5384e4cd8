#include <QApplication>

#include "app/VelmoApp.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    CVelmoApp app;
    app.InitInstance();  // runs the window; answers false so the process ends
    return 0;
}
