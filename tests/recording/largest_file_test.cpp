// What counts towards the largest file the platform's AVIFile can write.
// The recording that runs into it is checked under Wine (tests/wine).
#include "recording/largest_file.h"

#include <gtest/gtest.h>

TEST(LargestFile, SkippedPositionsTakeRoomInTheFileToo)
{
    // The system's AVIFile writes an empty chunk and an index entry for
    // every position a recording skipped: 200000 of them are 4.8 MB.
    const int64_t largest = int64_t(4) << 20;
    EXPECT_TRUE(frameFitsInFile(largest, 100, 1000, 99 * 1000, 99));
    EXPECT_FALSE(frameFitsInFile(largest, 200000, 1000, 99 * 1000, 99));
}

TEST(LargestFile, OurWriterNeverEndsARecordingForItsSize)
{
    EXPECT_TRUE(frameFitsInFile(platform::kLargestAviFile, INT32_MAX, int64_t(512) << 20, int64_t(1) << 50,
                                INT32_MAX));
}
