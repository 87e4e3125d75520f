#include "serial/OpenFailure.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <cerrno>

#include "serial/CommDevice.h"

namespace trelmo::serial {

namespace {

QString HolderText(const DeviceHolder& holder) {
    return QStringLiteral("%1 (pid %2)").arg(holder.name).arg(holder.pid);
}

QString Listed(const QList<DeviceHolder>& holders) {
    QStringList names;
    for (const DeviceHolder& h : holders)
        names << HolderText(h);
    return names.join(QStringLiteral(", "));
}

// Programs known to take serial devices they were not asked to, with what to do about each.
QString AdviceFor(const QString& program, const QString& path) {
    if (program == QLatin1String("ModemManager")) {
        return QStringLiteral(
                   "ModemManager opens new serial devices to look for modems. Stop it while "
                   "you use %1 (sudo systemctl stop ModemManager), or make it ignore the "
                   "adapter for good with a udev rule, e.g. in "
                   "/etc/udev/rules.d/99-serial-no-modem.rules:\n"
                   "ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\", "
                   "ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n"
                   "with your adapter's vendor and product ids (lsusb shows them), then plug "
                   "the adapter in again.")
            .arg(path);
    }
    if (program == QLatin1String("brltty")) {
        return QStringLiteral(
            "brltty drives braille displays and takes some USB serial adapters for one. "
            "Without a braille display, remove it (sudo apt remove brltty) or stop it "
            "(sudo systemctl stop brltty-udev), then plug the adapter in again.");
    }
    if (program == QLatin1String("gpsd")) {
        return QStringLiteral(
                   "gpsd opens serial devices that may be GPS receivers. Stop it while you use "
                   "%1 (sudo systemctl stop gpsd.socket gpsd), or leave the device out of its "
                   "DEVICES in /etc/default/gpsd.")
            .arg(path);
    }
    return QString();
}

QString NoSuchDevice(const QString& path, const DeviceSystem& system) {
    const QString missing = path.isEmpty() ? QStringLiteral("No device was named.")
                                           : QStringLiteral("There is no device %1.").arg(path);
    const QList<PresentDevice> present =
        DeviceIdentity(system.byIdFolder).Present(system.devFolder);
    if (present.isEmpty()) {
        return missing + QStringLiteral(
                             " No serial device is present: plug the adapter in, or check its "
                             "cable and that its driver is loaded.");
    }
    QStringList names;
    for (const PresentDevice& d : present) {
        names << (d.byIdName.isEmpty() ? d.path
                                       : QStringLiteral("%1 (%2)").arg(d.byIdName, d.path));
    }
    return missing +
           QStringLiteral(" Serial devices present: %1.").arg(names.join(QStringLiteral(", ")));
}

QString Busy(const QString& path, const DeviceSystem& system) {
    const DeviceHolders holders = FindDeviceHolders(path, system);
    if (!holders.seen.isEmpty()) {
        QString text = QStringLiteral("%1 is open in %2.").arg(path, Listed(holders.seen));
        QStringList advice;
        for (const DeviceHolder& h : holders.seen) {
            const QString own = AdviceFor(h.name, path);
            if (!own.isEmpty() && !advice.contains(own))
                advice << own;
        }
        if (advice.isEmpty()) {
            advice << (holders.seen.size() == 1
                           ? QStringLiteral("Close that program, or set it to leave the device "
                                            "alone, then connect again.")
                           : QStringLiteral("Close those programs, or set them to leave the "
                                            "device alone, then connect again."));
        }
        return text + QLatin1Char(' ') + advice.join(QLatin1Char(' '));
    }
    // Another user's program is not shown to this one; name a known suspect.
    for (const DeviceHolder& h : holders.unseen) {
        const QString advice = AdviceFor(h.name, path);
        if (!advice.isEmpty()) {
            return QStringLiteral(
                       "%1 is open in another program; %2 may hold it (this user cannot see "
                       "which devices it has open). ")
                       .arg(path, HolderText(h)) +
                   advice;
        }
    }
    return QStringLiteral(
               "%1 is open in another program, perhaps another serial terminal. Close it, then "
               "connect again.")
        .arg(path);
}

QString PermissionDenied(const QString& path) {
    // Serial devices belong to a group (dialout on Debian, uucp elsewhere) whose members may
    // open them; a new member's login sessions learn of it only when they start again.
    QString group = QStringLiteral("dialout");
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        const struct group* g = ::getgrgid(st.st_gid);
        if (st.st_gid == 0 || !g)
            return QStringLiteral(
                       "Permission denied \u2014 this user may not open %1; ask "
                       "the administrator for read and write access to it.")
                .arg(path);
        group = QString::fromLocal8Bit(g->gr_name);
    }
    return QStringLiteral(
               "Permission denied \u2014 add your user to the '%1' group and log in "
               "again.")
        .arg(group);
}

bool Refused(int code) {
    return code == EACCES || code == EPERM;
}

}  // namespace

int SystemAccess(const QString& path, int mode) {
    return ::access(QFile::encodeName(path).constData(), mode) == 0 ? 0 : errno;
}

DeviceHolders FindDeviceHolders(const QString& path, const DeviceSystem& system) {
    DeviceHolders holders;
    // A descriptor's link names the device as it was opened; the device may have been
    // opened under another name of it, so the real path counts too.
    QStringList names{path};
    const QString real = QFileInfo(path).canonicalFilePath();
    if (!real.isEmpty() && real != path)
        names << real;

    const QDir proc(system.procRoot);
    QList<qint64> pids;
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number)
            pids << pid;
    }
    std::sort(pids.begin(), pids.end());
    for (qint64 pid : pids) {
        const QString folder = proc.filePath(QString::number(pid));
        auto holder = [&] {
            QFile comm(folder + QStringLiteral("/comm"));
            QString name;
            if (comm.open(QIODevice::ReadOnly))
                name = QString::fromLocal8Bit(comm.readAll()).trimmed();
            return DeviceHolder{pid, name.isEmpty() ? QStringLiteral("a program") : name};
        };
        const QString fds = folder + QStringLiteral("/fd");
        if (system.access && system.access(fds, R_OK | X_OK) != 0) {
            if (QFileInfo::exists(fds))
                holders.unseen << holder();
            continue;
        }
        const QFileInfoList links =
            QDir(fds).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo& link : links) {
            if (names.contains(link.symLinkTarget())) {
                holders.seen << holder();
                break;
            }
        }
    }
    return holders;
}

QString OpenFailureReason(const QString& path, int err, const DeviceSystem& system) {
    const int access = system.access ? system.access(path, R_OK | W_OK) : 0;
    if (Refused(err) || Refused(access))
        return PermissionDenied(path);
    switch (err) {
        case 0:
            return QString();
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return NoSuchDevice(path, system);
        case EBUSY:
            return Busy(path, system);
        default:
            return QStringLiteral("The system says: %1 (error %2).")
                .arg(CommErrorText(err))
                .arg(err);
    }
}

}  // namespace trelmo::serial
