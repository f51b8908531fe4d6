// Helpers every test uses to stay isolated: its own temporary folder as working directory (so
// it has its own data.ini), and its own name for the feed's shared-memory object.
#pragma once

#include "platform/contracts/FrameImage.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kelo {
class SharedMemoryView;
}

namespace kelo::test {

// A fresh folder under the system temp folder, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Changes the working directory for its lifetime and restores the old one.
class ScopedWorkingDirectory {
public:
    explicit ScopedWorkingDirectory(const std::filesystem::path& dir);
    ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
    ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;
    ~ScopedWorkingDirectory();

private:
    std::filesystem::path previous_;
};

// A temporary folder that is also the working directory: the usual fixture of a test.
class IsolatedDirectory {
public:
    IsolatedDirectory() : cwd_(dir_.path()) {}
    const std::filesystem::path& path() const { return dir_.path(); }

private:
    TempDir dir_;
    ScopedWorkingDirectory cwd_;
};

// Sets KELOCAM_FEED_NAME to a name unique to this process for its lifetime, and unlinks the
// object on destruction. Returns the name.
class ScopedFeedName {
public:
    ScopedFeedName();
    ScopedFeedName(const ScopedFeedName&) = delete;
    ScopedFeedName& operator=(const ScopedFeedName&) = delete;
    ~ScopedFeedName();
    const std::string& name() const { return name_; }

private:
    std::string name_;
};

// A frame header over `bytes` as the effect filters hand frames on: width x height, 3 bytes a
// pixel, rows packed, bottom row first.
inline FrameImage BottomUpFrame(std::vector<std::uint8_t>& bytes, int width, int height) {
    FrameImage frame;
    frame.width = width;
    frame.height = height;
    frame.origin = kFrameOriginBottomLeft;
    frame.imageData = bytes.data();
    frame.widthStep = width * 3;
    frame.imageSize = frame.widthStep * height;
    return frame;
}

// Whether the 320 x 240 feed block (open in `feed`) holds a picture: any byte not black.
bool FeedHasPicture(const SharedMemoryView& feed);

// Source and build folders of the project (for test data and built programs).
std::filesystem::path SourceDir();
std::filesystem::path BinaryDir();

} // namespace kelo::test
