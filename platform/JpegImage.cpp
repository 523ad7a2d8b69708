#include "platform/JpegImage.h"

#include "base/Exceptions.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

namespace {

// libjpeg reports fatal errors through error_exit, which must not return;
// we jump back to the decoder with the library's message.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jumpBack;
    char message[JMSG_LENGTH_MAX];
};

void exitWithMessage(j_common_ptr info)
{
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jumpBack, 1);
}

// Warnings (level -1) mean damaged data that libjpeg papers over with grey;
// they are counted so a damaged picture is refused rather than shown half grey.
void countWarning(j_common_ptr info, int level)
{
    if (level < 0)
        ++info->err->num_warnings;
}

// Owns the decompressor so every way out of DecodeJpeg releases it.
struct Decompressor {
    jpeg_decompress_struct info{};
    explicit Decompressor(ErrorManager& errors)
    {
        info.err = jpeg_std_error(&errors.base);
        errors.base.error_exit = exitWithMessage;
        errors.base.emit_message = countWarning;
        jpeg_create_decompress(&info);
    }
    ~Decompressor() { jpeg_destroy_decompress(&info); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

// The libjpeg calls, kept apart so that nothing of this frame but the
// arguments lives across setjmp. Returns false after a fatal library error.
bool decodeInto(jpeg_decompress_struct& info, ErrorManager& errors, const std::string& bytes, QImage& image)
{
    if (setjmp(errors.jumpBack))
        return false;

    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    if (info.output_components != 3)
        throw Exception("The picture has an unexpected colour layout");

    image = QImage(int(info.output_width), int(info.output_height), QImage::Format_RGB888);
    if (image.isNull())
        throw Exception("The picture is too large");
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(int(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    if (info.err->num_warnings > 0)
        throw Exception("The picture cannot be decoded: its data is damaged");
    return true;
}

}  // namespace

QImage DecodeJpeg(const std::string& bytes)
{
    if (bytes.empty())
        throw Exception("The picture is empty");

    ErrorManager errors;
    Decompressor decompressor(errors);
    QImage image;
    if (!decodeInto(decompressor.info, errors, bytes, image))
        throw Exception(std::string("The picture cannot be decoded: ") + errors.message);
    return image;
}
