// A recording that crosses several RIFF segment ends, with each of its file
// operations failing in turn: once, for good as a full disk does, as a
// device whose writes all fail from then on, or cut short by a kill. Every
// closed file must hold exactly the frames the writer took, described by
// consistent sizes, counts and indexes; every killed file must hold
// together as far as its header describes it.
#include "tests/support/fault_sweep.h"
#include "tests/support/media_probe.h"
#include "tests/support/riff_walk.h"
#include "tests/support/test_support.h"
#include "tests/support/written_frames.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<int64_t> framesDemuxed(const std::string& path, std::string& error)
{
    std::vector<int64_t> positions;
    for (const ProbedPacket& packet : demuxPackets(path, &error)) {
        if (packet.size > 0)
            positions.push_back(packet.pts);
    }
    return positions;
}

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

namespace {

// Where no blocks can be set aside, zeros past the frames hold the space;
// a killed file ends in them, and readers must find no frame there.
void killAtEveryCall(bool noReservation)
{
    SCOPED_TRACE(noReservation ? "no way to set blocks aside" : "blocks set aside");
    TempDir dir;
    const std::vector<int64_t> all = sweepPositions();
    avi::FaultPlan plan;
    plan.noReservation = noReservation;
    const uint64_t calls = recordWithFaults(dir.file("plain.avi"), plan, AfterFailure::Close).calls;
    plan.kind = avi::FaultPlan::Kind::Kill;
    for (plan.at = 1; plan.at <= calls; ++plan.at) {
        SCOPED_TRACE("killed before call " + std::to_string(plan.at) + " of " + std::to_string(calls));
        const std::string path = dir.file("killed.avi");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            recordWithFaults(path, plan, AfterFailure::Close);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == avi::FaultPlan::kKilledStatus);
        if (fileSize(path) == 0)
            continue;
        const AviCheck check = checkAvi(path, AviState::Killed);
        ASSERT_TRUE(check.consistent()) << check.report();
        const std::vector<int64_t> described = check.framePositions();
        ASSERT_LE(described.size(), all.size());
        EXPECT_TRUE(std::equal(described.begin(), described.end(), all.begin())) << "the first frames, in order";
        std::string error;
        const std::vector<int64_t> read = framesDemuxed(path, error);
        ASSERT_GE(read.size(), described.size()) << error;
        ASSERT_LE(read.size(), all.size());
        EXPECT_TRUE(std::equal(read.begin(), read.end(), all.begin())) << "no frame that was not written";
    }
}

} // namespace

TEST(FileFailures, AKillAtAnyCallLeavesAHeaderThatHoldsTogether)
{
    killAtEveryCall(false);
    killAtEveryCall(true);
}
