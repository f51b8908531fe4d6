// Draws the studio's shutter sound: a short mechanical click of our own, made of two damped
// transients (the shutter opening, then closing 55 ms later), each a burst of filtered noise over
// a low body resonance. Written as a 16-bit mono PCM WAV file at 44.1 kHz. The noise generator
// starts from the same state every time, so every build writes the same bytes.
//
//   kelo-shutter-sound OUTPUT.wav
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSampleRate = 44100;
constexpr double kLengthSeconds = 0.16;
constexpr double kPi = 3.14159265358979323846;

struct Transient {
    double startSeconds;
    double gain;
    double noiseDecaySeconds; // the sharp tick
    double bodyHz;            // the housing's ring
    double bodyDecaySeconds;
};

constexpr std::array<Transient, 2> kTransients = {{
    {0.000, 0.85, 0.0035, 1850.0, 0.012},
    {0.055, 0.60, 0.0050, 1250.0, 0.018},
}};

// xorshift32: deterministic noise in -1..1.
double Noise(std::uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<double>(state) / 2147483648.0 - 1.0;
}

void PutLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kelo-shutter-sound OUTPUT.wav\n");
        return 2;
    }
    const int frames = static_cast<int>(kLengthSeconds * kSampleRate);
    std::vector<double> signal(static_cast<size_t>(frames), 0.0);
    std::uint32_t noiseState = 0x4b454c4fu; // any constant start will do
    for (const Transient& t : kTransients) {
        const int start = static_cast<int>(t.startSeconds * kSampleRate);
        double lowPassed = 0;
        for (int i = start; i < frames; ++i) {
            const double s = static_cast<double>(i - start) / kSampleRate;
            // One-pole low pass takes the hiss off the noise; the body is a damped sine.
            lowPassed += 0.45 * (Noise(noiseState) - lowPassed);
            const double tick = lowPassed * std::exp(-s / t.noiseDecaySeconds);
            const double body =
                0.5 * std::sin(2 * kPi * t.bodyHz * s) * std::exp(-s / t.bodyDecaySeconds);
            signal[static_cast<size_t>(i)] += t.gain * (tick + body);
        }
    }
    // Fade the last 10 ms to silence, so the end never clicks by itself.
    const int fade = kSampleRate / 100;
    for (int i = 0; i < fade; ++i)
        signal[static_cast<size_t>(frames - 1 - i)] *= static_cast<double>(i) / fade;

    std::vector<std::uint8_t> wav;
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(frames) * 2;
    wav.insert(wav.end(), {'R', 'I', 'F', 'F'});
    PutLe(wav, 36 + dataBytes, 4);
    wav.insert(wav.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLe(wav, 16, 4);              // format chunk size
    PutLe(wav, 1, 2);               // PCM
    PutLe(wav, 1, 2);               // mono
    PutLe(wav, kSampleRate, 4);     // frames per second
    PutLe(wav, kSampleRate * 2, 4); // bytes per second
    PutLe(wav, 2, 2);               // bytes per frame
    PutLe(wav, 16, 2);              // bits per sample
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    PutLe(wav, dataBytes, 4);
    for (double v : signal) {
        const double clipped = std::fmax(-1.0, std::fmin(1.0, v));
        PutLe(wav,
              static_cast<std::uint32_t>(static_cast<std::int16_t>(std::lround(clipped * 32000))),
              2);
    }

    std::FILE* file = std::fopen(argv[1], "wb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(wav.data(), 1, wav.size(), file) == wav.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "%s: write failed\n", argv[1]);
        return 1;
    }
    return 0;
}
