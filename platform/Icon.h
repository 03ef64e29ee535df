#pragma once

#include <memory>
#include <vector>

#include "Bitmap.h"

// An icon picture: an icon file image kept as it was read. Its size is that of its largest
// picture, read from the file's directory; the pixels come from the raster back end's icon
// decoder (Qt), so without a back end an icon has a size but draws nothing. Parts of the
// picture that are less than half opaque are left out when it is drawn.
class TIcon : public TGraphic {
public:
    TIcon() = default;
    TIcon(const TIcon& other);
    TIcon& operator=(const TIcon& other);

    const char* ClassName() const override { return "TIcon"; }
    int32_t Width() const override { return FWidth; }
    int32_t Height() const override { return FHeight; }

    void Draw(TCanvas& canvas, const TRect& dest) const override;
    // Checks the directory (every picture's bytes inside the file) and raises EInvalidGraphic
    // ("Icon image is not valid: ...") when it does not hold; an empty span clears the icon.
    void LoadFromBytes(std::span<const uint8_t> bytes) override;
    std::vector<uint8_t> SaveToBytes() const override { return FBytes; }
    std::unique_ptr<TGraphic> Clone() const override { return std::make_unique<TIcon>(*this); }

    // The decoded largest picture (pf32bit, top byte 255 minus the opacity), or nullptr.
    const TBitmap* Picture() const;

private:
    std::vector<uint8_t> FBytes;
    int32_t FWidth = 0;
    int32_t FHeight = 0;
    mutable std::unique_ptr<TBitmap> FPicture;
    mutable bool FDecoded = false;
};
