#pragma once
// Times, dates and numbers as the system's regional settings write them, and the one
// clock the program reads. Tests replace the clock to fix the moment.

#include <QChar>
#include <QDateTime>
#include <QString>
#include <functional>

namespace trelmo {

// The current local date and time (the override when one is installed).
QDateTime now();
// Installs a clock for tests; an empty function restores the system clock.
void setClockOverride(std::function<QDateTime()> clock);

// The system's long time format, without a time-zone name ("14:05:09").
QString longTimeText(const QTime& time);
// The system's short date format ("07/12/2026", "07.12.26", ...).
QString shortDateText(const QDate& date);
// The same for now().
QString currentTimeText();
QString currentDateText();

// The system's decimal separator.
QChar decimalSeparator();

}  // namespace trelmo
