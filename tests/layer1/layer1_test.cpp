// Layer I encoder: frame format, bit allocation, filterbank, and decoding by mpg123.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tools/tompg/layer1.h"
#include "tools/tompg/layer1_internal.h"

namespace {

const double kPi = 3.14159265358979323846;

// Frame fields as a decoder reads them (ISO/IEC 11172-3 2.4.1.3 and 2.4.1.5).
struct ParsedFrame {
    bool syncOk;
    int id, layer, protection, bitrateIndex, freqIndex, padding, mode, modeExtension;
    int alloc[2][32];
    int audioBits;  // header + allocation + scalefactors + samples
};

struct BitReader {
    const uint8_t* data;
    int size;
    int pos;
};

unsigned Get(BitReader& r, int n)
{
    unsigned v = 0;
    for (int i = 0; i < n; ++i) {
        const int byte = r.pos >> 3;
        const unsigned bit = byte < r.size ? (r.data[byte] >> (7 - (r.pos & 7))) & 1u : 0u;
        v = (v << 1) | bit;
        ++r.pos;
    }
    return v;
}

ParsedFrame ParseFrame(const uint8_t* data, int size)
{
    ParsedFrame f{};
    BitReader r{data, size, 0};
    f.syncOk = Get(r, 12) == 0xFFF;
    f.id = static_cast<int>(Get(r, 1));
    f.layer = static_cast<int>(Get(r, 2));
    f.protection = static_cast<int>(Get(r, 1));
    f.bitrateIndex = static_cast<int>(Get(r, 4));
    f.freqIndex = static_cast<int>(Get(r, 2));
    f.padding = static_cast<int>(Get(r, 1));
    Get(r, 1);
    f.mode = static_cast<int>(Get(r, 2));
    f.modeExtension = static_cast<int>(Get(r, 2));
    Get(r, 4);
    const int nch = f.mode == 3 ? 1 : 2;
    const int bound = f.mode == 1 ? 4 * (f.modeExtension + 1) : 32;
    for (int sb = 0; sb < 32; ++sb) {
        for (int ch = 0; ch < nch; ++ch) {
            f.alloc[ch][sb] = static_cast<int>(Get(r, 4));
        }
        if (sb >= bound) {
            f.alloc[1][sb] = f.alloc[0][sb];
        }
    }
    int sampleBits = 0;
    for (int sb = 0; sb < 32; ++sb) {
        for (int ch = 0; ch < nch; ++ch) {
            if (f.alloc[ch][sb] != 0) {
                Get(r, 6);
                if (sb < bound || ch == 0) {
                    sampleBits += 12 * (f.alloc[ch][sb] + 1);
                }
            }
        }
    }
    f.audioBits = r.pos + sampleBits;
    return f;
}

int FieldRate(int id, int freqIndex)
{
    static const int rates[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};
    return freqIndex < 3 ? rates[id][freqIndex] : 0;
}

int FieldBitrate(int id, int index)
{
    static const int l1[2][15] = {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
                                  {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}};
    return index < 15 ? l1[id][index] : 0;
}

// Test signal: a sum of sines per channel, or noise, or silence.
enum class Signal { Tones, Noise, Silence };

std::vector<float> MakeSignal(Signal kind, int rate, int channel, int count)
{
    std::vector<float> v(static_cast<size_t>(count));
    std::mt19937 rng(1234u + static_cast<unsigned>(channel));
    std::normal_distribution<float> gauss(0.0f, 1.0f);
    float lp1 = 0.0f;
    float lp2 = 0.0f;
    for (int i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / rate;
        float x = 0.0f;
        if (kind == Signal::Tones) {
            const double f0 = channel == 0 ? 440.0 : 554.37;
            x = static_cast<float>(0.30 * std::sin(2 * kPi * f0 * t) + 0.15 * std::sin(2 * kPi * 1234.5 * t + 1.0) +
                                   0.08 * std::sin(2 * kPi * 3950.0 * t + 2.0) +
                                   0.03 * std::sin(2 * kPi * (channel == 0 ? 7200.0 : 6100.0) * t));
        } else if (kind == Signal::Noise) {
            // Noise with a falling spectrum (two one-pole low-passes), like music or speech.
            lp1 += 0.25f * (gauss(rng) - lp1);
            lp2 += 0.25f * (lp1 - lp2);
            x = 0.6f * lp2;
        }
        v[static_cast<size_t>(i)] = x;
    }
    return v;
}

// Encodes whole frames of the given channels; returns the stream.
std::vector<uint8_t> Encode(Layer1Encoder& enc, const std::vector<float>& l, const std::vector<float>& r,
                            std::vector<int>* frameSizes = nullptr)
{
    std::vector<uint8_t> stream;
    uint8_t frame[kLayer1MaxFrameBytes];
    for (size_t pos = 0; pos + 384 <= l.size(); pos += 384) {
        const int n = Layer1EncodeFrame(enc, l.data() + pos, r.empty() ? nullptr : r.data() + pos, frame,
                                        static_cast<int>(sizeof frame));
        EXPECT_GT(n, 0);
        if (n <= 0) {
            break;
        }
        stream.insert(stream.end(), frame, frame + n);
        if (frameSizes != nullptr) {
            frameSizes->push_back(n);
        }
    }
    return stream;
}

struct Wav {
    int rate = 0;
    int channels = 0;
    std::vector<float> samples;  // interleaved
};

// Reads the 16-bit PCM WAV that mpg123 -w writes.
bool ReadWav(const std::string& path, Wav& wav)
{
    std::ifstream f(path, std::ios::binary);
    std::vector<uint8_t> d((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (d.size() < 12 || std::memcmp(d.data(), "RIFF", 4) != 0 || std::memcmp(d.data() + 8, "WAVE", 4) != 0) {
        return false;
    }
    auto u32 = [&](size_t p) { return d[p] | d[p + 1] << 8 | d[p + 2] << 16 | static_cast<uint32_t>(d[p + 3]) << 24; };
    size_t p = 12;
    int bits = 0;
    while (p + 8 <= d.size()) {
        const uint32_t len = u32(p + 4);
        const size_t body = p + 8;
        if (std::memcmp(&d[p], "fmt ", 4) == 0 && body + 16 <= d.size()) {
            wav.channels = d[body + 2] | d[body + 3] << 8;
            wav.rate = static_cast<int>(u32(body + 4));
            bits = d[body + 14] | d[body + 15] << 8;
        } else if (std::memcmp(&d[p], "data", 4) == 0) {
            if (bits != 16) {
                return false;
            }
            const size_t end = std::min(d.size(), body + len);
            for (size_t q = body; q + 1 < end; q += 2) {
                wav.samples.push_back(static_cast<int16_t>(d[q] | d[q + 1] << 8) / 32768.0f);
            }
            return true;
        }
        p = body + len + (len & 1);
    }
    return false;
}

bool HaveMpg123()
{
    return std::system("command -v mpg123 >/dev/null 2>&1") == 0;
}

// Decodes a stream with mpg123; false when it fails.
bool DecodeWithMpg123(const std::vector<uint8_t>& stream, const std::string& name, Wav& wav)
{
    const auto dir = std::filesystem::path(testing::TempDir()) / ("layer1_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string mp1 = (dir / (name + ".mp1")).string();
    const std::string out = (dir / (name + ".wav")).string();
    {
        std::ofstream f(mp1, std::ios::binary);
        f.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    }
    const std::string cmd = "mpg123 -q -w '" + out + "' '" + mp1 + "' >/dev/null 2>&1";
    const bool ok = std::system(cmd.c_str()) == 0 && ReadWav(out, wav);
    std::filesystem::remove(mp1);
    std::filesystem::remove(out);
    return ok;
}

// Channel ch of an interleaved decode.
std::vector<float> Channel(const Wav& wav, int ch)
{
    std::vector<float> v;
    for (size_t i = static_cast<size_t>(ch); i < wav.samples.size(); i += static_cast<size_t>(wav.channels)) {
        v.push_back(wav.samples[i]);
    }
    return v;
}

// SNR in dB of decoded against source, decoded delayed by delay samples, measured away from
// the start (filter run-in) and the end.
double SnrDb(const std::vector<float>& src, const std::vector<float>& dec, int delay)
{
    double sig = 0.0;
    double err = 0.0;
    const size_t begin = 2048;
    const size_t end = std::min(src.size(), dec.size() - static_cast<size_t>(delay)) - 1024;
    for (size_t i = begin; i < end; ++i) {
        const double e = dec[i + static_cast<size_t>(delay)] - src[i];
        sig += static_cast<double>(src[i]) * src[i];
        err += e * e;
    }
    return 10.0 * std::log10(sig / std::max(err, 1e-30));
}

// The delay (in samples) of the decoded signal with the best SNR.
int FindDelay(const std::vector<float>& src, const std::vector<float>& dec)
{
    int best = 0;
    double bestSnr = -1e9;
    for (int d = 0; d < 1200; ++d) {
        const double s = SnrDb(src, dec, d);
        if (s > bestSnr) {
            bestSnr = s;
            best = d;
        }
    }
    return best;
}

}  // namespace

TEST(Layer1Explore, PrintSnr)
{
    if (!HaveMpg123()) {
        GTEST_SKIP() << "mpg123 not installed";
    }
    struct Row { int rate; int channels; int mode; int kbps; Signal sig; };
    const Row rows[] = {
        {44100, 2, 0, 192, Signal::Tones}, {44100, 2, 0, 384, Signal::Tones}, {44100, 2, 0, 192, Signal::Noise},
        {44100, 2, 0, 384, Signal::Noise}, {44100, 1, 3, 192, Signal::Tones}, {48000, 2, 0, 448, Signal::Tones},
        {22050, 2, 0, 192, Signal::Tones}, {22050, 1, 3, 192, Signal::Noise}, {44100, 2, 0, 128, Signal::Tones},
    };
    for (const Row& row : rows) {
        Layer1Encoder enc;
        ASSERT_TRUE(Layer1Init(enc, row.rate, row.channels, row.mode, row.kbps));
        const int n = row.rate * 2;
        auto l = MakeSignal(row.sig, row.rate, 0, n);
        auto r = row.channels == 2 ? MakeSignal(row.sig, row.rate, 1, n) : std::vector<float>{};
        auto stream = Encode(enc, l, r);
        Wav wav;
        ASSERT_TRUE(DecodeWithMpg123(stream, "explore", wav));
        auto d0 = Channel(wav, 0);
        int delay = FindDelay(l, d0);
        printf("rate %d ch %d kbps %d sig %d: delay %d snr %.2f", row.rate, row.channels, row.kbps,
               static_cast<int>(row.sig), delay, SnrDb(l, d0, delay));
        if (row.channels == 2) {
            printf(" right %.2f", SnrDb(r, Channel(wav, 1), delay));
        }
        printf("\n");
    }
}
