// The TFLite reader and the network builder on the real segmentation model, and on the model
// truncated, corrupted byte by byte, and with an operator the builder does not know.
#include "BlurTestImages.h"
#include "effects/models/PersonSegmenter.h"
#include "effects/models/TfliteNet.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>

namespace kelo {
namespace {

std::vector<std::uint8_t> ModelBytes() {
    std::ifstream in(test::ModelPath(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class TfliteModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        bytes = ModelBytes();
        ASSERT_EQ(bytes.size(), 249792u)
            << test::ModelPath() << " is missing: run scripts/install-deps.sh and configure again";
    }
    std::vector<std::uint8_t> bytes;
};

TEST_F(TfliteModelTest, TheRealModelHasItsTensorsOperatorsAndEnds) {
    std::string error;
    const auto model = ReadTfliteModel(bytes, &error);
    ASSERT_TRUE(model) << error;
    EXPECT_EQ(model->tensors.size(), 370u);
    ASSERT_EQ(model->operators.size(), 246u);

    std::map<std::int32_t, int> counts;
    for (const TfliteOperator& op : model->operators)
        ++counts[op.code];
    const std::map<std::int32_t, int> expected = {{0, 14},  {3, 43},  {4, 11},  {6, 110},
                                                  {14, 11}, {18, 10}, {19, 22}, {23, 3},
                                                  {32, 1},  {40, 10}, {117, 11}};
    EXPECT_EQ(counts, expected);
    const auto firstConv = std::find_if(
        model->operators.begin(), model->operators.end(),
        [](const TfliteOperator& op) { return op.code == static_cast<int>(TfliteOp::Conv2D); });
    ASSERT_NE(firstConv, model->operators.end());
    EXPECT_EQ(firstConv->options.strideW, 2); // the first convolution halves the size
    EXPECT_TRUE(firstConv->options.paddingSame);
    EXPECT_EQ(model->operators.back().code, static_cast<int>(TfliteOp::Logistic));

    ASSERT_EQ(model->inputs.size(), 1u);
    ASSERT_EQ(model->outputs.size(), 1u);
    const TfliteTensor& in = model->tensors[static_cast<std::size_t>(model->inputs[0])];
    const TfliteTensor& out = model->tensors[static_cast<std::size_t>(model->outputs[0])];
    EXPECT_EQ(in.name, "input_1");
    EXPECT_EQ(in.shape, (std::vector<std::int32_t>{1, 144, 256, 3}));
    EXPECT_EQ(in.type, TfliteType::Float32);
    EXPECT_EQ(out.shape, (std::vector<std::int32_t>{1, 144, 256, 1}));
    EXPECT_EQ(out.type, TfliteType::Float32);

    const auto net = BuildTfliteNet(*model, &error);
    ASSERT_TRUE(net) << error;
    EXPECT_EQ(net->inputName, "input_1");
}

TEST_F(TfliteModelTest, TruncatedFilesAreRefused) {
    for (std::size_t length :
         {std::size_t{0}, std::size_t{3}, std::size_t{8}, std::size_t{64}, std::size_t{1000},
          bytes.size() / 2, bytes.size() - 1000, bytes.size() - 1}) {
        std::string error;
        EXPECT_FALSE(ReadTfliteModel(std::span(bytes).first(length), &error)) << length;
        EXPECT_FALSE(error.empty()) << length;
    }
}

// Every byte of the first kilobytes (where the tables and vtables are), and a stride through
// the rest, changed two ways: the reader refuses the file or reads something that stays inside
// it. Under AddressSanitizer any read outside the buffer fails the test.
TEST_F(TfliteModelTest, CorruptedOffsetsAnywhereAreRefusedWithoutACrash) {
    constexpr std::size_t kDense = 2048;
    std::vector<std::uint8_t> copy = bytes;
    int refused = 0;
    int read = 0;
    for (std::size_t pos = 0; pos < copy.size(); pos += pos < kDense ? 1 : 251) {
        for (std::uint8_t mutation : {std::uint8_t{0xff}, std::uint8_t{0x80}}) {
            const std::uint8_t original = copy[pos];
            copy[pos] = static_cast<std::uint8_t>(original ^ mutation);
            std::string error;
            const auto model = ReadTfliteModel(copy, &error);
            if (model) {
                ++read;
                for (const TfliteTensor& t : model->tensors)
                    ASSERT_LE(t.dataOffset + t.dataBytes, model->file.size());
            } else {
                ++refused;
                EXPECT_FALSE(error.empty());
            }
            copy[pos] = original;
        }
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(read, 0); // changed weights still make a (wrong) model
}

TEST_F(TfliteModelTest, TheBuilderRefusesWhatItDoesNotKnowAndWeightsThatDoNotFit) {
    std::string error;
    auto model = ReadTfliteModel(bytes, &error);
    ASSERT_TRUE(model) << error;

    TfliteModel unknown = *model;
    for (TfliteOperator& op : unknown.operators) {
        if (op.code == static_cast<int>(TfliteOp::HardSwish)) {
            op.code = 99; // an operator code of the schema this builder lacks
            break;
        }
    }
    EXPECT_FALSE(BuildTfliteNet(unknown, &error));
    EXPECT_NE(error.find("unknown operator code 99"), std::string::npos) << error;

    TfliteModel custom = *model;
    custom.operators[custom.operators.size() - 2].customCode = "MaxPoolingWithArgmax2D";
    EXPECT_FALSE(BuildTfliteNet(custom, &error));
    EXPECT_NE(error.find("MaxPoolingWithArgmax2D"), std::string::npos) << error;

    // A convolution's declared output channels no longer match its weights.
    TfliteModel mismatched = *model;
    for (TfliteOperator& op : mismatched.operators) {
        if (op.code == static_cast<int>(TfliteOp::Conv2D)) {
            mismatched.tensors[static_cast<std::size_t>(op.outputs[0])].shape[3] += 1;
            break;
        }
    }
    EXPECT_FALSE(BuildTfliteNet(mismatched, &error));
    EXPECT_NE(error.find("weights do not fit"), std::string::npos) << error;
}

TEST(PersonSegmenterLoad, AMissingOrTruncatedModelGivesOneLineAndNoSegmenter) {
    std::string error;
    EXPECT_FALSE(PersonSegmenter::Load("/nonexistent/model.tflite", &error));
    EXPECT_NE(error.find("/nonexistent/model.tflite"), std::string::npos);

    test::TempDir dir;
    const auto half = dir.path() / "half.tflite";
    std::vector<std::uint8_t> bytes = ModelBytes();
    ASSERT_FALSE(bytes.empty());
    std::ofstream(half, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size() / 2));
    error.clear();
    EXPECT_FALSE(PersonSegmenter::Load(half.string(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos);
}

} // namespace
} // namespace kelo
