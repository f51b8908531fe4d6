// Builds an OpenCV network (cv::dnn::Net, default CPU backend) from a TFLite model read by
// ReadTfliteModel. OpenCV has no TFLite importer; this builder knows the operators of the
// studio's models: CONV_2D, DEPTHWISE_CONV_2D, HARD_SWISH, RELU, MEAN over height and width,
// LOGISTIC, MUL (same shapes, or one operand of one value per channel), ADD, RESIZE_BILINEAR,
// DEQUANTIZE of constant half-precision weights (done once here), the custom transposed
// convolution with bias (the person segmentation), and PAD, MAX_POOL_2D, RESHAPE and
// CONCATENATION (the face detector). Four-dimensional activations are NHWC tensors in the model
// and NCHW blobs in the network (weights, paddings and axes are rearranged accordingly); tensors
// of any other rank keep the model's order, and a RESHAPE between the two goes through NHWC.
//
// Anything else (another operator, a fifth dimension, weights that do not fit the tensors they
// are applied to) gives an error text naming the operator, and no network.
#pragma once

#include "effects/models/TfliteModel.h"

#include <opencv2/dnn.hpp>
#include <optional>
#include <string>

namespace kelo {

struct TfliteNetOutput {
    std::string layer;               // the layer whose output is this output of the model
    std::string name;                // the tensor's name in the model
    std::vector<std::int32_t> shape; // as in the model (NHWC when four-dimensional)
};

struct TfliteNet {
    cv::dnn::Net net;
    std::string inputName;
    std::vector<std::int32_t> inputShape; // NHWC, as in the model
    std::vector<TfliteNetOutput> outputs; // in the model's order
    // The layer names of `outputs`, for cv::dnn::Net::forward.
    std::vector<std::string> OutputLayers() const;
};

std::optional<TfliteNet> BuildTfliteNet(const TfliteModel& model, std::string* error);

} // namespace kelo
