#include "terminal/control/CommandRunner.h"

#include <QStringListModel>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <optional>

#include "core/Guard.h"
#include "core/commands/CommandFile.h"
#include "core/commands/CommandString.h"
#include "links/SocketErrors.h"
#include "links/WinSocket.h"
#include "serial/VaComm.h"
#include "terminal/control/ReceivePath.h"
#include "terminal/control/SerialLink.h"
#include "terminal/control/TcpLinks.h"

namespace trelmo {
namespace {

const QString kRunIdle = QStringLiteral("Send all commands with delay in ms");
const QString kRunStop = QStringLiteral("Stop sending commands");

// While a message box is open a run polls at this pace at the fastest, so that a zero
// command delay does not spin inside the box's event loop.
constexpr int kHoldPollMs = 50;

}  // namespace

CommandRunner::CommandRunner(ReceivePath& receive, SerialLinkController& serial,
                             TcpLinksController& tcp, QObject* parent)
    : QObject(parent), receive_(receive), serial_(serial), tcp_(tcp) {
    // The command list may hold a whole command file: a plain string list keeps a million
    // entries light and quick to replace.
    history_ = new QStringListModel(this);
    history_->setObjectName(QStringLiteral("CommandList"));
    Timer_autoSend = new QTimer(this);
    Timer_autoSend->setObjectName(QStringLiteral("Timer_autoSend"));
    connect(Timer_autoSend, &QTimer::timeout, this, guarded([this] { Timer_autoSendTimer(); }));
}

void CommandRunner::say(const QString& text, bool overWindow) {
    emit notice(Notice{text, QString(), Notice::Icon::None, overWindow});
}

QStringList CommandRunner::commands() const {
    return history_->stringList();
}

// ---- Sending ------------------------------------------------------------------------------

void CommandRunner::send(const QString& command) {
    if (!serial_.portOpen() && !tcp_.tcpConnected() && !tcp_.listenerClientConnected()) {
        say(QStringLiteral("You are not connected to serial port or TCP/IP"));
        return;
    }
    if (command.isEmpty()) {
        say(QStringLiteral("Please enter command string"));
        return;
    }
    receive_.resetCheckSum();
    // A "#" must be followed by two hexadecimal digits; the whole command is sent, whatever
    // its length.
    const std::optional<QByteArray> parsed = parseCommandString(command);
    if (!parsed) {
        say(kWrongSendString);
        return;
    }
    const QByteArray& bytes = *parsed;
    const unsigned long pause = CharDelay > 0 ? static_cast<unsigned long>(CharDelay) : 0;

    int sent = 0;
    // Each byte on its own: lamp on, write, pause, lamp off, counted.
    auto sendEach = [&](const auto& write) {
        for (char c : bytes) {
            emit lampChanged(Lamp::TxD, true);
            write(static_cast<uint8_t>(c));
            if (pause)
                QThread::msleep(pause);
            emit lampChanged(Lamp::TxD, false);
            ++sent;
        }
    };
    try {
        if (serial_.portOpen()) {
            const bool rts = serial_.rtsControl();
            if (rts)
                serial_.setRtsLine(true);
            sendEach([this](uint8_t b) { serial_.writeByte(b); });
            if (rts)
                serial_.setRtsLine(false);
        }
        if (tcp_.tcpConnected())
            sendEach([this](uint8_t b) { tcp_.sendToClient(b); });
        if (tcp_.listenerActive()) {
            if (TCustomWinSocket* client = tcp_.servedClient())
                sendEach(
                    [client](uint8_t b) { client->SendText(QByteArray(1, static_cast<char>(b))); });
        }
        receive_.setSentCount(sent, true);
    } catch (const serial::EVaCommError& e) {
        receive_.addLine(QStringLiteral("Exception sending - ") + QString::fromUtf8(e.what()));
        receive_.setSentCount(sent, false);
    } catch (const ESocketError& e) {
        receive_.addLine(QStringLiteral("Exception sending - ") + QString::fromUtf8(e.what()));
        receive_.setSentCount(sent, false);
    }
    if (!BatchSending) {
        const int row = history_->rowCount();
        history_->insertRows(row, 1);
        history_->setData(history_->index(row), command);
    }
}

// ---- Command files --------------------------------------------------------------------------

void CommandRunner::loadCommandFile(const QString& path) {
    const QStringList commands = readCommandFile(path);
    history_->setStringList(commands);
    emit commandsLoaded(commands);
}

void CommandRunner::saveCommandFile(const QString& path) {
    try {
        writeCommandFile(path, history_->stringList());
    } catch (const ETextFileError&) {
        say(QStringLiteral("Commands not saved, not permission"), true);
    }
}

// ---- Batch sending --------------------------------------------------------------------------

void CommandRunner::endRun() {
    BatchSending = false;
    ++batchRun_;
    emit batchCaptionChanged(kRunIdle);
}

void CommandRunner::toggleBatch(int delayMs) {
    if (BatchSending) {
        Timer_autoSend->stop();
        endRun();
        return;
    }
    if (!serial_.portOpen() && !tcp_.tcpConnected() && !tcp_.listenerClientConnected()) {
        say(QStringLiteral("You are not connected to serial port or through TCP..."), true);
        return;
    }
    BatchSending = true;
    BatchIndex = 0;
    ++batchRun_;
    batchDelay_ = delayMs;
    Timer_autoSend->setInterval(batchDelay_);
    emit batchCaptionChanged(kRunStop);
    Timer_autoSend->start();
}

void CommandRunner::Timer_autoSendTimer() {
    if (batchTickBusy_ || !BatchSending)
        return;
    if (modalShowing_ && modalShowing_()) {
        // Hold the run until the box is closed.
        Timer_autoSend->start(std::max(batchDelay_, kHoldPollMs));
        return;
    }
    const int run = batchRun_;
    // No tick while this one sends: a box the send opens holds the run.
    Timer_autoSend->stop();
    batchTickBusy_ = true;
    const int count = history_->rowCount();
    const QString command =
        BatchIndex >= 0 && BatchIndex < count ? history_->stringList().at(BatchIndex) : QString();
    emit commandLineChanged(command);
    runGuarded([&] { send(command); });
    batchTickBusy_ = false;
    if (run != batchRun_ || !BatchSending)
        return;  // stopped (or restarted) while the command was being sent
    BatchIndex += 1;
    if (BatchIndex > history_->rowCount() - 1) {
        BatchIndex = 0;
        endRun();
        return;
    }
    Timer_autoSend->start(batchDelay_);
}

}  // namespace trelmo
