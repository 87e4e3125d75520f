#include "app/JpegImage.h"

#include <QFile>
#include <csetjmp>
#include <cstdio>
#include <cstring>
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace trelmo {

namespace {

// libjpeg's error manager extended with a jump back into decodeInto().
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void onError(j_common_ptr info) {
    auto* err = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (corrupt data that libjpeg would paper over) end the decoding as well.
extern "C" void onMessage(j_common_ptr info, int level) {
    if (level < 0)
        onError(info);
}

// Plain C-style decoding: no object with a destructor lives in this frame, so the jump
// from the error handler skips nothing. Returns false with the message on failure.
bool decodeInto(const unsigned char* data, unsigned long size, QImage* out, char* message) {
    jpeg_decompress_struct info;
    ErrorManager err;
    info.err = jpeg_std_error(&err.base);
    err.base.error_exit = onError;
    err.base.emit_message = onMessage;
    err.message[0] = '\0';
    if (setjmp(err.jump)) {
        std::strncpy(message, err.message, JMSG_LENGTH_MAX - 1);
        message[JMSG_LENGTH_MAX - 1] = '\0';
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, size);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    if (info.output_components != 3 || info.output_width > 16384 || info.output_height > 16384) {
        std::strncpy(message, "unsupported JPEG layout", JMSG_LENGTH_MAX - 1);
        jpeg_destroy_decompress(&info);
        return false;
    }
    *out = QImage(int(info.output_width), int(info.output_height), QImage::Format_RGB888);
    if (out->isNull()) {
        std::strncpy(message, "out of memory", JMSG_LENGTH_MAX - 1);
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out->scanLine(int(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

QImage decodeJpeg(const QByteArray& data) {
    if (data.isEmpty())
        throw JpegError("Empty JPEG data");
    QImage image;
    char message[JMSG_LENGTH_MAX] = {};
    if (!decodeInto(reinterpret_cast<const unsigned char*>(data.constData()),
                    static_cast<unsigned long>(data.size()), &image, message)) {
        throw JpegError(std::string("JPEG error: ") + message);
    }
    return image;
}

QImage loadJpeg(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw JpegError("Cannot open " + path.toStdString());
    return decodeJpeg(f.readAll());
}

}  // namespace trelmo
