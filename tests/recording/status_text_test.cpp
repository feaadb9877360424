#include "recording/status_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {
std::string statusText(int frames, int64_t expected, int64_t bytes)
{
    char text[kStatusTextCapacity];
    const size_t length = formatStatusText(text, frames, expected, bytes);
    EXPECT_EQ(length, std::string(text).size());
    return text;
}
} // namespace

TEST(StatusText, ShowsFramesDroppedAndWholeMegabytes)
{
    EXPECT_EQ(statusText(250, 253, 17 * 1048576 + 5), "250 frames\n3 dropped\n17 MB");
    EXPECT_EQ(statusText(10, 25, 0), "10 frames\n15 dropped\n0 MB");
}

TEST(StatusText, ShowsNoDroppedLineUnlessFramesAreMissing)
{
    EXPECT_EQ(statusText(25, 25, 0), "25 frames\n0 MB");
    EXPECT_EQ(statusText(30, 25, 0), "30 frames\n0 MB");
    EXPECT_EQ(statusText(3, -8, 0), "3 frames\n0 MB");
}

TEST(StatusText, MegabytesAreWholeMebibytes)
{
    EXPECT_EQ(statusText(1, 1, 1048575), "1 frames\n0 MB");
    EXPECT_EQ(statusText(1, 1, 1048576), "1 frames\n1 MB");
}

TEST(StatusText, StaysRightPastTwoGibibytes)
{
    EXPECT_EQ(statusText(9320, 9320, int64_t(2147483647) + 1), "9320 frames\n2048 MB");
    EXPECT_EQ(statusText(1, 1, int64_t(5) << 40), "1 frames\n5242880 MB");
}

TEST(StatusText, TheLongestTextFits)
{
    const std::string text = statusText(INT_MAX, INT64_MAX, INT64_MAX);
    EXPECT_EQ(text, "2147483647 frames\n9223372034707292160 dropped\n8796093022207 MB");
}
