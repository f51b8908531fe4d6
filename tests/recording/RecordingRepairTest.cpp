// The mend of a file whose writer was cut off, on files laid out by hand: what a muxer that
// counted more than the disk took leaves behind.
#include "engine/RecordingRepair.h"

#include "support/TestSupport.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

namespace kelo {
namespace {

namespace fs = std::filesystem;

void Put32(std::string& bytes, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<char>(v >> (8 * i)));
}
std::uint32_t Get32(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
}

TEST(RecordingRepair, AnAviChunkTheFullDiskCutShortIsDroppedEvenWhenTheSizesCountIt) {
    constexpr std::uint32_t kFrameBytes = 64;
    // hdrl: avih and one video stream's strh, each 56 bytes of zeros but their fourccs.
    std::string strh = "vids";
    strh.resize(56, '\0');
    std::string strl = "strl";
    strl += "strh";
    Put32(strl, 56);
    strl += strh;
    std::string hdrl = "hdrl";
    hdrl += "avih";
    Put32(hdrl, 56);
    hdrl.append(56, '\0');
    hdrl += "LIST";
    Put32(hdrl, static_cast<std::uint32_t>(strl.size()));
    hdrl += strl;
    // movi: one whole frame, then a frame whose header promises more than was written.
    std::string movi = "movi";
    for (int frame = 0; frame < 2; ++frame) {
        movi += "00dc";
        Put32(movi, kFrameBytes);
        movi.append(kFrameBytes, static_cast<char>(frame + 1));
    }
    std::string file = "RIFF";
    Put32(file, 0); // put right below, as the muxer does at the end
    file += "AVI ";
    file += "LIST";
    Put32(file, static_cast<std::uint32_t>(hdrl.size()));
    file += hdrl;
    const std::size_t moviAt = file.size();
    file += "LIST";
    Put32(file, static_cast<std::uint32_t>(movi.size()));
    file += movi;
    const std::size_t firstFrameEnd = file.size() - (8 + kFrameBytes);
    file.resize(file.size() - kFrameBytes / 2); // the disk filled halfway through frame two
    // The muxer's finish counted the whole of frame two in the RIFF and movi sizes.
    const std::uint32_t counted = static_cast<std::uint32_t>(file.size() + kFrameBytes / 2 - 8);
    for (int i = 0; i < 4; ++i)
        file[4 + static_cast<std::size_t>(i)] = static_cast<char>(counted >> (8 * i));

    test::TempDir dir;
    const fs::path path = dir.path() / "cut.avi";
    std::ofstream(path, std::ios::binary) << file;

    EXPECT_EQ(RepairRecording(path.string()), RepairOutcome::Repaired);
    std::ifstream in(path, std::ios::binary);
    const std::string mended((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GE(mended.size(), firstFrameEnd + 8);
    EXPECT_EQ(mended.substr(firstFrameEnd, 4), "idx1"); // frame two is gone, the index follows
    EXPECT_EQ(Get32(mended, firstFrameEnd + 4), 16u);   // one entry: frame one
    EXPECT_EQ(Get32(mended, moviAt + 4), firstFrameEnd - moviAt - 8);
    EXPECT_EQ(Get32(mended, 4), mended.size() - 8);
}

} // namespace
} // namespace kelo
