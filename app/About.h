#pragma once
// TForm2: the About window with the program's name, a line of dedication, the logo and a
// "Close" button.

#include <QWidget>

class QLabel;
class QPushButton;

namespace trelmo {

class TForm2 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm2(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;        // "Trelmo v3.1.2", bold
    QLabel* Label2 = nullptr;        // the dedication line
    QLabel* Image1 = nullptr;        // the logo
    QPushButton* Button1 = nullptr;  // "Close"

    // The resource path of the logo.
    static QString logoPath();

    void Button1Click();
};

}  // namespace trelmo
