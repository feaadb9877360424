// The two frame forms: every kernel against a plain reading of the form,
// on random frames of awkward sizes.
#include "recording/frame_conversion.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

// Test names and messages show a kernel by its name.
void PrintTo(ConversionKernel kernel, std::ostream* out) { *out << conversionKernelName(kernel); }

namespace {

size_t strideOf(int width) { return (static_cast<size_t>(width) * 3 + 3) & ~size_t(3); }

// Output row r is source row height - 1 - r; bytes 0, 1, 2 of each pixel; zero pad.
std::vector<uint8_t> expectedFrame(const std::vector<uint32_t>& source, int width, int height)
{
    const size_t stride = strideOf(width);
    std::vector<uint8_t> frame(stride * height, 0);
    const auto* bytes = reinterpret_cast<const uint8_t*>(source.data());
    for (int r = 0; r < height; ++r)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                frame[r * stride + x * 3 + c] = bytes[(static_cast<size_t>(height - 1 - r) * width + x) * 4 + c];
    return frame;
}

std::vector<uint32_t> randomFrame(int width, int height, std::mt19937& random)
{
    std::vector<uint32_t> frame(static_cast<size_t>(width) * height);
    for (uint32_t& pixel : frame)
        pixel = random();
    return frame;
}

constexpr ConversionKernel kAllKernels[] = {ConversionKernel::Scalar, ConversionKernel::Sse2, ConversionKernel::Ssse3,
                                            ConversionKernel::Avx2, ConversionKernel::Avx512Vbmi};

constexpr uint8_t kGarbage = 0xA5;
constexpr size_t kGuardBytes = 64;

// Converts into a buffer full of garbage, `offset` bytes past a 64-byte
// boundary, and checks the frame and that nothing around it was touched.
void expectConversion(ConversionKernel kernel, const std::vector<uint32_t>& source, int width, int height,
                      size_t offset)
{
    const size_t stride = strideOf(width);
    const size_t bytes = stride * height;
    std::vector<uint8_t> buffer(bytes + 2 * kGuardBytes + 64, kGarbage);
    uint8_t* base = buffer.data() + kGuardBytes;
    base += (64 - reinterpret_cast<uintptr_t>(base) % 64) % 64 + offset;
    convertToBottomUp24With(kernel, source.data(), width, height, base, stride);

    const std::vector<uint8_t> expected = expectedFrame(source, width, height);
    ASSERT_EQ(std::vector<uint8_t>(base, base + bytes), expected);
    for (uint8_t* p = buffer.data(); p < base; ++p)
        ASSERT_EQ(*p, kGarbage) << "written before the frame";
    for (uint8_t* p = base + bytes; p < buffer.data() + buffer.size(); ++p)
        ASSERT_EQ(*p, kGarbage) << "written after the frame";
}

} // namespace

TEST(FrameConversion, TheTwoByTwoExampleKeepsBlueGreenRedBottomRowFirstWithZeroPads)
{
    const std::vector<uint8_t> pixels = {0x33, 0x22, 0x11, 0xAA, 0x66, 0x55, 0x44, 0xBB,
                                         0x99, 0x88, 0x77, 0xCC, 0xCC, 0xBB, 0xAA, 0xDD};
    std::vector<uint32_t> source(4);
    std::memcpy(source.data(), pixels.data(), pixels.size());
    const std::vector<uint8_t> expected = {0x99, 0x88, 0x77, 0xCC, 0xBB, 0xAA, 0, 0,
                                           0x33, 0x22, 0x11, 0x66, 0x55, 0x44, 0, 0};
    std::vector<uint8_t> frame(16, kGarbage);
    convertToBottomUp24(source.data(), 2, 2, frame.data(), 8);
    EXPECT_EQ(frame, expected);
}

// Each kernel, on a processor that has its instructions.
class ConversionKernelTest : public testing::TestWithParam<ConversionKernel> {
protected:
    void SetUp() override
    {
        if (!conversionKernelAvailable(GetParam()))
            GTEST_SKIP() << "this processor lacks the " << conversionKernelName(GetParam())
                         << " instructions (or the OS does not save their registers); kernel not checked here";
    }
};

