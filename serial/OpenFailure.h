#pragma once
// Why a serial device did not open, said to the user. The main window shows "This COM port is
// in use by another program!" when a device does not open; OpenFailureReason gives the
// paragraph that follows it, from the device's path and the errno of the failed open
// (TVaCustomComm::ProbeDevice gives it):
//
//   int err = 0;
//   if (!TVaCustomComm::ProbeDevice(name, &err)) {
//       const QString reason = OpenFailureReason(MapDeviceName(name), err);
//       show(inUse + (reason.isEmpty() ? QString() : "\n\n" + reason));
//   }
//
// What it says:
//   no such device (ENOENT, ENXIO, ENODEV)  names the path and the serial devices present, by
//       their /dev/serial/by-id names where they have one, or says that none is present;
//   busy (EBUSY: another opener, or another program's exclusive open; this program's own
//       ports open exclusively too)  names the programs holding the device, found through
//       the descriptors in /proc/PID/fd, and what to do about them (for ModemManager, how to
//       make it leave the device alone); else a general text;
//   no permission (EACCES, EPERM, or the access check refusing read and write whatever the
//       code)  the group to join (the device's own, 'dialout' when it cannot be looked at), or,
//       for a device of root's group, to ask the administrator;
//   anything else  the system's own text for the code, with the code.
// Only err 0 of a device this user may read and write has nothing to say: empty.
//
// It reads the machine only through DeviceSystem, which tests replace. It never opens the
// device.

#include <QList>
#include <QString>
#include <functional>

#include "serial/DeviceIdentity.h"

namespace trelmo::serial {

// access(2) with mode: 0, or the errno it gave.
int SystemAccess(const QString& path, int mode);

// Where an explanation looks.
struct DeviceSystem {
    // The process table: one folder per process id, with comm and the fd folder of links.
    QString procRoot = QStringLiteral("/proc");
    // The stable names of adapters, and the folder of device nodes (DeviceIdentity::Present).
    QString byIdFolder = DeviceIdentity::kByIdFolder;
    QString devFolder = DeviceIdentity::kDevFolder;
    // Whether this user may access path with mode (R_OK, W_OK, X_OK of <unistd.h>): 0 or an
    // errno code. Asked of the device (read and write) and of each process's fd folder.
    std::function<int(const QString& path, int mode)> access = SystemAccess;
};

// The paragraph saying why the device at path (a mapped name, MapDeviceName) did not open
// with err; see above.
QString OpenFailureReason(const QString& path, int err, const DeviceSystem& system = {});

// A process, by its id and its command name (/proc/PID/comm).
struct DeviceHolder {
    qint64 pid = 0;
    QString name;
    bool operator==(const DeviceHolder&) const = default;
};
struct DeviceHolders {
    // The processes with a descriptor of the device, in process id order.
    QList<DeviceHolder> seen;
    // The processes whose descriptors this user may not look at (other users' programs): any
    // of them may hold it.
    QList<DeviceHolder> unseen;
};
// Looks through every process's descriptors (system.procRoot/PID/fd) for the device at path.
DeviceHolders FindDeviceHolders(const QString& path, const DeviceSystem& system = {});

}  // namespace trelmo::serial
