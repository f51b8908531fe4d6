#include "effects/models/TfliteNet.h"

#include <cstring>
#include <map>

namespace kelo {

namespace {

using Shape = std::vector<std::int32_t>;

// A tensor as the network knows it: the output of a layer (id, output number).
struct LayerOutput {
    int layer = 0;
    int output = 0;
};

class NetBuilder {
public:
    explicit NetBuilder(const TfliteModel& model) : model_(model) {}

    std::optional<TfliteNet> Build(std::string* error);

private:
    bool Fail(std::size_t op, const std::string& text) {
        error_ = "operator " + std::to_string(op) + ": " + text;
        return false;
    }
    const TfliteTensor& Tensor(std::int32_t index) const {
        return model_.tensors[static_cast<std::size_t>(index)];
    }
    static bool Is4D(const TfliteTensor& t) { return t.shape.size() == 4 && t.shape[0] == 1; }
    // Four-dimensional tensors are NCHW blobs in the network; all others keep the model's order.
    static bool IsNchwInNet(const TfliteTensor& t) { return t.shape.size() == 4; }
    // The integers of a constant INT32 tensor (nothing when it is not one).
    std::optional<std::vector<std::int32_t>> ConstantInts(std::int32_t index) const;

    bool AddOperator(std::size_t index, const TfliteOperator& op);
    bool AddConvolution(std::size_t index, const TfliteOperator& op, bool depthwise);
    bool AddTransposedConvolution(std::size_t index, const TfliteOperator& op);
    bool AddElementwise(std::size_t index, const TfliteOperator& op);
    bool AddMean(std::size_t index, const TfliteOperator& op);
    bool AddResize(std::size_t index, const TfliteOperator& op);
    bool AddPad(std::size_t index, const TfliteOperator& op);
    bool AddMaxPool(std::size_t index, const TfliteOperator& op);
    bool AddReshape(std::size_t index, const TfliteOperator& op);
    bool AddConcatenation(std::size_t index, const TfliteOperator& op);
    bool Dequantize(std::size_t index, const TfliteOperator& op);

    // Adds a layer fed by the given tensors and records it as the producer of `output`, after
    // the fused activation when there is one.
    bool AddLayer(std::size_t index, cv::dnn::LayerParams& params,
                  const std::vector<std::int32_t>& inputs, std::int32_t output,
                  TfliteActivation activation = TfliteActivation::None);
    // The float data of a constant tensor (FLOAT32 in the file, or made by DEQUANTIZE).
    const cv::Mat* Constant(std::int32_t index) const;
    std::optional<LayerOutput> Producer(std::int32_t index) const;

    const TfliteModel& model_;
    cv::dnn::Net net_;
    std::map<std::int32_t, LayerOutput> producers_;
    std::map<std::int32_t, cv::Mat> constants_;
    std::string error_;
};

cv::Mat FloatData(const TfliteModel& model, const TfliteTensor& t) {
    const auto bytes = model.Data(t);
    const int count = static_cast<int>(t.ElementCount());
    cv::Mat out(1, count, CV_32F);
    if (t.type == TfliteType::Float32 && bytes.size() == out.total() * 4) {
        std::memcpy(out.data, bytes.data(), bytes.size());
    } else if (t.type == TfliteType::Float16 && bytes.size() == out.total() * 2) {
        cv::Mat half(1, count, CV_16F); // aligned copy: the file's bytes need not be
        std::memcpy(half.data, bytes.data(), bytes.size());
        half.convertTo(out, CV_32F);
    } else {
        return {};
    }
    return out;
}

// Weights [O, H, W, I] (or [1, H, W, O] for depthwise, as O filters of one input channel)
// rearranged into OpenCV's [O, I, H, W].
cv::Mat ConvWeights(const cv::Mat& data, const Shape& shape, bool depthwise) {
    const int o = depthwise ? shape[3] : shape[0];
    const int h = shape[1];
    const int w = shape[2];
    const int i = depthwise ? 1 : shape[3];
    const int size[] = {o, i, h, w};
    cv::Mat out(4, size, CV_32F);
    const auto* src = data.ptr<float>();
    auto* dst = out.ptr<float>();
    for (int a = 0; a < o; ++a)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < i; ++c) {
                    const std::size_t from =
                        depthwise ? (static_cast<std::size_t>(y) * w + x) * o + a
                                  : ((static_cast<std::size_t>(a) * h + y) * w + x) * i + c;
                    dst[((static_cast<std::size_t>(a) * i + c) * h + y) * w + x] = src[from];
                }
    return out;
}

} // namespace

