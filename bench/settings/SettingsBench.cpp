// What one settings access costs: a read looks at the file's status and parses the text kept in
// memory (read again only when the file changed), and every write replaces the file (temporary
// file, fsync, rename). The colour page writes three keys per slider step, so a write must stay
// far below a frame of the window's event loop; an effect click reads several keys, so a read
// must stay cheap even for a large file (up to the 1 MB limit; a larger one is not read at all).
#include "platform/system/PrivateProfile.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
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

// A large data.ini that has not changed for a while (its copy in memory is trusted): the key is
// at the end, behind 900 KB of other lines.
void BM_ReadLargeSettledFile(benchmark::State& state) {
    SettingsFile file;
    {
        std::ofstream out(file.path(), std::ios::binary | std::ios::trunc);
        for (int i = 0; out.tellp() < 900 * 1024; ++i)
            out << "[S" << i << "]\r\nKEY=some value of a section nobody reads\r\n";
        out << "[RGB]\r\nB=7\r\n";
    }
    const struct timespec old[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
    ::utimensat(AT_FDCWD, file.path(), old, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2100)); // the status time settles
    char buffer[260];
    for (auto _ : state)
        benchmark::DoNotOptimize(
            kelo::GetPrivateProfileStringA("RGB", "B", "", buffer, sizeof buffer, file.path()));
}
BENCHMARK(BM_ReadLargeSettledFile)->Unit(benchmark::kMicrosecond);

// A 20 MB data.ini: no settings file; a read costs one stat and gives the default.
void BM_ReadFileOverTheLimit(benchmark::State& state) {
    SettingsFile file;
    fs::resize_file(file.path(), 20u << 20);
    char buffer[260];
    for (auto _ : state)
        benchmark::DoNotOptimize(
            kelo::GetPrivateProfileStringA("RGB", "B", "", buffer, sizeof buffer, file.path()));
}
BENCHMARK(BM_ReadFileOverTheLimit);

} // namespace
