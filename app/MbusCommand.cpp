#include "app/MbusCommand.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "core/mbus/MbusDriver.h"
#include "core/mbus/MbusJson.h"
#include "core/mbus/MbusRecords.h"
#include "core/mbus/MbusScan.h"
#include "serial/OpenFailure.h"
#include "serial/VaComm.h"
#include "terminal/StartOptions.h"

namespace trelmo {

namespace {

using namespace mbus;
using namespace serial;

void writeOut(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

void writeErr(const QString& text) {
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

QByteArray jsonString(const QString& text) {
    QByteArray out = "\"";
    for (QChar c : text) {
        switch (c.unicode()) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c.unicode() < 0x20)
                    out += QStringLiteral("\\u%1")
                               .arg(int(c.unicode()), 4, 16, QLatin1Char('0'))
                               .toLatin1();
                else
                    out += QString(c).toUtf8();
        }
    }
    return out + '"';
}

// ---- --mbus-decode ------------------------------------------------------------------------

int decodeFile(const QString& name) {
    QFile file;
    bool opened = false;
    if (name == QLatin1String("-"))
        opened = file.open(stdin, QIODevice::ReadOnly);
    else {
        file.setFileName(name);
        opened = file.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        writeErr(QStringLiteral("--mbus-decode: cannot read %1: %2").arg(name, file.errorString()));
        return 2;
    }
    const QString shown = name == QLatin1String("-") ? QStringLiteral("stdin") : name;
    int code = 0;
    int lineNumber = 0;
    int telegram = 0;
    while (!file.atEnd()) {
        const QByteArray raw = file.readLine();
        ++lineNumber;
        QString line = QString::fromUtf8(raw);
        while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        ++telegram;
        const Result<QByteArray> bytes = parseHexLine(line.trimmed());
        if (!bytes) {
            writeErr(QStringLiteral("%1:%2: telegram %3 is not hex: %4")
                         .arg(shown)
                         .arg(lineNumber)
                         .arg(telegram)
                         .arg(bytes.error()));
            code = 1;
            continue;
        }
        const Telegram t = decodeTelegram(bytes.value());
        writeOut(telegramJsonLine(t, telegram));
        if (!t.ok()) {
            QStringList reasons;
            for (const DecodeError& e : t.errors)
                reasons << QStringLiteral("byte %1: %2").arg(e.offset).arg(e.reason);
            writeErr(QStringLiteral("%1:%2: telegram %3 could not be decoded: %4")
                         .arg(shown)
                         .arg(lineNumber)
                         .arg(telegram)
                         .arg(reasons.join(QStringLiteral("; "))));
            code = 1;
        }
    }
    return code;
}

// ---- --mbus-scan and --mbus-read ----------------------------------------------------------

// Opens the port as the bus wants it; an empty text on success, else why not.
QString openPort(TVaComm& port, const StartOptions& o, int speed) {
    const QString device = QStringLiteral("\\\\.\\") + *o.port;
    port.SetDeviceName(device);
    port.SetDirectWrite(true);
    port.Buffers().SetReadSize(2048);
    const TVaBaudrate rate = BaudrateOf(speed);
    port.SetBaudrate(rate);
    if (rate == brUser)
        port.SetUserBaudrate(speed);
    const QString parity = o.parity.value_or(QStringLiteral("Even"));
    if (parity == QLatin1String("None"))
        port.SetParity(paNone);
    else if (parity == QLatin1String("Odd"))
        port.SetParity(paOdd);
    else if (parity == QLatin1String("Mark"))
        port.SetParity(paMark);
    else if (parity == QLatin1String("Space"))
        port.SetParity(paSpace);
    else
        port.SetParity(paEven);
    port.SetDatabits(o.dataBits.value_or(QStringLiteral("8")) == QLatin1String("7") ? db7 : db8);
    port.SetStopbits(o.stopBits.value_or(QStringLiteral("1")) == QLatin1String("2") ? sb2 : sb1);
    try {
        port.Open();
    } catch (const EVaCommError& e) {
        const QString reason = OpenFailureReason(MapDeviceName(device), e.Code());
        return e.Message() + (reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
    }
    return {};
}

int runOnBus(const MbusRequest& request, const StartOptions& o) {
    const int speed = o.speed ? o.speed->toInt() : 2400;
    ScanOptions options;
    options.baud = speed;
    options.timeoutMs = request.timeoutMs;

    std::unique_ptr<BusTask> task;
    if (request.kind == MbusRequest::Kind::Read)
        task = std::make_unique<MeterRead>(parseReadTarget(request.address).value(), options);
    else if (request.secondary)
        task = std::make_unique<SecondaryScan>(options);
    else
        task = std::make_unique<PrimaryScan>(options);

    TVaComm port;
    if (const QString why = openPort(port, o, speed); !why.isEmpty()) {
        writeErr(QStringLiteral("Cannot open %1: %2").arg(*o.port, why));
        return 1;
    }
    BusDriver driver;
    driver.setBaud(speed);
    int code = 0;
    QString lost;
    port.OnRxChar = [&](TVaComm*, int count) {
        QByteArray block(std::max(count, 1), '\0');
        const int got =
            port.ReadBuf(reinterpret_cast<uint8_t*>(block.data()), static_cast<int>(block.size()));
        block.truncate(std::max(got, 0));
        driver.received(block);
    };
    port.OnDeviceLost = [&](TVaComm*, const QString& message) {
        lost = message;
        driver.cancel();
    };
    QObject::connect(&driver, &BusDriver::send, [&](const QByteArray& bytes) {
        if (!port.WriteText(bytes)) {
            lost = QStringLiteral("the port took no bytes");
            QTimer::singleShot(0, &driver, [&] { driver.cancel(); });
        }
    });
    QObject::connect(&driver, &BusDriver::finished, QCoreApplication::instance(),
                     &QCoreApplication::quit, Qt::QueuedConnection);
    driver.run(task.get());
    if (driver.running())
        QCoreApplication::exec();
    port.OnRxChar = nullptr;
    port.OnDeviceLost = nullptr;
    port.Close();

    for (const QString& note : task->notes())
        writeErr(QStringLiteral("note: ") + note);
    if (!lost.isEmpty()) {
        writeErr(QStringLiteral("The port %1 failed: %2").arg(*o.port, lost));
        code = 1;
    }
    if (request.kind == MbusRequest::Kind::Read) {
        const auto& read = static_cast<const MeterRead&>(*task);
        for (std::size_t i = 0; i < read.telegrams().size(); ++i) {
            const Telegram& t = read.telegrams()[i];
            writeOut(telegramJsonLine(t, static_cast<int>(i + 1)));
            if (!t.ok()) {
                writeErr(QStringLiteral("telegram %1 could not be decoded: %2")
                             .arg(i + 1)
                             .arg(t.errors.front().reason));
                code = 1;
            }
        }
        if (!read.error().isEmpty()) {
            writeErr(QStringLiteral("Read of %1 failed: %2").arg(request.address, read.error()));
            code = 1;
        }
        return code;
    }
    const std::vector<FoundMeter>& meters = request.secondary
                                                ? static_cast<SecondaryScan&>(*task).meters()
                                                : static_cast<PrimaryScan&>(*task).meters();
    for (const FoundMeter& m : meters) {
        writeOut(meterJson(m.primary, m.id, m.manufacturer, m.version, m.medium) + '\n');
        if (!m.note.isEmpty())
            writeErr(QStringLiteral("note: address %1: %2").arg(m.primary).arg(m.note));
    }
    return code;
}

}  // namespace

QByteArray meterJson(int address, const QString& id, const QString& manufacturer, int version,
                     int medium) {
    auto number = [](int v) { return v < 0 ? QByteArray("null") : QByteArray::number(v); };
    auto text = [](const QString& s) { return s.isEmpty() ? QByteArray("null") : jsonString(s); };
    return "{\"address\": " + number(address) + ", \"id\": " + text(id) +
           ", \"manufacturer\": " + text(manufacturer) + ", \"version\": " + number(version) +
           ", \"medium\": " + number(medium) + "}";
}

int runMbusCommand(int argc, char** argv, const MbusRequest& request, const StartOptions& options) {
    QCoreApplication app(argc, argv);
    if (request.kind == MbusRequest::Kind::Decode)
        return decodeFile(request.file);
    return runOnBus(request, options);
}

}  // namespace trelmo
