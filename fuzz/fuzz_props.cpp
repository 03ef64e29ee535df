// Feeds arbitrary document lines to LoadProp of a list that holds one property of every class,
// applies the deferred values, then writes the list in both text forms. Whatever the input,
// failures must be our exceptions, and what was written must read back to the same text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FakeDocument.h"
#include "Metafile.h"
#include "VektProps.h"

namespace {

struct TFuzzDocument {
    TFakePanel Panel;
    TFakeControl& Layer = Panel.AddRoot(2, "Layer1");
    TFakeControl& Scheme = Panel.AddRoot(3, "Scheme1");
    TFakeControl& Target = Scheme.AddChild(5, "Target");
    TFakeControl& Owner = Scheme.AddChild(6, "Owner");
    std::vector<uint8_t> Data;

    TFuzzDocument() {
        Panel.Layers = {&Layer};
        Panel.Schemes = {&Scheme};
        new TIntProp(&Target.Props, "Width");
        TPropList& l = Owner.Props;
        AddPropOfEveryClass(l, Data, {"Always", "Never"});
        new TLinkPointProp(&l, "LinkPoint", propDeferredLoad);
        auto* picture = new TPictureProp(&l, "Picture");
        picture->OnLoadError = [](TPictureProp&, const Exception&) {};
    }
};

void Load(TPropList& list, TStream& stream) {
    TVektFiler filer(stream);
    TPropRefList refs;
    std::string line;
    // A broken line stream (a bad binary record) ends the document, as it does for a real load;
    // a bad value only loses that property.
    try {
        while (filer.ReadLine(line)) {
            if (IsKeywordLine(line, "end")) continue;
            try {
                list.LoadProp(filer, line, &refs);
            } catch (const Exception&) {}
        }
    } catch (const Exception&) {}
    try {
        refs.Apply();
    } catch (const Exception&) {}
}

std::string Save(TPropList& list, bool saveAll) {
    TMemoryStream stream;
    TVektFiler filer(stream);
    list.SaveAll(filer, 0, saveAll);
    return std::string(static_cast<const char*>(stream.Memory()),
                       static_cast<size_t>(stream.GetSize()));
}

std::string ReadBack(const std::string& text, bool saveAll) {
    TFuzzDocument fresh;
    TMemoryStream stream;
    stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    stream.SetPosition(0);
    Load(fresh.Owner.Props, stream);
    return Save(fresh.Owner.Props, saveAll);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Keeps each run short; the line reader's own limits are tested elsewhere.
    if (size > 64 * 1024) return 0;
    size_t previous = SetPropDataBlockLimit(4096);
    TFuzzDocument document;
    TMemoryStream input;
    input.WriteBuffer(data, static_cast<int64_t>(size));
    input.SetPosition(0);
    Load(document.Owner.Props, input);

    std::string stored = Save(document.Owner.Props, false);
    if (ReadBack(stored, false) != stored) __builtin_trap();
    // Everything written (heights and sizes both) settles after one read.
    std::string all = ReadBack(Save(document.Owner.Props, true), true);
    if (ReadBack(all, true) != all) __builtin_trap();
    SetPropDataBlockLimit(previous);
    return 0;
}
