// What one settings access costs: every read parses the file again and every write replaces it
// (temporary file, fsync, rename). The colour page writes three keys per slider step, so a
// write must stay far below a frame of the window's event loop.
#include "platform/system/PrivateProfile.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// A data.ini as the program leaves it, in a fresh folder (BENCH_DIR, default the temp folder:
// set it to a folder on the disk the program runs from to measure that disk's fsync).
class SettingsFile {
public:
    SettingsFile() {
        const char* base = std::getenv("BENCH_DIR");
        std::string pattern =
            ((base && *base) ? fs::path(base) : fs::temp_directory_path()) / "kelo-bench-XXXXXX";
        dir_ = ::mkdtemp(pattern.data());
        path_ = (dir_ / "data.ini").string();
        std::ofstream(path_, std::ios::binary)
            << "[PATCH]\r\nPIC=/home/user/Pictures\r\nREC=/home/user/Videos\r\n"
               "[PICSIZE]\r\nWIDTH=640\r\nHEIGHT=480\r\n"
               "[Effect]\r\nEffect=Cartoon\r\nIndex=2\r\nGifName=/home/user/kelo//Effect//"
               "cartoon//002.gif\r\n[ColorAdjust]\r\nEnble=1\r\n[RGB]\r\nR=105\r\nG=135\r\nB=0\r\n";
    }
    ~SettingsFile() { fs::remove_all(dir_); }
    const char* path() const { return path_.c_str(); }

private:
    fs::path dir_;
    std::string path_;
};

void BM_ReadText(benchmark::State& state) {
    SettingsFile file;
    char buffer[260];
    for (auto _ : state)
        benchmark::DoNotOptimize(
            kelo::GetPrivateProfileStringA("RGB", "B", "", buffer, sizeof buffer, file.path()));
}
BENCHMARK(BM_ReadText);

void BM_ReadInt(benchmark::State& state) {
    SettingsFile file;
    for (auto _ : state)
        benchmark::DoNotOptimize(kelo::GetPrivateProfileIntA("PICSIZE", "WIDTH", 320, file.path()));
}
BENCHMARK(BM_ReadInt);

void BM_WriteChangedValue(benchmark::State& state) {
    SettingsFile file;
    int value = 0;
    for (auto _ : state) {
        const std::string text = std::to_string(value++ % 256);
        benchmark::DoNotOptimize(
            kelo::WritePrivateProfileStringA("RGB", "R", text.c_str(), file.path()));
    }
}
BENCHMARK(BM_WriteChangedValue)->Unit(benchmark::kMicrosecond);

void BM_WriteSameValue(benchmark::State& state) {
    SettingsFile file;
    for (auto _ : state)
        benchmark::DoNotOptimize(kelo::WritePrivateProfileStringA("RGB", "R", "105", file.path()));
}
BENCHMARK(BM_WriteSameValue);

} // namespace
