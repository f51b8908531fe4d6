// What the page tests share: a BmpOverlayFiler that logs every call the pages make on it (and
// still lays the picture over the video), an engine on the test devices built with it, small
// GIF files written where the pages look for effects, and a look at the virtual-camera feed.
#pragma once

#include "app/pages/EffectPageTable.h"
#include "engine/CaptureEngine.h"
#include "EngineTestSupport.h"
#include "platform/system/SharedMemoryView.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kelo::test {

// One call that reached an overlay filter.
struct OverlayCall {
    int filter = 0;  // which filter: 1 for the first one made, 2 for the next...
    int command = 0; // 1011 for a clear, else the overlay code shown
    const std::uint8_t* picture = nullptr;
    bool isClear() const { return command == 1011; }
};

class OverlayCallLog {
public:
    void Add(OverlayCall call);
    std::vector<OverlayCall> Take(); // the calls so far, and an empty log
    int NextFilterNumber();

private:
    std::mutex mutex_;
    std::vector<OverlayCall> calls_;
    int filters_ = 0;
};

// Test devices ("Test Camera", "Test Microphone"), the effect filters with the logging
// BmpOverlayFiler (or none when withOverlayFilter is false).
std::unique_ptr<ClassRegistry> MakePageTestRegistry(OverlayCallLog* log,
                                                    bool withOverlayFilter = true);

// An engine whose preview runs (run = false: built and connected, not running).
std::unique_ptr<CaptureEngine> StartEngine(const ClassRegistry& registry, RecordingOwner& owner,
                                           RecordingSurface& surface, bool run = true);

// A GIF of one solid colour per frame (grey levels), with the frames' delays in hundredths.
void WriteGreyGif(const std::filesystem::path& file, const std::vector<int>& greys,
                  const std::vector<int>& delays);
// Where a page looks first for effect `number` of its family: under the working directory.
std::filesystem::path EffectFileInWorkingDir(EffectFamily family, int number);

// The value of `key` in `section` of data.ini in `folder`, "<missing>" when there is none.
std::string IniValue(const std::filesystem::path& folder, const char* section, const char* key);

// Fraction of the bytes in the upper half of the picture in the feed (its rows 120 to 239) that
// are below `level`; the caption at the bottom is left out.
double DarkShareOfUpperHalf(const SharedMemoryView& feed, int level);

} // namespace kelo::test
