// Face detection for the face cover: the short-range face detector model (a TFLite file of the
// data folder, models/face_detection_short_range.tflite, made for selfie cameras) run as an
// OpenCV network. It finds faces rolled and turned well beyond what a frontal cascade finds, in
// about a millisecond at its 128 x 128 input whatever the frame's size.
//
// The model is read once per process and shared; each detector builds its own network from it,
// because one network must not run on two threads at once. A detector is used by one thread at a
// time (the streaming thread in the program).
#pragma once

#include "effects/models/TfliteNet.h"

#include <array>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace kelo {

// Where the model is looked up, relative to the working directory and then the data folder.
inline constexpr const char* kFaceModelAsset = "models/face_detection_short_range.tflite";

struct FaceBox {
    cv::Rect2f box;  // in the picture's pixels (may reach past its edges for a cut face)
    float score = 0; // 0.5 to 1
    // Right eye, left eye, nose tip, mouth centre, right ear, left ear (the person's right and
    // left), in the picture's pixels.
    std::array<cv::Point2f, 6> keypoints{};
};

// One anchor of the detector's 896: its centre in [0, 1] of the input square.
struct FaceAnchor {
    float x = 0;
    float y = 0;
};

// The detector's anchors in the order of its outputs: a 16 x 16 map of 2 anchors a cell, then an
// 8 x 8 map of 6 anchors a cell, cells row by row, the anchors of a cell together.
const std::vector<FaceAnchor>& FaceAnchors();

// The decoding of the network's raw outputs (one row of 16 regressors and one logit an anchor,
// in the order of FaceAnchors()) into faces of the input square, in [0, 1] of it: anchors
// scoring at least `minScore`, merged by weighted non-maximum suppression (every detection that
// overlaps the best remaining one by more than `mergeOverlap` intersection over union joins it;
// their score-weighted mean is the face, with the best score). Best face first.
std::vector<FaceBox> DecodeFaces(const float* regressors, const float* logits, float minScore,
                                 float mergeOverlap);

class FaceDetector {
public:
    static constexpr int kInputSize = 128;
    static constexpr float kMinScore = 0.5f;
    static constexpr float kMergeOverlap = 0.3f;

    // A detector over the model at `path`. Null and the reason when the file is missing,
    // truncated, damaged, uses an operator the builder does not know, or is not this model.
    static std::unique_ptr<FaceDetector> Load(const std::string& path, std::string* error);
    // A detector over the studio's model (found as an asset, read once per process). Null and
    // the reason as above; the reason is the same for every later call.
    static std::unique_ptr<FaceDetector> LoadStudioModel(std::string* error);

    // The faces of a BGR picture of any size, best first, in the pixel coordinates of the
    // picture upright. `bottomUp`: its first row in memory is the bottom row (only the model's
    // small copy is turned). The picture is letterboxed into the model's square (aspect kept).
    // Throws nothing; no faces when the network fails.
    std::vector<FaceBox> Detect(const cv::Mat& bgr, bool bottomUp = false);

private:
    explicit FaceDetector(TfliteNet net, int regressorsOutput)
        : net_(std::move(net)), regressorsOutput_(regressorsOutput) {}
    static std::unique_ptr<FaceDetector> FromModel(const TfliteModel& model, std::string* error);

    TfliteNet net_;
    std::vector<std::string> outputLayers_;
    int regressorsOutput_ = 0; // which output is [1, 896, 16]; the other is [1, 896, 1]
    // Working pictures, kept from frame to frame so that a frame of the same size allocates
    // nothing.
    cv::Mat square_;
    cv::Mat halfA_; // the picture halved, as often as it fits twice over the input
    cv::Mat halfB_;
    cv::Mat scaled_;
    cv::Mat blob_;
    std::vector<cv::Mat> outputs_;
};

} // namespace kelo