const cv::Mat* NetBuilder::Constant(std::int32_t index) const {
    if (index < 0)
        return nullptr;
    auto it = constants_.find(index);
    return it == constants_.end() ? nullptr : &it->second;
}

std::optional<LayerOutput> NetBuilder::Producer(std::int32_t index) const {
    auto it = producers_.find(index);
    if (it == producers_.end())
        return std::nullopt;
    return it->second;
}

std::optional<std::vector<std::int32_t>> NetBuilder::ConstantInts(std::int32_t index) const {
    if (index < 0)
        return std::nullopt;
    const TfliteTensor& t = Tensor(index);
    const auto data = model_.Data(t);
    if (t.type != TfliteType::Int32 || data.size() != t.ElementCount() * 4)
        return std::nullopt;
    std::vector<std::int32_t> values(t.ElementCount());
    if (!values.empty())
        std::memcpy(values.data(), data.data(), data.size());
    return values;
}

bool NetBuilder::AddLayer(std::size_t index, cv::dnn::LayerParams& params,
                          const std::vector<std::int32_t>& inputs, std::int32_t output,
                          TfliteActivation activation) {
    const std::string name = "op" + std::to_string(index);
    const int id = net_.addLayer(name, params.type, params);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const auto from = Producer(inputs[i]);
        if (!from)
            return Fail(index, "input tensor " + std::to_string(inputs[i]) + " is not computed");
        net_.connect(from->layer, from->output, id, static_cast<int>(i));
    }
    LayerOutput out{id, 0};
    if (activation != TfliteActivation::None) {
        cv::dnn::LayerParams act;
        if (activation == TfliteActivation::Relu) {
            act.type = "ReLU";
        } else {
            act.type = "ReLU6";
            act.set("min_value", activation == TfliteActivation::Relu6 ? 0.f : -1.f);
            act.set("max_value", activation == TfliteActivation::Relu6 ? 6.f : 1.f);
        }
        const int actId = net_.addLayer(name + "_act", act.type, act);
        net_.connect(id, 0, actId, 0);
        out = {actId, 0};
    }
    producers_[output] = out;
    return true;
}

bool NetBuilder::Dequantize(std::size_t index, const TfliteOperator& op) {
    if (op.inputs.size() != 1 || op.outputs.size() != 1 || op.inputs[0] < 0)
        return Fail(index, "DEQUANTIZE takes one tensor");
    const TfliteTensor& in = Tensor(op.inputs[0]);
    if (in.type != TfliteType::Float16 || in.dataBytes == 0)
        return Fail(index, "DEQUANTIZE of anything but constant half-precision data");
    if (Tensor(op.outputs[0]).ElementCount() != in.ElementCount())
        return Fail(index, "DEQUANTIZE changes the element count");
    constants_[op.outputs[0]] = FloatData(model_, in);
    return true;
}

bool NetBuilder::AddConvolution(std::size_t index, const TfliteOperator& op, bool depthwise) {
    if (op.inputs.size() < 2 || op.outputs.size() != 1 || op.inputs[0] < 0)
        return Fail(index, "convolution without data and weights");
    const TfliteTensor& in = Tensor(op.inputs[0]);
    const TfliteTensor& out = Tensor(op.outputs[0]);
    const cv::Mat* weights = Constant(op.inputs[1]);
    const cv::Mat* bias = op.inputs.size() > 2 ? Constant(op.inputs[2]) : nullptr;
    if (!Is4D(in) || !Is4D(out) || !weights)
        return Fail(index, "convolution of a tensor that is not NHWC, or weights not constant");
    const Shape& w = Tensor(op.inputs[1]).shape;
    const int inChannels = in.shape[3];
    const int outChannels = out.shape[3];
    const TfliteOptions& o = op.options;
    const bool fits = w.size() == 4 && w[1] > 0 && w[2] > 0 &&
                      (depthwise ? (w[0] == 1 && w[3] == outChannels &&
                                    outChannels == inChannels * o.depthMultiplier)
                                 : (w[0] == outChannels && w[3] == inChannels)) &&
                      (!bias || static_cast<int>(bias->total()) == outChannels) && o.strideW > 0 &&
                      o.strideH > 0 && o.dilationW > 0 && o.dilationH > 0;
    if (!fits)
        return Fail(index, "convolution weights do not fit its tensors");

    cv::dnn::LayerParams p;
    p.type = "Convolution";
    p.set("kernel_h", w[1]);
    p.set("kernel_w", w[2]);
    p.set("stride_h", o.strideH);
    p.set("stride_w", o.strideW);
    p.set("dilation_h", o.dilationH);
    p.set("dilation_w", o.dilationW);
    p.set("pad_mode", o.paddingSame ? "SAME" : "VALID");
    p.set("num_output", outChannels);
    p.set("group", depthwise ? inChannels : 1);
    p.set("bias_term", bias != nullptr);
    p.blobs.push_back(ConvWeights(*weights, w, depthwise));
    if (bias)
        p.blobs.push_back(bias->clone());
    return AddLayer(index, p, {op.inputs[0]}, op.outputs[0], o.activation);
}

