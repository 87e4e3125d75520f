#include <sys/socket.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#include "app/CommandLine.h"
#include "app/Windows.h"
#include "widgets/Application.h"

namespace {

// SIGTERM (a session ending, `kill`) closes the main window as the user does, so the settings
// are saved and the port released; the handler only writes a byte that the event loop reads.
int gTermPipe[2] = {-1, -1};

void onTerminate(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(gTermPipe[1], &byte, 1);
}

void closeOnTerminate(QWidget* window) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gTermPipe) != 0)
        return;  // SIGTERM then ends the program as it always does
    auto* notifier = new QSocketNotifier(gTermPipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window, notifier] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(gTermPipe[0], &byte, 1);
        notifier->setEnabled(false);
        window->close();
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    // --help and --version answer without a window system; the rest is read once Qt has
    // taken its own options (-platform, -display, ...) off the command line.
    QStringList raw;
    for (int i = 0; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    const trelmo::ParsedCommandLine early = trelmo::parseCommandLine(raw);
    if (early.exit && early.exitCode == 0) {
        std::fputs(qPrintable(early.output), stdout);
        return 0;
    }
    // The M-Bus runs need no window system either: a mistake is told, or the run is made,
    // before there is an application object of the windows.
    if (early.mbus.kind != trelmo::MbusRequest::Kind::None) {
        if (early.exit) {
            std::fputs(qPrintable(early.error), stderr);
            return early.exitCode;
        }
        return trelmo::runMbusCommand(argc, argv, early.mbus, early.options);
    }

    trelmo::TrelmoApplication app(argc, argv);
    // Names the installed desktop entry, so that a desktop shows its name and icon for the
    // windows (on Wayland the application id; under X11 the startup notification).
    QGuiApplication::setDesktopFileName(QStringLiteral("com.trelmo.Trelmo"));
    const trelmo::ParsedCommandLine line = trelmo::parseCommandLine(app.arguments());
    if (line.exit) {
        std::fputs(qPrintable(line.output), stdout);
        std::fputs(qPrintable(line.error), stderr);
        return line.exitCode;
    }
    const QString ini = line.options.settings.value_or(trelmo::settingsLocation());
    QDir().mkpath(QFileInfo(ini).absolutePath());
    trelmo::Windows windows(ini);
    windows.form1()->show();
    closeOnTerminate(windows.form1());
    windows.form1()->applyStartOptions(line.options);
    return app.exec();
}
