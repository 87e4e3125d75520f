#include "app/Windows.h"

#include "mbus/MbusHost.h"
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

// The M-Bus window's view of the main window's serial link.
struct Windows::MbusLink : MbusHost {
    explicit MbusLink(SerialLinkController& serial) : serial(serial) {}
    bool portOpen() const override { return serial.portOpen(); }
    void writeTelegram(const QByteArray& bytes) override { serial.writeTelegram(bytes); }
    void setMbusCapture(bool on) override { serial.setMbusCapture(on); }
    SerialLinkController& serial;
};

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

    mbusLink_ = std::make_unique<MbusLink>(*main->serialLink());
    form5_->setHost(mbusLink_.get());
    TForm5* mbus = form5_.get();
    QObject::connect(main->serialLink(), &SerialLinkController::captured, mbus,
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
    form5_->setHost(nullptr);
    form5_.reset();
    mbusLink_.reset();
    form4_.reset();
    form1_.reset();
}

}  // namespace trelmo
