// Person segmentation for the background blur: the selfie segmentation model (a TFLite file of
// the data folder, models/selfie_segmentation_landscape.tflite) run as an OpenCV network. The
// model is read once per process and shared; each segmenter builds its own network from it,
// because one network must not run on two threads at once.
#pragma once

#include "effects/models/TfliteNet.h"

#include <memory>
#include <opencv2/core.hpp>
#include <string>

namespace kelo {

// Where the model is looked up, relative to the working directory and then the data folder.
inline constexpr const char* kSegmentationModelAsset =
    "models/selfie_segmentation_landscape.tflite";

class PersonSegmenter {
public:
    // The model's input size.
    static constexpr int kInputWidth = 256;
    static constexpr int kInputHeight = 144;

    // A segmenter over the model at `path`. Null and the reason when the file is missing,
    // truncated, damaged or uses an operator the builder does not know.
    static std::unique_ptr<PersonSegmenter> Load(const std::string& path, std::string* error);
    // A segmenter over the studio's model (found as an asset, read once per process). Null and
    // the reason as above; the reason is the same for every later call.
    static std::unique_ptr<PersonSegmenter> LoadStudioModel(std::string* error);

    // The person probability (0 to 1, CV_32F, kInputHeight x kInputWidth) of an upright BGR
    // picture of any size. Throws nothing; an empty Mat when the network fails.
    cv::Mat Segment(const cv::Mat& bgr);

private:
    explicit PersonSegmenter(TfliteNet net) : net_(std::move(net)) {}
    static std::unique_ptr<PersonSegmenter> FromModel(const TfliteModel& model, std::string* error);
    TfliteNet net_;
    cv::Mat blob_;
};

} // namespace kelo
