// kelvo_bench: speed of the render loop, the nearest-colour search and the PCX encoder.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_frame.h"
#include "host/memory_bitmap.h"
#include "pcx/pcx_writer.h"
#include "plugin/palette_render_filter.h"
#include "render/nearest_search.h"
#include "render/palette_mapping.h"

namespace {

constexpr double PIXELS = static_cast<double>(BENCH_WIDTH) * BENCH_HEIGHT;

const BenchFrame& Frame() {
    static const BenchFrame frame = GenerateBenchFrame(BENCH_WIDTH, BENCH_HEIGHT);
    return frame;
}

// The host's bitmap holding the generated frame, reset before every timed render.
class BenchBitmap {
public:
    BenchBitmap() : bitmap_(BENCH_WIDTH, BENCH_HEIGHT) {
        bitmap_.MaterialIds() = Frame().materialIds;
        Reset();
    }
    void Reset() {
        std::copy(Frame().pixels.begin(), Frame().pixels.end(), bitmap_.Pixels().begin());
    }
    MemoryBitmap& Get() { return bitmap_; }

private:
    MemoryBitmap bitmap_;
};

// What a render must at least move: each 8-byte pixel and its identifier read, each pixel
// and its index byte written.
void BM_MemoryFloor(benchmark::State& state) {
    BenchBitmap bitmap;
    std::vector<uint8_t> indices(Frame().pixels.size());
    for (auto _ : state) {
        state.PauseTiming();
        bitmap.Reset();
        state.ResumeTiming();
        BMM_Color_64* pixels = bitmap.Get().Pixels().data();
        const uint8_t* ids = bitmap.Get().MaterialIds().data();
        uint8_t* out = indices.data();
        const size_t count = indices.size();
        for (size_t i = 0; i < count; ++i) {
            BMM_Color_64 pixel = pixels[i];
            pixel.r = pixel.g;
            pixels[i] = pixel;
            out[i] = ids[i];
        }
        benchmark::DoNotOptimize(indices.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(PIXELS));
}

// The host calls alone, as RenderFrame makes them (a whole-row read, then per pixel a
// one-pixel read and a one-pixel write) through a bitmap whose type the loop does not know,
// with the identifier read and the index byte stored: what the host's bitmap costs before
// the plug-in does any work of its own. As in RenderFrame, the compiler inlines the stand-in
// bitmap's calls behind a check of its type; a real host's calls cost more.
void BM_HostCalls(benchmark::State& state) {
    BenchBitmap bitmap;
    Bitmap* host = &bitmap.Get();
    benchmark::DoNotOptimize(host);  // as unknown to the loop as the host's bitmap to a filter
    const uint8_t* ids = bitmap.Get().MaterialIds().data();
    std::vector<uint8_t> indices(Frame().pixels.size());
    std::vector<BMM_Color_64> row(BENCH_WIDTH);
    for (auto _ : state) {
        state.PauseTiming();
        bitmap.Reset();
        state.ResumeTiming();
        for (int y = 0; y < BENCH_HEIGHT; ++y) {
            host->ReadPixels(0, y, BENCH_WIDTH, row.data());
            const size_t rowStart = static_cast<size_t>(y) * BENCH_WIDTH;
            for (int x = 0; x < BENCH_WIDTH; ++x) {
                BMM_Color_64 pixel{};
                host->ReadPixels(x, y, 1, &pixel);
                indices[rowStart + static_cast<size_t>(x)] = ids[rowStart + static_cast<size_t>(x)];
                host->PutPixels(x, y, 1, &pixel);
            }
        }
        benchmark::DoNotOptimize(indices.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(PIXELS));
}

enum BenchMode { MODE_UNIFORM, MODE_DITHER, MODE_NEAREST_FULL, MODE_NEAREST_RANGES };

void Configure(PaletteRenderFilter& filter, BenchMode mode) {
    SetRampPalette(filter.settings.palette);
    filter.settings.source = SOURCE_MATERIAL_EFFECTS;
    filter.settings.method =
        mode == MODE_UNIFORM || mode == MODE_DITHER ? METHOD_UNIFORM : METHOD_NEAREST;
    for (int id = 0; id < RANGE_COUNT; ++id) {
        const auto first = static_cast<uint8_t>(16 * id);
        ColorRange& range = filter.settings.ranges[id];
        range = {first, static_cast<uint8_t>(first + 15), 0};
        if (mode == MODE_DITHER) {
            range.dither = 1;
        }
        if (mode == MODE_NEAREST_FULL) {
            range = {0, 255, 0};
        }
    }
}

// RenderFrame through the stand-in host's bitmap, without a frame record, so no file. Every
// render starts from nothing: the nearest-colour search is built anew in each.
void BM_RenderFrame(benchmark::State& state, BenchMode mode) {
    BenchBitmap bitmap;
    PaletteRenderFilter filter;
    Configure(filter, mode);
    filter.SetSource(&bitmap.Get());
    for (auto _ : state) {
        state.PauseTiming();
        bitmap.Reset();
        state.ResumeTiming();
        benchmark::DoNotOptimize(filter.RenderFrame(nullptr));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(PIXELS));
}

// The straightforward scan of all 256 entries, on every 31st pixel of the frame.
void BM_NearestScan(benchmark::State& state) {
    PaletteEntry palette[PALETTE_ENTRIES];
    SetRampPalette(palette);
    std::vector<BMM_Color_64> sample;
    for (size_t i = 0; i < Frame().pixels.size(); i += 31) {
        sample.push_back(Frame().pixels[i]);
    }
    for (auto _ : state) {
        unsigned sum = 0;
        for (const BMM_Color_64& pixel : sample) {
            sum += static_cast<unsigned>(
                NearestIndex(palette, {0, 255, 0}, pixel.r, pixel.g, pixel.b));
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(sample.size()));
}

// The search over all 256 entries on every pixel of the frame, built anew each time.
void BM_NearestSearch(benchmark::State& state) {
    PaletteEntry palette[PALETTE_ENTRIES];
    SetRampPalette(palette);
    std::vector<uint8_t> indices(Frame().pixels.size());
    for (auto _ : state) {
        NearestSearch search(palette, {0, 255, 0});
        search.FindAll(Frame().pixels.data(), indices.size(), indices.data());
        benchmark::DoNotOptimize(indices.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(PIXELS));
}

// Collects encoded bytes in a buffer large enough for any frame, as a file stream would.
class BufferSink final : public ByteSink {
public:
    explicit BufferSink(size_t capacity) : buffer_(capacity) {}
    int Write(const uint8_t* data, size_t size) override {
        if (size > buffer_.size() - used_) {
            return 0;
        }
        std::memcpy(buffer_.data() + used_, data, size);
        used_ += size;
        return 1;
    }
    void Clear() { used_ = 0; }
    size_t Used() const { return used_; }

private:
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
};

void BM_EncodePcx(benchmark::State& state, bool noisy) {
    const std::vector<uint8_t> indices = noisy ? GenerateNoisyIndices(BENCH_WIDTH, BENCH_HEIGHT)
                                               : GenerateSmoothIndices(BENCH_WIDTH, BENCH_HEIGHT);
    BufferSink sink(2 * indices.size());
    for (auto _ : state) {
        sink.Clear();
        benchmark::DoNotOptimize(EncodePcxImage(indices.data(), BENCH_WIDTH, BENCH_HEIGHT, sink));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(indices.size()));
    state.counters["out_ratio"] =
        static_cast<double>(sink.Used()) / static_cast<double>(indices.size());
}

// Prints the usual table, then keeps each benchmark's fastest time per item for the summary;
// with only aggregates reported (--benchmark_report_aggregates_only), their medians.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool iteration = run.run_type == Run::RT_Iteration;
            if (run.error_occurred || (!iteration && run.aggregate_name != "median")) {
                continue;
            }
            Keep(iteration ? best_ : medians_, run);
        }
    }

    // Per benchmark: nanoseconds per item, bytes per second.
    struct Figures {
        std::map<std::string, double> nsPerItem;
        std::map<std::string, double> bytesPerSecond;
    };
    bool OnlyMedians() const { return best_.nsPerItem.empty() && best_.bytesPerSecond.empty(); }
    const Figures& Summary() const { return OnlyMedians() ? medians_ : best_; }

private:
    static void Keep(Figures& figures, const Run& run) {
        const std::string name = run.run_name.str();
        const auto items = run.counters.find("items_per_second");
        if (items != run.counters.end() && items->second.value > 0) {
            const double nanoseconds = 1e9 / items->second.value;
            const auto [at, fresh] = figures.nsPerItem.emplace(name, nanoseconds);
            if (!fresh) {
                at->second = std::min(at->second, nanoseconds);
            }
        }
        const auto bytes = run.counters.find("bytes_per_second");
        if (bytes != run.counters.end()) {
            double& best = figures.bytesPerSecond[name];
            best = std::max(best, bytes->second.value);
        }
    }

    Figures best_;
    Figures medians_;
};

double Find(const std::map<std::string, double>& values, const std::string& name) {
    const auto at = values.find(name);
    return at != values.end() ? at->second : 0.0;
}

double Ratio(double a, double b) {
    return a > 0 && b > 0 ? a / b : 0.0;
}

void PrintRatio(const char* what, double value, const char* relation, double target) {
    if (target <= 0) {
        std::printf("  %-52s %8.2f\n", what, value);
        return;
    }
    const bool met = relation[0] == '<' ? value <= target : value >= target;
    std::printf("  %-52s %8.2f   target %s %-5g %s\n", what, value, relation, target,
                value > 0 ? (met ? "met" : "MISSED") : "not run");
}

void PrintSummary(const SummaryReporter& reporter) {
    const SummaryReporter::Figures& figures = reporter.Summary();
    const auto ns = [&](const char* name) { return Find(figures.nsPerItem, name); };
    const double floor = ns("MemoryFloor");
    const double calls = ns("HostCalls");
    const double uniform = ns("RenderFrame/uniform");
    const double dither = ns("RenderFrame/dither");
    const double nearest = ns("RenderFrame/nearest_0_255");
    const double ranges = ns("RenderFrame/nearest_16_entry_ranges");
    const double scan = ns("NearestScan/reference_256");
    const double search = ns("NearestSearch/fast_256");
    const double noisy = Find(figures.bytesPerSecond, "EncodePcx/noisy") / 1e9;
    const double smooth = Find(figures.bytesPerSecond, "EncodePcx/smooth") / 1e9;

    std::printf("\nSummary (ns per pixel, %s of each)\n",
                reporter.OnlyMedians() ? "median" : "fastest run");
    std::printf("  memory floor %.2f; host calls alone %.2f\n", floor, calls);
    std::printf(
        "  RenderFrame: uniform %.2f, dither %.2f, nearest 0..255 %.2f, "
        "nearest 16-entry ranges %.2f\n",
        uniform, dither, nearest, ranges);
    std::printf("  nearest 0..255 alone: 256-entry scan %.1f, search %.2f\n", scan, search);
    PrintRatio("uniform / memory floor", Ratio(uniform, floor), "<=", 3);
    PrintRatio("  (host calls alone / memory floor)", Ratio(calls, floor), "", 0);
    PrintRatio("  (uniform less the host calls / memory floor)",
               uniform > calls ? Ratio(uniform - calls, floor) : 0.0, "", 0);
    PrintRatio("dither / uniform", Ratio(dither, uniform), "<=", 1.3);
    PrintRatio("nearest 0..255 / uniform", Ratio(nearest, uniform), "<=", 5);
    PrintRatio("nearest 16-entry ranges / uniform", Ratio(ranges, uniform), "<=", 5);
    PrintRatio("256-entry scan / search", Ratio(scan, search), ">=", 50);
    PrintRatio("  (256-entry scan / RenderFrame nearest 0..255)", Ratio(scan, nearest), "", 0);
    PrintRatio("PCX encoding, noisy indices (GB/s)", noisy, ">=", 1);
    PrintRatio("PCX encoding, smooth indices (GB/s)", smooth, ">=", 1);
}

}  // namespace

int main(int argc, char** argv) {
    Frame();  // generated once, outside every timing
    benchmark::RegisterBenchmark("MemoryFloor", BM_MemoryFloor)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("HostCalls", BM_HostCalls)->Unit(benchmark::kMillisecond);
    const std::pair<const char*, BenchMode> modes[] = {
        {"RenderFrame/uniform", MODE_UNIFORM},
        {"RenderFrame/dither", MODE_DITHER},
        {"RenderFrame/nearest_0_255", MODE_NEAREST_FULL},
        {"RenderFrame/nearest_16_entry_ranges", MODE_NEAREST_RANGES},
    };
    for (const auto& [name, mode] : modes) {
        benchmark::RegisterBenchmark(name, BM_RenderFrame, mode)->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("NearestScan/reference_256", BM_NearestScan)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("NearestSearch/fast_256", BM_NearestSearch)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("EncodePcx/noisy", BM_EncodePcx, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("EncodePcx/smooth", BM_EncodePcx, false)
        ->Unit(benchmark::kMillisecond);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
