// A recording that crosses several RIFF segment ends, with each of its file
// operations failing in turn: once, for good as a full disk does, or as a
// device whose writes all fail from then on. Every closed file must hold
// exactly the frames the writer took, described by consistent sizes,
// counts and indexes. (A kill at any write is kill_sweep_test.cpp's.)
#include "tests/support/fault_sweep.h"
#include "tests/support/test_support.h"
#include "tests/support/written_frames.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>

namespace {

struct Variant {
    const char* name;
    bool noReservation;
    AfterFailure after;
};

// A close that cannot write the last index must still leave every frame
// readable; any other close must succeed with every index in place.
void sweep(avi::FaultPlan::Kind kind, int code, const Variant& variant)
{
    SCOPED_TRACE(variant.name);
    TempDir dir;
    avi::FaultPlan plan;
    plan.noReservation = variant.noReservation;
    const uint64_t calls = recordWithFaults(dir.file("plain.avi"), plan, variant.after).calls;
    ASSERT_GT(calls, 20u);
    plan.kind = kind;
    plan.code = code;
    for (plan.at = 1; plan.at <= calls; ++plan.at) {
        SCOPED_TRACE("call " + std::to_string(plan.at) + " of " + std::to_string(calls));
        const std::string path = dir.file("run.avi");
        const FaultedRecording recording = recordWithFaults(path, plan, variant.after);
        if (kind != avi::FaultPlan::Kind::AppendsFail) {
            ASSERT_TRUE(recording.closed);
        }
        const AviState state = recording.closed ? AviState::Closed : AviState::Unindexed;
        ASSERT_EQ(closedFileProblems(path, recording.written, state), "");
    }
}

std::string contents(const std::string& path)
{
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

const Variant kVariants[] = {
    {"blocks set aside, carrying on after a failed frame", false, AfterFailure::CarryOn},
    {"blocks set aside, closing after a failed frame", false, AfterFailure::Close},
    {"no way to set blocks aside, carrying on", true, AfterFailure::CarryOn},
    {"no way to set blocks aside, closing", true, AfterFailure::Close},
};

} // namespace

TEST(FileFailures, AnyOneCallFailingLeavesExactlyTheFramesWritten)
{
    for (const Variant& variant : kVariants)
        sweep(avi::FaultPlan::Kind::Once, EIO, variant);
}

TEST(FileFailures, ADiskFillingAtAnyCallLeavesEveryFrameWrittenIndexed)
{
    for (const Variant& variant : kVariants)
        sweep(avi::FaultPlan::Kind::DiskFull, ENOSPC, variant);
}

TEST(FileFailures, AnIndexThatCannotBeWrittenLeavesEveryFrameReadable)
{
    for (const Variant& variant : kVariants)
        sweep(avi::FaultPlan::Kind::AppendsFail, EIO, variant);
}

// Opened again, even after a file whose disk filled part way, a writer
// starts as a new one would.
TEST(FileFailures, AWriterOpenedAgainWritesTheFileANewWriterWould)
{
    TempDir dir;
    const uint64_t calls = recordWithFaults(dir.file("new.avi"), avi::FaultPlan(), AfterFailure::CarryOn).calls;
    avi::AviWriter writer(sweepOptions());
    avi::FaultPlan full;
    full.kind = avi::FaultPlan::Kind::DiskFull;
    full.code = ENOSPC;
    full.at = calls / 2;
    recordWithFaults(dir.file("full.avi"), full, AfterFailure::CarryOn, &writer);
    const std::string again = dir.file("again.avi");
    EXPECT_EQ(recordWithFaults(again, avi::FaultPlan(), AfterFailure::CarryOn, &writer).written, sweepPositions());
    EXPECT_EQ(contents(again), contents(dir.file("new.avi")));
}
