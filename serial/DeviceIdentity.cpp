#include "serial/DeviceIdentity.h"

#include <QDir>
#include <QFileInfo>

namespace trelmo::serial {

DeviceIdentity::DeviceIdentity(QString byIdFolder) : byIdFolder_(std::move(byIdFolder)) {}

QString DeviceIdentity::LinkFor(const QString& devicePath) const {
    const QString target = QFileInfo(devicePath).canonicalFilePath();
    if (target.isEmpty())
        return QString();
    const QDir folder(byIdFolder_);
    // Device nodes count as System entries; a link to one is listed as what it leads to.
    const QFileInfoList links =
        folder.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links) {
        if (link.canonicalFilePath() == target)
            return link.absoluteFilePath();
    }
    return QString();
}

QString DeviceIdentity::Resolve(const QString& link) {
    return QFileInfo(link).canonicalFilePath();
}

}  // namespace trelmo::serial