bool NetBuilder::AddTransposedConvolution(std::size_t index, const TfliteOperator& op) {
    if (op.customCode != "Convolution2DTransposeBias")
        return Fail(index, "unknown custom operator '" + op.customCode + "'");
    if (op.inputs.size() != 3 || op.outputs.size() != 1 || op.inputs[0] < 0 ||
        op.customOptions.size() < 12)
        return Fail(index, "transposed convolution without data, weights, bias and options");
    std::int32_t padding = 0;
    std::int32_t strideW = 0;
    std::int32_t strideH = 0;
    std::memcpy(&padding, op.customOptions.data(), 4);
    std::memcpy(&strideW, op.customOptions.data() + 4, 4);
    std::memcpy(&strideH, op.customOptions.data() + 8, 4);
    const TfliteTensor& in = Tensor(op.inputs[0]);
    const TfliteTensor& out = Tensor(op.outputs[0]);
    const cv::Mat* weights = Constant(op.inputs[1]);
    const cv::Mat* bias = Constant(op.inputs[2]);
    if (!Is4D(in) || !Is4D(out) || !weights || !bias)
        return Fail(index, "transposed convolution of a tensor that is not NHWC");
    const Shape& w = Tensor(op.inputs[1]).shape;
    const int outChannels = out.shape[3];
    if (w.size() != 4 || w[0] != outChannels || w[3] != in.shape[3] || w[1] <= 0 || w[2] <= 0 ||
        static_cast<int>(bias->total()) != outChannels || strideW <= 0 || strideH <= 0 ||
        strideW > 64 || strideH > 64)
        return Fail(index, "transposed convolution weights do not fit its tensors");

    // [O, H, W, I] -> OpenCV's [I, O, H, W]: the [O, I, H, W] order with the first two swapped.
    const cv::Mat oihw = ConvWeights(*weights, w, false);
    const int o = w[0], h = w[1], wd = w[2], i = w[3];
    const int size[] = {i, o, h, wd};
    cv::Mat iohw(4, size, CV_32F);
    const std::size_t plane = static_cast<std::size_t>(h) * wd;
    for (int a = 0; a < o; ++a)
        for (int c = 0; c < i; ++c)
            std::memcpy(iohw.ptr<float>() + (static_cast<std::size_t>(c) * o + a) * plane,
                        oihw.ptr<float>() + (static_cast<std::size_t>(a) * i + c) * plane,
                        plane * sizeof(float));

    cv::dnn::LayerParams p;
    p.type = "Deconvolution";
    p.set("kernel_h", h);
    p.set("kernel_w", wd);
    p.set("stride_h", strideH);
    p.set("stride_w", strideW);
    p.set("pad_mode", padding == 1 ? "VALID" : "SAME");
    p.set("num_output", o);
    p.set("bias_term", true);
    p.blobs.push_back(iohw);
    p.blobs.push_back(bias->clone());
    return AddLayer(index, p, {op.inputs[0]}, op.outputs[0]);
}

