#include "Clipboard.h"

bool TMemoryClipboard::GetFormat(const std::string& format, std::string& data) {
    auto it = FFormats.find(format);
    if (it == FFormats.end()) return false;
    data = it->second;
    return true;
}

void TMemoryClipboard::SetFormat(const std::string& format, const std::string& data) {
    Clear();
    FFormats[format] = data;
}

void TMemoryClipboard::SetText(const std::string& text) {
    Clear();
    FText = text;
    FHasText = true;
}

void TMemoryClipboard::Clear() {
    FFormats.clear();
    FText.clear();
    FHasText = false;
}

namespace {

IClipboard*& Installed() {
    static IClipboard* installed = nullptr;
    return installed;
}

} // namespace

IClipboard& Clipboard() {
    static TMemoryClipboard builtIn;
    IClipboard* installed = Installed();
    return installed ? *installed : builtIn;
}

IClipboard* SetClipboard(IClipboard* clipboard) {
    IClipboard* previous = Installed();
    Installed() = clipboard;
    return previous;
}
