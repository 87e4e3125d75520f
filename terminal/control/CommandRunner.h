#pragma once
// Command sending of the main window: a command string parsed into bytes and written byte
// by byte to every active link (with the TxD lamp, the pause after each byte and the RTS
// control), the command list (the history of the command line, which a command file
// replaces and a batch run sends one command per timer tick).

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

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
    // command line, and each tick of a batch run) and keeps it in the list (not during a run).
    void send(const QString& command);

    // ---- Command files ----------------------------------------------------------------------
    // Replaces the list by the file's commands.
    void loadCommandFile(const QString& path);
    // Writes the list to the file; a file that cannot be written is reported.
    void saveCommandFile(const QString& path);

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

  private:
    void Timer_autoSendTimer();
    void endRun();
    void say(const QString& text, bool overWindow = false);

    ReceivePath& receive_;
    SerialLinkController& serial_;
    TcpLinksController& tcp_;
    QStringListModel* history_;
    QTimer* Timer_autoSend;
    std::function<bool()> modalShowing_;

    int CharDelay = 0;
    bool BatchSending = false;
    int BatchIndex = 0;
    int batchDelay_ = 0;          // the delay in force for the current run
    int batchRun_ = 0;            // counts started and stopped runs
    bool batchTickBusy_ = false;  // a tick is sending (ticks never nest)
};

}  // namespace trelmo
