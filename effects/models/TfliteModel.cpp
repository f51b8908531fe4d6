#include "effects/models/TfliteModel.h"

#include "platform/system/AssetPaths.h"
#include "platform/system/InputFile.h"

#include <cstring>
#include <limits>
#include <map>
#include <mutex>

namespace kelo {

namespace {

constexpr std::size_t kMaxFileBytes = 64u << 20;
constexpr std::size_t kMaxDims = 8;
constexpr std::size_t kMaxElements = std::size_t{1} << 28;

// Bounds-checked reads of FlatBuffers data. Every position is a size_t into `bytes`; every read
// first checks that the whole value lies inside. A failed check sets `failed` and returns a
// neutral value, so that the callers can read a whole table and test once.
class FlatReader {
public:
    explicit FlatReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    struct Table {
        std::size_t pos = 0;
        std::size_t vtable = 0;
        std::size_t vtableBytes = 0;
        std::size_t tableBytes = 0;
    };

    bool failed() const { return failed_; }
    void Fail(const char* what) {
        if (!failed_)
            what_ = what;
        failed_ = true;
    }
    const char* what() const { return what_; }

    bool Fits(std::size_t pos, std::size_t count) const {
        return pos <= bytes_.size() && count <= bytes_.size() - pos;
    }

    template <typename T> T Scalar(std::size_t pos) {
        if (!Fits(pos, sizeof(T))) {
            Fail("a value lies outside the file");
            return T{};
        }
        T value;
        std::memcpy(&value, bytes_.data() + pos, sizeof(T));
        return value;
    }

    // The table at pos (vtable found and checked).
    std::optional<Table> OpenTable(std::size_t pos) {
        const auto soffset = Scalar<std::int32_t>(pos);
        if (failed_)
            return std::nullopt;
        const auto vtable = static_cast<std::int64_t>(pos) - soffset;
        if (vtable < 0 || !Fits(static_cast<std::size_t>(vtable), 4)) {
            Fail("a table's vtable lies outside the file");
            return std::nullopt;
        }
        Table t;
        t.pos = pos;
        t.vtable = static_cast<std::size_t>(vtable);
        t.vtableBytes = Scalar<std::uint16_t>(t.vtable);
        t.tableBytes = Scalar<std::uint16_t>(t.vtable + 2);
        if (t.vtableBytes < 4 || !Fits(t.vtable, t.vtableBytes) || t.tableBytes < 4 ||
            !Fits(pos, t.tableBytes)) {
            Fail("a table does not fit in the file");
            return std::nullopt;
        }
        return t;
    }

    // Position of field `index` of a table holding `size` bytes, or 0 when absent.
    std::size_t Field(const Table& t, int index, std::size_t size) {
        const std::size_t entry = 4 + 2 * static_cast<std::size_t>(index);
        if (entry + 2 > t.vtableBytes)
            return 0;
        const std::uint16_t offset = Scalar<std::uint16_t>(t.vtable + entry);
        if (offset == 0)
            return 0;
        if (offset < 4 || offset + size > t.tableBytes) {
            Fail("a field lies outside its table");
            return 0;
        }
        return t.pos + offset;
    }

    template <typename T> T FieldScalar(const Table& t, int index, T fallback) {
        const std::size_t p = Field(t, index, sizeof(T));
        return p ? Scalar<T>(p) : fallback;
    }

    // Target of a reference field, or 0 when absent.
    std::size_t FieldRef(const Table& t, int index) {
        const std::size_t p = Field(t, index, 4);
        return p ? Follow(p) : 0;
    }

    // Target of the uint32 offset stored at p (relative to p).
    std::size_t Follow(std::size_t p) {
        const std::uint32_t offset = Scalar<std::uint32_t>(p);
        if (failed_)
            return 0;
        if (offset == 0 || !Fits(p, offset) || p + offset >= bytes_.size()) {
            Fail("a reference points outside the file");
            return 0;
        }
        return p + offset;
    }