TEST_P(ConversionKernelTest, MatchesAtWidthsOneToSixtySevenAndEveryPad)
{
    std::mt19937 random(7);
    for (int width = 1; width <= 67; ++width) {
        for (int height : {1, 2, 5}) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
            const std::vector<uint32_t> source = randomFrame(width, height, random);
            expectConversion(GetParam(), source, width, height, 0);
            if (HasFatalFailure())
                return;
        }
    }
}

// Rows start wherever a stride puts them, on any 4-byte boundary.
TEST_P(ConversionKernelTest, MatchesWhateverTheDestinationsAlignment)
{
    std::mt19937 random(11);
    for (int width : {31, 32, 33, 63, 64, 65, 95, 96, 97, 127, 128, 129, 200, 321, 1921}) {
        for (size_t offset = 0; offset < 64; offset += 4) {
            SCOPED_TRACE("width " + std::to_string(width) + " offset " + std::to_string(offset));
            const std::vector<uint32_t> source = randomFrame(width, 3, random);
            expectConversion(GetParam(), source, width, 3, offset);
            if (HasFatalFailure())
                return;
        }
    }
}

// The RAW copy: every pixel with its fourth byte 0xFF, nothing written
// around it, at every length a kernel's tail handles and any alignment.
TEST_P(ConversionKernelTest, TheOpaqueCopySetsEveryFourthByteAndNothingElse)
{
    std::mt19937 random(17);
    for (size_t pixels = 0; pixels <= 200; ++pixels) {
        for (size_t offset : {0, 1, 3, 15}) {
            SCOPED_TRACE(std::to_string(pixels) + " pixels, " + std::to_string(offset) + " past a 64-byte boundary");
            const std::vector<uint32_t> source = randomFrame(static_cast<int>(pixels), 1, random);
            std::vector<uint32_t> buffer(pixels + 64, 0xA5A5A5A5u);
            uint32_t* base = buffer.data() + 16;
            base += (16 - reinterpret_cast<uintptr_t>(base) / 4 % 16) % 16 + offset;
            copyOpaque32With(GetParam(), source.data(), pixels, base);
            for (size_t i = 0; i < pixels; ++i)
                ASSERT_EQ(base[i], source[i] | 0xFF000000u) << "pixel " << i;
            for (uint32_t* p = buffer.data(); p < buffer.data() + buffer.size(); ++p) {
                if (p < base || p >= base + pixels) {
                    ASSERT_EQ(*p, 0xA5A5A5A5u) << "written outside the frame";
                }
            }
        }
    }
}

// Says once which kernels this processor runs, so which ones the tests
// check: the same source runs natively and, in the 32-bit Windows build,
// under Wine.
class KernelsChecked : public testing::Environment {
    void SetUp() override
    {
        std::string runs;
        std::string lacks;
        for (ConversionKernel kernel : kAllKernels)
            (conversionKernelAvailable(kernel) ? runs : lacks) += std::string(" ") + conversionKernelName(kernel);
        std::printf("conversion kernels this processor runs:%s; lacks:%s; the frame path uses: %s\n",
                    runs.c_str(), lacks.empty() ? " none" : lacks.c_str(),
                    conversionKernelName(fastestConversionKernel()));
    }
};
testing::Environment* const kernelsChecked = testing::AddGlobalTestEnvironment(new KernelsChecked);

INSTANTIATE_TEST_SUITE_P(FrameConversion, ConversionKernelTest,
                         testing::ValuesIn(kAllKernels),
                         [](const testing::TestParamInfo<ConversionKernel>& info) {
                             return std::string(conversionKernelName(info.param));
                         });

TEST(FrameConversion, AFullHdFrameMatchesThroughTheFastestKernel)
{
    std::mt19937 random(13);
    const int width = 1920;
    const int height = 1080;
    const std::vector<uint32_t> source = randomFrame(width, height, random);
    std::vector<uint8_t> frame(strideOf(width) * height, kGarbage);
    convertToBottomUp24(source.data(), width, height, frame.data(), strideOf(width));
    EXPECT_TRUE(frame == expectedFrame(source, width, height));
}
