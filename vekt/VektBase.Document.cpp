// TVektPanel's documents: loading a document or pasted controls, writing the document or the
// selection, filers with progress, panel copies and the clipboard.
#include "VektBase.h"
#include "Classes.h"
#include "Clipboard.h"
#include "SysUtils.h"

namespace {

int64_t SubtreeCount(TVektControl* top) {
    if (!top) return 0;
    int64_t count = 0;
    TPassControlRec pass;
    pass.Start(top);
    do {
        ++count;
    } while (pass.Next());
    return count;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

bool TVektPanel::LoadFromStream(TStream& stream, int loadMode) {
    std::unique_ptr<TVektFiler> filer = CreateFiler(stream, ppLoad, false);
    LoadFromFiler(*filer, loadMode);
    return true;
}

void TVektPanel::LoadFromFiler(TVektFiler& filer, int loadMode) {
    bool replace = loadMode != lmPaste;
    if (replace) History().DisableRecording();
    BeginLoading();
    int outerMode = FLoadMode;
    FLoadMode = loadMode;
    bool loadingEnded = false;
    try {
        TVektControl* parent = nullptr;
        if (replace) {
            EmptyDocument();
        } else {
            parent = FActiveScheme;
            UnselectAll();
        }

        std::string line;
        bool got = filer.ReadLine(line);
        if (got && StartsWith(line, "vektbinary")) got = filer.ReadLine(line);
        SaveAsBinary = filer.Binary();
        // A header is a header by its record in the binary form, by its first word as text: an
        // empty stream or line is no document.
        uint16_t record = filer.RecordCommand();
        bool isDocument =
            record ? record == TVektBinaryData::bcDocument : StartsWith(line, "document");
        bool isClipboard =
            record ? record == TVektBinaryData::bcClipboard : StartsWith(line, "clipboard");
        if (!got || !(isDocument || (!replace && isClipboard)))
            throw EReadError("Data format error");
        size_t space = line.find(' ');
        if (space != std::string::npos) FSchemes->SetName(Trim(line.substr(space + 1)));

        bool open = true;
        while (open && filer.NextLine(line)) {
            switch (filer.LineKind(line)) {
            case lkEnd: open = false; break;
            case lkObject: LoadControl(filer, parent, false, line); break;
            case lkDocument:
            case lkClipboard:
            case lkLibrary: filer.SkipBlock(); break;
            case lkValue:
            case lkProperty: FSchemes->Props().LoadProp(filer, line, FRefQueue.get()); break;
            }
        }
        FLoadMode = outerMode;
        loadingEnded = true;
        EndLoading();
    } catch (...) {
        FLoadMode = outerMode;
        if (!loadingEnded) {
            // What was queued points into the document that is about to go.
            if (replace && FRefQueue) FRefQueue->Clear();
            try {
                EndLoading();
            } catch (...) {
                // The first failure is the one to report.
            }
        }
        if (replace) {
            try {
                NewDocument();
            } catch (...) {
                // Nothing better can be left than what NewDocument managed.
            }
            History().EnableRecording();
        }
        throw;
    }
    if (replace) {
        History().EnableRecording();
        Modified = false;
    }
}

void TVektPanel::SaveToFiler(TVektFiler& filer, bool selectionOnly, bool childrenOnly,
                             TVektControl* root) {
    if (SaveAsBinary) filer.SetBinary(true);
    if (!selectionOnly) {
        if (!root) {
            root = FSchemes;
            childrenOnly = true;
        }
        filer.SetTotalCount(SubtreeCount(FLayers) + SubtreeCount(root) - 1 -
                            (childrenOnly ? 1 : 0));
        filer.SetSavedCount(0);
        filer.WriteLine("document " + FSchemes->Name());
        FSchemes->Props().SaveAll(filer, 2, false);
        for (int i = 0; i < FLayers->Count(); ++i)
            FLayers->Controls(i)->SaveToFiler(filer, 2);
        if (childrenOnly) {
            for (int i = 0; i < root->Count(); ++i)
                root->Controls(i)->SaveToFiler(filer, 2);
        } else {
            root->SaveToFiler(filer, 2);
        }
        filer.WriteLine("end");
        if (root == FSchemes) Modified = false;
        return;
    }
    if (FSelection.empty()) return;
    filer.SetTotalCount(0);
    filer.WriteLine("clipboard");
    // In painting order: layer by layer, and within a layer in the order of the children.
    TVektControl* scheme = FSelection.front()->Parent();
    for (int l = 0; scheme && l < FLayers->Count(); ++l) {
        TVektControl* layer = FLayers->Controls(l);
        for (int i = 0; i < scheme->Count(); ++i) {
            TVektControl* control = scheme->Controls(i);
            if (control->Layer() == layer && IsSelected(control)) control->SaveToFiler(filer, 2);
        }
    }
    filer.WriteLine("end");
}

std::unique_ptr<TVektFiler> TVektPanel::CreateFiler(TStream& stream, TVektFilerProcess process,
                                                    bool binary) {
    auto filer = std::make_unique<TVektFiler>(stream);
    if (binary) filer->SetBinary(true);
    filer->OnProgress = [this, process](TVektFiler&, int percent, int kind) {
        if (!OnProgress) return;
        bool reading = kind == TVektFiler::progressReading;
        switch (process) {
        case ppLoad:
            if (reading) OnProgress(*this, percent, process);
            break;
        case ppSave:
            if (!reading) OnProgress(*this, percent, process);
            break;
        case ppCopy: OnProgress(*this, reading ? 50 + percent / 2 : percent / 2, process); break;
        case ppUnknown: break;
        }
    };
    return filer;
}

void TVektPanel::Assign(TVektPanel& source) {
    if (&source == this) return;
    TMemoryStream stream;
    std::unique_ptr<TVektFiler> filer = CreateFiler(stream, ppCopy, false);
    source.SaveToFiler(*filer, false);
    filer->Rewind();
    LoadFromFiler(*filer, lmReplace);
}

// --- Clipboard ---

bool TVektPanel::CanPaste(bool controlsOnly) {
    IClipboard& clipboard = Clipboard();
    if (clipboard.HasFormat(ControlsClipboardFormat)) return true;
    if (controlsOnly) return false;
    return (clipboard.HasPicture() && FindControlClass("TVektPicture")) ||
           (clipboard.HasText() && FindControlClass("TVektText"));
}

bool TVektPanel::PasteFromClipboard(bool controlsOnly) {
    (void)controlsOnly; // pictures and plain text need the picture and text controls
    std::string data;
    if (!Clipboard().GetFormat(ControlsClipboardFormat, data)) return false;
    TMemoryStream stream;
    stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
    stream.SetPosition(0);
    bool group = History().BeginAction(HistoryControlCreate, nullptr, true);
    try {
        LoadFromStream(stream, lmPaste);
    } catch (...) {
        if (group) History().CancelAction();
        throw;
    }
    if (group) History().EndAction();
    return true;
}

bool TVektPanel::CopyToClipboard() {
    if (FSelection.empty()) return false;
    TMemoryStream stream;
    {
        std::unique_ptr<TVektFiler> filer = CreateFiler(stream, ppSave, false);
        SaveToFiler(*filer, true);
    }
    Clipboard().SetFormat(ControlsClipboardFormat,
                          std::string(static_cast<const char*>(stream.Memory()),
                                      static_cast<size_t>(stream.GetSize())));
    return true;
}
