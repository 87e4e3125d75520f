#include "core/receive/TimeStamps.h"

#include <chrono>

#include "core/LocaleText.h"

namespace trelmo {
namespace {

constexpr int64_t kMsPerDay = 24 * 3600 * 1000;
constexpr int64_t kNsPerMs = 1000 * 1000;

// Floor division (a time before the anchor gives the millisecond before, not after).
int64_t floorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

int64_t steadyNowNs() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

StampClock::StampClock() {
    setAnchor(now(), steadyNowNs());
}

void StampClock::setAnchor(const QDateTime& wall, int64_t steadyNs) {
    anchorWall_ = wall;
    anchorNs_ = steadyNs;
    anchorMsOfDay_ = wall.time().msecsSinceStartOfDay();
}

int64_t StampClock::msOfDay(int64_t steadyNs) const {
    const int64_t ms = anchorMsOfDay_ + floorDiv(steadyNs - anchorNs_, kNsPerMs);
    const int64_t day = ms % kMsPerDay;
    return day < 0 ? day + kMsPerDay : day;
}

QString StampClock::stampText(int64_t steadyNs) const {
    int64_t ms = msOfDay(steadyNs);
    const auto h = static_cast<int>(ms / 3600000);
    ms %= 3600000;
    const auto m = static_cast<int>(ms / 60000);
    ms %= 60000;
    const auto s = static_cast<int>(ms / 1000);
    const auto z = static_cast<int>(ms % 1000);
    char16_t out[kStampLength] = {u'[', 0, 0, u':', 0, 0, u':', 0, 0, u'.', 0, 0, 0, u']', u' '};
    auto two = [&](int at, int v) {
        out[at] = static_cast<char16_t>(u'0' + v / 10);
        out[at + 1] = static_cast<char16_t>(u'0' + v % 10);
    };
    two(1, h);
    two(4, m);
    two(7, s);
    out[10] = static_cast<char16_t>(u'0' + z / 100);
    out[11] = static_cast<char16_t>(u'0' + z / 10 % 10);
    out[12] = static_cast<char16_t>(u'0' + z % 10);
    return QString(reinterpret_cast<const QChar*>(out), kStampLength);
}

QString StampClock::widestStamp() {
    return QStringLiteral("[00:00:00.000] ");
}

}  // namespace trelmo
