#include "JpegImage.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <string>

#include "SysUtils.h"

// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

namespace {

// libjpeg reports errors through callbacks that must not return; we jump back to the decoder
// and turn the message into an exception there, after libjpeg has been torn down.
struct TJpegErrors {
    jpeg_error_mgr Base;
    jmp_buf Jump;
    char Message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<TJpegErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->Message);
    longjmp(errors->Jump, 1);
}

// Warnings about damaged data would leave a grey or scrambled picture; they are errors here.
// Only the ones that do not change the pixels are let through.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return; // trace messages
    int code = cinfo->err->msg_code;
    if (code == JWRN_EXTRANEOUS_DATA || code == JWRN_JFIF_MAJOR || code == JWRN_ADOBE_XFORM ||
        code == JWRN_BOGUS_ICC)
        return;
    ErrorExit(cinfo);
}

void OutputMessage(j_common_ptr) {}

void CheckScans(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxJpegScans) {
        auto* errors = reinterpret_cast<TJpegErrors*>(cinfo->err);
        snprintf(errors->Message, sizeof errors->Message, "more than %d scans", kMaxJpegScans);
        longjmp(errors->Jump, 1);
    }
}

// Decodes into pixels (owned by the caller, so the jump back leaves it intact). Returns false
// with message filled on failure.
bool Decode(std::span<const uint8_t> bytes, int32_t maxDimension, std::vector<uint32_t>& pixels,
            int32_t& width, int32_t& height, std::string& message) {
    jpeg_decompress_struct cinfo;
    TJpegErrors errors;
    jpeg_progress_mgr progress;
    cinfo.err = jpeg_std_error(&errors.Base);
    errors.Base.error_exit = ErrorExit;
    errors.Base.emit_message = EmitMessage;
    errors.Base.output_message = OutputMessage;
    errors.Message[0] = 0;
    // volatile: read after a jump back into this frame
    volatile bool created = false;
    if (setjmp(errors.Jump)) {
        size_t left = created && cinfo.src ? cinfo.src->bytes_in_buffer : 0;
        message = std::string(errors.Message) + Format(" (at byte %zu)", bytes.size() - left);
        if (created) jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    created = true;
    cinfo.mem->max_memory_to_use = kMaxJpegMemory;
    progress.progress_monitor = CheckScans;
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, bytes.data(), (unsigned long)bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width > unsigned(maxDimension) || cinfo.image_height > unsigned(maxDimension)) {
        snprintf(errors.Message, sizeof errors.Message,
                 "%u x %u pixels exceed the limit of %d x %d", cinfo.image_width,
                 cinfo.image_height, maxDimension, maxDimension);
        longjmp(errors.Jump, 1);
    }
    bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    jpeg_start_decompress(&cinfo);
    width = int32_t(cinfo.output_width);
    height = int32_t(cinfo.output_height);
    pixels.resize(size_t(width) * size_t(height));
    while (cinfo.output_scanline < cinfo.output_height) {
        uint32_t* row = pixels.data() + size_t(cinfo.output_scanline) * width;
        JSAMPROW rows[1] = {reinterpret_cast<JSAMPROW>(row)};
        if (cmyk) {
            // CMYK rows are as wide as our pixels; they are converted in place.
            jpeg_read_scanlines(&cinfo, rows, 1);
            auto* p = reinterpret_cast<uint8_t*>(row);
            for (int32_t x = 0; x < width; ++x, p += 4) {
                // Adobe writes CMYK inverted: the bytes are 255 minus the ink.
                uint32_t c = p[0], m = p[1], y = p[2], k = p[3];
                row[x] = (c * k / 255) << 16 | (m * k / 255) << 8 | (y * k / 255);
            }
        } else {
            jpeg_read_scanlines(&cinfo, rows, 1);
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

void ReadJpegFileImage(std::span<const uint8_t> bytes, TBitmap& bitmap, int32_t maxDimension) {
    std::vector<uint32_t> pixels;
    int32_t width = 0, height = 0;
    std::string message;
    try {
        if (!Decode(bytes, std::min(maxDimension, kMaxBitmapDimension), pixels, width, height,
                    message))
            throw EInvalidGraphic("JPEG image is not valid: " + message);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
    bitmap.Assign(width, height, pfDevice, std::move(pixels));
}

void TJPEGImage::Draw(TCanvas& canvas, const TRect& dest) const {
    if (!FBitmap.Empty())
        canvas.StretchBitmap(dest, FBitmap, TRect(0, 0, FBitmap.Width(), FBitmap.Height()));
}

void TJPEGImage::LoadFromBytes(std::span<const uint8_t> bytes) {
    TBitmap decoded;
    if (!bytes.empty()) ReadJpegFileImage(bytes, decoded);
    FBitmap = std::move(decoded);
    FBytes.assign(bytes.begin(), bytes.end());
}
