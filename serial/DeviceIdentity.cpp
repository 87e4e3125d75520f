#include "serial/DeviceIdentity.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QStringList>

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

QList<PresentDevice> DeviceIdentity::Present(const QString& devFolder) const {
    QMap<QString, PresentDevice> byPath;
    const QFileInfoList links =
        QDir(byIdFolder_)
            .entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links) {
        const QString target = link.canonicalFilePath();
        if (!target.isEmpty() && !byPath.contains(target))
            byPath.insert(target, {target, link.fileName()});
    }
    static const QStringList kAdapterNames = {QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*"),
                                              QStringLiteral("ttyAMA*"), QStringLiteral("rfcomm*")};
    const QFileInfoList nodes = QDir(devFolder).entryInfoList(
        kAdapterNames, QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& node : nodes) {
        const QString path = node.canonicalFilePath();
        if (!path.isEmpty() && !byPath.contains(path))
            byPath.insert(path, {path, QString()});
    }
    return byPath.values();
}

}  // namespace trelmo::serial
