#pragma once

#include <memory>
#include <vector>

#include "Bitmap.h"
#include "RecordingCanvas.h"

// A recorded picture: canvas calls kept and played back stretched into any rectangle, as the
// engine needs for clones painted at another size. A metafile read from a document (enhanced
// or Windows format) keeps its bytes so that it is written back unchanged, and knows its size
// from its header; this system has no player for those formats, so they draw nothing.
class TMetafile : public TGraphic {
public:
    TMetafile() = default;
    TMetafile(const TMetafile& other);
    TMetafile& operator=(const TMetafile& other);

    const char* ClassName() const override { return "TMetafile"; }
    int32_t Width() const override { return FWidth; }
    int32_t Height() const override { return FHeight; }
    // The frame of the recording, in pixels: what Draw maps onto its rectangle.
    void SetSize(int32_t width, int32_t height);

    // The canvas recording into this picture. Calls made on it become the picture; the first
    // use drops a foreign metafile. reference measures text (nullptr: synthetic metrics).
    TRecordingCanvas& Canvas(TCanvas* reference = nullptr);
    void Clear();

    void Draw(TCanvas& canvas, const TRect& dest) const override;
    // Foreign metafile bytes; an empty span clears the picture.
    void LoadFromBytes(std::span<const uint8_t> bytes) override;
    // The foreign bytes read; a recorded picture has no file form and saves as no bytes.
    std::vector<uint8_t> SaveToBytes() const override { return FForeign; }
    std::unique_ptr<TGraphic> Clone() const override;

private:
    int32_t FWidth = 0;
    int32_t FHeight = 0;
    std::unique_ptr<TRecordingCanvas> FRecording;
    std::vector<uint8_t> FForeign;
};
