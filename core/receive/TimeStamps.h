#pragma once
// When received bytes arrived, and the wall-clock texts the pane's time stamps show.
//
// Arrival times are nanoseconds on std::chrono::steady_clock since its epoch, the clock the
// serial layer takes its arrival marks on (serial::ArrivalClockNs): taken where the bytes are
// read from the device, once per chunk, never per byte. The pane model keeps one such time
// per line (the arrival of the line's first byte, or when a message line was added).
//
// A steady time becomes a wall time through one anchor, the wall clock read once at a known
// steady instant: wall = anchor + (time - anchor's steady instant). Setting the system clock
// or a time server's step therefore never makes the stamps jump, and a stamp is exact to the
// millisecond relative to every other. The time of day is the anchor's local time plus the
// elapsed time (a change of the zone's offset during a session, such as daylight saving, is
// not followed). Tests put an anchor of their own (setAnchor), or fix the wall clock the
// default anchor reads (setClockOverride in core/LocaleText.h).

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <span>

namespace trelmo {

// A chunk of a received block: its first byte's offset in the block and when it arrived.
// A block's times are in offset order, the first at offset 0; each byte arrived at the time
// of the last entry at or before it.
struct ArrivalTime {
    qsizetype offset = 0;
    int64_t ns = 0;
    bool operator==(const ArrivalTime&) const = default;
};
using ArrivalTimes = std::span<const ArrivalTime>;

// Now on the clock of arrival times.
int64_t steadyNowNs();

class StampClock {
  public:
    // Anchored at construction: now() (core/LocaleText.h) at steadyNowNs().
    StampClock();

    // The wall time `wall` was the time at the steady instant `steadyNs`.
    void setAnchor(const QDateTime& wall, int64_t steadyNs);
    const QDateTime& anchorWall() const { return anchorWall_; }
    int64_t anchorSteadyNs() const { return anchorNs_; }

    // The local time of day of a steady time, in milliseconds since midnight.
    int64_t msOfDay(int64_t steadyNs) const;
    // The stamp a line shows: "[hh:mm:ss.zzz] ".
    QString stampText(int64_t steadyNs) const;
    // A stamp of the widest digits, for measuring the column the stamps take.
    static QString widestStamp();
    // Characters of every stamp.
    static constexpr int kStampLength = 15;

  private:
    QDateTime anchorWall_;
    int64_t anchorNs_ = 0;
    int64_t anchorMsOfDay_ = 0;
};

}  // namespace trelmo
