// The recording graphs of CaptureEngine: BuildRecordGraph and ConfigureAsfWriter. The rest of
// the engine is in CaptureEngine.cpp.
//
// Threads: owner's thread, while the graph is stopped. After Run the streaming threads carry the
// samples to the file; nothing here runs on them. Destroying the engine completes the file: the
// graph's Stop sends end-of-stream and waits (bounded) until it has reached the sinks before the
// pipeline goes to NULL, so the muxer writes its headers and index.
#include "engine/CaptureEngine.h"
#include "platform/filters/AsfProfile.h"
#include "platform/filters/AsfWriterFilter.h"
#include "platform/filters/MediaFileWriter.h"
#include "platform/contracts/VideoMode.h"
#include "platform/graph/ClassIds.h"
#include "platform/graph/MediaType.h"

#include <ctime>

namespace kelo {

namespace {

// Names the recording graph gives its filters.
constexpr const char* kSmartTeeName = "SmartTee filter";
constexpr const char* kColorConversionPreName = "Color Conversion Pre";
constexpr const char* kColorConversionCapName = "Color Conversion Cap";
constexpr const char* kRenderName = "Render";
constexpr const char* kAsfWriterName = "pAsfWrite";
constexpr const char* kMediaWriterName = "Media File Writer";

// Stream indexes of the writer's default profile.
constexpr std::uint32_t kAsfAudioStream = 0;
constexpr std::uint32_t kAsfVideoStream = 1;

// A filter created by class identifier and added under its name; false when either failed.
bool CreateAndAdd(const ClassRegistry& registry, IGraphBuilder& graph, std::string_view classId,
                  const char* name, FilterPtr* filter) {
    if (FAILED(registry.CreateInstance(classId, filter)) || !*filter)
        return false;
    return SUCCEEDED(graph.AddFilter(*filter, name));
}

} // namespace

HRESULT CaptureEngine::BuildRecordGraph(RecordKind kind, const std::string& folder) {
    if (!graph_ || !captureBuilder_ || !RecordKindFromInt(static_cast<int>(kind)))
        return E_FAIL;
    const RecordKindInfo& info = DescribeRecordKind(kind);

    // 1. The file: folder, local time, the kind's extension.
    recordFile_ = RecordFileName(folder, kind, std::time(nullptr));

    // 2. The effect chain; ProxyTrans comes after the Overlay Filer here, so the recording shows
    // the overlay before FrameCallback runs.
    if (!ConnectFilters(videoSource_, colorConverter_) ||
        !ConnectThroughBlur(colorConverter_, bmpOverlayFilter_) ||
        !ConnectFilters(bmpOverlayFilter_, overlayFilter_) ||
        !ConnectFilters(overlayFilter_, proxyTransFilter_) ||
        !ConnectFilters(proxyTransFilter_, sampleGrabber_))
        return E_FAIL;

    // 3. The Smart Tee after the Sample Grabber.
    FilterPtr tee;
    if (!CreateAndAdd(registry_, *graph_, CLSID_SmartTee, kSmartTeeName, &tee))
        return E_FAIL;
    if (!ConnectFilters(sampleGrabber_, tee))
        return E_FAIL;

    // 4. Converters for the preview and the capture branch.
    FilterPtr convertPre;
    FilterPtr convertCap;
    if (!CreateAndAdd(registry_, *graph_, CLSID_Colour, kColorConversionPreName, &convertPre) ||
        !CreateAndAdd(registry_, *graph_, CLSID_Colour, kColorConversionCapName, &convertCap))
        return E_FAIL;

    // 5. The capture branch takes the tee's first output.
    if (info.hasVideo && !ConnectFilters(tee, convertCap))
        return E_FAIL;

    // 6. The preview branch: the tee's next output (its first for the audio-only kinds).
    if (!ConnectFilters(tee, convertPre))
        return E_FAIL;
    FilterPtr renderer;
    if (FAILED(registry_.CreateInstance(CLSID_VideoRenderer, &renderer)) || !renderer)
        return E_FAIL;
    graph_->AddFilter(renderer, kRenderName);
    if (!ConnectFilters(convertPre, renderer))
        return E_FAIL;

    // 7. The file branch.
    auto renderAudio = [this](const FilterPtr& compressor, const FilterPtr& sink) {
        return SUCCEEDED(captureBuilder_->RenderStream(PIN_CATEGORY_CAPTURE, MEDIATYPE_Audio,
                                                       audioSource_, compressor, sink));
    };
    FilterPtr mux;
    auto aviFile = [&] {
        return SUCCEEDED(
            captureBuilder_->SetOutputFileName(MEDIASUBTYPE_Avi, recordFile_, &mux, nullptr));
    };
    // ".mp4", ".mp3" and ".wav": the writer of the container the name says, H.264 at the
    // capture mode's bit rate.
    auto mediaFile = [&](MediaContainer container) {
        MediaWriterSettings settings;
        settings.audio = info.hasAudio;
        settings.video = info.hasVideo;
        settings.framesPerSecond = RecordingMode().framesPerSecond;
        settings.videoBitsPerSecond =
            ScaleBitrateToMode(MediaFileWriter::kH264BitsPerSecondAtDefault,
                               RecordingMode());
        auto writer = MediaFileWriter::Create(container, settings);
        if (!writer || FAILED(writer->SetFileName(recordFile_, nullptr)) ||
            FAILED(graph_->AddFilter(writer, kMediaWriterName)))
            return false;
        mediaWriter_ = writer;
        return true;
    };
    switch (kind) {
    case RecordKind::AviVideoAudio:
        if (!aviFile() || !renderAudio(nullptr, mux) || !ConnectFilters(convertCap, mux))
            return E_FAIL;
        break;
    case RecordKind::AviVideo:
        if (!aviFile() || !ConnectFilters(convertCap, mux))
            return E_FAIL;
        break;
    case RecordKind::PcmAudio:
        if (!aviFile() || !renderAudio(nullptr, mux))
            return E_FAIL;
        break;
    case RecordKind::WmvVideoAudio:
        if (ConfigureAsfWriter(recordFile_, AsfStreams::AudioVideo) == E_FAIL ||
            !renderAudio(nullptr, asfWriter_) || !ConnectFilters(convertCap, asfWriter_))
            return E_FAIL;
        break;
    case RecordKind::WmvVideo:
        if (ConfigureAsfWriter(recordFile_, AsfStreams::Video) == E_FAIL ||
            !ConnectFilters(convertCap, asfWriter_))
            return E_FAIL;
        break;
    case RecordKind::WavAudio:
        if (!mediaFile(MediaContainer::Wav) || !renderAudio(nullptr, mediaWriter_))
            return E_FAIL;
        break;
    case RecordKind::Mp4VideoAudio:
        if (!mediaFile(MediaContainer::Mp4) || !renderAudio(nullptr, mediaWriter_) ||
            !ConnectFilters(convertCap, mediaWriter_))
            return E_FAIL;
        break;
    case RecordKind::Mp4Video:
        if (!mediaFile(MediaContainer::Mp4) || !ConnectFilters(convertCap, mediaWriter_))
            return E_FAIL;
        break;
    case RecordKind::Mp3Audio:
        if (!mediaFile(MediaContainer::Mp3) || !renderAudio(nullptr, mediaWriter_))
            return E_FAIL;
        break;
    }

    // The marker that says the file is being written; gone once it is finished.
    (void)recordingMarker_.Create(recordFile_); // without it the file is still written

    // 8.
    (void)PlaceVideoWindow(); // always S_OK; a graph without a window has nothing to place
    return S_OK;
}

HRESULT CaptureEngine::ConfigureAsfWriter(const std::string& file, AsfStreams streams) {
    if (!graph_)
        return E_FAIL;
    // 1. The writer, its file, its place in the graph.
    if (FAILED(registry_.CreateInstance(CLSID_WMAsfWriter, &asfWriter_)) || !asfWriter_)
        return E_FAIL;
    auto fileSink = std::dynamic_pointer_cast<IFileSinkFilter>(asfWriter_);
    if (!fileSink || FAILED(fileSink->SetFileName(file, nullptr)))
        return E_FAIL;
    if (FAILED(graph_->AddFilter(asfWriter_, kAsfWriterName)))
        return E_FAIL;

    // 2. A new, empty profile.
    auto config = std::dynamic_pointer_cast<IConfigAsfWriter>(asfWriter_);
    if (!config)
        return E_FAIL;
    WmProfileManager manager;
    WmProfile profile;
    if (FAILED(manager.SetSystemProfileVersion(WmtVersion::V8_0)) ||
        FAILED(manager.CreateEmptyProfile(WmtVersion::V8_0, &profile)))
        return E_FAIL;

    // 3. The audio stream of the writer's profile, unchanged.
    if (streams == AsfStreams::Audio || streams == AsfStreams::AudioVideo) {
        WmProfile current;
        WmStreamConfig audio;
        WmMediaType type;
        if (FAILED(config->GetCurrentProfile(&current)) ||
            FAILED(current.GetStream(kAsfAudioStream, &audio)) ||
            FAILED(audio.GetMediaType(&type)) || FAILED(audio.SetMediaType(type)) ||
            FAILED(current.ReconfigStream(audio)))
            return E_FAIL;
        (void)profile.ReconfigStream(audio); // an empty profile has no such stream yet
        if (FAILED(profile.AddStream(audio)))
            return E_FAIL;
    }

    // 4. The video stream of the writer's profile, at the capture size and rate, 32 bits.
    if (streams == AsfStreams::Video || streams == AsfStreams::AudioVideo) {
        WmProfile current;
        WmStreamConfig video;
        WmMediaType type;
        if (FAILED(config->GetCurrentProfile(&current)) ||
            FAILED(current.GetStream(kAsfVideoStream, &video)) || FAILED(video.GetMediaType(&type)))
            return E_FAIL;
        // The size and rate the camera delivers; the bit rate scaled with its pixel rate.
        const VideoMode mode = RecordingMode();
        video.SetBitrate(ScaleBitrateToMode(video.GetBitrate(), mode));
        VideoInfoHeader& header = type.video;
        header.biWidth = mode.width;
        header.biHeight = mode.height;
        // With the bit count the stream had, before it becomes 32.
        header.biSizeImage = DibImageSize(header.biWidth, header.biHeight, header.biBitCount);
        header.biBitCount = 32;
        header.biSize = 40;
        header.biPlanes = 1;
        // A rate of 0 would divide by zero: the duration stays unknown instead.
        header.AvgTimePerFrame =
            mode.framesPerSecond > 0 ? kUnitsPerSecond / mode.framesPerSecond : 0;
        type.formatType = WmFormatType::VideoInfo;
        type.formatSize = kVideoInfoFormatSize;
        type.fixedSizeSamples = true;
        type.sampleSize = header.biSizeImage;
        if (FAILED(video.SetMediaType(type)) || FAILED(current.ReconfigStream(video)))
            return E_FAIL;
        (void)profile.ReconfigStream(video); // as for the audio stream: not there yet
        if (FAILED(profile.AddStream(video)))
            return E_FAIL;
    }

    // 5. The writer builds its inputs and encoders from the new profile; it writes an index.
    config->ConfigureFilterUsingProfile(profile);
    config->SetIndexMode(true);
    return S_OK;
}

} // namespace kelo
