#pragma once
// Finding a serial device again after it vanished. udev names every USB serial adapter in
// /dev/serial/by-id after what it is (maker, model, serial number, interface), and that link
// follows the adapter to whatever node it gets when it comes back: an adapter that was
// /dev/ttyUSB0 and returns as /dev/ttyUSB1 is reached through the same link.
//
// A caller that loses its device keeps the link LinkFor gave while the device was there and
// asks Resolve where it leads now, e.g. before each reopen attempt (TVaCustomComm::TryOpen).
// Devices without such a link (built-in UARTs, pseudo-terminals, "sim:" devices) can only be
// found again under their own path.

#include <QList>
#include <QString>

namespace trelmo::serial {

// A serial device present on the machine.
struct PresentDevice {
    // Its node, as a real path: /dev/ttyUSB0.
    QString path;
    // The name of its by-id link (usb-FTDI_FT232R_USB_UART_A5-if00-port0), or empty.
    QString byIdName;
    bool operator==(const PresentDevice&) const = default;
};

class DeviceIdentity {
  public:
    static inline const QString kByIdFolder = QStringLiteral("/dev/serial/by-id");
    static inline const QString kDevFolder = QStringLiteral("/dev");

    // byIdFolder: where the links are (the machine's, unless a test makes its own).
    explicit DeviceIdentity(QString byIdFolder = kByIdFolder);

    QString ByIdFolder() const { return byIdFolder_; }

    // The link in the folder that leads to the same device as devicePath (both followed to
    // their real path), as a path in the folder; empty when no link does, when the device is
    // not there or the folder is missing. Links are tried in name order.
    QString LinkFor(const QString& devicePath) const;
    // The real path of the device a link leads to now; empty when the link or the device it
    // names is gone.
    static QString Resolve(const QString& link);

    // The serial devices present: each device a link in the folder leads to, and each entry of
    // devFolder named as USB, modem-class (ACM), on-chip (AMA) and Bluetooth (rfcomm) serial
    // devices are (ttyUSB*, ttyACM*, ttyAMA*, rfcomm*), once each, in path order. The
    // /dev/ttyS* nodes are left out: they exist whether or not a UART answers behind them.
    QList<PresentDevice> Present(const QString& devFolder = kDevFolder) const;

  private:
    QString byIdFolder_;
};

}  // namespace trelmo::serial
