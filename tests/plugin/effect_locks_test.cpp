// Where an effect's locks are destroyed: in its destructor, on whatever
// thread the host deletes it. A lock may go only once every unlock() of it
// has returned, since unlock() reads the lock after passing it on; the
// dialog's thread keeps its pin on the effect until after its unlocks, and
// the destructor waits for the pins.
#include "host/dialog_driver.h"
#include "resources/resource.h"
#include "tests/support/effect_fixture.h"
#include "tests/support/both_targets.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// The lock whose next unlock() the hook holds, once.
std::atomic<platform::TicketLock*> lockToHold {nullptr};
std::atomic<bool> insideUnlock {false};
std::atomic<bool> effectDeleted {false};

// Holds unlock() just after it has passed the lock on, until the effect
// is deleted. In a sound build the delete cannot end meanwhile, so this
// waits out its bound; a build that broke the rule frees the lock here,
// and unlock() then reads freed memory (AddressSanitizer, ThreadSanitizer).
void holdUntilTheEffectIsDeleted(platform::TicketLock& lock)
{
    platform::TicketLock* expected = &lock;
    if (!lockToHold.compare_exchange_strong(expected, nullptr))
        return;
    insideUnlock = true;
    const auto giveUp = Clock::now() + std::chrono::milliseconds(300);
    while (!effectDeleted.load() && Clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

using EffectLocks = EffectTest;

// Save on the window thread is inside the recording lock's unlock() when
// the host, on its render thread, deletes the effect.
TEST_F(EffectLocks, ADeleteWaitsUntilTheDialogsThreadHasLeftUnlock)
{
    platform::TicketLock::afterHandOverForTests = holdUntilTheEffectIsDeleted; // before the window thread runs
    {
        both::WindowThread windowThread;
        render(HostFrame(24, 16));
        HWND dialog = nullptr;
        windowThread.run([&] { dialog = effect->createConfigDialog(moduleInstance, nullptr); });
        typeInto(dialog, IDC_FILENAME, dir.file("deleted.avi"));

        lockToHold = &effect->recordingLock;
        std::thread user([&] { click(dialog, IDC_SAVE); });
        const auto giveUp = Clock::now() + std::chrono::seconds(60);
        while (!insideUnlock.load() && Clock::now() < giveUp)
            std::this_thread::yield();
        EXPECT_TRUE(insideUnlock.load()) << "Save never reached the recording lock's unlock()";
        effect.reset();
        effectDeleted = true;
        user.join();
        windowThread.run([&] { DestroyWindow(dialog); });
    }
    platform::TicketLock::afterHandOverForTests = nullptr;
    EXPECT_EQ(NativeOpenAviFileCount(), 0) << "the delete ended the recording Save started";
    EXPECT_TRUE(boxes.boxes().empty());
}
