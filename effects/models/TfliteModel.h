// A reader of TensorFlow Lite model files (the FlatBuffers layout), as far as the studio's models
// (the background blur's person segmentation, the face cover's face detector) need it: the first
// subgraph's tensors (shape, type, constant data), its operators (code, inputs, outputs, the
// options the builder uses) and its input and output tensors.
//
// The file is input: every offset, count and index is checked against the file's bytes before
// it is followed, and a file that does not hold together gives an error text, never a crash or
// a read outside the buffer. Tensor data stays in the model's own copy of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kelo {

enum class TfliteType : std::int8_t {
    Float32 = 0,
    Float16 = 1,
    Int32 = 2,
    UInt8 = 3,
    Int8 = 9,
};

// Builtin operator codes the studio's models use.
enum class TfliteOp : std::int32_t {
    Add = 0,
    Concatenation = 2,
    Conv2D = 3,
    DepthwiseConv2D = 4,
    Dequantize = 6,
    Logistic = 14,
    MaxPool2D = 17,
    Mul = 18,
    Relu = 19,
    Reshape = 22,
    ResizeBilinear = 23,
    Custom = 32,
    Pad = 34,
    Mean = 40,
    HardSwish = 117,
};

// Fused activation of convolutions, pooling, concatenation, ADD and MUL.
enum class TfliteActivation : std::int8_t { None = 0, Relu = 1, ReluN1To1 = 2, Relu6 = 3 };

struct TfliteTensor {
    std::vector<std::int32_t> shape;
    TfliteType type = TfliteType::Float32;
    std::string name;
    // Constant data (a view into TfliteModel::file), empty for activations.
    std::size_t dataOffset = 0;
    std::size_t dataBytes = 0;

    std::size_t ElementCount() const;
};

// The options of one operator, decoded from its options table (fields absent: defaults).
struct TfliteOptions {
    bool paddingSame = true; // SAME (0) or VALID (1)
    std::int32_t strideW = 1;
    std::int32_t strideH = 1;
    std::int32_t dilationW = 1;
    std::int32_t dilationH = 1;
    std::int32_t depthMultiplier = 1;
    std::int32_t filterW = 1; // pooling window
    std::int32_t filterH = 1;
    std::int32_t axis = 0; // concatenation
    TfliteActivation activation = TfliteActivation::None;
    bool keepDims = false;
    bool alignCorners = false;
    bool halfPixelCenters = false;
    std::vector<std::int32_t> newShape; // reshape (empty: not given in the options)
};

struct TfliteOperator {
    std::int32_t code = 0;             // TfliteOp value (builtin code)
    std::string customCode;            // for TfliteOp::Custom
    std::vector<std::int32_t> inputs;  // tensor indices; -1: optional input absent
    std::vector<std::int32_t> outputs; // tensor indices
    TfliteOptions options;
    std::vector<std::uint8_t> customOptions;
};

struct TfliteModel {
    std::vector<std::uint8_t> file;
    std::vector<TfliteTensor> tensors;
    std::vector<TfliteOperator> operators;
    std::vector<std::int32_t> inputs;
    std::vector<std::int32_t> outputs;

    // The constant bytes of a tensor (empty when it has none).
    std::span<const std::uint8_t> Data(const TfliteTensor& tensor) const;
};

// Reads a model from its bytes (copied into the model). Nothing and an error text when the
// bytes are not a model this reader understands.
std::optional<TfliteModel> ReadTfliteModel(std::span<const std::uint8_t> bytes, std::string* error);
// Reads the file whole (at most 64 MiB) and then as above.
std::optional<TfliteModel> ReadTfliteModelFile(const std::string& path, std::string* error);

// A model of the studio (an asset such as "models/x.tflite", found in the working folder or the
// data folder), read on first use from whichever thread asks first and kept for the process's
// life: the model, or why there is none ("the <what> <asset> is not in ...", or the reader's
// reason), the same for every later call. `quiet`: no "not found" line of its own on stderr (the
// caller says in its own line what it does without the model).
struct StudioTfliteModel {
    std::optional<TfliteModel> model;
    std::string error;
};
const StudioTfliteModel& ReadStudioTfliteModel(const char* asset, const char* what, bool quiet);

} // namespace kelo
