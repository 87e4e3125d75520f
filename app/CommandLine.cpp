#include "app/CommandLine.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "core/mbus/MbusScan.h"

namespace trelmo {

bool isSystemFolder(const QString& folder) {
    static const QStringList roots = {
        QStringLiteral("/usr"),   QStringLiteral("/opt"),    QStringLiteral("/bin"),
        QStringLiteral("/sbin"),  QStringLiteral("/lib"),    QStringLiteral("/lib32"),
        QStringLiteral("/lib64"), QStringLiteral("/libx32"), QStringLiteral("/etc"),
        QStringLiteral("/var"),   QStringLiteral("/snap"),   QStringLiteral("/nix"),
        QStringLiteral("/app")};
    const QString clean = QDir::cleanPath(folder);
    if (clean == QLatin1String("/"))
        return true;
    return std::any_of(roots.begin(), roots.end(), [&](const QString& root) {
        return clean == root || clean.startsWith(root + QLatin1Char('/'));
    });
}

QString settingsLocation(const QString& executable, const QString& configHome,
                         const ProgramFolder& folder) {
    const QFileInfo exe(executable);
    const QString name = exe.completeBaseName() + QStringLiteral(".ini");
    const QString here = exe.absolutePath();
    const QString beside = QDir(here).filePath(name);
    if (!isSystemFolder(here)) {
        if (folder.exists(beside) && folder.writable(beside))
            return beside;
        if (folder.ownedByUser(here) && folder.writable(here))
            return beside;
    }
    // A relative $XDG_CONFIG_HOME is invalid and ignored, as the base directory rules say.
    const QString home = QDir::isAbsolutePath(configHome)
                             ? configHome
                             : QDir::home().filePath(QStringLiteral(".config"));
    return QDir(home).filePath(QStringLiteral("trelmo/") + name);
}

QString settingsLocation() {
    ProgramFolder machine;
    machine.writable = [](const QString& path) {
        return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
    };
    machine.ownedByUser = [](const QString& folder) {
        struct stat st {};
        return ::stat(QFile::encodeName(folder).constData(), &st) == 0 && st.st_uid == ::geteuid();
    };
    machine.exists = [](const QString& file) { return QFileInfo(file).isFile(); };
    return settingsLocation(QCoreApplication::applicationFilePath(),
                            qEnvironmentVariable("XDG_CONFIG_HOME"), machine);
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
    p.setApplicationDescription(QStringLiteral(
        "Trelmo: a terminal for serial and TCP data.\n"
        "The serial settings (--port, --speed, --parity, --data-bits, --stop-bits) and\n"
        "--reopen go into the window as if typed, and are saved in the settings file at\n"
        "exit like any change. --connect, --tcp and --listen only open a link at start.\n"
        "--mbus-decode, --mbus-scan and --mbus-read open no window: they print one JSON\n"
        "object per line (telegram or meter) and end; scans and reads use --port and\n"
        "--speed (default 2400) with 8 data bits, even parity and 1 stop bit unless\n"
        "--parity, --data-bits or --stop-bits say otherwise. Exit code 0: done, 1: a\n"
        "telegram could not be decoded or the bus failed, 2: a usage mistake."));
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
    const QCommandLineOption dataBits(QStringLiteral("data-bits"), QStringLiteral("7 or 8."),
                                      QStringLiteral("n"));
    const QCommandLineOption stopBits(QStringLiteral("stop-bits"), QStringLiteral("1 or 2."),
                                      QStringLiteral("n"));
    const QCommandLineOption connect(QStringLiteral("connect"),
                                     QStringLiteral("Open the serial port at start."));
    const QCommandLineOption reopen(
        QStringLiteral("reopen"),
        QStringLiteral("Reopen the serial port when its device returns (a dropped TCP client "
                       "link is connected again)."));
    const QCommandLineOption tcp(QStringLiteral("tcp"),
                                 QStringLiteral("Connect to a TCP host at start."),
                                 QStringLiteral("host:port"));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Listen on a TCP port at start."),
                                    QStringLiteral("port"));
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("The settings file to read and write."),
                                      QStringLiteral("file"));
    const QCommandLineOption log(QStringLiteral("log"),
                                 QStringLiteral("Log every received byte, exactly as received, to "
                                                "this file from the start (this run only)."),
                                 QStringLiteral("file"));
    const QCommandLineOption timestamps(
        QStringLiteral("timestamps"),
        QStringLiteral("Show each received line behind its arrival time (Tools > Time stamps)."));
    const QCommandLineOption mbusDecode(
        QStringLiteral("mbus-decode"),
        QStringLiteral("Decode the M-Bus telegrams of a file, one in hex per line (- reads "
                       "standard input), and print each as JSON on one line."),
        QStringLiteral("file"));
    const QCommandLineOption mbusScan(
        QStringLiteral("mbus-scan"),
        QStringLiteral("Scan the M-Bus on --port by primary addresses 0-250 or by secondary "
                       "addresses; print each meter found as JSON on one line."),
        QStringLiteral("primary|secondary"));
    const QCommandLineOption mbusRead(
        QStringLiteral("mbus-read"),
        QStringLiteral("Read every telegram of a meter on --port (primary address 0-250 or a "
                       "16-digit secondary address); print each as JSON on one line."),
        QStringLiteral("address"));
    const QCommandLineOption mbusTimeout(
        QStringLiteral("mbus-timeout"),
        QStringLiteral("The wait for each M-Bus reply in ms (default: from the speed)."),
        QStringLiteral("ms"));
    p.addOptions({help, version, port, speed, parity, dataBits, stopBits, connect, reopen, tcp,
                  listen, settings, log, timestamps, mbusDecode, mbusScan, mbusRead, mbusTimeout});

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
    // What the Data Bits box can apply to the port.
    if (o.dataBits && !QStringList{"7", "8"}.contains(*o.dataBits))
        problems << QStringLiteral("--data-bits wants 7 or 8");
    o.stopBits = text(stopBits);
    if (o.stopBits && *o.stopBits != QLatin1String("1") && *o.stopBits != QLatin1String("2"))
        problems << QStringLiteral("--stop-bits wants 1 or 2");
    o.connect = p.isSet(connect);
    o.reopen = p.isSet(reopen);
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
    if (const auto l = text(log)) {
        if (l->isEmpty())
            problems << QStringLiteral("--log wants a file name");
        else
            o.logFile = QFileInfo(*l).absoluteFilePath();
    }
    o.timeStamps = p.isSet(timestamps);

    // The M-Bus runs: one at a time, and without the window's links.
    MbusRequest& m = out.mbus;
    const int runs = static_cast<int>(p.isSet(mbusDecode)) + static_cast<int>(p.isSet(mbusScan)) +
                     static_cast<int>(p.isSet(mbusRead));
    if (p.isSet(mbusDecode)) {
        m.kind = MbusRequest::Kind::Decode;
        m.file = p.value(mbusDecode);
        if (m.file.isEmpty())
            problems << QStringLiteral("--mbus-decode wants a file name (- for standard input)");
    } else if (p.isSet(mbusScan)) {
        m.kind = MbusRequest::Kind::Scan;
        const QString kind = p.value(mbusScan).toLower();
        m.secondary = kind == QLatin1String("secondary");
        if (kind != QLatin1String("primary") && !m.secondary)
            problems << QStringLiteral("--mbus-scan wants primary or secondary, not \"%1\"")
                            .arg(p.value(mbusScan));
    } else if (p.isSet(mbusRead)) {
        m.kind = MbusRequest::Kind::Read;
        m.address = p.value(mbusRead);
        const auto target = mbus::parseReadTarget(m.address);
        if (!target)
            problems << QStringLiteral(
                            "--mbus-read wants a primary address 0 to 250 or a 16-digit "
                            "secondary address: %1")
                            .arg(target.error());
    }
    if (runs > 1)
        problems << QStringLiteral("Only one of --mbus-decode, --mbus-scan and --mbus-read");
    if (const auto t = text(mbusTimeout)) {
        bool ok = false;
        m.timeoutMs = t->toInt(&ok);
        if (!ok || m.timeoutMs <= 0 || m.timeoutMs > 600000)
            problems << QStringLiteral("--mbus-timeout wants a number of ms from 1 to 600000");
        if (m.kind != MbusRequest::Kind::Scan && m.kind != MbusRequest::Kind::Read)
            problems << QStringLiteral("--mbus-timeout goes with --mbus-scan or --mbus-read");
    }
    if (m.kind != MbusRequest::Kind::None) {
        if (o.connect || o.tcpHost || o.listenPort)
            problems << QStringLiteral(
                "The M-Bus runs open no window: not with --connect, --tcp or --listen");
        if ((m.kind == MbusRequest::Kind::Scan || m.kind == MbusRequest::Kind::Read) &&
            (!o.port || o.port->isEmpty()))
            problems << QStringLiteral("--mbus-scan and --mbus-read need --port");
    }

    if (!problems.isEmpty()) {
        out.exit = true;
        out.exitCode = 2;
        out.error = problems.join('\n') + QStringLiteral("\nSee --help.\n");
    }
    return out;
}

}  // namespace trelmo
