#include "terminal/PortList.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QScrollBar>
#include <QSerialPortInfo>
#include <QStyledItemDelegate>
#include <algorithm>

namespace trelmo {
namespace {

// Shows a device's description beside its path in the open list (the box's own text stays
// the path, which is what the port opens).
class DescribedItem : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString description = index.data(PortComboBox::DescriptionRole).toString();
        if (!description.isEmpty())
            option->text += QStringLiteral("    ") + description;
    }
};

}  // namespace

QList<SerialDeviceInfo> presentSerialDevices() {
    // The stable names udev gives adapters, by the device they point at.
    QHash<QString, QString> byId;
    const QDir ids(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link :
         ids.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        byId.insert(link.canonicalFilePath(), link.fileName());

    QList<SerialDeviceInfo> out;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString path = info.systemLocation();
        if (path.isEmpty())
            continue;
        QString description = byId.value(QFileInfo(path).canonicalFilePath());
        if (description.isEmpty()) {
            QStringList parts;
            for (const QString& p : {info.manufacturer(), info.description()})
                if (!p.isEmpty() && !parts.contains(p))
                    parts << p;
            description = parts.join(QStringLiteral(" "));
        }
        out.append({path, description});
    }
    std::sort(out.begin(), out.end(),
              [](const SerialDeviceInfo& a, const SerialDeviceInfo& b) { return a.path < b.path; });
    return out;
}

PortComboBox::PortComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setItemDelegate(new DescribedItem(this));
    // The devices are looked up when the list is opened, not here: start-up does not wait
    // for the system's device enumeration, which every opening repeats anyway.
    for (int i = 1; i <= kComPorts; ++i)
        addItem(QStringLiteral("COM%1").arg(i));
    setEditText(QString());
}

void PortComboBox::refresh() {
    const QString text = currentText();
    while (count() > kComPorts)
        removeItem(count() - 1);
    for (const SerialDeviceInfo& device : devices ? devices() : QList<SerialDeviceInfo>()) {
        if (findText(device.path) >= 0)
            continue;
        addItem(device.path);
        setItemData(count() - 1, device.description, DescriptionRole);
        if (!device.description.isEmpty())
            setItemData(count() - 1, device.description, Qt::ToolTipRole);
    }
    setEditText(text);
}

void PortComboBox::showPopup() {
    refresh();
    // The open list is as wide as its widest entry, description included (the box itself is
    // narrow).
    QAbstractItemView* list = view();
    list->setMinimumWidth(list->sizeHintForColumn(0) +
                          list->verticalScrollBar()->sizeHint().width());
    QComboBox::showPopup();
}

}  // namespace trelmo
