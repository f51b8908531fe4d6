// Recordings that were never finished: a marker beside the file while it is written, and the
// repair of a file whose writer was cut off (the studio killed, the machine down, a full disk).
//
// What a cut-off file lacks, by container (told by its first bytes, not its name):
// - RIFF WAVE: the sizes in its header (the writer puts them in at the end). Repaired: the RIFF
//   and data sizes from the file's length, cut to whole samples.
// - AVI: the sizes, the frame counts and the index. Repaired: the chunks are walked, the last
//   incomplete one cut off, the RIFF, movi, frame and stream lengths set and an idx1 index
//   appended (left out when the disk has no room for it: players then scan).
// - ASF: the packet count, the sizes and the duration. Repaired: whole packets counted (the
//   last incomplete one cut off), the duration taken from the last packet's send time.
// - MP4 (written as fragments) and MP3 (a constant-rate stream): playable as they lie.
//
// Threads: any; a repair reads and writes the one file and nothing else. The start-up repair
// of the window and the headless studio runs on a worker.
#pragma once

#include <string>
#include <vector>

namespace kelo {

// "/v/.14-05-09 12.07.2026.mp4.recording" for "/v/14-05-09 12.07.2026.mp4".
std::string RecordingMarkerPath(const std::string& file);

// The marker of one recording, made when its graph is built and removed once the file is
// finished. Owner thread of the engine (or the thread that drains it).
class RecordingMarker {
public:
    RecordingMarker() = default;
    RecordingMarker(const RecordingMarker&) = delete;
    RecordingMarker& operator=(const RecordingMarker&) = delete;

    // Writes the marker beside `file`. False when it cannot be written (the recording goes on
    // without: only a crash would then go unrepaired).
    bool Create(const std::string& file);
    // The writer has stopped: the file is mended where its writer could not finish it (after
    // a write error), then the marker goes. Does nothing when there is no marker. Safe to call
    // twice.
    void Finish();
    bool active() const { return !file_.empty(); }

private:
    std::string file_;
};

enum class RepairOutcome {
    Complete,   // the file was whole: nothing changed
    Repaired,   // sizes, counts or index were put right
    Playable,   // a container that is readable as it lies (fragmented MP4, MP3)
    Unreadable, // missing, empty, or not a container this studio writes
};

// Mends the file in place where its writer was cut off.
RepairOutcome RepairRecording(const std::string& file);

struct RepairedRecording {
    std::string file;
    RepairOutcome outcome = RepairOutcome::Unreadable;
};

// Every recording in `folder` whose marker is still there (its writer never finished): each is
// repaired and its marker removed; a marker whose file is gone is removed too. The files that
// were found, in name order.
std::vector<RepairedRecording> RepairUnfinishedRecordings(const std::string& folder);

} // namespace kelo
