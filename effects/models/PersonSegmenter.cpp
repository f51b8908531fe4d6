#include "effects/models/PersonSegmenter.h"

#include <opencv2/imgproc.hpp>

namespace kelo {

namespace {

std::unique_ptr<PersonSegmenter> Refuse(std::string* error, const std::string& text) {
    if (error)
        *error = text;
    return nullptr;
}

} // namespace

std::unique_ptr<PersonSegmenter> PersonSegmenter::FromModel(const TfliteModel& model,
                                                            std::string* error) {
    std::string why;
    auto net = BuildTfliteNet(model, &why);
    if (!net)
        return Refuse(error, "the segmentation model cannot run: " + why);
    const auto& in = net->inputShape;
    if (net->outputs.size() != 1)
        return Refuse(error, "the segmentation model has more than one output");
    const auto& out = net->outputs.front().shape;
    if (out.size() != 4 || in[1] != PersonSegmenter::kInputHeight ||
        in[2] != PersonSegmenter::kInputWidth || in[3] != 3 || out[1] != in[1] || out[2] != in[2] ||
        out[3] != 1)
        return Refuse(error, "the segmentation model has other input or output sizes");
    return std::unique_ptr<PersonSegmenter>(new PersonSegmenter(std::move(*net)));
}

std::unique_ptr<PersonSegmenter> PersonSegmenter::Load(const std::string& path,
                                                       std::string* error) {
    std::string why;
    const auto model = ReadTfliteModelFile(path, &why);
    if (!model)
        return Refuse(error, why);
    return FromModel(*model, error);
}

std::unique_ptr<PersonSegmenter> PersonSegmenter::LoadStudioModel(std::string* error) {
    const StudioTfliteModel& shared = ReadStudioTfliteModel(kSegmentationModelAsset, "segmentation model", false);
    if (!shared.model)
        return Refuse(error, shared.error);
    return FromModel(*shared.model, error);
}

cv::Mat PersonSegmenter::Segment(const cv::Mat& bgr) {
    try {
        // RGB scaled to [0, 1], as the model was trained.
        cv::dnn::blobFromImage(bgr, blob_, 1.0 / 255.0, cv::Size(kInputWidth, kInputHeight),
                               cv::Scalar(), true, false, CV_32F);
        net_.net.setInput(blob_);
        const cv::Mat out = net_.net.forward(net_.outputs.front().layer);
        // [1, 1, H, W]: one plane of probabilities (the model ends in a sigmoid).
        return cv::Mat(kInputHeight, kInputWidth, CV_32F, const_cast<float*>(out.ptr<float>()))
            .clone();
    } catch (const cv::Exception&) {
        return {};
    }
}

} // namespace kelo
