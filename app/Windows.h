#pragma once
// The program's four windows, created in order: the main window (which loads the settings),
// the byte table window, the M-Bus window and the About window; the last three hidden.
// Closing the main window ends the program whatever else is shown.

#include <QString>
#include <memory>

#include "app/About.h"
#include "mbus/MbusWindow.h"
#include "terminal/Terminal.h"
#include "widgets/ByteTableWindow.h"

namespace trelmo {

class Windows {
  public:
    explicit Windows(const QString& settingsPath);
    ~Windows();
    Windows(const Windows&) = delete;
    Windows& operator=(const Windows&) = delete;

    TForm1* form1() const { return form1_.get(); }
    TForm4* form4() const { return form4_.get(); }
    TForm5* form5() const { return form5_.get(); }
    TForm2* form2() const { return form2_.get(); }

  private:
    // Destroyed in reverse order: the About, M-Bus and table windows before the main one.
    std::unique_ptr<TForm1> form1_;
    std::unique_ptr<TForm4> form4_;
    std::unique_ptr<TForm5> form5_;
    std::unique_ptr<TForm2> form2_;
};

}  // namespace trelmo
