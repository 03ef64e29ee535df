// Documents: a generated drawing of 20 schemes and 100 000 controls (plain controls with their
// properties, groups with children, clones linked to a source) loaded from the text form and
// from the binary form, and written in both forms. Reported: MB/s of the document, controls per
// second, the document's size and the heap the load takes at its peak and when it is done.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <string>

#include "VektBase.h"

namespace {

constexpr int kSchemes = 20;
constexpr int kControlsPerScheme = 5000; // 500 groups of 1 + 4, 2000 plain controls, 500 clones

size_t HeapInUse() {
    return mallinfo2().uordblks;
}

void BuildDrawing(TVektPanel& panel) {
    panel.AutoNameNumbs = false;
    TVektLayer* walls = panel.ActiveLayer();
    walls->SetName("Walls");
    TVektLayer* sensors = TVektControl::New<TVektLayer>(&panel, nullptr, panel.Layers());
    sensors->SetName("Sensors");
    TVektLayer* labels = TVektControl::New<TVektLayer>(&panel, nullptr, panel.Layers());
    labels->SetName("Labels");
    TVektLayer* layers[] = {walls, sensors, labels};
    for (int s = 0; s < kSchemes; ++s) {
        TVektCustomScheme* scheme =
            s == 0 ? panel.ActiveScheme()
                   : TVektControl::New<TVektScheme>(&panel, nullptr, panel.Schemes());
        scheme->SetName("Floor " + std::to_string(s + 1));
        int n = 0;
        auto place = [&n](TVektControl* c) {
            int i = n++;
            c->SetDocRect(TRect((i % 100) * 3000, (i / 100) * 3000, (i % 100) * 3000 + 2500,
                                (i / 100) * 3000 + 2000));
        };
        std::vector<TVektControl*> sources;
        for (int g = 0; g < 500; ++g) {
            TVektGroup* group = TVektControl::New<TVektGroup>(&panel, walls, scheme);
            group->SetName("Room " + std::to_string(g));
            for (int c = 0; c < 4; ++c) {
                TVektControl* child = TVektControl::New<TVektControl>(&panel, walls, group);
                child->SetName("Wall " + std::to_string(c));
                place(child);
            }
            ++n;
        }
        for (int c = 0; c < 2000; ++c) {
            TVektControl* control = TVektControl::New<TVektControl>(&panel, layers[c % 3], scheme);
            control->SetName("Sensor " + std::to_string(s) + "." + std::to_string(c));
            control->SetTag(c);
            place(control);
            if (c % 4 == 0) {
                control->Props().ByName("Hint")->SetPropValue(
                    "", TVariant::Array({TVariant("Liiketunnistin " + std::to_string(c)),
                                         TVariant("Varasto")}));
                static_cast<TStrListProp*>(control->Props().ByName("UserData"))
                    ->SetValueByName("ParadoxAFM", std::to_string(c % 8 + 1));
            }
            if (c < 500) sources.push_back(control);
        }
        for (TVektControl* source : sources) {
            TVektClone* clone = TVektControl::New<TVektClone>(&panel, labels, scheme);
            clone->SetAutoSize(false);
            clone->SetSource(source);
            place(clone);
        }
    }
}

struct TDrawing {
    std::string Text;
    std::string Binary;
    int64_t Controls = 0;
};

std::string Save(TVektPanel& panel, bool binary) {
    TMemoryStream stream;
    panel.SaveAsBinary = binary;
    TVektFiler filer(stream);
    panel.SaveToFiler(filer, false);
    return std::string(static_cast<const char*>(stream.Memory()),
                       static_cast<size_t>(stream.GetSize()));
}

const TDrawing& Drawing() {
    static TDrawing drawing = [] {
        TDrawing d;
        TVektPanel panel;
        BuildDrawing(panel);
        for (int i = 0; i < panel.Schemes()->Count(); ++i) {
            TPassControlRec pass;
            pass.Start(panel.Schemes()->Controls(i));
            while (pass.Next())
                ++d.Controls;
        }
        d.Text = Save(panel, false);
        d.Binary = Save(panel, true);
        return d;
    }();
    return drawing;
}

void Report(benchmark::State& state, size_t bytes, const TDrawing& d) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
    state.SetItemsProcessed(int64_t(state.iterations()) * d.Controls);
    state.counters["controls/s"] =
        benchmark::Counter(double(d.Controls), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["document MB"] = double(bytes) / 1e6;
}

void Load(benchmark::State& state, bool binary) {
    const TDrawing& d = Drawing();
    const std::string& bytes = binary ? d.Binary : d.Text;
    size_t peak = 0, resident = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto panel = std::make_unique<TVektPanel>();
        TMemoryStream stream;
        stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
        stream.SetPosition(0);
        size_t before = HeapInUse();
        size_t highest = before;
        // The heap is sampled at every percent of the input read.
        panel->OnProgress = [&highest](TVektPanel&, int, TVektFilerProcess) {
            highest = std::max(highest, HeapInUse());
        };
        state.ResumeTiming();
        panel->LoadFromStream(stream, TVektPanel::lmReplace);
        state.PauseTiming();
        size_t after = HeapInUse();
        peak = std::max(highest, after) - before;
        resident = after - before;
        panel.reset();
        state.ResumeTiming();
    }
    Report(state, bytes.size(), d);
    state.counters["peak heap MB"] = double(peak) / 1e6;
    state.counters["document heap MB"] = double(resident) / 1e6;
}

void Write(benchmark::State& state, bool binary) {
    const TDrawing& d = Drawing();
    TVektPanel panel;
    TMemoryStream stream;
    stream.WriteBuffer(d.Text.data(), static_cast<int64_t>(d.Text.size()));
    stream.SetPosition(0);
    panel.LoadFromStream(stream, TVektPanel::lmReplace);
    size_t bytes = 0;
    for (auto _ : state) {
        TMemoryStream out;
        panel.SaveAsBinary = binary;
        TVektFiler filer(out);
        panel.SaveToFiler(filer, false);
        bytes = static_cast<size_t>(out.GetSize());
    }
    Report(state, bytes, d);
}

void BM_LoadText(benchmark::State& state) {
    Load(state, false);
}
void BM_LoadBinary(benchmark::State& state) {
    Load(state, true);
}
void BM_WriteText(benchmark::State& state) {
    Write(state, false);
}
void BM_WriteBinary(benchmark::State& state) {
    Write(state, true);
}

} // namespace

BENCHMARK(BM_LoadText)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LoadBinary)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WriteText)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WriteBinary)->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK_MAIN();
