// Feeds arbitrary text as object blocks and document-root property lines to a panel, as a
// document or a paste reaches it, then works the tree that came out: hit tests, a rotation, a
// group move, writing every scheme, and a reset. Whatever the input, failures must be our
// exceptions and the panel must be left whole.
#include <cstddef>
#include <cstdint>
#include <string>

#include "VektBase.h"

namespace {

void Work(TVektPanel& panel) {
    TVektSchemes* root = panel.Schemes();
    for (int i = 0; i < root->Count(); ++i) {
        TVektCustomScheme* scheme = root->Schemes(i);
        scheme->FindControlAtPoint(5, 5);
        for (int c = 0; c < scheme->Count(); ++c) {
            TVektControl* control = scheme->Controls(c);
            panel.Select(control);
            control->SetLeft(control->Left() + 1000);
        }
        TMemoryStream stream;
        TVektFiler filer(stream);
        scheme->SaveToFiler(filer, 0);
    }
    TTranslateInfo info;
    info.Rotate = 90;
    info.Mirror = true;
    panel.TranslateSelection(info);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TVektPanel panel;
    TMemoryStream stream;
    stream.WriteBuffer(data, static_cast<int64_t>(size));
    stream.SetPosition(0);
    TVektFiler filer(stream);
    panel.BeginLoading();
    std::string line;
    try {
        while (filer.ReadLine(line)) {
            if (line.empty() || IsKeywordLine(line, "end")) continue;
            if (IsKeywordLine(line, "object"))
                panel.LoadControl(filer, panel.ActiveScheme(), false, line);
            else if (!filer.SkipIfBlock(line))
                panel.Schemes()->Props().LoadProp(filer, line, panel.RefQueue());
        }
    } catch (const Exception&) {}
    try {
        panel.EndLoading();
    } catch (const Exception&) {}
    try {
        Work(panel);
    } catch (const Exception&) {}
    panel.NewDocument();
    return 0;
}
