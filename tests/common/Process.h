#pragma once
// This process as the kernel sees it: its open descriptors and its resident memory.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

namespace trelmo::test {

// Open file descriptors of this process.
inline int openDescriptorCount() {
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)
                   .size());
}

// Resident memory of this process in bytes (VmRSS), 0 when unknown.
inline qint64 residentBytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

}  // namespace trelmo::test