    // A vector of `elementSize`-byte elements at v: {count, position of element 0}.
    std::pair<std::size_t, std::size_t> Vector(std::size_t v, std::size_t elementSize) {
        if (v == 0)
            return {0, 0};
        const std::uint32_t count = Scalar<std::uint32_t>(v);
        if (failed_ || count > (bytes_.size() - v - 4) / elementSize) {
            Fail("a vector runs past the end of the file");
            return {0, 0};
        }
        return {count, v + 4};
    }

    std::vector<std::int32_t> Int32Vector(std::size_t v) {
        const auto [count, first] = Vector(v, 4);
        std::vector<std::int32_t> out(count);
        for (std::size_t i = 0; i < count; ++i)
            out[i] = Scalar<std::int32_t>(first + 4 * i);
        return out;
    }

    std::string String(std::size_t v) {
        const auto [count, first] = Vector(v, 1);
        if (count == 0)
            return {};
        return std::string(reinterpret_cast<const char*>(bytes_.data() + first), count);
    }

    // The tables of a vector of tables, each opened.
    std::vector<Table> Tables(std::size_t v) {
        const auto [count, first] = Vector(v, 4);
        std::vector<Table> out;
        out.reserve(count);
        for (std::size_t i = 0; i < count && !failed_; ++i) {
            if (auto t = OpenTable(Follow(first + 4 * i)))
                out.push_back(*t);
        }
        return out;
    }

private:
    std::span<const std::uint8_t> bytes_;
    bool failed_ = false;
    const char* what_ = "";
};

std::size_t TypeBytes(TfliteType type) {
    switch (type) {
    case TfliteType::Float32:
    case TfliteType::Int32:
        return 4;
    case TfliteType::Float16:
        return 2;
    case TfliteType::UInt8:
    case TfliteType::Int8:
        return 1;
    }
    return 0;
}

// Options tables by builtin code; the field numbers are those of the schema.
void ReadOptions(FlatReader& r, std::int32_t code, const FlatReader::Table& t, TfliteOptions& o) {
    const auto padding = [&](int i) { return r.FieldScalar<std::int8_t>(t, i, 0) == 0; };
    const auto activation = [&](int i) {
        return static_cast<TfliteActivation>(r.FieldScalar<std::int8_t>(t, i, 0));
    };
    switch (static_cast<TfliteOp>(code)) {
    case TfliteOp::Conv2D:
        o.paddingSame = padding(0);
        o.strideW = r.FieldScalar<std::int32_t>(t, 1, 1);
        o.strideH = r.FieldScalar<std::int32_t>(t, 2, 1);
        o.activation = activation(3);
        o.dilationW = r.FieldScalar<std::int32_t>(t, 4, 1);
        o.dilationH = r.FieldScalar<std::int32_t>(t, 5, 1);
        break;
    case TfliteOp::DepthwiseConv2D:
        o.paddingSame = padding(0);
        o.strideW = r.FieldScalar<std::int32_t>(t, 1, 1);
        o.strideH = r.FieldScalar<std::int32_t>(t, 2, 1);
        o.depthMultiplier = r.FieldScalar<std::int32_t>(t, 3, 1);
        o.activation = activation(4);
        o.dilationW = r.FieldScalar<std::int32_t>(t, 5, 1);
        o.dilationH = r.FieldScalar<std::int32_t>(t, 6, 1);
        break;
    case TfliteOp::Add:
    case TfliteOp::Mul:
        o.activation = activation(0);
        break;
    case TfliteOp::MaxPool2D:
        o.paddingSame = padding(0);
        o.strideW = r.FieldScalar<std::int32_t>(t, 1, 1);
        o.strideH = r.FieldScalar<std::int32_t>(t, 2, 1);
        o.filterW = r.FieldScalar<std::int32_t>(t, 3, 1);
        o.filterH = r.FieldScalar<std::int32_t>(t, 4, 1);
        o.activation = activation(5);
        break;
    case TfliteOp::Concatenation:
        o.axis = r.FieldScalar<std::int32_t>(t, 0, 0);
        o.activation = activation(1);
        break;
    case TfliteOp::Reshape:
        o.newShape = r.Int32Vector(r.FieldRef(t, 0));
        if (o.newShape.size() > kMaxDims)
            r.Fail("a reshape has too many dimensions");
        break;
    case TfliteOp::Mean:
        o.keepDims = r.FieldScalar<std::uint8_t>(t, 0, 0) != 0;
        break;
    case TfliteOp::ResizeBilinear:
        o.alignCorners = r.FieldScalar<std::uint8_t>(t, 2, 0) != 0;
        o.halfPixelCenters = r.FieldScalar<std::uint8_t>(t, 3, 0) != 0;
        break;
    default:
        break;
    }
}

bool ValidIndices(const std::vector<std::int32_t>& indices, std::size_t tensorCount,
                  bool allowAbsent) {
    for (std::int32_t i : indices) {
        if (i == -1 && allowAbsent)
            continue;
        if (i < 0 || static_cast<std::size_t>(i) >= tensorCount)
            return false;
    }
    return true;
}

std::optional<TfliteModel> Refuse(std::string* error, const std::string& text) {
    if (error)
        *error = text;
    return std::nullopt;
}

} // namespace

std::size_t TfliteTensor::ElementCount() const {
    std::size_t count = 1;
    for (std::int32_t d : shape)
        count *= static_cast<std::size_t>(d);
    return count;
}

std::span<const std::uint8_t> TfliteModel::Data(const TfliteTensor& tensor) const {
    return std::span<const std::uint8_t>(file).subspan(tensor.dataOffset, tensor.dataBytes);
}

std::optional<TfliteModel> ReadTfliteModel(std::span<const std::uint8_t> bytes,
                                           std::string* error) {
    if (bytes.size() < 8 || bytes.size() > kMaxFileBytes)
        return Refuse(error, "not a TFLite model (size)");
    TfliteModel model;
    model.file.assign(bytes.begin(), bytes.end());
    FlatReader r(model.file);

    const auto root = r.OpenTable(r.Follow(0));
    if (!root)
        return Refuse(error, std::string("not a TFLite model: ") + r.what());

    // Operator codes: the larger of the old 8-bit and the newer 32-bit field.
    struct Code {
        std::int32_t builtin;
        std::string custom;
    };
    std::vector<Code> codes;
    for (const auto& t : r.Tables(r.FieldRef(*root, 1))) {
        const auto old = static_cast<std::int32_t>(r.FieldScalar<std::int8_t>(t, 0, 0));
        const auto builtin = r.FieldScalar<std::int32_t>(t, 3, 0);
        codes.push_back({std::max(old, builtin), r.String(r.FieldRef(t, 1))});
    }

    // Buffers: {offset, size} of their data (buffer 0 is the empty one).
    std::vector<std::pair<std::size_t, std::size_t>> buffers;
    for (const auto& t : r.Tables(r.FieldRef(*root, 4))) {
        const auto [count, first] = r.Vector(r.FieldRef(t, 0), 1);
        buffers.emplace_back(first, count);
    }

    const auto subgraphs = r.Tables(r.FieldRef(*root, 2));
    if (r.failed())
        return Refuse(error, std::string("damaged TFLite model: ") + r.what());
    if (subgraphs.empty())
        return Refuse(error, "TFLite model without a subgraph");
    const FlatReader::Table& graph = subgraphs.front();

    for (const auto& t : r.Tables(r.FieldRef(graph, 0))) {
        TfliteTensor tensor;
        tensor.shape = r.Int32Vector(r.FieldRef(t, 0));
        tensor.type = static_cast<TfliteType>(r.FieldScalar<std::int8_t>(t, 1, 0));
        const auto buffer = r.FieldScalar<std::uint32_t>(t, 2, 0);
        tensor.name = r.String(r.FieldRef(t, 3));
        if (r.failed())
            break;
        if (TypeBytes(tensor.type) == 0)
            return Refuse(error, "tensor '" + tensor.name + "' has a type this reader lacks");
        if (tensor.shape.size() > kMaxDims)
            return Refuse(error, "tensor '" + tensor.name + "' has too many dimensions");
        std::size_t elements = 1;
        for (std::int32_t d : tensor.shape) {
            if (d < 0 || (d > 0 && elements > kMaxElements / static_cast<std::size_t>(d)))
                return Refuse(error, "tensor '" + tensor.name + "' has a bad shape");
            elements *= static_cast<std::size_t>(d);
        }
        if (buffer >= buffers.size() && buffer != 0)
            return Refuse(error, "tensor '" + tensor.name + "' names a missing buffer");
        if (buffer != 0 && buffers[buffer].second != 0) {
            if (buffers[buffer].second != elements * TypeBytes(tensor.type))
                return Refuse(error, "tensor '" + tensor.name + "' data has the wrong size");
            tensor.dataOffset = buffers[buffer].first;
            tensor.dataBytes = buffers[buffer].second;
        }
        model.tensors.push_back(std::move(tensor));
    }
    model.inputs = r.Int32Vector(r.FieldRef(graph, 1));
    model.outputs = r.Int32Vector(r.FieldRef(graph, 2));

    for (const auto& t : r.Tables(r.FieldRef(graph, 3))) {
        TfliteOperator op;
        const auto codeIndex = r.FieldScalar<std::uint32_t>(t, 0, 0);
        op.inputs = r.Int32Vector(r.FieldRef(t, 1));
        op.outputs = r.Int32Vector(r.FieldRef(t, 2));
        if (r.failed())
            break;
        if (codeIndex >= codes.size())
            return Refuse(error, "an operator names a missing operator code");
        op.code = codes[codeIndex].builtin;
        op.customCode = codes[codeIndex].custom;
        if (const std::size_t options = r.FieldRef(t, 4)) {
            if (const auto table = r.OpenTable(options))
                ReadOptions(r, op.code, *table, op.options);
        }
        const auto [count, first] = r.Vector(r.FieldRef(t, 5), 1);
        op.customOptions.assign(model.file.begin() + static_cast<std::ptrdiff_t>(first),
                                model.file.begin() + static_cast<std::ptrdiff_t>(first + count));
        if (!ValidIndices(op.inputs, model.tensors.size(), true) ||
            !ValidIndices(op.outputs, model.tensors.size(), false))
            return Refuse(error, "an operator names a missing tensor");
        model.operators.push_back(std::move(op));
    }
    if (r.failed())
        return Refuse(error, std::string("damaged TFLite model: ") + r.what());
    if (model.inputs.empty() || model.outputs.empty() ||
        !ValidIndices(model.inputs, model.tensors.size(), false) ||
        !ValidIndices(model.outputs, model.tensors.size(), false))
        return Refuse(error, "TFLite model without valid input or output tensors");
    return model;
}

std::optional<TfliteModel> ReadTfliteModelFile(const std::string& path, std::string* error) {
    std::vector<std::uint8_t> bytes;
    const InputFileStatus status = ReadInputFile(path, kMaxFileBytes, &bytes);
    if (status == InputFileStatus::TooLarge)
        return Refuse(error, path + " is too large for a model");
    if (status != InputFileStatus::Ok)
        return Refuse(error, "cannot open " + path + ": " + DescribeInputFailure(status, 0));
    std::string why;
    auto model = ReadTfliteModel(bytes, &why);
    if (!model)
        return Refuse(error, path + ": " + why);
    return model;
}

const StudioTfliteModel& ReadStudioTfliteModel(const char* asset, const char* what, bool quiet) {
    // Entries are never removed, so a reference to one stays valid for the process's life.
    static std::mutex mutex;
    static std::map<std::string, StudioTfliteModel> models;
    std::lock_guard lock(mutex);
    const auto [entry, added] = models.try_emplace(asset);
    StudioTfliteModel& m = entry->second;
    if (!added)
        return m;
    const std::string path = quiet ? FindAssetQuietly(asset) : FindAsset(asset);
    if (path.empty())
        m.error = std::string("the ") + what + " " + asset +
                  " is not in the working folder or in " + InstalledDataDir();
    else
        m.model = ReadTfliteModelFile(path, &m.error);
    return m;
}

} // namespace kelo
