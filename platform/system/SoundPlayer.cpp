#include "platform/system/SoundPlayer.h"

#include "platform/system/GstRuntime.h"
#include "platform/system/Handles.h"
#include "platform/system/InputFile.h"

#include <chrono>
#include <filesystem>

GST_DEBUG_CATEGORY_STATIC(kelo_sound_debug);
#define GST_CAT_DEFAULT kelo_sound_debug

namespace kelo {
namespace {

// playbin's "flags": audio only.
constexpr guint kPlayAudioOnly = 0x2;
// How often the worker looks at its queue while a sound plays.
constexpr auto kPollInterval = std::chrono::milliseconds(20);

// The playback of one player: made on the first sound, reused for the next ones.
class Playback {
public:
    explicit Playback(const std::string& audioSink) {
        EnsureGstInitialized();
        playbin_ = ElementPtr::RefSink(gst_element_factory_make("playbin", nullptr));
        if (!playbin_) {
            GST_WARNING("no playbin: sounds stay silent");
            return;
        }
        GErrorPtr error;
        GError* raw = nullptr;
        GstElement* sink = gst_parse_bin_from_description(audioSink.c_str(), TRUE, &raw);
        error.reset(raw);
        if (sink)
            g_object_set(playbin_.get(), "audio-sink", sink, nullptr); // playbin sinks the ref
        else
            GST_WARNING("audio sink '%s': %s", audioSink.c_str(), error ? error->message : "?");
        g_object_set(playbin_.get(), "flags", kPlayAudioOnly, nullptr);
        bus_ = BusPtr(gst_element_get_bus(playbin_.get()));
    }
    ~Playback() { Stop(); }

    bool Start(const std::string& path) {
        if (!playbin_)
            return false;
        Stop();
        // The file is opened here, without waiting and only when it is a regular file, and
        // playbin is given that open file: its own open of the path would wait forever on a
        // pipe put there, and the worker would never come back (nor the program end).
        InputFile file = OpenInputFile(path);
        if (file.status != InputFileStatus::Ok) {
            GST_INFO("%s: %s", path.c_str(), DescribeInputFailure(file.status, file.error).c_str());
            return false;
        }
        file_ = std::move(file.fd);
        const std::string opened = "/proc/self/fd/" + std::to_string(file_.get());
        GErrorPtr error;
        GError* raw = nullptr;
        GCharPtr uri(gst_filename_to_uri(opened.c_str(), &raw));
        error.reset(raw);
        if (!uri) {
            GST_INFO("%s: %s", path.c_str(), error ? error->message : "no URI");
            return false;
        }
        g_object_set(playbin_.get(), "uri", uri.get(), nullptr);
        if (gst_element_set_state(playbin_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            GST_INFO("%s: playback does not start (no sound device?)", path.c_str());
            Stop();
            return false;
        }
        playing_ = true;
        return true;
    }

    // Waits up to `timeout` for the end of the sound or an error. 1: ended, -1: failed, 0: still
    // playing (or nothing plays).
    int Poll(std::chrono::milliseconds timeout) {
        if (!playing_ || !bus_)
            return 0;
        MessagePtr message(gst_bus_timed_pop_filtered(
            bus_.get(), static_cast<GstClockTime>(timeout.count()) * GST_MSECOND,
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        if (!message)
            return 0;
        int result = 1;
        if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
            GError* raw = nullptr;
            gchar* debug = nullptr;
            gst_message_parse_error(message.get(), &raw, &debug);
            GErrorPtr error(raw);
            GCharPtr details(debug);
            GST_INFO("%s: %s", GST_OBJECT_NAME(GST_MESSAGE_SRC(message.get())),
                     error ? error->message : "?");
            result = -1;
        }
        Stop();
        return result;
    }

    bool playing() const { return playing_; }

    void Stop() {
        playing_ = false;
        if (!playbin_)
            return;
        gst_element_set_state(playbin_.get(), GST_STATE_NULL);
        // Messages of the sound that ended must not end the next one.
        if (bus_) {
            gst_bus_set_flushing(bus_.get(), TRUE);
            gst_bus_set_flushing(bus_.get(), FALSE);
        }
        file_.reset(); // playbin has let go of it in NULL
    }

private:
    UniqueFd file_; // the sound being played, while it plays
    ElementPtr playbin_;
    BusPtr bus_;
    bool playing_ = false;
};

} // namespace

SoundPlayer::SoundPlayer(std::string audioSink)
    : audioSink_(std::move(audioSink)), worker_([this] { Work(); }) {}

SoundPlayer::~SoundPlayer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

bool SoundPlayer::Play(const std::string& path) {
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error))
        return false;
    {
        std::lock_guard lock(mutex_);
        pending_ = path;
    }
    requested_.fetch_add(1);
    wake_.notify_all();
    return true;
}

void SoundPlayer::Work() {
    // Worker thread: owns the playback from here to its end.
    EnsureGstInitialized();
    GST_DEBUG_CATEGORY_INIT(kelo_sound_debug, "kelo-sound", 0, "Kelo asynchronous sounds");
    std::optional<Playback> playback;
    std::unique_lock lock(mutex_);
    for (;;) {
        const bool playing = playback && playback->playing();
        auto ready = [this] { return stopping_ || pending_.has_value(); };
        if (!playing)
            wake_.wait(lock, ready);
        if (stopping_)
            break;
        std::optional<std::string> next = std::exchange(pending_, std::nullopt);
        lock.unlock();
        if (next) {
            if (!playback)
                playback.emplace(audioSink_);
            if (!playback->Start(*next))
                failed_.fetch_add(1);
        }
        if (playback && playback->playing()) {
            const int ended = playback->Poll(kPollInterval);
            if (ended > 0)
                completed_.fetch_add(1);
            else if (ended < 0)
                failed_.fetch_add(1);
        }
        lock.lock();
    }
    lock.unlock();
    playback.reset(); // stops a sound that still plays
}

} // namespace kelo