bool NetBuilder::AddElementwise(std::size_t index, const TfliteOperator& op) {
    const bool mul = op.code == static_cast<std::int32_t>(TfliteOp::Mul);
    if (op.inputs.size() != 2 || op.outputs.size() != 1 || op.inputs[0] < 0 || op.inputs[1] < 0)
        return Fail(index, "ADD or MUL without two inputs");
    const TfliteTensor& a = Tensor(op.inputs[0]);
    const TfliteTensor& b = Tensor(op.inputs[1]);
    const TfliteTensor& out = Tensor(op.outputs[0]);
    if (!Is4D(a) || !Is4D(b) || !Is4D(out))
        return Fail(index, "ADD or MUL of tensors that are not NHWC");
    cv::dnn::LayerParams p;
    if (a.shape == b.shape && a.shape == out.shape) {
        p.type = "Eltwise";
        p.set("operation", mul ? "prod" : "sum");
        return AddLayer(index, p, op.inputs, op.outputs[0], op.options.activation);
    }
    // One value per channel times a whole tensor: a scale layer fed by both.
    const auto perChannel = [](const TfliteTensor& t, const TfliteTensor& full) {
        return t.shape[1] == 1 && t.shape[2] == 1 && t.shape[3] == full.shape[3];
    };
    const bool bSmall = perChannel(b, a) && a.shape == out.shape;
    const bool aSmall = perChannel(a, b) && b.shape == out.shape;
    if (!mul || !(aSmall || bSmall))
        return Fail(index, "a broadcast this builder does not know");
    p.type = "Scale";
    p.set("axis", 1);
    p.set("bias_term", false);
    const std::vector<std::int32_t> order =
        bSmall ? op.inputs : std::vector<std::int32_t>{op.inputs[1], op.inputs[0]};
    return AddLayer(index, p, order, op.outputs[0], op.options.activation);
}

bool NetBuilder::AddMean(std::size_t index, const TfliteOperator& op) {
    if (op.inputs.size() != 2 || op.outputs.size() != 1 || op.inputs[0] < 0 || op.inputs[1] < 0)
        return Fail(index, "MEAN without data and axes");
    const TfliteTensor& axes = Tensor(op.inputs[1]);
    const auto data = model_.Data(axes);
    std::int32_t values[2] = {0, 0};
    if (axes.type != TfliteType::Int32 || data.size() != sizeof values)
        return Fail(index, "MEAN axes are not two constant integers");
    std::memcpy(values, data.data(), sizeof values);
    const bool heightWidth =
        (values[0] == 1 && values[1] == 2) || (values[0] == 2 && values[1] == 1);
    if (!heightWidth || !op.options.keepDims || !Is4D(Tensor(op.outputs[0])))
        return Fail(index, "MEAN over anything but height and width, kept");
    cv::dnn::LayerParams p;
    p.type = "Pooling";
    p.set("pool", "ave");
    p.set("global_pooling", true);
    return AddLayer(index, p, {op.inputs[0]}, op.outputs[0]);
}

bool NetBuilder::AddResize(std::size_t index, const TfliteOperator& op) {
    if (op.inputs.size() != 2 || op.outputs.size() != 1 || op.inputs[0] < 0 || op.inputs[1] < 0)
        return Fail(index, "RESIZE_BILINEAR without data and size");
    const TfliteTensor& size = Tensor(op.inputs[1]);
    const auto data = model_.Data(size);
    std::int32_t hw[2] = {0, 0};
    if (size.type != TfliteType::Int32 || data.size() != sizeof hw)
        return Fail(index, "RESIZE_BILINEAR size is not two constant integers");
    std::memcpy(hw, data.data(), sizeof hw);
    const TfliteTensor& out = Tensor(op.outputs[0]);
    if (!Is4D(out) || hw[0] != out.shape[1] || hw[1] != out.shape[2] || hw[0] <= 0 || hw[1] <= 0)
        return Fail(index, "RESIZE_BILINEAR size does not match its output");
    cv::dnn::LayerParams p;
    p.type = "Resize";
    p.set("interpolation", "bilinear");
    p.set("height", hw[0]);
    p.set("width", hw[1]);
    p.set("align_corners", op.options.alignCorners);
    p.set("half_pixel_centers", op.options.halfPixelCenters);
    return AddLayer(index, p, {op.inputs[0]}, op.outputs[0]);
}

