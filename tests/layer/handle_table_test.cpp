// Handles: a deleted handle, a handle of another kind and a made-up value are all refused.
#include <gtest/gtest.h>

#include "handle_table.h"

namespace {

struct FakeBitmap : w32::HandleObject {
    static constexpr w32::HandleKind Kind = w32::HandleKind::Bitmap;
    FakeBitmap() : HandleObject(Kind) {}
};

TEST(HandleTable, LiveHandleIsFoundOnlyUnderItsOwnKind) {
    uintptr_t value = w32::InsertHandle(std::make_unique<FakeBitmap>());
    auto* handle = reinterpret_cast<void*>(value);
    ASSERT_NE(value, 0u);
    EXPECT_NE(w32::LookupHandle(handle, w32::HandleKind::Bitmap), nullptr);
    EXPECT_NE(w32::LookupHandle(handle, w32::HandleKind::Any), nullptr);
    EXPECT_EQ(w32::LookupHandle(handle, w32::HandleKind::DeviceContext), nullptr);
    EXPECT_NE(w32::RemoveHandle(handle, w32::HandleKind::Bitmap), nullptr);
}

TEST(HandleTable, RemovedHandleStaysDeadWhenItsSlotIsReused) {
    auto* first = reinterpret_cast<void*>(w32::InsertHandle(std::make_unique<FakeBitmap>()));
    ASSERT_NE(w32::RemoveHandle(first, w32::HandleKind::Bitmap), nullptr);
    auto* second = reinterpret_cast<void*>(w32::InsertHandle(std::make_unique<FakeBitmap>()));
    EXPECT_NE(first, second);
    EXPECT_EQ(w32::LookupHandle(first, w32::HandleKind::Any), nullptr);
    EXPECT_EQ(w32::RemoveHandle(first, w32::HandleKind::Bitmap), nullptr);
    EXPECT_NE(w32::LookupHandle(second, w32::HandleKind::Bitmap), nullptr);
    w32::RemoveHandle(second, w32::HandleKind::Bitmap);
}

TEST(HandleTable, NullAndForgedValuesAreRefused) {
    EXPECT_EQ(w32::LookupHandle(nullptr, w32::HandleKind::Any), nullptr);
    const uintptr_t forged[] = {1, 0xFFFFFF, 0x123456789ABCull, ~uintptr_t{0}};
    for (uintptr_t value : forged)
        EXPECT_EQ(w32::LookupHandle(reinterpret_cast<void*>(value), w32::HandleKind::Any), nullptr) << value;
}

}  // namespace
