#include "app/Windows.h"

#include "app/About.h"
#include "mbus/MbusWindow.h"
#include "terminal/Terminal.h"
#include "widgets/ByteTableWindow.h"

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
    form4_->setTableModel(main->Table);
    form5_->setHost(main);
    main->setMbusWindow(form5_.get());
    QObject::connect(form4_.get(), &TForm4::closed, main, [main] { main->TableWindowClosed(); });
    QWidget* about = form2_.get();
    QObject::connect(main, &TForm1::aboutRequested, about, [about] {
        about->show();
        about->raise();
    });
    QWidget* mbus = form5_.get();
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
