#include "effects/models/FaceDetector.h"

#include <algorithm>
#include <cmath>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

namespace kelo {

namespace {

constexpr int kAnchorCount = 896;
constexpr int kRegressorsPerAnchor = 16;

std::unique_ptr<FaceDetector> Refuse(std::string* error, const std::string& text) {
    if (error)
        *error = text;
    return nullptr;
}

bool HasShape(const TfliteNetOutput& output, std::int32_t last) {
    return output.shape == std::vector<std::int32_t>{1, kAnchorCount, last};
}

float Sigmoid(float logit) {
    return 1.f / (1.f + std::exp(-std::clamp(logit, -100.f, 100.f)));
}

float Overlap(const cv::Rect2f& a, const cv::Rect2f& b) {
    const float in = (a & b).area();
    const float all = a.area() + b.area() - in;
    return all > 0 ? in / all : 0.f;
}

} // namespace

const std::vector<FaceAnchor>& FaceAnchors() {
    static const std::vector<FaceAnchor> anchors = [] {
        // Layers of strides 8, 16, 16, 16 on the 128-pixel input; layers of one stride share a
        // feature map, and each layer gives two anchors a cell (its aspect ratio 1 and the
        // interpolated scale) of the same fixed size: 2 a cell at 16 x 16, 6 a cell at 8 x 8.
        struct Map {
            int size;
            int perCell;
        };
        std::vector<FaceAnchor> out;
        out.reserve(kAnchorCount);
        for (const Map& m : {Map{16, 2}, Map{8, 6}}) {
            for (int y = 0; y < m.size; ++y)
                for (int x = 0; x < m.size; ++x)
                    for (int a = 0; a < m.perCell; ++a)
                        out.push_back(FaceAnchor{(x + 0.5f) / static_cast<float>(m.size),
                                                 (y + 0.5f) / static_cast<float>(m.size)});
        }
        return out;
    }();
    return anchors;
}

std::vector<FaceBox> DecodeFaces(const float* regressors, const float* logits, float minScore,
                                 float mergeOverlap) {
    const std::vector<FaceAnchor>& anchors = FaceAnchors();
    constexpr float kSize = FaceDetector::kInputSize;
    std::vector<FaceBox> candidates;
    for (int i = 0; i < kAnchorCount; ++i) {
        const float score = Sigmoid(logits[i]);
        if (!(score >= minScore))
            continue;
        // Offsets in input pixels from the anchor's centre; anchors are 1 x 1.
        const float* r = regressors + static_cast<std::ptrdiff_t>(i) * kRegressorsPerAnchor;
        const FaceAnchor& a = anchors[static_cast<std::size_t>(i)];
        const float cx = r[0] / kSize + a.x;
        const float cy = r[1] / kSize + a.y;
        const float w = r[2] / kSize;
        const float h = r[3] / kSize;
        if (!(w > 0 && h > 0) || !std::isfinite(cx) || !std::isfinite(cy))
            continue;
        FaceBox face;
        face.box = cv::Rect2f(cx - w / 2, cy - h / 2, w, h);
        face.score = score;
        for (std::size_t k = 0; k < face.keypoints.size(); ++k)
            face.keypoints[k] = cv::Point2f(r[4 + 2 * k] / kSize + a.x, r[5 + 2 * k] / kSize + a.y);
        candidates.push_back(face);
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const FaceBox& a, const FaceBox& b) { return a.score > b.score; });

    std::vector<FaceBox> faces;
    std::vector<bool> taken(candidates.size(), false);
    for (std::size_t best = 0; best < candidates.size(); ++best) {
        if (taken[best])
            continue;
        // The best remaining detection and every remaining one overlapping it, averaged by score.
        double weight = 0;
        double x = 0, y = 0, right = 0, bottom = 0;
        std::array<cv::Point2d, 6> points{};
        for (std::size_t j = best; j < candidates.size(); ++j) {
            // The best one overlaps itself fully, so it always joins.
            if (taken[j] || !(Overlap(candidates[best].box, candidates[j].box) > mergeOverlap))
                continue;
            taken[j] = true;
            const FaceBox& c = candidates[j];
            const double s = c.score;
            weight += s;
            x += s * c.box.x;
            y += s * c.box.y;
            right += s * (c.box.x + c.box.width);
            bottom += s * (c.box.y + c.box.height);
            for (std::size_t k = 0; k < points.size(); ++k) {
                points[k].x += s * c.keypoints[k].x;
                points[k].y += s * c.keypoints[k].y;
            }
        }
        FaceBox face = candidates[best];
        if (weight > 0) {
            face.box = cv::Rect2f(static_cast<float>(x / weight), static_cast<float>(y / weight),
                                  static_cast<float>((right - x) / weight),
                                  static_cast<float>((bottom - y) / weight));
            for (std::size_t k = 0; k < points.size(); ++k)
                face.keypoints[k] = cv::Point2f(static_cast<float>(points[k].x / weight),
                                                static_cast<float>(points[k].y / weight));
        }
        faces.push_back(face);
    }
    return faces;
}

