// Short sounds played asynchronously, the way the platform's asynchronous sound call behaves: the
// call returns at once, a new sound stops the one that plays, a file that is missing or cannot be
// played (no sound device, not a sound file) plays nothing and is not an error for the caller.
//
// Threads: Play runs on any thread (the window thread in the program) and only hands the path to
// the player's own worker thread, which owns the GStreamer playback and does every state change,
// so that opening the sound device never stalls the caller. The destructor stops the sound and
// joins the worker.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace kelo {

class SoundPlayer {
public:
    // audioSink: the sink as a gst-launch description ("autoaudiosink": the desktop's sound
    // output; tests use "fakesink sync=true").
    explicit SoundPlayer(std::string audioSink = "autoaudiosink");
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // Starts `path` (stopping the sound that plays) and returns at once. False, with nothing
    // started, when no such file exists; whether it then plays is the worker's business.
    bool Play(const std::string& path);

    // Any thread: sounds handed to the worker, sounds that played to their end, and sounds that
    // could not be played.
    int requestedCount() const { return requested_.load(); }
    int completedCount() const { return completed_.load(); }
    int failedCount() const { return failed_.load(); }

private:
    void Work();

    const std::string audioSink_;
    std::atomic<int> requested_{0};
    std::atomic<int> completed_{0};
    std::atomic<int> failed_{0};

    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<std::string> pending_; // the next file to play, handed to the worker
    bool stopping_ = false;
    std::thread worker_; // last: starts after every field above exists
};

} // namespace kelo
