#pragma once
// Combo_com's list: "COM1" to "COM24" first, then the serial devices present on the machine
// when the list is opened, so an adapter plugged in after start appears and one pulled out
// goes. A device is listed by its path (what the port opens) with a description beside it
// in the list: its /dev/serial/by-id name, or what the system knows of it.

#include <QComboBox>
#include <QList>
#include <QString>
#include <functional>

namespace trelmo {

struct SerialDeviceInfo {
    QString path;         // /dev/ttyUSB0
    QString description;  // usb-FTDI_FT232R_USB_UART_A5-if00-port0, or empty
};

// The serial devices of this machine, in path order.
QList<SerialDeviceInfo> presentSerialDevices();

class PortComboBox : public QComboBox {
    Q_OBJECT
  public:
    // An editable box holding COM1..COM24 (the devices follow when the list is opened).
    explicit PortComboBox(QWidget* parent = nullptr);

    // Where the devices come from (the machine's, unless a test puts its own).
    std::function<QList<SerialDeviceInfo>()> devices = presentSerialDevices;
    // Lists the devices present now behind COM1..COM24; the text in the box stays.
    void refresh();

    void showPopup() override;

    static constexpr int kComPorts = 24;
    // The role holding a listed device's description.
    static constexpr int DescriptionRole = Qt::UserRole + 1;
};

}  // namespace trelmo
