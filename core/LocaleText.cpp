#include "core/LocaleText.h"

#include <QLocale>
#include <QRegularExpression>

namespace trelmo {
namespace {
std::function<QDateTime()>& clockOverride() {
    static std::function<QDateTime()> clock;
    return clock;
}

QString longTimeFormat() {
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    // Drop any time-zone field and the blanks around it.
    static const QRegularExpression zone(QStringLiteral("\\s*t+\\s*"));
    format.replace(zone, QStringLiteral(" "));
    return format.trimmed();
}
}  // namespace

QDateTime now() {
    const auto& clock = clockOverride();
    return clock ? clock() : QDateTime::currentDateTime();
}

void setClockOverride(std::function<QDateTime()> clock) {
    clockOverride() = std::move(clock);
}

QString longTimeText(const QTime& time) {
    return QLocale::system().toString(time, longTimeFormat());
}

QString shortDateText(const QDate& date) {
    return QLocale::system().toString(date, QLocale::ShortFormat);
}

QString currentTimeText() {
    return longTimeText(now().time());
}
QString currentDateText() {
    return shortDateText(now().date());
}

QChar decimalSeparator() {
    const QString sep = QLocale::system().decimalPoint();
    return sep.isEmpty() ? QLatin1Char('.') : sep.front();
}

}  // namespace trelmo