std::unique_ptr<FaceDetector> FaceDetector::FromModel(const TfliteModel& model,
                                                      std::string* error) {
    std::string why;
    auto net = BuildTfliteNet(model, &why);
    if (!net)
        return Refuse(error, "the face detector model cannot run: " + why);
    const auto& in = net->inputShape;
    const auto& outs = net->outputs;
    const bool inputFits = in == std::vector<std::int32_t>{1, kInputSize, kInputSize, 3};
    int regressors = -1;
    if (outs.size() == 2 && HasShape(outs[0], kRegressorsPerAnchor) && HasShape(outs[1], 1))
        regressors = 0;
    else if (outs.size() == 2 && HasShape(outs[1], kRegressorsPerAnchor) && HasShape(outs[0], 1))
        regressors = 1;
    if (!inputFits || regressors < 0)
        return Refuse(error, "the face detector model has other input or output sizes");
    auto detector = std::unique_ptr<FaceDetector>(new FaceDetector(std::move(*net), regressors));
    detector->outputLayers_ = detector->net_.OutputLayers();
    return detector;
}

std::unique_ptr<FaceDetector> FaceDetector::Load(const std::string& path, std::string* error) {
    std::string why;
    const auto model = ReadTfliteModelFile(path, &why);
    if (!model)
        return Refuse(error, why);
    return FromModel(*model, error);
}

std::unique_ptr<FaceDetector> FaceDetector::LoadStudioModel(std::string* error) {
    // Quietly: the face cover says in one line what it does without the model.
    const StudioTfliteModel& shared =
        ReadStudioTfliteModel(kFaceModelAsset, "face detector model", true);
    if (!shared.model)
        return Refuse(error, shared.error);
    return FromModel(*shared.model, error);
}

std::vector<FaceBox> FaceDetector::Detect(const cv::Mat& bgr, bool bottomUp) {
    if (bgr.empty() || bgr.type() != CV_8UC3)
        return {};
    try {
        // Letterbox: the picture scaled to fit the square with its aspect kept, centred, the
        // rest mid-grey (zero in the model's range).
        const double fit = std::min(static_cast<double>(kInputSize) / bgr.cols,
                                    static_cast<double>(kInputSize) / bgr.rows);
        const int width = std::clamp(static_cast<int>(std::lround(bgr.cols * fit)), 1, kInputSize);
        const int height = std::clamp(static_cast<int>(std::lround(bgr.rows * fit)), 1, kInputSize);
        const int left = (kInputSize - width) / 2;
        const int top = (kInputSize - height) / 2;
        square_.create(kInputSize, kInputSize, CV_8UC3);
        square_.setTo(cv::Scalar::all(128));
        // Averaged down by halves while the picture is at least twice the size it needs (the
        // cheap exact case of area averaging), then the rest, less than a half, interpolated:
        // no aliasing, and a fraction of a general area resize's cost. An upside-down copy is
        // turned here, where it is small.
        const cv::Rect inside(left, top, width, height);
        const cv::Mat* source = &bgr;
        int halves = 0;
        while (source->cols >= 2 * width && source->rows >= 2 * height) {
            cv::Mat& half = (halves++ % 2 == 0) ? halfA_ : halfB_;
            cv::resize(*source, half, cv::Size(source->cols / 2, source->rows / 2), 0, 0,
                       cv::INTER_AREA);
            source = &half;
        }
        if (bottomUp) {
            cv::resize(*source, scaled_, inside.size(), 0, 0, cv::INTER_LINEAR);
            cv::flip(scaled_, square_(inside), 0);
        } else {
            cv::resize(*source, square_(inside), inside.size(), 0, 0, cv::INTER_LINEAR);
        }
        // RGB scaled to [-1, 1], as the model was trained.
        cv::dnn::blobFromImage(square_, blob_, 1.0 / 127.5, cv::Size(), cv::Scalar::all(127.5),
                               true, false, CV_32F);
        net_.net.setInput(blob_);
        // The network on this thread alone. Its layers are small (maps of 64 x 64 and less), so a
        // second thread costs more in handing over work and in waiting for it, spinning, than it
        // saves. OpenCV runs the parallel loops nested in one serially; the setting is not
        // process-wide, so the blur's segmentation keeps its threads (its loops that start while
        // this one runs are serial too, for those few milliseconds).
        bool failed = false;
        cv::parallel_for_(cv::Range(0, 1), [&](const cv::Range&) {
            try {
                net_.net.forward(outputs_, outputLayers_);
            } catch (const cv::Exception&) {
                failed = true;
            }
        });
        if (failed)
            return {};
        const cv::Mat& reg = outputs_[static_cast<std::size_t>(regressorsOutput_)];
        const cv::Mat& cls = outputs_[static_cast<std::size_t>(1 - regressorsOutput_)];
        if (reg.total() != static_cast<std::size_t>(kAnchorCount) * kRegressorsPerAnchor ||
            cls.total() != static_cast<std::size_t>(kAnchorCount) || !reg.isContinuous() ||
            !cls.isContinuous())
            return {};
        std::vector<FaceBox> faces =
            DecodeFaces(reg.ptr<float>(), cls.ptr<float>(), kMinScore, kMergeOverlap);

        // From [0, 1] of the square back to the picture's pixels.
        const float sx = static_cast<float>(bgr.cols) / static_cast<float>(width);
        const float sy = static_cast<float>(bgr.rows) / static_cast<float>(height);
        const auto toPicture = [&](cv::Point2f p) {
            return cv::Point2f((p.x * kInputSize - static_cast<float>(left)) * sx,
                               (p.y * kInputSize - static_cast<float>(top)) * sy);
        };
        for (FaceBox& f : faces) {
            const cv::Point2f tl = toPicture(f.box.tl());
            const cv::Point2f br = toPicture(f.box.br());
            f.box = cv::Rect2f(tl, br);
            for (cv::Point2f& k : f.keypoints)
                k = toPicture(k);
        }
        return faces;
    } catch (const cv::Exception&) {
        return {};
    }
}

} // namespace kelo
