#include <QApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "gui/app/StartOptions.h"
#include "gui/app/VelmoApp.h"

namespace {

int g_signalPipe[2] = {-1, -1};

extern "C" void OnTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(g_signalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
    // Help, the version and a usage error answer before the window system is reached, so that
    // they work anywhere, without a display too.
    const StartOptions options = ParseStartOptions({argv + 1, argv + argc});
    switch (options.request) {
        case StartOptions::Request::Help:
        case StartOptions::Request::Version:
            std::fputs(
                (options.request == StartOptions::Request::Help ? StartHelp() : StartVersion())
                    .c_str(),
                stdout);
            return 0;
        case StartOptions::Request::Unknown:
            std::fprintf(stderr, "velmo: unknown argument %s\n%s", options.strUnknown.c_str(),
                         StartUsage().c_str());
            return 64;
        case StartOptions::Request::Window:
            break;
    }

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

    CVelmoApp app(options.bBackground);
    app.InitInstance();  // runs the window; answers false so the process ends
    return 0;
}
