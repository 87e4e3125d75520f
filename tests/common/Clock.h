#pragma once
// A fixed clock: trelmo::now() reads one moment while the object lives.

#include <QDateTime>

#include "core/LocaleText.h"

namespace trelmo::test {

class FixedClock {
  public:
    explicit FixedClock(const QDateTime& moment) {
        trelmo::setClockOverride([moment] { return moment; });
    }
    ~FixedClock() { trelmo::setClockOverride({}); }
    FixedClock(const FixedClock&) = delete;
    FixedClock& operator=(const FixedClock&) = delete;
};

}  // namespace trelmo::test
