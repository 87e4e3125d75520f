// The About window and its JPEG logo decoded through libjpeg.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "app/About.h"
#include "app/JpegImage.h"

using namespace trelmo;

namespace {

QByteArray logoBytes() {
    TForm2 form;  // registers the resources
    QFile f(TForm2::logoPath());
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

}  // namespace

// The About window names the version the program is built as (the CMake project's), shows its
// logo at a fixed size, and its button closes it.
TEST(About, ShowsTheBuiltVersionAndCloses) {
    TForm2 form;
    EXPECT_EQ(form.Label1->text(), QStringLiteral("Trelmo v" TRELMO_VERSION));
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(form.minimumSize(), form.maximumSize());  // fixed size
    ASSERT_FALSE(form.Image1->pixmap().isNull());
    EXPECT_EQ(form.Image1->pixmap().size(), QSize(96, 96));
    form.show();
    form.Button1->click();
    EXPECT_FALSE(form.isVisible());
}

TEST(About, LogoDecodesThroughLibjpeg) {
    const QByteArray bytes = logoBytes();
    ASSERT_GT(bytes.size(), 100);
    EXPECT_TRUE(bytes.startsWith("\xFF\xD8"));
    const QImage img = trelmo::decodeJpeg(bytes);
    ASSERT_EQ(img.size(), QSize(96, 96));
    // A white corner around a blue disc.
    const QColor corner = img.pixelColor(1, 1);
    EXPECT_GT(corner.red(), 230);
    EXPECT_GT(corner.blue(), 230);
    const QColor disc = img.pixelColor(20, 40);
    EXPECT_GT(disc.blue(), disc.red() + 60);
    // Agrees with another decoder within JPEG's rounding.
    const QImage other = QImage::fromData(bytes, "JPG").convertToFormat(QImage::Format_RGB888);
    if (!other.isNull()) {
        int worst = 0;
        for (int y = 0; y < 96; y += 5)
            for (int x = 0; x < 96; x += 5) {
                const QColor a = img.pixelColor(x, y), b = other.pixelColor(x, y);
                worst = std::max({worst, std::abs(a.red() - b.red()),
                                  std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
            }
        EXPECT_LE(worst, 8);
    }
}

TEST(About, CorruptJpegIsRefusedCleanly) {
    const QByteArray good = logoBytes();
    EXPECT_THROW(trelmo::decodeJpeg(QByteArray()), trelmo::JpegError);
    EXPECT_THROW(trelmo::decodeJpeg("not a picture at all"), trelmo::JpegError);
    // Cut short: libjpeg would pad it with grey; we refuse it.
    EXPECT_THROW(trelmo::decodeJpeg(good.left(good.size() / 2)), trelmo::JpegError);
    // A damaged header.
    QByteArray badHeader = good;
    for (int i = 20; i < 200 && i < badHeader.size(); ++i)
        badHeader[i] = char(0xFF);
    EXPECT_THROW(trelmo::decodeJpeg(badHeader), trelmo::JpegError);
    try {
        trelmo::decodeJpeg("\xFF\xD8garbage");
        FAIL() << "garbage decoded";
    } catch (const trelmo::JpegError& e) {
        EXPECT_FALSE(std::string(e.what()).empty());
    }
    EXPECT_THROW(trelmo::loadJpeg("/nonexistent/logo.jpg"), trelmo::JpegError);
    // The sound file still decodes after the failures.
    EXPECT_EQ(trelmo::decodeJpeg(good).size(), QSize(96, 96));
}
