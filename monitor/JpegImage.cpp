#include "monitor/JpegImage.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio> // jpeglib.h needs FILE and size_t declared first
#include <cstring>

#include <jpeglib.h>

namespace monitor {

namespace {

// libjpeg reports a fatal error through error_exit, which must not return:
// it jumps back into decodeInto. Warnings (corrupt data that libjpeg would
// patch over) are counted and make the decode fail as well.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void onErrorExit(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, manager->message);
    std::longjmp(manager->jump, 1);
}

void onMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return; // trace messages
    auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (cinfo->err->num_warnings++ == 0) (*cinfo->err->format_message)(cinfo, manager->message);
}

void noOutput(j_common_ptr) {}

// Owned by DecodeJpeg's frame so that no C++ object lives between setjmp and
// longjmp; decodeInto reaches it only through these plain functions.
struct Target {
    QImage image;
};

unsigned char* allocateRows(Target* target, int width, int height, size_t* stride) {
    target->image = QImage(width, height, QImage::Format_RGB888);
    if (target->image.isNull()) return nullptr;
    *stride = static_cast<size_t>(target->image.bytesPerLine());
    return target->image.bits();
}

void dropImage(Target* target) {
    target->image = QImage();
}

void setMessage(char* message, const char* text) {
    std::strncpy(message, text, JMSG_LENGTH_MAX - 1);
    message[JMSG_LENGTH_MAX - 1] = '\0';
}

// Plain C-style code only: libjpeg may longjmp out of any call below.
bool decodeInto(const unsigned char* data, unsigned long size, Target* target, char* message) {
    jpeg_decompress_struct cinfo;
    ErrorManager manager;
    std::memset(&cinfo, 0, sizeof cinfo);
    manager.message[0] = '\0';
    cinfo.err = jpeg_std_error(&manager.pub);
    manager.pub.error_exit = onErrorExit;
    manager.pub.emit_message = onMessage;
    manager.pub.output_message = noOutput;
    if (setjmp(manager.jump)) {
        jpeg_destroy_decompress(&cinfo);
        setMessage(message, manager.message);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, size);
    jpeg_read_header(&cinfo, TRUE);
    if (static_cast<long long>(cinfo.image_width) * cinfo.image_height > kMaxJpegPixels) {
        jpeg_destroy_decompress(&cinfo);
        setMessage(message, "picture too large");
        return false;
    }
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    size_t stride = 0;
    unsigned char* rows = nullptr;
    if (cinfo.output_components == 3)
        rows = allocateRows(target, static_cast<int>(cinfo.output_width),
                            static_cast<int>(cinfo.output_height), &stride);
    if (!rows) {
        jpeg_destroy_decompress(&cinfo);
        setMessage(message, "unsupported colour layout or out of memory");
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = rows + static_cast<size_t>(cinfo.output_scanline) * stride;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    const long warnings = manager.pub.num_warnings;
    jpeg_destroy_decompress(&cinfo);
    if (warnings != 0) {
        setMessage(message, manager.message);
        return false;
    }
    return true;
}

} // namespace

QImage DecodeJpeg(const QByteArray& data, QString* error) {
    Target target;
    char message[JMSG_LENGTH_MAX] = {};
    const bool ok = decodeInto(reinterpret_cast<const unsigned char*>(data.constData()),
                               static_cast<unsigned long>(data.size()), &target, message);
    if (!ok) {
        dropImage(&target);
        if (error) *error = QString::fromLatin1(message);
        return QImage();
    }
    if (error) error->clear();
    return target.image;
}

} // namespace monitor
