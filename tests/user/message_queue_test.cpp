// The message queue: posting, the loop's reading order and filters, WM_QUIT, posting from other threads,
// TranslateMessage, and that posted messages are only ever dispatched by a message loop.
#include <gmock/gmock.h>

#include <atomic>
#include <thread>

#ifndef _WIN32
#include "user/input_delivery.h"
#endif
#include "user_test_fixture.h"

using ::testing::ElementsAre;
using namespace usertest;

namespace {

class MessageQueueTest : public UserTest {};

const HWND kThreadMessages = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));

TEST_F(MessageQueueTest, GetMessageReturnsPostedMessagesInOrderThenQuitWithItsCode) {
    HWND window = Make("w", WS_POPUP, 0, 0, 10, 10);
    ASSERT_TRUE(PostMessageA(window, WM_USER, 1, 10));
    PostQuitMessage(7);
    ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 1, 2, 20));  // a thread message
    ASSERT_TRUE(PostMessageA(window, WM_USER + 2, 3, 30));

    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.hwnd, window);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
    EXPECT_EQ(msg.wParam, 1u);
    EXPECT_EQ(msg.lParam, 10);
    DWORD firstTime = msg.time;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1));
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 2));
    EXPECT_GE(msg.time, firstTime);

    // WM_QUIT waits until no posted message is left, and comes once.
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(DispatchMessageA(&msg), 0);  // nothing to dispatch a thread message to
}

TEST_F(MessageQueueTest, PeekMessageRemovesOnlyWithPmRemove) {
    HWND window = Make("w", WS_POPUP, 0, 0, 10, 10);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    PostMessageA(window, WM_USER, 5, 0);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, 5u);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 5u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));

    PostQuitMessage(3);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    // WM_QUIT passes every message range, as GetMessage documents.
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(MessageQueueTest, FiltersSelectByWindowAndRangeAndLeaveTheRestQueued) {
    HWND first = Make("first", WS_POPUP, 0, 0, 10, 10);
    HWND second = Make("second", WS_POPUP, 0, 0, 10, 10);
    PostMessageA(first, WM_USER, 1, 0);
    PostMessageA(second, WM_USER + 5, 2, 0);
    PostMessageA(nullptr, WM_USER + 9, 3, 0);

    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, second, 0, 0), TRUE);
    EXPECT_EQ(msg.wParam, 2u);
    ASSERT_TRUE(PeekMessageA(&msg, kThreadMessages, 0, 0, PM_REMOVE));  // null-window messages only
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_USER + 1, WM_USER + 100, PM_REMOVE));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_USER + 1, WM_USER, PM_REMOVE));  // our choice: an empty range
    ASSERT_EQ(GetMessageA(&msg, nullptr, WM_USER, WM_USER), TRUE);
    EXPECT_EQ(msg.hwnd, first);
}

