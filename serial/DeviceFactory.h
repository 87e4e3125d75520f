#pragma once
// Picks the backend that opens a device, by its name:
//   "sim:NAME"   the in-process simulated device registered by a test (serial/SimDevice.h);
//   any other    a POSIX terminal device (termios), e.g. /dev/ttyS0, /dev/ttyUSB0, /dev/pts/4.

#include <QString>
#include <memory>

#include "serial/CommDevice.h"

namespace trelmo::serial {

// Opens the (already mapped, MapDeviceName) device exclusively. Null with err set on
// failure: ENOENT when it does not exist, EBUSY when another opener holds it, else the
// system's code.
std::shared_ptr<CommDevice> OpenCommDevice(const QString& path, int& err);

}  // namespace trelmo::serial