bool NetBuilder::AddPad(std::size_t index, const TfliteOperator& op) {
    if (op.inputs.size() != 2 || op.outputs.size() != 1 || op.inputs[0] < 0)
        return Fail(index, "PAD without data and paddings");
    const TfliteTensor& in = Tensor(op.inputs[0]);
    const TfliteTensor& out = Tensor(op.outputs[0]);
    const auto pads = ConstantInts(op.inputs[1]);
    if (!Is4D(in) || !Is4D(out) || !pads || pads->size() != 8)
        return Fail(index, "PAD of a tensor that is not NHWC, or paddings not four constant pairs");
    for (std::size_t d = 0; d < 4; ++d) {
        const std::int32_t before = (*pads)[2 * d];
        const std::int32_t after = (*pads)[2 * d + 1];
        if (before < 0 || after < 0 || before > 4096 || after > 4096 ||
            in.shape[d] + before + after != out.shape[d])
            return Fail(index, "PAD paddings do not fit its tensors");
    }
    // Pairs in the network's NCHW order: model dimensions 0, 3, 1, 2.
    std::vector<int> nchw;
    for (int d : {0, 3, 1, 2}) {
        nchw.push_back((*pads)[2 * static_cast<std::size_t>(d)]);
        nchw.push_back((*pads)[2 * static_cast<std::size_t>(d) + 1]);
    }
    cv::dnn::LayerParams p;
    p.type = "Padding";
    p.set("paddings", cv::dnn::DictValue::arrayInt(nchw.data(), static_cast<int>(nchw.size())));
    p.set("type", "constant");
    p.set("value", 0.f);
    return AddLayer(index, p, {op.inputs[0]}, op.outputs[0]);
}

bool NetBuilder::AddMaxPool(std::size_t index, const TfliteOperator& op) {
    if (op.inputs.size() != 1 || op.outputs.size() != 1 || op.inputs[0] < 0)
        return Fail(index, "MAX_POOL_2D takes one tensor");
    const TfliteTensor& in = Tensor(op.inputs[0]);
    const TfliteTensor& out = Tensor(op.outputs[0]);
    const TfliteOptions& o = op.options;
    if (!Is4D(in) || !Is4D(out) || out.shape[3] != in.shape[3])
        return Fail(index, "MAX_POOL_2D of a tensor that is not NHWC");
    if (o.filterW <= 0 || o.filterH <= 0 || o.strideW <= 0 || o.strideH <= 0 || o.filterW > 64 ||
        o.filterH > 64)
        return Fail(index, "MAX_POOL_2D window or stride out of range");
    // The output size the padding gives must be the declared one.
    const auto size = [&](int input, int filter, int stride) {
        return o.paddingSame ? (input + stride - 1) / stride
                             : std::max(0, (input - filter + stride) / stride);
    };
    if (size(in.shape[1], o.filterH, o.strideH) != out.shape[1] ||
        size(in.shape[2], o.filterW, o.strideW) != out.shape[2])
        return Fail(index, "MAX_POOL_2D output size does not fit its window");
    cv::dnn::LayerParams p;
    p.type = "Pooling";
    p.set("pool", "max");
    p.set("kernel_h", o.filterH);
    p.set("kernel_w", o.filterW);
    p.set("stride_h", o.strideH);
    p.set("stride_w", o.strideW);
    p.set("pad_mode", o.paddingSame ? "SAME" : "VALID");
    return AddLayer(index, p, {op.inputs[0]}, op.outputs[0], o.activation);
}

