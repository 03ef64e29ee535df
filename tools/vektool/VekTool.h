#pragma once

// vektool: documents in the text and binary forms, drawing payloads, and what is in them. The
// program is a thin main over RunVekTool, so tests run it in-process.
#include <cstdio>
#include <iosfwd>
#include <string>
#include <vector>

#include "Variant.h"
#include "VektUtils.h"

// One item of a document as a walk over its blocks meets it: an opening line, an "end", or a
// property value with everything it spans.
struct TDocItem {
    TFilerLineKind Kind = lkValue;
    int Depth = 0;         // blocks open around the item
    std::string Line;      // the line as read (for a record, its line)
    std::string Name;      // objects and values
    std::string ClassName; // objects
    // Values: a record's typed value, or the text lines (the value line, then the lines its
    // string list or data block continues on).
    bool Typed = false;
    TVariant Value;
    std::vector<std::string> Lines;
};

// Walks a document block by block, in either form, without building it. A text input that ends
// inside blocks closes them, as the loaders do.
class TDocumentWalker {
public:
    explicit TDocumentWalker(TVektFiler& filer)
        : FFiler(filer) {}
    // False after the "end" that closes the document. The first item is the document (or
    // clipboard) header: "Data format error" when there is none.
    bool Next(TDocItem& item);

private:
    TVektFiler& FFiler;
    int FDepth = 0;
    bool FStarted = false;
    bool FDone = false;
};

// Copies a document from one filer to another in the text form or the binary form, keeping
// every block, including those of classes this program does not know. Text output is indented
// two spaces a level as the engine writes it.
void ConvertDocument(TVektFiler& in, TVektFiler& out, bool binary);

// A progress bar on a terminal: "[#####......] 45%" redrawn in place while the percentage
// changes; nothing at all when disabled.
class TProgressBar {
public:
    TProgressBar(std::FILE* out, bool enabled)
        : FOut(out)
        , FEnabled(enabled) {}
    ~TProgressBar() { Done(); }
    void Update(int percent);
    void Done();

private:
    std::FILE* FOut;
    bool FEnabled;
    int FLast = -1;
};

// Files at least this large get a progress bar when stderr is a terminal.
constexpr int64_t kProgressBarMinBytes = int64_t(1) << 20;

// Runs one command line (without the program name). Exit codes: 0 done, 1 bad input or a
// failed operation (one line on err), 2 bad usage.
int RunVekTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
