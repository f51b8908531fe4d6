// What one photo costs on the streaming thread, at each photo size of the settings dialog: the
// whole snapshot from BufferCB to the closed file, beside a bare libjpeg compression of the same
// photo's pixels at quality 75 into a file of the same folder. The difference is our copying,
// scaling and repacking. Also: the cost of BufferCB for a frame when no photo is pending.
//
// Prints Google Benchmark's table, then the medians side by side with their ratio.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/JpegFile.h"
#include "engine/SnapshotGrabber.h"
#include "engine/JpegHandles.h"
#include "platform/system/Handles.h"

namespace {

namespace fs = std::filesystem;

constexpr std::pair<int, int> kPhotoSizes[] = {
    {160, 120}, {320, 240}, {640, 480}, {1280, 720}, {1920, 1080}};

fs::path g_folder;

// A moving-picture-like frame: smooth ramps with some texture, bottom-up BGR, 320 x 240.
std::vector<std::uint8_t> MakeFrame() {
    std::vector<std::uint8_t> frame(kelo::SnapshotGrabber::kSourceBytes);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            std::uint8_t* p = frame.data() + (y * 320 + x) * 3;
            p[0] = static_cast<std::uint8_t>((x + y) / 3 + ((x * 7 + y * 13) % 17));
            p[1] = static_cast<std::uint8_t>(y + ((x * y) % 11));
            p[2] = static_cast<std::uint8_t>(x * 255 / 319);
        }
    return frame;
}

// The photo's pixels as libjpeg takes them: scaled, packed, upright, RGB.
std::vector<std::uint8_t> PhotoPixels(const std::vector<std::uint8_t>& frame, int width,
                                      int height) {
    std::vector<std::uint8_t> dib(kelo::SnapshotGrabber::DibStride(width, 24) * height);
    kelo::SnapshotGrabber::ScaleNearest(frame.data(), 320, 240, 24, dib.data(), width, height);
    auto packed = kelo::JpegFile::PackRows(dib.data(), width, height);
    kelo::JpegFile::FlipVertically(packed.get(), static_cast<std::size_t>(width) * 3, height);
    kelo::JpegFile::SwapRedBlue(packed.get(), width, height);
    return std::vector<std::uint8_t>(packed.get(), packed.get() + std::size_t(width) * 3 * height);
}

void Snapshot(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    std::vector<std::uint8_t> frame = MakeFrame();
    kelo::SnapshotGrabber grabber;
    bool allWritten = true;
    grabber.SetOutcomeCallback(
        [&](const kelo::SnapshotOutcome& outcome) { allWritten = allWritten && outcome.ok(); });
    const std::string folder = g_folder.string() + "/";
    kelo::ISampleGrabberCB& callback = grabber;
    for (auto _ : state) {
        grabber.Request(folder, width, height);
        callback.BufferCB(0.0, frame.data(), static_cast<long>(frame.size()));
    }
    if (!allWritten)
        state.SkipWithError("a photo was not written");
}

void BareCompression(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const std::vector<std::uint8_t> rgb = PhotoPixels(MakeFrame(), width, height);
    const std::string path = (g_folder / "bare.jpg").string();
    for (auto _ : state) {
        kelo::FilePtr file(std::fopen(path.c_str(), "wb"));
        kelo::JpegCompressor compressor;
        jpeg_error_mgr errors;
        compressor.info().err = jpeg_std_error(&errors);
        compressor.Create();
        jpeg_compress_struct& info = compressor.info();
        jpeg_stdio_dest(&info, file.get());
        info.image_width = static_cast<JDIMENSION>(width);
        info.image_height = static_cast<JDIMENSION>(height);
        info.input_components = 3;
        info.in_color_space = JCS_RGB;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, 75, TRUE);
        jpeg_start_compress(&info, TRUE);
        while (info.next_scanline < info.image_height) {
            JSAMPROW row = const_cast<JSAMPLE*>(rgb.data() + info.next_scanline * width * 3);
            jpeg_write_scanlines(&info, &row, 1);
        }
        jpeg_finish_compress(&info);
        compressor.Destroy();
        file.reset();
    }
}

// The steps of one 1920 x 1080 photo on their own, to see where its time goes.
void ScaleStep(benchmark::State& state) {
    std::vector<std::uint8_t> frame = MakeFrame();
    std::vector<std::uint8_t> dib(kelo::SnapshotGrabber::DibStride(1920, 24) * 1080);
    for (auto _ : state) {
        kelo::SnapshotGrabber::ScaleNearest(frame.data(), 320, 240, 24, dib.data(), 1920, 1080);
        benchmark::DoNotOptimize(dib.data());
    }
}