bool NetBuilder::AddReshape(std::size_t index, const TfliteOperator& op) {
    if (op.inputs.empty() || op.inputs.size() > 2 || op.outputs.size() != 1 || op.inputs[0] < 0)
        return Fail(index, "RESHAPE without data");
    const TfliteTensor& in = Tensor(op.inputs[0]);
    const TfliteTensor& out = Tensor(op.outputs[0]);
    if (in.ElementCount() != out.ElementCount() || out.shape.empty())
        return Fail(index, "RESHAPE changes the element count");
    // The new shape, from the second input or the options when given (one -1 stands for the
    // rest), must be the output's declared shape.
    std::optional<std::vector<std::int32_t>> wanted;
    if (op.inputs.size() == 2 && op.inputs[1] >= 0) {
        wanted = ConstantInts(op.inputs[1]);
        if (!wanted)
            return Fail(index, "RESHAPE shape is not constant integers");
    } else if (!op.options.newShape.empty()) {
        wanted = op.options.newShape;
    }
    if (wanted) {
        if (wanted->size() != out.shape.size())
            return Fail(index, "RESHAPE shape does not fit its output");
        for (std::size_t d = 0; d < wanted->size(); ++d) {
            if ((*wanted)[d] != out.shape[d] && (*wanted)[d] != -1)
                return Fail(index, "RESHAPE shape does not fit its output");
        }
    }
    const auto fromNchw = Producer(op.inputs[0]);
    if (!fromNchw)
        return Fail(index, "input tensor " + std::to_string(op.inputs[0]) + " is not computed");
    const std::string name = "op" + std::to_string(index);
    LayerOutput from = *fromNchw;
    // Into the model's order first: the reshape keeps the NHWC element order.
    const auto permute = [&](const std::vector<int>& order, const std::string& suffix) {
        cv::dnn::LayerParams p;
        p.type = "Permute";
        p.set("order", cv::dnn::DictValue::arrayInt(order.data(), static_cast<int>(order.size())));
        const int id = net_.addLayer(name + suffix, p.type, p);
        net_.connect(from.layer, from.output, id, 0);
        from = {id, 0};
    };
    if (IsNchwInNet(in))
        permute({0, 2, 3, 1}, "_nhwc");
    std::vector<int> dims(out.shape.begin(), out.shape.end());
    cv::dnn::LayerParams p;
    p.type = "Reshape";
    p.set("dim", cv::dnn::DictValue::arrayInt(dims.data(), static_cast<int>(dims.size())));
    const int id = net_.addLayer(name, p.type, p);
    net_.connect(from.layer, from.output, id, 0);
    from = {id, 0};
    if (IsNchwInNet(out))
        permute({0, 3, 1, 2}, "_nchw");
    producers_[op.outputs[0]] = from;
    return true;
}

bool NetBuilder::AddConcatenation(std::size_t index, const TfliteOperator& op) {
    if (op.inputs.size() < 2 || op.outputs.size() != 1)
        return Fail(index, "CONCATENATION of fewer than two tensors");
    const TfliteTensor& out = Tensor(op.outputs[0]);
    const int rank = static_cast<int>(out.shape.size());
    const int axis = op.options.axis < 0 ? op.options.axis + rank : op.options.axis;
    if (rank == 0 || axis < 0 || axis >= rank)
        return Fail(index, "CONCATENATION axis out of range");
    std::int64_t along = 0;
    for (std::int32_t i : op.inputs) {
        if (i < 0)
            return Fail(index, "CONCATENATION of an absent tensor");
        const TfliteTensor& t = Tensor(i);
        if (static_cast<int>(t.shape.size()) != rank)
            return Fail(index, "CONCATENATION of tensors of different ranks");
        for (int d = 0; d < rank; ++d) {
            if (d != axis &&
                t.shape[static_cast<std::size_t>(d)] != out.shape[static_cast<std::size_t>(d)])
                return Fail(index, "CONCATENATION of tensors that do not fit its output");
        }
        along += t.shape[static_cast<std::size_t>(axis)];
    }
    if (along != out.shape[static_cast<std::size_t>(axis)])
        return Fail(index, "CONCATENATION of tensors that do not fit its output");
    // NHWC axis to the network's NCHW axis for four-dimensional tensors.
    constexpr int kNchwAxis[] = {0, 2, 3, 1};
    cv::dnn::LayerParams p;
    p.type = "Concat";
    p.set("axis", IsNchwInNet(out) ? kNchwAxis[axis] : axis);
    return AddLayer(index, p, op.inputs, op.outputs[0], op.options.activation);
}

bool NetBuilder::AddOperator(std::size_t index, const TfliteOperator& op) {
    const auto simple = [&](const char* type) {
        if (op.inputs.size() != 1 || op.outputs.size() != 1)
            return Fail(index, std::string(type) + " takes one tensor");
        cv::dnn::LayerParams p;
        p.type = type;
        return AddLayer(index, p, op.inputs, op.outputs[0]);
    };
    switch (static_cast<TfliteOp>(op.code)) {
    case TfliteOp::Dequantize:
        return Dequantize(index, op);
    case TfliteOp::Conv2D:
        return AddConvolution(index, op, false);
    case TfliteOp::DepthwiseConv2D:
        return AddConvolution(index, op, true);
    case TfliteOp::Custom:
        return AddTransposedConvolution(index, op);
    case TfliteOp::Add:
    case TfliteOp::Mul:
        return AddElementwise(index, op);
    case TfliteOp::Mean:
        return AddMean(index, op);
    case TfliteOp::ResizeBilinear:
        return AddResize(index, op);
    case TfliteOp::Pad:
        return AddPad(index, op);
    case TfliteOp::MaxPool2D:
        return AddMaxPool(index, op);
    case TfliteOp::Reshape:
        return AddReshape(index, op);
    case TfliteOp::Concatenation:
        return AddConcatenation(index, op);
    case TfliteOp::Relu:
        return simple("ReLU");
    case TfliteOp::HardSwish:
        return simple("HardSwish");
    case TfliteOp::Logistic:
        return simple("Sigmoid");
    }
    return Fail(index, "unknown operator code " + std::to_string(op.code));
}

