#include "app/Windows.h"

#include "core/Guard.h"
#include "terminal/control/ReceivePath.h"
#include "terminal/control/SerialLink.h"

namespace trelmo {
namespace {

void secondary(QWidget* w) {
    // Only the main window ends the program when it closes.
    w->setAttribute(Qt::WA_QuitOnClose, false);
    w->hide();
}

}  // namespace

Windows::Windows(const QString& settingsPath) {
    form1_ = std::make_unique<TForm1>(settingsPath);
    form4_ = std::make_unique<TForm4>();
    secondary(form4_.get());
    form5_ = std::make_unique<TForm5>();
    secondary(form5_.get());
    form2_ = std::make_unique<TForm2>();
    secondary(form2_.get());

    TForm1* main = form1_.get();
    main->setTableWindow(form4_.get());
    form4_->setTableModel(&main->receivePath()->table());
    QObject::connect(form4_.get(), &TForm4::closed, main, [main] { main->tableWindowClosed(); });

    // The M-Bus window on the main window's serial link: the port's state, the telegrams it
    // writes, and the received bytes while it captures them.
    TForm5* mbus = form5_.get();
    SerialLinkController* serial = main->serialLink();
    QObject::connect(serial, &SerialLinkController::openChanged, mbus, &TForm5::setPortOpen);
    // Its scans and reads wait for each reply as long as the port's speed wants.
    QObject::connect(serial, &SerialLinkController::openChanged, mbus, [mbus, serial](bool open) {
        if (open)
            mbus->setLineSpeed(serial->speed());
    });
    QObject::connect(mbus, &TForm5::telegramReady, serial, [serial](const QByteArray& bytes) {
        runGuarded([&] { serial->writeTelegram(bytes); });
    });
    QObject::connect(mbus, &TForm5::captureSwitched, serial, &SerialLinkController::setMbusCapture);
    QObject::connect(serial, &SerialLinkController::captured, mbus,
                     [mbus](const QByteArray& bytes) { mbus->captureBytes(bytes); });

    QWidget* about = form2_.get();
    QObject::connect(main, &TForm1::aboutRequested, about, [about] {
        about->show();
        about->raise();
    });
    QObject::connect(main, &TForm1::mbusRequested, mbus, [mbus] {
        mbus->show();
        mbus->raise();
    });
}

Windows::~Windows() {
    form2_.reset();
    form5_.reset();
    form4_.reset();
    form1_.reset();
}

}  // namespace trelmo