void PackStep(benchmark::State& state) {
    std::vector<std::uint8_t> dib(kelo::SnapshotGrabber::DibStride(1920, 24) * 1080, 7);
    for (auto _ : state) {
        auto packed = kelo::JpegFile::PackRows(dib.data(), 1920, 1080);
        benchmark::DoNotOptimize(packed.get());
    }
}

void FlipStep(benchmark::State& state) {
    std::vector<std::uint8_t> rgb(1920 * 3 * 1080, 7);
    for (auto _ : state) {
        kelo::JpegFile::FlipVertically(rgb.data(), 1920 * 3, 1080);
        benchmark::DoNotOptimize(rgb.data());
    }
}

void SwapStep(benchmark::State& state) {
    std::vector<std::uint8_t> rgb(1920 * 3 * 1080, 7);
    for (auto _ : state) {
        kelo::JpegFile::SwapRedBlue(rgb.data(), 1920, 1080);
        benchmark::DoNotOptimize(rgb.data());
    }
}

void BufferCBWithoutRequest(benchmark::State& state) {
    std::vector<std::uint8_t> frame = MakeFrame();
    kelo::SnapshotGrabber grabber;
    kelo::ISampleGrabberCB* callback = &grabber;
    benchmark::DoNotOptimize(callback);
    double time = 0;
    for (auto _ : state) {
        HRESULT hr = callback->BufferCB(time, frame.data(), static_cast<long>(frame.size()));
        benchmark::DoNotOptimize(hr);
        time += 1.0 / 15;
    }
}

// Keeps the console table and remembers every median, in real time and in CPU time.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    struct Median {
        double real = 0;
        double cpu = 0;
    };
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.function_name + "/" + run.run_name.args] = {
                    run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()}; // in the run's unit
    }
    std::map<std::string, Median> medians;
};

} // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/kelo-snapshot-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    g_folder = pattern;

    for (auto [width, height] : kPhotoSizes) {
        benchmark::RegisterBenchmark("Snapshot", Snapshot)
            ->Args({width, height})
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(0.2)
            ->Repetitions(7)
            ->ReportAggregatesOnly(true);
        benchmark::RegisterBenchmark("BareCompression", BareCompression)
            ->Args({width, height})
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(0.2)
            ->Repetitions(7)
            ->ReportAggregatesOnly(true);
    }
    for (auto [name, fn] :
         {std::pair{"Step1080/ScaleNearest", &ScaleStep}, std::pair{"Step1080/PackRows", &PackStep},
          std::pair{"Step1080/FlipVertically", &FlipStep},
          std::pair{"Step1080/SwapRedBlue", &SwapStep}})
        benchmark::RegisterBenchmark(name, fn)->Unit(benchmark::kMillisecond)->MinTime(0.2);
    benchmark::RegisterBenchmark("BufferCBWithoutRequest", BufferCBWithoutRequest)
        ->Unit(benchmark::kNanosecond)
        ->Repetitions(7)
        ->ReportAggregatesOnly(true);

    benchmark::Initialize(&argc, argv);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // Real time is what the streaming thread loses; on a busy machine CPU time shows the work
    // itself more steadily. Both are printed.
    std::printf("\nMedians in ms (real time | CPU time)\n%-10s %10s %10s %7s | %10s %10s %7s\n",
                "photo", "snapshot", "libjpeg", "ratio", "snapshot", "libjpeg", "ratio");
    for (auto [width, height] : kPhotoSizes) {
        const std::string args = std::to_string(width) + "/" + std::to_string(height);
        auto snapshot = reporter.medians.find("Snapshot/" + args);
        auto bare = reporter.medians.find("BareCompression/" + args);
        if (snapshot == reporter.medians.end() || bare == reporter.medians.end())
            continue;
        const MedianReporter::Median s = snapshot->second;
        const MedianReporter::Median b = bare->second;
        std::printf("%-10s %10.3f %10.3f %7.2f | %10.3f %10.3f %7.2f\n",
                    (std::to_string(width) + "x" + std::to_string(height)).c_str(), s.real, b.real,
                    s.real / b.real, s.cpu, b.cpu, s.cpu / b.cpu);
        if (width == 1920)
            std::printf("target at 1920x1080: ratio < 1.3 (real %s, CPU %s)\n",
                        s.real / b.real < 1.3 ? "met" : "MISSED",
                        s.cpu / b.cpu < 1.3 ? "met" : "MISSED");
    }
    for (const auto& [name, median] : reporter.medians)
        if (name.rfind("BufferCBWithoutRequest", 0) == 0)
            std::printf("BufferCB without a request: %.2f ns a frame (target < 50 ns: %s)\n",
                        median.real, median.real < 50 ? "met" : "MISSED");

    std::error_code ec;
    fs::remove_all(g_folder, ec);
    return 0;
}
