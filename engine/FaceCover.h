// Face cover: finds faces and hides each under a filled circle. Runs on the streaming thread from
// FrameCallback.
//
// Faces are found by the face detector (effects/models/FaceDetector.h, the model of the data folder),
// which finds faces rolled and turned far beyond a frontal cascade. When its model is missing or
// refused, one line on stderr says so and the Haar cascade "haarcascade_frontalface_alt2.xml"
// finds them as before. Between frames the detector's faces are held: a face the detector loses
// keeps its cover for kFaceHoldFrames more detections, so that a face missed in a detection does
// not blink uncovered; on a stream faster than one frame per kFaceDetectionInterval the detector
// skips frames and the last faces are covered between.
//
// The finders (detector or cascade, and result storage) are process-wide: created on first use,
// kept for the process's life. While the cascade is not loaded, every call tries to load it again.
#pragma once

#include "platform/contracts/FrameImage.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

namespace kelo {

inline constexpr const char* kFaceCascadeFileName = "haarcascade_frontalface_alt2.xml";
// Detection works on a grey copy reduced by this factor in each direction.
inline constexpr double kFaceScale = 1.3;
// The detector's scale step between window sizes, its minimum neighbours and its smallest face
// (in reduced-image pixels). A step of 1.2 rather than 1.1 halves the detector's cost; the
// cascade tolerates the size difference between neighbouring windows, so the same faces are
// found from the smallest face up (measured on the face photograph from 0.45 to 2 times its size).
inline constexpr double kFaceScaleStep = 1.2;
inline constexpr int kFaceMinNeighbours = 2;
inline constexpr int kFaceMinSize = 30;

struct FaceColor {
    std::uint8_t blue = 0;
    std::uint8_t green = 0;
    std::uint8_t red = 0;
};

// Face number i (in the detector's result order) gets row i mod 8.
inline constexpr std::array<FaceColor, 8> kFaceColors = {{
    {0, 0, 255},
    {0, 128, 255},
    {0, 255, 255},
    {0, 255, 0},
    {255, 128, 0},
    {255, 255, 0},
    {255, 0, 0},
    {255, 0, 255},
}};

struct FaceCircle {
    int centerX = 0;
    int centerY = 0;
    int radius = 0;
};

// Frames wider than this are detected on a grey copy reduced to this width first (then by
// kFaceScale as every frame): an HD frame costs the cascade what a 320 x 240 frame does. (The
// face detector reduces any frame to its 128 x 128 input itself.)
inline constexpr int kFaceDetectionWidth = 320;

// The factor from reduced-image pixels to frame pixels for a frame `frameWidth` wide: kFaceScale
// up to kFaceDetectionWidth, growing with the width beyond it.
double FaceDetectionScale(int frameWidth);

// The circle in frame pixels for a face rectangle found in the reduced image (halves round to
// the even neighbour); `scale` is FaceDetectionScale of the frame.
FaceCircle FaceCircleFor(const FrameRect& smallFace, double scale = kFaceScale);

// The circle in frame pixels for a face box the detector found in frame pixels: the box's centre,
// a quarter of its width plus height as the radius (as for a cascade rectangle).
FaceCircle FaceCircleForBox(double x, double y, double width, double height);

// Detections after its last for which a face the detector no longer finds stays covered: two,
// so its cover stays about 330 ms after it was last found at 15 frames per second (a detection
// every second frame) and 270 ms at 30 (every third); a face the detector misses once, or twice
// running, does not blink.
inline constexpr int kFaceHoldFrames = 2;

// The shortest time between two detections of a stream: frames that come faster share one, the
// faces of the last detection covered between. At 15 frames per second every second frame is
// detected, at 30 every third, at 60 every sixth: about ten detections a second at most, which
// keeps the detector's cost per frame near a third of a detection at 30 and half at 15. The
// price: a face that comes into the picture on a frame between two detections is covered from
// the next detection (at most one frame later at 15, two at 30), and between detections a cover
// stays where the face was at the last one. 90 rather than 100 ms: frames that arrive a little
// early (a camera's clock, a busy machine) keep the cadence.
inline constexpr std::chrono::milliseconds kFaceDetectionInterval{90};

enum class FaceFinder {
    Detector, // the face detector model
    Cascade,  // the frontal cascade: the model is missing or refused
};

// Which finder the face cover uses; the first call reads the model (the streaming thread's first
// face-cover frame does so otherwise).
FaceFinder ActiveFaceFinder();

// Forgets the faces held from earlier frames: the next frame is covered from its own detection
// alone (a new picture that has nothing to do with the last one).
void ForgetFaces();

// Draws the filled circle of each face (rectangles in reduced-image pixels of this frame's
// size, in result order) on the frame as it lies in memory.
void CoverFaces(FrameImage* frame, const std::vector<FrameRect>& smallFaces);

// Detects faces on an upright copy of the frame (the detector's small colour copy, or the
// cascade's grey one) and covers them. A bottom-left frame is never flipped: its copy is, and the
// circles are drawn at the mirrored rows (a filled circle is symmetric about its centre row), so
// the frame leaves in the row order it came. Frames that are not 8-bit, 3-channel, no finder:
// nothing is drawn. Returns the number of faces covered (held ones included). The detector runs
// on this frame.
int DetectAndCoverFaces(FrameImage* frame);
// The same for a frame of the stream that arrived at `arrival`: the detector runs on it only when
// kFaceDetectionInterval has passed since its last run (or the stream changed size, paused or
// was forgotten); otherwise the faces held from that run are covered. The cascade runs on every
// frame.
int DetectAndCoverFaces(FrameImage* frame, std::chrono::steady_clock::time_point arrival);

// True once the cascade has been loaded (for tests and diagnostics).
bool FaceCascadeLoaded();

} // namespace kelo
