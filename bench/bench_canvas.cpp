// The drawing layer's overhead: 10 000 filled, outlined rectangles and 10 000 short text runs
// into a 1920 x 1080 image, through TCanvas and through the same calls made directly on
// QPainter. The program ends with the two ratios of processor time (canvas / QPainter), which
// hold better than wall time on a shared machine.
#include <benchmark/benchmark.h>

#include <QFont>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "QtCanvas.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kCount = 10000;
constexpr int kFontPixels = 12;

struct TBox {
    TRect Rect;
    TColor Fill, Line;
};

struct TLabel {
    TPoint At;
    std::string Text;
};

// Deterministic pseudo-random placement, the same for both contenders.
uint32_t Next(uint32_t& seed) {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
}

const std::vector<TBox>& Boxes() {
    static const std::vector<TBox> boxes = [] {
        std::vector<TBox> v;
        uint32_t seed = 1;
        for (int i = 0; i < kCount; ++i) {
            int w = 10 + int(Next(seed) % 70), h = 10 + int(Next(seed) % 50);
            int x = int(Next(seed) % (kWidth - w)), y = int(Next(seed) % (kHeight - h));
            v.push_back({{x, y, x + w, y + h},
                         TColor(Next(seed) & 0xFFFFFF),
                         TColor(Next(seed) & 0xFFFFFF)});
        }
        return v;
    }();
    return boxes;
}

const std::vector<TLabel>& Labels() {
    static const std::vector<TLabel> labels = [] {
        const char* words[] = {"Vyöhyke", "Alue", "Ovi", "Hälytys", "Käytävä", "Varasto"};
        std::vector<TLabel> v;
        uint32_t seed = 7;
        for (int i = 0; i < kCount; ++i) {
            int x = int(Next(seed) % (kWidth - 100)), y = int(Next(seed) % (kHeight - 20));
            v.push_back({{x, y}, std::string(words[i % 6]) + " " + std::to_string(i % 97)});
        }
        return v;
    }();
    return labels;
}

void CanvasRectangles(benchmark::State& state) {
    TBitmap bitmap(kWidth, kHeight);
    TCanvas& canvas = bitmap.Canvas();
    for (auto _ : state) {
        for (const auto& box : Boxes()) {
            canvas.SetPen({box.Line, 1});
            canvas.SetBrush({box.Fill, bsSolid, nullptr});
            canvas.Rectangle(box.Rect);
        }
        canvas.Flush();
        benchmark::DoNotOptimize(bitmap.Bits());
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}

void QPainterRectangles(benchmark::State& state) {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&image);
        for (const auto& box : Boxes()) {
            p.setPen(QPen(QColor::fromRgb(ColorToPixel(box.Line)), 0));
            p.setBrush(QColor::fromRgb(ColorToPixel(box.Fill)));
            // drawRect covers one pixel more than its size; the canvas's rectangle does not.
            p.drawRect(
                QRect(box.Rect.Left, box.Rect.Top, box.Rect.Width() - 1, box.Rect.Height() - 1));
        }
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}

void CanvasText(benchmark::State& state) {
    TBitmap bitmap(kWidth, kHeight);
    TCanvas& canvas = bitmap.Canvas();
    TFont font;
    font.Height = -kFontPixels;
    canvas.SetFont(font);
    canvas.SetBrush({clWhite, bsClear, nullptr});
    for (auto _ : state) {
        for (const auto& label : Labels())
            canvas.TextOut(label.At.X, label.At.Y, label.Text);
        canvas.Flush();
        benchmark::DoNotOptimize(bitmap.Bits());
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}

void QPainterText(benchmark::State& state) {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    QFont font("Liberation Sans");
    font.setPixelSize(kFontPixels);
    font.setStyleStrategy(QFont::NoAntialias);
    int ascent = QFontMetrics(font).ascent();
    for (auto _ : state) {
        QPainter p(&image);
        p.setFont(font);
        p.setPen(Qt::black);
        for (const auto& label : Labels())
            p.drawText(label.At.X, label.At.Y + ascent, QString::fromUtf8(label.Text));
        p.end();
        benchmark::DoNotOptimize(image.constBits());
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}

BENCHMARK(CanvasRectangles)->Unit(benchmark::kMillisecond);
BENCHMARK(QPainterRectangles)->Unit(benchmark::kMillisecond);
BENCHMARK(CanvasText)->Unit(benchmark::kMillisecond);
BENCHMARK(QPainterText)->Unit(benchmark::kMillisecond);

class TRatioReporter : public benchmark::ConsoleReporter {
public:
    // Keeps each benchmark's processor time, the median when repetitions were asked for.
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs)
            if (run.run_type == Run::RT_Iteration ||
                (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median"))
                Times[run.run_name.function_name] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> Times;
};

} // namespace

int main(int argc, char** argv) {
    InstallQtCanvasBackend();
    benchmark::Initialize(&argc, argv);
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* ours, const char* theirs) {
        auto a = reporter.Times.find(ours), b = reporter.Times.find(theirs);
        return a != reporter.Times.end() && b != reporter.Times.end() && b->second > 0
                   ? a->second / b->second
                   : 0.0;
    };
    std::printf("canvas / QPainter: rectangles %.2f, text %.2f\n",
                ratio("CanvasRectangles", "QPainterRectangles"),
                ratio("CanvasText", "QPainterText"));
    benchmark::Shutdown();
    return 0;
}
