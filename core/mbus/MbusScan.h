#pragma once
// Scanning a bus and reading a meter, without a port: the driver (the M-Bus window or a
// command-line run) owns the serial port and runs one of these tasks:
//
//   task.start();
//   for (Action a = task.next(); a.kind == Action::Kind::Send; a = task.next()) {
//       write a.bytes; collect the answer for up to a.timeoutMs ms (replyComplete() tells
//       when to stop early);
//       if anything came: task.onReply(bytes); else task.onTimeout();
//   }
//   read task.meters() / task.telegrams() and task.notes().
//
// next() returns the same action until onReply() or onTimeout() is called. done() and
// total() give the progress. Garbled answers (several meters at once, bad check sums) are
// reported as text in notes() and in the results, never as errors that stop the task. Every
// task ends: each step moves it on.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

#include "core/mbus/MbusFrame.h"
#include "core/mbus/MbusRecords.h"

namespace trelmo::mbus::inline records {

struct Action {
    enum class Kind : uint8_t { Send, Finished };
    Kind kind = Kind::Finished;
    QByteArray bytes;
    int timeoutMs = 0;
    QString what;  // "SND_NKE to 5", for a log
};

struct ScanOptions {
    int baud = 2400;
    int timeoutMs = 0;     // the wait for one reply; 0: defaultReplyTimeoutMs(baud)
    int retries = 0;       // repeats of a request that got no answer (or a garbled one, in a read)
    int firstAddress = 0;  // primary scan range
    int lastAddress = kMaxPrimary;
    int maxTelegrams = 64;  // a read stops after this many telegrams
    int maxProbes = 20000;  // a secondary scan stops after this many selections
};

// A meter found by a scan.
struct FoundMeter {
    int primary = -1;  // the address it answered at (primary scan) or the A field of its reply
    SecondaryAddress secondary;  // id, manufacturer, version, medium from its reply
    QString id;
    QString manufacturer;
    int version = -1;
    int medium = -1;
    QString mediumText;
    QString note;  // a collision or another remark about this meter
};

class BusTask {
  public:
    virtual ~BusTask() = default;
    virtual void start() = 0;
    virtual Action next() = 0;
    virtual void onReply(QByteArrayView bytes) = 0;
    virtual void onTimeout() = 0;
    virtual bool finished() const = 0;
    virtual int done() const = 0;
    virtual int total() const = 0;
    const QStringList& notes() const { return notes_; }

  protected:
    int timeout(const ScanOptions& o) const {
        return o.timeoutMs > 0 ? o.timeoutMs : defaultReplyTimeoutMs(o.baud);
    }
    QStringList notes_;
};

// Primary addresses first..last: SND_NKE to each, then REQ_UD2 to each that answered.
class PrimaryScan : public BusTask {
  public:
    explicit PrimaryScan(ScanOptions options = {});
    void start() override;
    Action next() override;
    void onReply(QByteArrayView bytes) override;
    void onTimeout() override;
    bool finished() const override { return phase_ == Phase::Done; }
    int done() const override;
    int total() const override;
    const std::vector<FoundMeter>& meters() const { return meters_; }

  private:
    enum class Phase { Idle, Nke, Read, Done };
    void advance();
    ScanOptions o_;
    Phase phase_ = Phase::Idle;
    int address_ = 0;
    int attempts_ = 0;
    std::size_t readIndex_ = 0;
    std::vector<int> answered_;
    std::vector<QString> answerNotes_;
    std::vector<FoundMeter> meters_;
};

// Wildcard selection, narrowing the id digit by digit where several meters answer; each
// meter selected alone is read by REQ_UD2 to address 253.
class SecondaryScan : public BusTask {
  public:
    explicit SecondaryScan(ScanOptions options = {});
    void start() override;
    Action next() override;
    void onReply(QByteArrayView bytes) override;
    void onTimeout() override;
    bool finished() const override { return phase_ == Phase::Done; }
    int done() const override { return probes_; }
    int total() const override;
    const std::vector<FoundMeter>& meters() const { return meters_; }

  private:
    enum class Phase { Idle, Select, Read, Done };
    void collision(const QString& why);
    void nextMask();
    ScanOptions o_;
    Phase phase_ = Phase::Idle;
    std::deque<QString> masks_;
    QString mask_;
    int attempts_ = 0;
    int probes_ = 0;
    std::vector<FoundMeter> meters_;
};

// The meter a read addresses: a primary address 0..250, or a secondary address.
struct ReadTarget {
    bool secondary = false;
    int primary = 0;
    SecondaryAddress address;
};
// "0".."250", or 16 hex digits (see parseSecondaryAddress).
Result<ReadTarget> parseReadTarget(QStringView text);

struct NumberedRecord {
    int telegram = 0;  // from 1
    Record record;
};

// Every telegram of one meter's reply: REQ_UD2, and again with the frame count bit toggled
// while the last record says more records follow.
class MeterRead : public BusTask {
  public:
    explicit MeterRead(ReadTarget target, ScanOptions options = {});
    void start() override;
    Action next() override;
    void onReply(QByteArrayView bytes) override;
    void onTimeout() override;
    bool finished() const override { return phase_ == Phase::Done; }
    int done() const override { return static_cast<int>(telegrams_.size()); }
    int total() const override;
    const std::vector<Telegram>& telegrams() const { return telegrams_; }
    // The records of all telegrams, in order, each with its telegram's number.
    std::vector<NumberedRecord> records() const;
    // Why the read stopped short; empty when every telegram was read.
    const QString& error() const { return error_; }
    bool ok() const { return finished() && error_.isEmpty(); }

  private:
    enum class Phase { Idle, Prepare, Request, Done };
    void fail(const QString& why);
    ReadTarget target_;
    ScanOptions o_;
    Phase phase_ = Phase::Idle;
    bool fcb_ = true;
    int attempts_ = 0;
    std::vector<Telegram> telegrams_;
    QString error_;
};

}  // namespace trelmo::mbus::inline records
