#pragma once
// The program's application object.

#include <QApplication>

namespace trelmo {

// The application object: it connects the default error display (core/Guard.h) to a modal
// error box through the dialog seam, and shows an exception that escapes any event handler
// there too (Qt does not let exceptions cross its event loop).
class TrelmoApplication : public QApplication {
    Q_OBJECT
  public:
    TrelmoApplication(int& argc, char** argv);
    ~TrelmoApplication() override;
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace trelmo
