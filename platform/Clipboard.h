#pragma once

#include <map>
#include <string>

// The system clipboard as the engine sees it: formats named by their registered names, each
// holding bytes, plus the standard text and picture formats. Setting a format replaces what the
// clipboard held. Used on the user-interface thread only.
class IClipboard {
public:
    virtual ~IClipboard() = default;
    virtual bool HasFormat(const std::string& format) = 0;
    // False when the clipboard does not hold the format.
    virtual bool GetFormat(const std::string& format, std::string& data) = 0;
    virtual void SetFormat(const std::string& format, const std::string& data) = 0;
    virtual bool HasText() = 0;
    // UTF-8; empty without text.
    virtual std::string GetText() = 0;
    virtual void SetText(const std::string& text) = 0;
    virtual bool HasPicture() = 0;
};

// A clipboard that lives in the process: what a program without a toolkit and the tests use.
class TMemoryClipboard : public IClipboard {
public:
    bool HasFormat(const std::string& format) override { return FFormats.count(format) > 0; }
    bool GetFormat(const std::string& format, std::string& data) override;
    void SetFormat(const std::string& format, const std::string& data) override;
    bool HasText() override { return FHasText; }
    std::string GetText() override { return FText; }
    void SetText(const std::string& text) override;
    bool HasPicture() override { return false; }
    void Clear();

private:
    std::map<std::string, std::string> FFormats;
    std::string FText;
    bool FHasText = false;
};

// The process's clipboard: a TMemoryClipboard until a toolkit installs its own.
IClipboard& Clipboard();
// Installs a clipboard (none goes back to the built-in one) and returns the one it replaces.
// The caller keeps ownership and uninstalls it before freeing it.
IClipboard* SetClipboard(IClipboard* clipboard);
