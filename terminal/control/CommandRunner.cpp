#include "terminal/control/CommandRunner.h"

#include <QDir>
#include <QFileInfo>
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
    repeatTimer_ = new QTimer(this);
    repeatTimer_->setObjectName(QStringLiteral("Timer_repeat"));
    connect(repeatTimer_, &QTimer::timeout, this, guarded([this] { repeatTick(); }));
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

const QStringList& CommandRunner::lineEndingNames() {
    static const QStringList names = {QStringLiteral("None"), QStringLiteral("CR"),
                                      QStringLiteral("LF"), QStringLiteral("CR+LF")};
    return names;
}

void CommandRunner::setLineEnding(const QString& name) {
    static const QByteArray endings[] = {QByteArray(), QByteArray("\r"), QByteArray("\n"),
                                         QByteArray("\r\n")};
    const qsizetype i = lineEndingNames().indexOf(name);
    lineEndingName_ = i < 0 ? lineEndingNames().first() : name;
    lineEnding_ = endings[std::max<qsizetype>(i, 0)];
}

bool CommandRunner::anyLinkActive() const {
    return serial_.portOpen() || tcp_.tcpConnected() || tcp_.listenerClientConnected();
}

bool CommandRunner::linksWritable() const {
    return serial_.writable() || tcp_.clientWritable() || tcp_.listenerClientConnected();
}

std::optional<QByteArray> CommandRunner::commandBytes(const QString& command) {
    if (!anyLinkActive() || !linksWritable()) {
        say(QStringLiteral("You are not connected to serial port or TCP/IP"));
        return std::nullopt;
    }
    if (command.isEmpty()) {
        say(QStringLiteral("Please enter command string"));
        return std::nullopt;
    }
    receive_.resetCheckSum();
    // A "#" must be followed by two hexadecimal digits; the whole command is sent, whatever
    // its length.
    std::optional<QByteArray> parsed = parseCommandString(command);
    if (!parsed) {
        say(kWrongSendString);
        return std::nullopt;
    }
    return *parsed + lineEnding_;
}

bool CommandRunner::write(const QByteArray& bytes) {
    const unsigned long pause = CharDelay > 0 ? static_cast<unsigned long>(CharDelay) : 0;
    int sent = 0;
    // The echo (when on) shows what the first link written to took, as that link shows
    // received bytes.
    const LinkPolicy* echoPolicy = nullptr;
    qsizetype echoed = 0;
    // Each byte on its own: lamp on, write, pause, lamp off, counted.
    auto sendEach = [&](const LinkPolicy& policy, const auto& writeByte) {
        const bool first = echoPolicy == nullptr;
        if (first)
            echoPolicy = &policy;
        for (char c : bytes) {
            emit lampChanged(Lamp::TxD, true);
            writeByte(static_cast<uint8_t>(c));
            if (pause)
                QThread::msleep(pause);
            emit lampChanged(Lamp::TxD, false);
            ++sent;
            if (first)
                ++echoed;
        }
    };
    auto echo = [&] {
        if (echoPolicy)
            receive_.showSent(QByteArrayView(bytes).first(echoed), *echoPolicy);
    };
    try {
        if (serial_.writable()) {
            const bool rts = serial_.rtsControl();
            if (rts)
                serial_.setRtsLine(true);
            sendEach(LinkPolicy::serial(), [this](uint8_t b) { serial_.writeByte(b); });
            if (rts)
                serial_.setRtsLine(false);
        }
        if (tcp_.clientWritable())
            sendEach(LinkPolicy::tcpClient(), [this](uint8_t b) { tcp_.sendToClient(b); });
        if (tcp_.listenerActive()) {
            if (TCustomWinSocket* client = tcp_.servedClient())
                sendEach(LinkPolicy::tcpListener(), [client](uint8_t b) {
                    client->SendText(QByteArray(1, static_cast<char>(b)));
                });
        }
        echo();
        receive_.setSentCount(sent, true);
        return true;
    } catch (const serial::EVaCommError& e) {
        echo();
        receive_.addLine(QStringLiteral("Exception sending - ") + QString::fromUtf8(e.what()));
    } catch (const ESocketError& e) {
        echo();
        receive_.addLine(QStringLiteral("Exception sending - ") + QString::fromUtf8(e.what()));
    }
    receive_.setSentCount(sent, false);
    return false;
}

void CommandRunner::send(const QString& command) {
    const std::optional<QByteArray> bytes = commandBytes(command);
    if (!bytes)
        return;
    write(*bytes);
    if (!BatchSending && !repeating_) {
        const int row = history_->rowCount();
        history_->insertRows(row, 1);
        history_->setData(history_->index(row), command);
    }
}

// ---- Repeat ---------------------------------------------------------------------------------

bool CommandRunner::startRepeat(int periodMs) {
    stopRepeat();
    // The first send is the check: it says why, as a send would, when it cannot go.
    const std::optional<QByteArray> bytes = commandBytes(commandLine_);
    if (!bytes)
        return false;
    repeating_ = true;
    repeatCount_ = 0;
    emit repeatChanged(true);
    repeatTimer_->start(std::max(periodMs, kMinRepeatMs));
    if (write(*bytes)) {
        ++repeatCount_;
        emit repeatCountChanged(repeatCount_);
    }
    return true;
}

void CommandRunner::setRepeatPeriod(int periodMs) {
    if (repeating_)
        repeatTimer_->setInterval(std::max(periodMs, kMinRepeatMs));
}

void CommandRunner::stopRepeat() {
    if (!repeating_)
        return;
    repeating_ = false;
    repeatTimer_->stop();
    emit repeatChanged(false);
}

void CommandRunner::repeatTick() {
    if (!repeating_)
        return;
    if (!anyLinkActive()) {
        stopRepeat();  // the link was closed
        return;
    }
    // Held while a box is open or the link waits for its device; it goes on afterwards.
    if ((modalShowing_ && modalShowing_()) || !linksWritable())
        return;
    const std::optional<QByteArray> bytes = commandBytes(commandLine_);
    if (!bytes) {
        stopRepeat();
        return;
    }
    if (write(*bytes)) {
        ++repeatCount_;
        emit repeatCountChanged(repeatCount_);
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

QString CommandRunner::historyPathBeside(const QString& settingsPath) {
    const QFileInfo settings(settingsPath);
    return settings.dir().filePath(settings.completeBaseName() + QStringLiteral(".history"));
}

void CommandRunner::loadHistory(const QString& path) {
    if (!QFileInfo::exists(path))
        return;
    try {
        history_->setStringList(lastDistinctCommands(readCommandFile(path), kKeptCommands));
    } catch (const ETextFileError&) {
        // An unreadable history starts the list empty, as without one.
    }
}

void CommandRunner::saveHistory(const QString& path) const {
    try {
        writeCommandFile(path, lastDistinctCommands(history_->stringList(), kKeptCommands));
    } catch (const ETextFileError&) {
        // Not kept this time; the settings and the capture do not depend on it.
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
    if (!anyLinkActive()) {
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
    if ((modalShowing_ && modalShowing_()) || (anyLinkActive() && !linksWritable())) {
        // Hold the run until the box is closed, or the link's device is back.
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