TEST_F(MessageQueueTest, MessagesForADestroyedWindowAreDropped) {
    HWND window = Make("w", WS_POPUP, 0, 0, 10, 10);
    HWND other = Make("other", WS_POPUP, 0, 0, 10, 10);
    PostMessageA(window, WM_USER, 1, 0);
    PostMessageA(other, WM_USER, 2, 0);
    MSG stale;
    ASSERT_TRUE(PeekMessageA(&stale, window, 0, 0, PM_NOREMOVE));
    DestroyWindow(window);

    SetLastError(0);
    EXPECT_FALSE(PostMessageA(window, WM_USER, 3, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    ClearLog();
    EXPECT_EQ(DispatchUntilIdle(), 1);  // only the other window's message is left
    EXPECT_THAT(Trace({WM_USER}), ElementsAre("other 0x0400"));
    EXPECT_EQ(DispatchMessageA(&stale), 0);  // a message read before the window went is not delivered
    EXPECT_TRUE(Log().empty() || Log().back().window != window);
}

TEST_F(MessageQueueTest, PostedMessagesWaitForTheLoopEvenWhenPostedFromInsideCalls) {
    SetHook([](HWND window, UINT message, WPARAM, LPARAM, LRESULT*) {
        if (message == WM_CREATE) PostMessageA(window, WM_USER, 1, 0);
        if (message == WM_USER + 1) PostMessageA(window, WM_USER + 2, 0, 0);
        return false;
    });
    HWND window = Make("w", WS_POPUP, 0, 0, 10, 10);
    EXPECT_TRUE(Messages(window, WM_USER).empty());
    SendMessageA(window, WM_USER + 1, 0, 0);
    EXPECT_TRUE(Messages(window, WM_USER + 2).empty());
    ClearLog();
    EXPECT_EQ(DispatchUntilIdle(), 2);
    EXPECT_THAT(Names(window), ElementsAre("0x0400", "0x0402"));
}

TEST_F(MessageQueueTest, SendMessageCallsTheProcedureAndReturnsItsAnswer) {
    HWND window = Make("w", WS_POPUP, 0, 0, 10, 10);
    SetHook([](HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
        *result = static_cast<LRESULT>(wParam) + lParam;
        return message == WM_USER;
    });
    ClearLog();
    EXPECT_EQ(SendMessageA(window, WM_USER, 40, 2), 42);
    EXPECT_EQ(Log().size(), 1u);
    EXPECT_EQ(CallWindowProcA(DefWindowProcA, window, WM_USER, 40, 2), 0);
    EXPECT_EQ(CallWindowProcA(nullptr, window, WM_USER, 40, 2), 0);
}

// The sound backend posts from its own thread while the window thread sleeps in GetMessageA: every
// message must wake it, none may be lost or reordered.
TEST_F(MessageQueueTest, PostsFromAnotherThreadWakeABlockedGetMessage) {
    HWND window = Make("w", WS_POPUP, 0, 0, 10, 10);
    constexpr int kPosts = 2000;
    std::atomic<int> failures{0};
    std::thread poster([window, &failures] {
        for (int i = 0; i < kPosts; ++i) {
            if (!PostMessageA(window, WM_USER, static_cast<WPARAM>(i), 0)) failures++;
            if (i % 100 == 0) std::this_thread::yield();
        }
    });
    MSG msg;
    int received = 0;
    bool inOrder = true;
    while (received < kPosts && GetMessageA(&msg, nullptr, 0, 0) > 0) {
        inOrder = inOrder && msg.wParam == static_cast<WPARAM>(received);
        ++received;
    }
    poster.join();
    EXPECT_EQ(received, kPosts);
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(failures.load(), 0);

    std::thread quitter([window] { PostMessageA(window, WM_CLOSE, 0, 0); });
    SetHook([](HWND, UINT message, WPARAM, LPARAM, LRESULT*) {
        if (message == WM_DESTROY) PostQuitMessage(9);
        return false;
    });
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    quitter.join();
    EXPECT_EQ(msg.wParam, 9u);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(MessageQueueTest, AQueueHoldsTenThousandPostedMessages) {
    HWND window = Make("w", WS_POPUP, 0, 0, 10, 10);
    for (int i = 0; i < 10000; ++i) ASSERT_TRUE(PostMessageA(window, WM_USER, 0, 0)) << i;
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(window, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_TRUE(PostMessageA(window, WM_USER, 0, 0));
}

#ifndef _WIN32  // layer only: types through the layer's input delivery
TEST_F(MessageQueueTest, TranslateMessagePutsCharactersNextInTheQueue) {
    HWND window = Make("w", WS_POPUP, 0, 0, 10, 10);
    // The key's character is what the display reported with it.
    ASSERT_TRUE(w32::DeliverKey(window, true, 'E', U'\u00e9', 0));
    PostMessageA(window, WM_USER, 0, 0);
    MSG pressed;
    ASSERT_TRUE(PeekMessageA(&pressed, window, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE));
    EXPECT_TRUE(TranslateMessage(&pressed));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_CHAR));
    EXPECT_EQ(msg.wParam, 0xC3u);  // U+00E9 in the ANSI (UTF-8) code page, byte by byte
    EXPECT_EQ(msg.lParam, pressed.lParam);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0xA9u);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));

    ASSERT_TRUE(w32::DeliverKey(window, false, 'E', 0, 0));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_KEYUP));
    EXPECT_TRUE(TranslateMessage(&msg));  // key-ups count as translated but type nothing
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    msg.message = WM_USER;
    EXPECT_FALSE(TranslateMessage(&msg));
}

#endif

}  // namespace
