#include "Metafile.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr uint32_t kEmfHeaderRecord = 1;
constexpr uint32_t kEmfSignature = 0x464D4520; // " EMF"
constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr double kPixelsPerInch = 96;

uint32_t U32(std::span<const uint8_t> b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}
int32_t I16(std::span<const uint8_t> b, size_t at) {
    return int16_t(b[at] | b[at + 1] << 8);
}

int32_t ClampSize(double v) {
    if (!(v > 0)) return 0;
    return int32_t(std::min<double>(std::lround(v), kMaxBitmapDimension));
}

} // namespace

TMetafile::TMetafile(const TMetafile& other)
    : TGraphic(other)
    , FWidth(other.FWidth)
    , FHeight(other.FHeight)
    , FForeign(other.FForeign) {
    if (other.FRecording) {
        FRecording = std::make_unique<TRecordingCanvas>(other.FRecording->Size());
        FRecording->SetOps(other.FRecording->Ops());
    }
}

TMetafile& TMetafile::operator=(const TMetafile& other) {
    if (this != &other) {
        TMetafile copy(other);
        TGraphic::operator=(other);
        FWidth = copy.FWidth;
        FHeight = copy.FHeight;
        FRecording = std::move(copy.FRecording);
        FForeign = std::move(copy.FForeign);
    }
    return *this;
}

void TMetafile::SetSize(int32_t width, int32_t height) {
    FWidth = std::max(0, width);
    FHeight = std::max(0, height);
    if (FRecording) FRecording->SetSize({FWidth, FHeight});
}

TRecordingCanvas& TMetafile::Canvas(TCanvas* reference) {
    if (!FRecording) {
        FForeign.clear();
        FRecording = std::make_unique<TRecordingCanvas>(TSize(FWidth, FHeight), reference);
    } else if (reference) {
        FRecording->SetReference(reference);
    }
    return *FRecording;
}

void TMetafile::Clear() {
    FRecording.reset();
    FForeign.clear();
    FWidth = FHeight = 0;
}

void TMetafile::Draw(TCanvas& canvas, const TRect& dest) const {
    if (FRecording) FRecording->PlayTo(canvas, dest);
}

void TMetafile::LoadFromBytes(std::span<const uint8_t> bytes) {
    Clear();
    FForeign.assign(bytes.begin(), bytes.end());
    if (bytes.size() >= 44 && U32(bytes, 0) == kEmfHeaderRecord &&
        U32(bytes, 40) == kEmfSignature) {
        // The frame is in hundredths of a millimetre.
        double w = double(int32_t(U32(bytes, 32))) - int32_t(U32(bytes, 24));
        double h = double(int32_t(U32(bytes, 36))) - int32_t(U32(bytes, 28));
        FWidth = ClampSize(w * kPixelsPerInch / 2540);
        FHeight = ClampSize(h * kPixelsPerInch / 2540);
    } else if (bytes.size() >= 22 && U32(bytes, 0) == kPlaceableKey) {
        int32_t inch = bytes[14] | bytes[15] << 8;
        if (inch > 0) {
            FWidth = ClampSize(double(I16(bytes, 10) - I16(bytes, 6)) * kPixelsPerInch / inch);
            FHeight = ClampSize(double(I16(bytes, 12) - I16(bytes, 8)) * kPixelsPerInch / inch);
        }
    }
}

std::unique_ptr<TGraphic> TMetafile::Clone() const {
    return std::make_unique<TMetafile>(*this);
}
