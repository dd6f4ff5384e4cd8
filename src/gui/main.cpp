#include <QApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

#include "gui/app/VelmoApp.h"

namespace {

int g_signalPipe[2] = {-1, -1};

extern "C" void OnTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(g_signalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);

    // Logging out or Ctrl-C closes the window like the Close button does, so the run in progress
    // is stopped and the report file removed instead of being left in the temporary folder.
    std::unique_ptr<QSocketNotifier> terminate;
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        terminate = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(terminate.get(), &QSocketNotifier::activated, &application,
                         [] { QCoreApplication::exit(0); });
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            std::signal(signal, OnTerminate);
        }
    }

    CVelmoApp app;
    app.InitInstance();  // runs the window; answers false so the process ends
    return 0;
}
