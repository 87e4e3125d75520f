#pragma once
// The POSIX (termios) backend of the platform layer (serial/CommDevice.h).

#include <QString>
#include <memory>

#include "serial/CommDevice.h"

namespace trelmo::serial::posix {

// Opens a terminal device exclusively (an advisory lock and TIOCEXCL) in raw mode. Null with
// err set on failure: the errno of the open, EBUSY when another opener holds the lock.
std::shared_ptr<CommDevice> OpenPosixDevice(const QString& path, int& err);

}  // namespace trelmo::serial::posix
