#pragma once

// The whole-document load both document fuzz targets drive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "VektBase.h"

// A load that failed must leave exactly a new document behind.
inline void CheckNewDocument(TVektPanel& panel) {
    if (panel.Schemes()->Count() != 1 || panel.Layers()->Count() != 1 ||
        panel.ActiveScheme() != panel.Schemes()->Controls(0) ||
        panel.ActiveLayer() != panel.Layers()->Controls(0) || panel.ActiveScheme()->Count() != 0 ||
        panel.IsLoading() || panel.RefQueue() != nullptr)
        std::abort();
}

inline void FuzzDocumentLoad(const uint8_t* data, size_t size, bool binary) {
    std::string input;
    if (binary) input = "vektbinary\r\n";
    input.append(reinterpret_cast<const char*>(data), size);

    TVektPanel panel;
    for (int mode : {TVektPanel::lmReplace, TVektPanel::lmPaste}) {
        TMemoryStream stream;
        stream.WriteBuffer(input.data(), static_cast<int64_t>(input.size()));
        stream.SetPosition(0);
        try {
            panel.LoadFromStream(stream, mode);
        } catch (const Exception&) {
            if (mode == TVektPanel::lmReplace) CheckNewDocument(panel);
        }
    }
    // What loaded must come back the same from both forms. The first text written is read
    // once more first: the text form trims what it cannot carry (names with blanks at their
    // ends, for one), and from then on both forms must keep the document as it is.
    auto save = [](TVektPanel& from, bool asBinary) {
        TMemoryStream stream;
        from.SaveAsBinary = asBinary;
        std::unique_ptr<TVektFiler> filer = from.CreateFiler(stream, ppSave, false);
        from.SaveToFiler(*filer, false);
        filer->Rewind();
        return std::string(static_cast<const char*>(stream.Memory()),
                           static_cast<size_t>(stream.GetSize()));
    };
    auto load = [](TVektPanel& into, const std::string& bytes) {
        TMemoryStream stream;
        stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
        stream.SetPosition(0);
        into.LoadFromStream(stream, TVektPanel::lmReplace);
    };
    TVektPanel settled;
    load(settled, save(panel, false));
    std::string text = save(settled, false);
    for (bool asBinary : {false, true}) {
        TVektPanel copy;
        load(copy, save(settled, asBinary));
        if (save(copy, false) != text) std::abort();
    }
}
