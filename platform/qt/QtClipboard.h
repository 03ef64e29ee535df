#pragma once

#include "Clipboard.h"

// The system clipboard through Qt's. Needs a QGuiApplication for as long as it is used; a
// program installs it with SetClipboard once the application object exists.
//
// Named formats travel under the MIME type Qt maps to a registered clipboard format of that
// name, so other programs that register "VektGraphics controls" see the same data.
class TQtClipboard : public IClipboard {
public:
    bool HasFormat(const std::string& format) override;
    bool GetFormat(const std::string& format, std::string& data) override;
    void SetFormat(const std::string& format, const std::string& data) override;
    bool HasText() override;
    std::string GetText() override;
    void SetText(const std::string& text) override;
    bool HasPicture() override;

    // The MIME type a named format travels under.
    static std::string MimeTypeOf(const std::string& format);
};