std::optional<TfliteNet> NetBuilder::Build(std::string* error) {
    const auto refuse = [&]() -> std::optional<TfliteNet> {
        if (error)
            *error = error_;
        return std::nullopt;
    };
    if (model_.inputs.size() != 1 || model_.outputs.empty() || model_.outputs.size() > 8) {
        error_ = "a model of one input and one to eight outputs is expected";
        return refuse();
    }
    TfliteNet result;
    const TfliteTensor& input = Tensor(model_.inputs[0]);
    if (!Is4D(input) || input.type != TfliteType::Float32) {
        error_ = "the model's input is not an NHWC float tensor";
        return refuse();
    }
    for (std::int32_t index : model_.outputs) {
        const TfliteTensor& output = Tensor(index);
        if (output.type != TfliteType::Float32 || output.shape.empty() ||
            (IsNchwInNet(output) && !Is4D(output))) {
            error_ = "the model's outputs are not float tensors of one batch";
            return refuse();
        }
    }
    result.inputName = input.name.empty() ? "input" : input.name;
    result.inputShape = input.shape;

    for (std::size_t i = 0; i < model_.tensors.size(); ++i) {
        const TfliteTensor& t = model_.tensors[i];
        if (t.dataBytes > 0 && t.type == TfliteType::Float32)
            constants_[static_cast<std::int32_t>(i)] = FloatData(model_, t);
    }
    producers_[model_.inputs[0]] = LayerOutput{0, 0}; // the network's input layer
    try {
        net_.setInputsNames({result.inputName});
        for (std::size_t i = 0; i < model_.operators.size(); ++i) {
            if (!AddOperator(i, model_.operators[i]))
                return refuse();
        }
        for (std::int32_t index : model_.outputs) {
            const auto last = Producer(index);
            if (!last || last->layer == 0) {
                error_ = "the model's output '" + Tensor(index).name + "' is not computed";
                return refuse();
            }
            // Every output here is a layer's first output; the network ends at those layers.
            result.outputs.push_back(TfliteNetOutput{net_.getLayer(last->layer)->name,
                                                     Tensor(index).name, Tensor(index).shape});
        }
        net_.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
        net_.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);

        // One run on zeros proves that the layers fit together and give the declared shapes.
        const int inShape[] = {1, input.shape[3], input.shape[1], input.shape[2]};
        net_.setInput(cv::Mat(4, inShape, CV_32F, cv::Scalar(0)));
        std::vector<cv::Mat> probes;
        net_.forward(probes, result.OutputLayers());
        for (std::size_t i = 0; i < result.outputs.size(); ++i) {
            const Shape& want = result.outputs[i].shape;
            Shape got(probes[i].size.p, probes[i].size.p + probes[i].dims);
            if (IsNchwInNet(Tensor(model_.outputs[i])))
                got = {got.size() == 4 ? got[0] : -1, got.size() == 4 ? got[2] : -1,
                       got.size() == 4 ? got[3] : -1, got.size() == 4 ? got[1] : -1};
            if (got != want) {
                error_ = "the network's output '" + result.outputs[i].name +
                         "' does not have the model's shape";
                return refuse();
            }
        }
        result.net = net_;
    } catch (const cv::Exception& e) {
        error_ = std::string("OpenCV refused the network: ") + e.what();
        return refuse();
    }
    return result;
}

std::vector<std::string> TfliteNet::OutputLayers() const {
    std::vector<std::string> names;
    for (const TfliteNetOutput& o : outputs)
        names.push_back(o.layer);
    return names;
}

std::optional<TfliteNet> BuildTfliteNet(const TfliteModel& model, std::string* error) {
    return NetBuilder(model).Build(error);
}

} // namespace kelo
