// Builds an OpenCV network (cv::dnn::Net, default CPU backend) from a TFLite model read by
// ReadTfliteModel. OpenCV has no TFLite importer; this builder knows the eleven operators of the
// person segmentation model: CONV_2D, DEPTHWISE_CONV_2D, HARD_SWISH, RELU, MEAN over height and
// width, LOGISTIC, MUL (same shapes, or one operand of one value per channel), ADD,
// RESIZE_BILINEAR, DEQUANTIZE of constant half-precision weights (done once here) and the custom
// transposed convolution with bias. Activations are four-dimensional NHWC tensors in the model and
// NCHW blobs in the network; weights are rearranged accordingly.
//
// Anything else (another operator, a fifth dimension, weights that do not fit the tensors they
// are applied to) gives an error text naming the operator, and no network.
#pragma once

#include "effects/TfliteModel.h"

#include <opencv2/dnn.hpp>
#include <optional>
#include <string>

namespace kelo {

struct TfliteNet {
    cv::dnn::Net net;
    std::string inputName;
    std::string outputName;                // the layer whose output is the model's output
    std::vector<std::int32_t> inputShape;  // NHWC, as in the model
    std::vector<std::int32_t> outputShape; // NHWC, as in the model
};

std::optional<TfliteNet> BuildTfliteNet(const TfliteModel& model, std::string* error);

} // namespace kelo
