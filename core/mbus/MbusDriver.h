#pragma once
// Runs one bus task (MbusScan.h: a primary or secondary scan, a meter read) over a line the
// caller owns, on the event loop and never blocking it: each request goes out through
// send(), the caller hands every byte the line brings to received(), and a timer per request
// bounds the wait. A reply that is whole (replyComplete) is given a short pause in which
// more bytes may still come (other meters answering at the same moment make a collision of
// it), then goes to the task, and the next request follows. The M-Bus window and the command
// line drive their scans and reads with it.

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QTimer>

#include "core/mbus/MbusScan.h"

namespace trelmo::mbus::inline records {

class BusDriver : public QObject {
    Q_OBJECT
  public:
    explicit BusDriver(QObject* parent = nullptr);

    // The line's speed in bit/s: the time a request takes on the line is added to the
    // task's wait for its reply, and the pause after a reply is three characters long.
    void setBaud(int baud);
    int baud() const { return baud_; }

    // Starts `task` and sends its first request. The driver does not own the task; it must
    // live until finished() (or cancel()). A task started while another runs replaces it
    // (the other ends as cancelled).
    void run(BusTask* task);
    // Stops the task where it is: no further request goes out; finished(true) follows.
    void cancel();
    bool running() const { return task_ != nullptr; }
    BusTask* task() const { return task_; }

    // Bytes from the line. Taken while a request waits for its reply; dropped otherwise.
    void received(QByteArrayView bytes);

    // The wait for the reply to `request` (whose task asked for `taskWaitMs`) at this speed.
    int replyWaitMs(const QByteArray& request, int taskWaitMs) const;
    // The pause after a whole reply: three characters of 11 bits, at least 5 ms.
    int settleMs() const;

  signals:
    // A request to write to the line, in one piece.
    void send(const QByteArray& bytes);
    // A request went out: what it is, and the task's progress.
    void stepped(const QString& what, int done, int total);
    // The task ended (every step done), or was cancelled.
    void finished(bool cancelled);

  private:
    void next();
    void waitOver();
    void settled();

    BusTask* task_ = nullptr;
    QTimer wait_;
    QTimer settle_;
    QByteArray reply_;
    bool waiting_ = false;
    int baud_ = 2400;
};

}  // namespace trelmo::mbus::inline records
