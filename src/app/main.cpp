#include <QApplication>

#include "app/VelmoApp.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    CVelmoApp app;
    return app.InitInstance() ? 0 : 0;
}
