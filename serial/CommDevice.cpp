#include "serial/CommDevice.h"

#include <QRegularExpression>
#include <chrono>
#include <cstring>

namespace trelmo::serial {

ModemLineControl::Levels ModemLineControl::For(const TVaDcb& dcb) const {
    const uint32_t dtr = dcb.Flags & fDtrControlMask;
    const uint32_t rts = dcb.Flags & fRtsControlMask;
    Levels levels;
    if (!applied_ || dtr != dtrControl_)
        levels.dtr = dtr != 0;
    if ((!applied_ || rts != rtsControl_) && rts != 0x2000)
        levels.rts = rts == 0x1000;
    return levels;
}

void ModemLineControl::Applied(const TVaDcb& dcb) {
    applied_ = true;
    dtrControl_ = dcb.Flags & fDtrControlMask;
    rtsControl_ = dcb.Flags & fRtsControlMask;
}

QString MapDeviceName(const QString& name) {
    QString rest = name;
    const QString prefix = QStringLiteral("\\\\.\\");
    if (rest.startsWith(prefix))
        rest = rest.mid(prefix.size());
    static const QRegularExpression com(QStringLiteral("^COM([0-9]+)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const auto match = com.match(rest);
    if (match.hasMatch()) {
        bool ok = false;
        const int n = match.captured(1).toInt(&ok);
        if (ok && n >= 1)
            return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    }
    return rest;
}

int64_t ArrivalClockNs() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

QString CommErrorText(int code) {
    char buffer[256];
    // GNU strerror_r returns the text (maybe not in buffer).
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return QString::fromLocal8Bit(text);
}

}  // namespace trelmo::serial
