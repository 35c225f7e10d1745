// Our cubic passes against ImageMagick's Mitchell filter (B = C = 1/3). The
// peer keeps its intermediate image at 16 bits (limited to the channel
// range), so its 16-bit output is taken and rounded to 8; ours is rounded to
// bytes between the passes, which allows a difference of 1 per channel. The
// passes run in the peer's order, found by trying both: horizontal first
// when the width's scale factor is the larger one, else vertical first.
#include "toolkit/image/image.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using Pixels = std::vector<uint8_t>;
const int32_t BPP = 3;

bool have_convert()
{
    return std::system("convert -version > /dev/null 2>&1") == 0;
}

class TempDirectory {
public:
    TempDirectory()
    {
        char pattern[] = "/tmp/resample_peer.XXXXXX";
        if (mkdtemp(pattern))
            path_ = pattern;
    }
    ~TempDirectory()
    {
        std::remove((path_ + "/in.rgb").c_str());
        std::remove((path_ + "/out.rgb").c_str());
        rmdir(path_.c_str());
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The peer's result at 16 bits per channel, rounded to 8; empty on failure.
Pixels peer_resize(const Pixels& source, int32_t width, int32_t height, int32_t to_width,
                   int32_t to_height)
{
    TempDirectory directory;
    std::string in = directory.path() + "/in.rgb", out = directory.path() + "/out.rgb";
    FILE* file = std::fopen(in.c_str(), "wb");
    if (!file)
        return {};
    std::fwrite(source.data(), 1, source.size(), file);
    std::fclose(file);
    std::string command = "convert -size " + std::to_string(width) + "x" + std::to_string(height) +
                          " -depth 8 rgb:" + in + " -filter Mitchell -resize " +
                          std::to_string(to_width) + "x" + std::to_string(to_height) +
                          "! -depth 16 -endian MSB rgb:" + out;
    if (std::system(command.c_str()) != 0)
        return {};
    std::vector<uint8_t> wide(static_cast<size_t>(to_width) * to_height * BPP * 2);
    file = std::fopen(out.c_str(), "rb");
    if (!file)
        return {};
    size_t read = std::fread(wide.data(), 1, wide.size(), file);
    std::fclose(file);
    if (read != wide.size())
        return {};
    Pixels result(wide.size() / 2);
    for (size_t i = 0; i < result.size(); ++i)
        result[i] = static_cast<uint8_t>(((wide[2 * i] << 8 | wide[2 * i + 1]) + 128) / 257);
    return result;
}

// Our two passes in the peer's order.
Pixels our_resize(const Pixels& source, int32_t width, int32_t height, int32_t to_width,
                  int32_t to_height, bool across_first)
{
    Pixels out(static_cast<size_t>(to_width) * to_height * BPP);
    if (across_first) {
        Pixels middle(static_cast<size_t>(to_width) * height * BPP);
        resample_rows(height, source.data(), width, middle.data(), to_width, BPP);
        resample_columns(middle.data(), to_width, height, out.data(), to_width, to_height, BPP);
    } else {
        Pixels middle(static_cast<size_t>(width) * to_height * BPP);
        resample_columns(source.data(), width, height, middle.data(), width, to_height, BPP);
        resample_rows(to_height, middle.data(), width, out.data(), to_width, BPP);
    }
    return out;
}

Pixels noise(int32_t width, int32_t height, uint32_t seed)
{
    std::mt19937 random(seed);
    Pixels pixels(static_cast<size_t>(width) * height * BPP);
    for (auto& value : pixels)
        value = static_cast<uint8_t>(random());
    return pixels;
}

// Gradients crossed by hard-edged bars: smooth areas and clamped overshoot.
Pixels bars(int32_t width, int32_t height)
{
    Pixels pixels;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            pixels.push_back(static_cast<uint8_t>(x * 255 / width));
            pixels.push_back(static_cast<uint8_t>((x / 5 + y / 7) % 2 ? 255 : 0));
            pixels.push_back(static_cast<uint8_t>(y * 255 / height));
        }
    return pixels;
}

struct PeerCase {
    const char* picture;
    int32_t width, height, to_width, to_height;
};

const PeerCase peer_cases[] = {
    {"noise", 61, 47, 23, 17},   {"noise", 61, 47, 97, 83},  {"noise", 50, 21, 17, 41},
    {"noise", 13, 40, 31, 9},    {"bars", 120, 90, 37, 29},  {"bars", 120, 90, 251, 199},
    {"bars", 99, 101, 33, 202},  {"bars", 64, 64, 64, 31},   {"noise", 7, 5, 3, 11},
};

}  // namespace

TEST(ResamplePeer, AgreesWithConvertsMitchellWithinOnePerChannel)
{
    if (!have_convert())
        GTEST_SKIP() << "convert is not installed";
    int32_t largest = 0;
    for (const PeerCase& c : peer_cases) {
        SCOPED_TRACE(testing::Message() << c.picture << " " << c.width << "x" << c.height << " -> "
                                        << c.to_width << "x" << c.to_height);
        Pixels source = c.picture[0] == 'n' ? noise(c.width, c.height, c.width * 1000u + c.height)
                                            : bars(c.width, c.height);
        Pixels theirs = peer_resize(source, c.width, c.height, c.to_width, c.to_height);
        ASSERT_FALSE(theirs.empty()) << "convert failed";
        bool across_first = static_cast<int64_t>(c.to_width) * c.height >
                            static_cast<int64_t>(c.to_height) * c.width;
        Pixels ours = our_resize(source, c.width, c.height, c.to_width, c.to_height, across_first);
        ASSERT_EQ(theirs.size(), ours.size());
        int32_t worst = 0;
        size_t worst_at = 0;
        for (size_t i = 0; i < ours.size(); ++i)
            if (std::abs(ours[i] - theirs[i]) > worst) {
                worst = std::abs(ours[i] - theirs[i]);
                worst_at = i;
            }
        EXPECT_LE(worst, 1) << "byte " << worst_at << ": peer " << int(theirs[worst_at]) << ", ours "
                            << int(ours[worst_at]);
        largest = std::max(largest, worst);
    }
    std::printf("largest difference from the peer: %d\n", largest);
}
