#pragma once
// Command sending of the main window: a command string parsed into bytes and written byte
// by byte to every active link (with the TxD lamp, the pause after each byte and the RTS
// control), the command list (the history of the command line, which a command file
// replaces and a batch run sends one command per timer tick).

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "terminal/control/LinkTypes.h"

class QStringListModel;
class QTimer;

namespace trelmo {

class ReceivePath;
class SerialLinkController;
class TcpLinksController;

class CommandRunner : public QObject {
    Q_OBJECT
  public:
    CommandRunner(ReceivePath& receive, SerialLinkController& serial, TcpLinksController& tcp,
                  QObject* parent = nullptr);

    // The command list: the command line's history (its model).
    QStringListModel* history() const { return history_; }
    QStringList commands() const;

    // The pause in ms after each sent byte (as loaded from the settings).
    void setCharDelay(int ms) { CharDelay = ms; }
    int charDelay() const { return CharDelay; }

    // Sends the command to every active link ("Send current command only", Enter in the
    // command line, and each tick of a batch run) and keeps it in the list (not during a run
    // or a repeat).
    void send(const QString& command);

    // The line ending appended to every command sent (sends, runs, repeats): "None" (the
    // default: nothing), "CR", "LF" or "CR+LF".
    static const QStringList& lineEndingNames();
    void setLineEnding(const QString& name);
    QString lineEnding() const { return lineEndingName_; }

    // ---- Repeat ------------------------------------------------------------------------------
    // The command line's text, as the user leaves it (what a repeat sends).
    void setCommandLine(const QString& text) { commandLine_ = text; }
    // Starts sending the command line's text every periodMs (at least kMinRepeatMs), as
    // "Send current command only" would, until stopped or until no link is active; false
    // (after the message a send would show) when it cannot start. While a box is open or the
    // link waits for its device, the repeat holds and goes on afterwards.
    bool startRepeat(int periodMs);
    // A new period for the repeat going on (from its next send on).
    void setRepeatPeriod(int periodMs);
    void stopRepeat();
    bool repeating() const { return repeating_; }
    int repeatCount() const { return repeatCount_; }
    static constexpr int kMinRepeatMs = 10;

    // ---- Command files ----------------------------------------------------------------------
    // Replaces the list by the file's commands.
    void loadCommandFile(const QString& path);
    // Writes the list to the file; a file that cannot be written is reported.
    void saveCommandFile(const QString& path);
    // The history kept across runs: the last kKeptCommands distinct commands of the list.
    // Loading puts them in the list (a missing file gives none); saving writes them. Both
    // fail quietly: a history is a convenience, never a reason for a box.
    static constexpr int kKeptCommands = 100;
    // The file the history is kept in: beside the settings file, with its name
    // (trelmo.ini -> trelmo.history).
    static QString historyPathBeside(const QString& settingsPath);
    void loadHistory(const QString& path);
    void saveHistory(const QString& path) const;

    // ---- Batch sending ----------------------------------------------------------------------
    // Starts a run with `delayMs` between the commands (one command per tick, the first one a
    // delay after the start) or stops the one going on.
    void toggleBatch(int delayMs);
    bool batchSending() const { return BatchSending; }
    int batchIndex() const { return BatchIndex; }
    QTimer* batchTimer() const { return Timer_autoSend; }
    // Whether a modal box is open: a run waits while it is, and goes on when it is closed.
    void setModalQuery(std::function<bool()> query) { modalShowing_ = std::move(query); }

  signals:
    void lampChanged(Lamp lamp, bool on);
    void notice(const Notice& notice);
    // A run puts each command into the command line before sending it.
    void commandLineChanged(const QString& text);
    // The caption of the batch button (it doubles as the run's state).
    void batchCaptionChanged(const QString& caption);
    // The list was replaced by a command file's lines (`commands` joined by line breaks).
    void commandsLoaded(const QStringList& commands);
    // A repeat started or stopped (by the user, or because no link is left).
    void repeatChanged(bool on);
    // The number of sends of the repeat going on.
    void repeatCountChanged(int count);

  private:
    // Whether the links a send would use can take bytes now: false while the only active
    // link waits for its device or its host.
    bool linksWritable() const;
    bool anyLinkActive() const;
    // The command's bytes with the line ending; empty after showing why it cannot be sent.
    std::optional<QByteArray> commandBytes(const QString& command);
    // Writes the bytes to every active link; false after a failure was reported.
    bool write(const QByteArray& bytes);
    void repeatTick();
    void Timer_autoSendTimer();
    void endRun();
    void say(const QString& text, bool overWindow = false);

    ReceivePath& receive_;
    SerialLinkController& serial_;
    TcpLinksController& tcp_;
    QStringListModel* history_;
    QTimer* Timer_autoSend;
    std::function<bool()> modalShowing_;

    QTimer* repeatTimer_;
    QString commandLine_;
    QString lineEndingName_ = QStringLiteral("None");
    QByteArray lineEnding_;
    bool repeating_ = false;
    int repeatCount_ = 0;
    QString repeatCommand_;

    int CharDelay = 0;
    bool BatchSending = false;
    int BatchIndex = 0;
    int batchDelay_ = 0;          // the delay in force for the current run
    int batchRun_ = 0;            // counts started and stopped runs
    bool batchTickBusy_ = false;  // a tick is sending (ticks never nest)
};

}  // namespace trelmo
