#pragma once

// Helpers that run property lists through the text form in memory.
#include <string>

#include "VektProps.h"

inline TMemoryStream& WriteText(TMemoryStream& stream, const std::string& text) {
    stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    stream.SetPosition(0);
    return stream;
}

inline std::string StreamText(TMemoryStream& stream) {
    return std::string(static_cast<const char*>(stream.Memory()),
                       static_cast<size_t>(stream.GetSize()));
}

// The list's lines as SaveAll writes them, with "\n" for the written CR LF.
inline std::string SaveText(TPropList& list, bool saveAll = false) {
    TMemoryStream stream;
    TVektFiler filer(stream);
    list.SaveAll(filer, 0, saveAll);
    std::string raw = StreamText(stream), text;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        text += raw[i];
    }
    return text;
}

// "\n" line ends as the document form writes them, CR LF.
inline std::string CrLfText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// Reads property lines until "end" or the end of the text, as an object block reader does.
inline void LoadText(TPropList& list, const std::string& text, TPropRefList* refs = nullptr) {
    TMemoryStream stream;
    TVektFiler filer(WriteText(stream, text));
    std::string line;
    while (filer.ReadLine(line) && !IsKeywordLine(line, "end"))
        list.LoadProp(filer, line, refs);
}
