#include "app/About.h"

#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "app/JpegImage.h"
#include "core/Guard.h"

// The logo lives in a static library's resources, which must be registered by hand (outside
// any namespace).
static void registerLogo() {
    Q_INIT_RESOURCE(logo);
}

namespace trelmo {

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window) {
    registerLogo();
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Trelmo -> About"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(330, 190);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(16, 16, 96, 96);
    Image1->setScaledContents(true);
    try {
        Image1->setPixmap(QPixmap::fromImage(trelmo::loadJpeg(logoPath())));
    } catch (const trelmo::JpegError&) {
        // A window without its picture is still an About window.
        Image1->setText(QStringLiteral("Trelmo"));
        Image1->setAlignment(Qt::AlignCenter);
    }

    Label1 = new QLabel(QStringLiteral("Trelmo v3.1.2"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont bold = Label1->font();
    bold.setBold(true);
    bold.setPointSize(bold.pointSize() + 4);
    Label1->setFont(bold);
    Label1->setGeometry(128, 30, 190, 28);

    Label2 = new QLabel(QStringLiteral("Made for all serial and TCP data enthusiasts "), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setWordWrap(true);
    Label2->setGeometry(128, 64, 190, 44);

    Button1 = new QPushButton(QStringLiteral("Close"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(128, 140, 75, 25);
    connect(Button1, &QPushButton::clicked, this, trelmo::guarded([this] { Button1Click(); }));
}

QString TForm2::logoPath() {
    return QStringLiteral(":/trelmo/logo.jpg");
}

void TForm2::Button1Click() {
    close();
}

}  // namespace trelmo
