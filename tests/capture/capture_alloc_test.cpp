// The capture buffer cannot be allocated: the cycle is not started and the window runs on without
// animation. The array allocation functions of this test program are replaced so that one can fail.
#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "capture_cycle_fixture.h"
#include "testing/scripted_wave_device.h"

namespace {
std::atomic<bool> failNextArrayAllocation{false};

void* AllocateArray(std::size_t size) {
    if (failNextArrayAllocation.exchange(false)) return nullptr;
    return std::malloc(size ? size : 1);
}
}  // namespace

// Every array form goes through malloc and free, so that the sanitizers see matching pairs.
void* operator new[](std::size_t size) {
    void* block = AllocateArray(size);
    if (!block) throw std::bad_alloc();
    return block;
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateArray(size); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace {

using w32::ScriptedWaveDevice;

TEST_F(CaptureWindowTest, WithoutABufferNothingIsOpenedAndTheWindowRunsOn) {
    ScriptedWaveDevice::Reset();
    failNextArrayAllocation = true;
    EXPECT_FALSE(StartCapture(window));
    EXPECT_EQ(blockBuffer, nullptr);
    EXPECT_EQ(ScriptedWaveDevice::Counts().opens, 0);

    testwin::PumpMessages();  // what showing the window posted (its activation)
    EXPECT_TRUE(PostMessageA(window, WM_USER, 0, 0));
    EXPECT_EQ(testwin::PumpMessages(), 1) << "only the message posted here: no wave notification";
    EXPECT_EQ(TakeLog().size(), 0u);
    EXPECT_EQ(BarWidth(), 0);
    // The destroy sequence in TearDown stops and frees a cycle that never started.
}

}  // namespace
