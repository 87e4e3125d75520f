#include "serial/DeviceFactory.h"

#include <cerrno>

#include "serial/PosixDevice.h"
#include "serial/SimDevice.h"

namespace trelmo::serial {

std::shared_ptr<CommDevice> OpenCommDevice(const QString& path, int& err) {
    if (path.startsWith(QStringLiteral("sim:")))
        return sim::OpenSimDevice(path.mid(4), err);
    if (path.isEmpty()) {
        err = ENOENT;
        return nullptr;
    }
    return posix::OpenPosixDevice(path, err);
}

}  // namespace trelmo::serial
