#include "app/CommandLine.h"

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace trelmo {

QString settingsLocation(const QString& executable, const QString& configHome,
                         const std::function<bool(const QString& folder)>& folderWritable) {
    const QFileInfo exe(executable);
    const QString name = exe.completeBaseName() + QStringLiteral(".ini");
    const QString folder = exe.absolutePath();
    if (folderWritable(folder))
        return QDir(folder).filePath(name);
    // A relative $XDG_CONFIG_HOME is invalid and ignored, as the base directory rules say.
    const QString home = QDir::isAbsolutePath(configHome)
                             ? configHome
                             : QDir::home().filePath(QStringLiteral(".config"));
    return QDir(home).filePath(QStringLiteral("trelmo/") + name);
}

QString settingsLocation() {
    return settingsLocation(QCoreApplication::applicationFilePath(),
                            qEnvironmentVariable("XDG_CONFIG_HOME"), [](const QString& folder) {
                                return ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
                            });
}

namespace {

// A port number 1 to 65535, or nothing.
std::optional<int> portNumber(const QString& text) {
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < 1 || n > 65535)
        return std::nullopt;
    return n;
}

}  // namespace

ParsedCommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Trelmo: a terminal for serial and TCP data. Options override the "
                       "settings file for this run and are saved at exit like any change."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("The serial port (COM3, /dev/ttyUSB0)."),
                                  QStringLiteral("device"));
    const QCommandLineOption speed(QStringLiteral("speed"), QStringLiteral("The speed in bit/s."),
                                   QStringLiteral("n"));
    const QCommandLineOption parity(QStringLiteral("parity"),
                                    QStringLiteral("None, Even, Odd, Mark or Space."),
                                    QStringLiteral("parity"));
    const QCommandLineOption dataBits(QStringLiteral("data-bits"), QStringLiteral("5 to 8."),
                                      QStringLiteral("n"));
    const QCommandLineOption stopBits(QStringLiteral("stop-bits"), QStringLiteral("1 or 2."),
                                      QStringLiteral("n"));
    const QCommandLineOption connect(QStringLiteral("connect"),
                                     QStringLiteral("Open the serial port at start."));
    const QCommandLineOption tcp(QStringLiteral("tcp"),
                                 QStringLiteral("Connect to a TCP host at start."),
                                 QStringLiteral("host:port"));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Listen on a TCP port at start."),
                                    QStringLiteral("port"));
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("The settings file to read and write."),
                                      QStringLiteral("file"));
    const QCommandLineOption timestamps(
        QStringLiteral("timestamps"),
        QStringLiteral("Show each received line behind its arrival time (Tools > Time stamps)."));
    p.addOptions({help, version, port, speed, parity, dataBits, stopBits, connect, tcp, listen,
                  settings, timestamps});

    ParsedCommandLine out;
    const bool parsed = p.parse(arguments);
    if (p.isSet(help)) {
        out.exit = true;
        // The usage line names the program as it was started (the parser would name the
        // application object's, or none before there is one).
        const QString program = arguments.isEmpty() ? QStringLiteral("trelmo")
                                                    : QFileInfo(arguments.first()).fileName();
        const QString text = p.helpText();
        out.output = QStringLiteral("Usage: %1 [options]").arg(program) +
                     text.mid(std::max<qsizetype>(text.indexOf(QLatin1Char('\n')), 0));
        return out;
    }
    if (p.isSet(version)) {
        out.exit = true;
        out.output = QStringLiteral("trelmo %1\n").arg(QStringLiteral(TRELMO_VERSION));
        return out;
    }
    QStringList problems;
    if (!parsed)
        problems << p.errorText();
    if (!p.positionalArguments().isEmpty())
        problems << QStringLiteral("Unexpected argument: ") + p.positionalArguments().join(' ');

    StartOptions& o = out.options;
    auto text = [&p](const QCommandLineOption& option) -> std::optional<QString> {
        if (!p.isSet(option))
            return std::nullopt;
        return p.value(option);
    };
    o.port = text(port);
    o.speed = text(speed);
    if (o.speed && (o.speed->toInt() <= 0 || QString::number(o.speed->toInt()) != *o.speed))
        problems << QStringLiteral("--speed wants a number of bit/s, not \"%1\"").arg(*o.speed);
    o.parity = text(parity);
    if (o.parity) {
        static const QStringList names = {QStringLiteral("None"), QStringLiteral("Even"),
                                          QStringLiteral("Odd"), QStringLiteral("Mark"),
                                          QStringLiteral("Space")};
        const auto it = std::find_if(names.begin(), names.end(), [&](const QString& n) {
            return n.compare(*o.parity, Qt::CaseInsensitive) == 0;
        });
        if (it == names.end())
            problems << QStringLiteral("--parity wants None, Even, Odd, Mark or Space");
        else
            o.parity = *it;
    }
    o.dataBits = text(dataBits);
    if (o.dataBits && !QStringList{"5", "6", "7", "8"}.contains(*o.dataBits))
        problems << QStringLiteral("--data-bits wants 5, 6, 7 or 8");
    o.stopBits = text(stopBits);
    if (o.stopBits && *o.stopBits != QLatin1String("1") && *o.stopBits != QLatin1String("2"))
        problems << QStringLiteral("--stop-bits wants 1 or 2");
    o.connect = p.isSet(connect);
    if (const auto t = text(tcp)) {
        const qsizetype colon = t->lastIndexOf(QLatin1Char(':'));
        const auto n = colon > 0 ? portNumber(t->mid(colon + 1)) : std::nullopt;
        if (!n) {
            problems << QStringLiteral("--tcp wants host:port, not \"%1\"").arg(*t);
        } else {
            o.tcpHost = t->left(colon);
            o.tcpPort = n;
        }
    }
    if (const auto l = text(listen)) {
        o.listenPort = portNumber(*l);
        if (!o.listenPort)
            problems << QStringLiteral("--listen wants a port number 1 to 65535");
    }
    if (static_cast<int>(o.connect) + static_cast<int>(o.tcpHost.has_value()) +
            static_cast<int>(o.listenPort.has_value()) >
        1)
        problems << QStringLiteral("Only one link at a time: --connect, --tcp or --listen");
    o.settings = text(settings);
    o.timeStamps = p.isSet(timestamps);

    if (!problems.isEmpty()) {
        out.exit = true;
        out.exitCode = 2;
        out.error = problems.join('\n') + QStringLiteral("\nSee --help.\n");
    }
    return out;
}

}  // namespace trelmo
