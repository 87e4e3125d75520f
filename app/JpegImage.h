#pragma once
// JPEG decoding with libjpeg called directly. A corrupt or truncated file raises JpegError
// (libjpeg's warnings count as errors); the process never exits inside the library.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <stdexcept>

namespace trelmo {

class JpegError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Decodes a baseline or progressive JPEG (grey or colour) into an RGB888 image.
// Throws JpegError with libjpeg's message when the data is not a sound JPEG.
QImage decodeJpeg(const QByteArray& data);

// Reads a file (also a ":/..." resource) and decodes it; JpegError when it cannot be read.
QImage loadJpeg(const QString& path);

}  // namespace trelmo
