// The writer of the files whose names say their container: ".mp4" (H.264 video and AAC sound
// in an ISO MP4 file), ".mp3" (an MPEG audio stream with a Xing header and an ID3v2 tag) and
// ".wav" (RIFF WAVE, 16-bit PCM). One bin: an input pin per stream, each with its own queue and
// encoder, then the muxer and a filesink. The audio input comes first ("Audio Input 01"), then
// the video input ("Video Input 01"), as with the ASF writer: the graph links the first free
// input, so sound is rendered before video is connected.
//
// Files survive a crash of the studio as they lie:
// - MP4 is written as a fragmented MP4: a moov, then a fragment (moof + mdat) per second, and
//   the duration and a fragment index at the end; a file cut off by a kill keeps every
//   fragment written, which players and browsers read.
// - Every writer passes its buffers straight to the kernel (no user-space buffering), so what
//   was encoded is on disk when the process dies; a ".wav" cut off this way only lacks its
//   header's sizes, which RecordingRepair mends.
//
// Video arrives bottom-up (as every frame inside the graph); the video input flips it back.
// Threads: built on the owner's thread while the graph is stopped; the inputs' queues give each
// stream its own streaming thread.
#pragma once

#include "platform/graph/BaseFilter.h"
#include "platform/graph/GraphInterfaces.h"

#include <cstdint>
#include <memory>
#include <string>

namespace kelo {

enum class MediaContainer { Mp4, Mp3, Wav };

struct MediaWriterSettings {
    bool audio = false;
    bool video = false;
    std::uint32_t videoBitsPerSecond = 0; // H.264 target rate (MP4 only)
    int framesPerSecond = 0;              // sets the key-frame interval (MP4 only)
};

class MediaFileWriter : public BaseFilter, public IFileSinkFilter {
public:
    // The H.264 bit rate at 320 x 240 and 15 frames per second; larger modes scale it.
    static constexpr std::uint32_t kH264BitsPerSecondAtDefault = 400'000;
    static constexpr int kAacBitsPerSecond = 128'000;
    static constexpr int kMp3KilobitsPerSecond = 128;
    // How long a fragment of an MP4 recording lasts: at most this much is lost to a crash.
    static constexpr unsigned kFragmentMs = 1000;

    // Null when an element is missing (its name in the debug log) or the container cannot
    // carry the streams asked for (video in MP3 or WAV, no stream at all).
    static std::shared_ptr<MediaFileWriter> Create(MediaContainer container,
                                                   const MediaWriterSettings& settings);
    ~MediaFileWriter() override;

    // Before the graph runs; E_UNEXPECTED while running.
    [[nodiscard]] HRESULT SetFileName(std::string_view path, const MediaType* type) override;
    [[nodiscard]] HRESULT GetCurFile(std::string* path) const override;

    MediaContainer container() const { return container_; }

private:
    MediaFileWriter(ElementPtr bin, MediaContainer container);
    bool Build(const MediaWriterSettings& settings);
    bool AddInput(bool audio, const MediaWriterSettings& settings);

    MediaContainer container_;
    GstElement* mux_ = nullptr;  // borrowed: in the bin (the first element after the inputs)
    GstElement* sink_ = nullptr; // borrowed: in the bin
    std::string fileName_;
};

} // namespace kelo
