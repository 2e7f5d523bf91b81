// What the machine tells tests and tools of its state (Machine::threads,
// open_handles, posted_messages, pending_quit, window, window_class,
// priority_class, message_box_open): each view follows what the Win32 calls
// did.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "machine.h"

namespace {

DWORD WINAPI WaitForEvent(LPVOID p) { return WaitForSingleObject(static_cast<HANDLE>(p), INFINITE); }

DWORD WINAPI ShowBox(LPVOID p) {
    MessageBoxA(nullptr, "text", static_cast<const char*>(p), MB_OK);
    return 0;
}

LRESULT CALLBACK PlainProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

std::optional<sim::HandleInfo> HandleOf(const sim::Machine& m, HANDLE h) {
    for (const sim::HandleInfo& i : m.open_handles())
        if (i.handle == h) return i;
    return std::nullopt;
}

TEST(MachineViews, ThreadsAndTheirHandles) {
    sim::Machine m;
    HANDLE ev = CreateEventA(nullptr, TRUE, FALSE, "ViewsEvent");
    DWORD id = 0;
    HANDLE t = CreateThread(nullptr, 8192, WaitForEvent, ev, 0, &id);
    ASSERT_NE(t, nullptr);
    m.settle();

    const auto event = HandleOf(m, ev);
    ASSERT_TRUE(event.has_value());
    EXPECT_EQ(event->kind, "event");
    EXPECT_EQ(event->name, "ViewsEvent");
    EXPECT_EQ(event->thread_id, 0u);
    const auto thread_handle = HandleOf(m, t);
    ASSERT_TRUE(thread_handle.has_value());
    EXPECT_EQ(thread_handle->kind, "thread");
    EXPECT_EQ(thread_handle->thread_id, id);

    auto info = m.thread(id);
    ASSERT_TRUE(info.has_value());
    EXPECT_TRUE(info->started);
    EXPECT_FALSE(info->ended);
    EXPECT_EQ(info->stack_size, 8192u);
    EXPECT_EQ(info->process_id, GetCurrentProcessId());
    EXPECT_NE(info->host, std::thread::id());
    EXPECT_GE(m.thread_cpu_ns(id), 0);
    const auto self = m.thread(GetCurrentThreadId());
    ASSERT_TRUE(self.has_value());
    EXPECT_FALSE(self->started) << "the test's own thread attached itself";
    EXPECT_EQ(self->host, std::thread::id());
    EXPECT_EQ(m.thread_cpu_ns(GetCurrentThreadId()), -1);

    SetEvent(ev);
    m.settle();
    info = m.thread(id);
    ASSERT_TRUE(info.has_value());
    EXPECT_TRUE(info->ended);
    EXPECT_EQ(info->wakeups, 1u);
    EXPECT_EQ(m.thread_cpu_ns(id), -1);
    const std::vector<sim::ThreadInfo> all = m.threads();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back().id, id) << "oldest first";

    const size_t open = m.open_handles().size();
    CloseHandle(t);
    EXPECT_EQ(m.open_handles().size(), open - 1);
    EXPECT_FALSE(HandleOf(m, t).has_value());
    EXPECT_TRUE(m.thread(id).has_value()) << "an ended thread stays known";
    EXPECT_FALSE(m.thread(0xDEAD).has_value());
    CloseHandle(ev);
}

TEST(MachineViews, PostedMessagesAndPendingQuit) {
    sim::Machine m;
    const DWORD self = GetCurrentThreadId();
    EXPECT_TRUE(m.posted_messages(self).empty());
    ASSERT_TRUE(PostThreadMessageA(self, WM_USER, 1, 2));
    ASSERT_TRUE(PostThreadMessageA(self, WM_USER + 1, 3, 4));
    std::vector<MSG> posted = m.posted_messages(self);
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].message, static_cast<UINT>(WM_USER));
    EXPECT_EQ(posted[0].wParam, 1u);
    EXPECT_EQ(posted[0].lParam, 2);
    EXPECT_EQ(posted[1].message, static_cast<UINT>(WM_USER + 1));
    EXPECT_EQ(m.posted_messages(self).size(), 2u) << "looking takes nothing";

    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    posted = m.posted_messages(self);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, static_cast<UINT>(WM_USER + 1));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));

    EXPECT_EQ(m.pending_quit(self), std::nullopt);
    PostQuitMessage(3);
    EXPECT_EQ(m.pending_quit(self), 3);
    EXPECT_TRUE(m.posted_messages(self).empty()) << "a quit is no posted message";
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(m.pending_quit(self), std::nullopt);
    EXPECT_TRUE(m.posted_messages(0xDEAD).empty());
    EXPECT_EQ(m.pending_quit(0xDEAD), std::nullopt);
}

TEST(MachineViews, WindowsAndTheirClasses) {
    sim::Machine m;
    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = PlainProc;
    wc.cbWndExtra = 8;
    wc.lpszClassName = "ViewsClass";
    wc.lpszMenuName = "ViewsMenu";
    ASSERT_NE(RegisterClassA(&wc), 0);
    HWND h = CreateWindowExA(0, "ViewsClass", "Views title", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(h, nullptr);

    const DWORD pid = GetCurrentProcessId();
    const auto cls = m.window_class(pid, "viewsclass");
    ASSERT_TRUE(cls.has_value()) << "found whatever the case";
    EXPECT_EQ(cls->name, "ViewsClass");
    EXPECT_EQ(cls->menu, "ViewsMenu");
    EXPECT_EQ(cls->wc.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(cls->wc.lpfnWndProc, &PlainProc);
    EXPECT_EQ(cls->wc.cbWndExtra, 8);
    EXPECT_FALSE(m.window_class(pid, "NoSuchClass").has_value());
    EXPECT_FALSE(m.window_class(0xDEAD, "ViewsClass").has_value());

    auto w = m.window(h);
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->class_name, "ViewsClass");
    EXPECT_EQ(w->title, "Views title");
    EXPECT_EQ(w->thread_id, GetCurrentThreadId());
    EXPECT_EQ(w->process_id, pid);
    ASSERT_TRUE(DestroyWindow(h));
    EXPECT_FALSE(m.window(h).has_value());

    EXPECT_EQ(m.priority_class(pid), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(m.priority_class(0xDEAD), 0u);
}

TEST(MachineViews, HeldMessageBoxes) {
    sim::Machine m;
    m.hold_message_boxes(true);
    static const char kCaption[] = "Views caption";
    HANDLE t = CreateThread(nullptr, 0, ShowBox, const_cast<char*>(kCaption), 0, nullptr);
    m.settle();
    EXPECT_TRUE(m.message_box_open(kCaption));
    EXPECT_FALSE(m.message_box_open("Another caption"));
    ASSERT_TRUE(m.release_message_box(kCaption));
    m.settle();
    EXPECT_FALSE(m.message_box_open(kCaption));
    EXPECT_EQ(WaitForSingleObject(t, 0), WAIT_OBJECT_0);
    CloseHandle(t);
}

}  // namespace
