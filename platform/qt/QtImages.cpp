#include "QtImages.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include "Bitmap.h"
#include "Classes.h"

namespace QtImages {

namespace {

// Icon files name their pictures' sizes in a byte each; anything larger is not an icon.
constexpr int kMaxIconSide = 1024;

} // namespace

std::unique_ptr<TBitmap> DecodeIconImage(std::span<const uint8_t> bytes) {
    QByteArray data(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    QImage best;
    int count = std::max(1, reader.imageCount());
    for (int i = 0; i < count; ++i) {
        if (i > 0 && !reader.jumpToImage(i)) break;
        QSize size = reader.size();
        if (size.width() > kMaxIconSide || size.height() > kMaxIconSide) continue;
        QImage image = reader.read();
        if (image.isNull()) continue;
        if (best.isNull() ||
            qint64(image.width()) * image.height() > qint64(best.width()) * best.height())
            best = image;
    }
    if (best.isNull() || best.width() > kMaxIconSide || best.height() > kMaxIconSide)
        return nullptr;
    QImage argb = best.convertToFormat(QImage::Format_ARGB32);
    std::vector<uint32_t> pixels(size_t(argb.width()) * argb.height());
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            uint32_t p = row[x];
            pixels[size_t(y) * argb.width() + x] = (p & 0xFFFFFF) | (255 - (p >> 24)) << 24;
        }
    }
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->Assign(argb.width(), argb.height(), pf32bit, std::move(pixels));
    return bitmap;
}

std::vector<uint8_t> EncodePng(const TBitmap& bitmap) {
    if (bitmap.Empty()) throw EInvalidGraphic("An empty bitmap cannot be written as PNG");
    QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint32_t* src = bitmap.ScanLine(y);
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int x = 0; x < bitmap.Width(); ++x)
            row[x] = src[x] | 0xFF000000u;
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        throw EInvalidGraphic("The bitmap could not be encoded as PNG");
    return std::vector<uint8_t>(data.begin(), data.end());
}

void SaveBitmapAsPng(const TBitmap& bitmap, const std::string& fileName) {
    std::vector<uint8_t> png = EncodePng(bitmap);
    TFileStream file(fileName, fmCreate);
    file.WriteBuffer(png.data(), int64_t(png.size()));
}

} // namespace QtImages
