#include "Icon.h"

#include "SysUtils.h"

namespace {

constexpr size_t kDirectorySize = 6;
constexpr size_t kEntrySize = 16;
constexpr uint32_t kOpaqueEnough = 128; // top byte below this: drawn

[[noreturn]] void Fail(const std::string& why) {
    throw EInvalidGraphic("Icon image is not valid: " + why);
}

uint32_t U16(std::span<const uint8_t> b, size_t at) {
    return b[at] | b[at + 1] << 8;
}
uint32_t U32(std::span<const uint8_t> b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

} // namespace

TIcon::TIcon(const TIcon& other)
    : TGraphic(other)
    , FBytes(other.FBytes)
    , FWidth(other.FWidth)
    , FHeight(other.FHeight) {}

TIcon& TIcon::operator=(const TIcon& other) {
    if (this != &other) {
        TGraphic::operator=(other);
        FBytes = other.FBytes;
        FWidth = other.FWidth;
        FHeight = other.FHeight;
        FPicture.reset();
        FDecoded = false;
    }
    return *this;
}

void TIcon::LoadFromBytes(std::span<const uint8_t> bytes) {
    int32_t width = 0, height = 0;
    if (!bytes.empty()) {
        if (bytes.size() < kDirectorySize)
            Fail(Format("the file has %zu bytes, fewer than its directory needs", bytes.size()));
        if (U16(bytes, 0) != 0 || (U16(bytes, 2) != 1 && U16(bytes, 2) != 2))
            Fail("it does not start with an icon directory");
        size_t count = U16(bytes, 4);
        if (count == 0) Fail("its directory lists no pictures");
        if (kDirectorySize + count * kEntrySize > bytes.size())
            Fail(Format("the directory of %zu pictures runs past the end of the file", count));
        for (size_t i = 0; i < count; ++i) {
            size_t at = kDirectorySize + i * kEntrySize;
            uint64_t size = U32(bytes, at + 8), offset = U32(bytes, at + 12);
            if (offset + size > bytes.size() || size == 0)
                Fail(Format("picture %zu (entry at offset %zu) lies outside the file", i, at));
            // A size byte of 0 stands for 256.
            int32_t w = bytes[at] ? bytes[at] : 256, h = bytes[at + 1] ? bytes[at + 1] : 256;
            if (int64_t(w) * h > int64_t(width) * height) {
                width = w;
                height = h;
            }
        }
    }
    FBytes.assign(bytes.begin(), bytes.end());
    FWidth = width;
    FHeight = height;
    FPicture.reset();
    FDecoded = false;
}

const TBitmap* TIcon::Picture() const {
    if (!FDecoded && !FBytes.empty()) {
        if (TCanvasBackend* backend = CanvasBackend()) FPicture = backend->DecodeIcon(FBytes);
        FDecoded = CanvasBackend() != nullptr;
    }
    return FPicture.get();
}

void TIcon::Draw(TCanvas& canvas, const TRect& dest) const {
    const TBitmap* picture = Picture();
    if (!picture || picture->Empty() || dest.Width() == 0 || dest.Height() == 0) return;
    // The opaque pixels as a region of the picture, stretched onto dest.
    TRegionBuilder builder;
    std::vector<int32_t> spans;
    for (int32_t y = 0; y < picture->Height(); ++y) {
        const uint32_t* row = picture->ScanLine(y);
        spans.clear();
        for (int32_t x = 0; x < picture->Width();) {
            if ((row[x] >> 24) >= kOpaqueEnough) {
                ++x;
                continue;
            }
            int32_t start = x;
            while (x < picture->Width() && (row[x] >> 24) < kOpaqueEnough)
                ++x;
            spans.push_back(start);
            spans.push_back(x);
        }
        builder.AddRow(y, spans);
    }
    TRect n = dest.Normalized();
    TRegion mask =
        builder.Finish().Transformed(double(n.Width()) / picture->Width(),
                                     double(n.Height()) / picture->Height(), n.Left, n.Top);
    canvas.PushClip();
    canvas.CombineClipRegion(mask, roAnd);
    canvas.StretchBitmap(dest, *picture, TRect(0, 0, picture->Width(), picture->Height()));
    canvas.PopClip();
}
