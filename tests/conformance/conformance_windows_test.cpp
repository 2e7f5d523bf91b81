// Windows and messages: window creation, message queues per thread, WM_QUIT,
// dispatching, destruction and registered messages, as the program's hidden
// window and its message loop use them.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "conformance_util.h"
#include "platform/win32.h"

namespace conformance {
namespace {

const UINT kEcho = WM_USER + 1;  // the recorder answers wParam + 1000
const UINT kNote = WM_USER + 2;  // recorded, answered 0
const UINT kStop = WM_USER + 3;  // recorded, answered 0

// What one call of the recorder's window procedure saw.
struct Seen {
    HWND hwnd;
    UINT msg;
    WPARAM wparam;
    DWORD thread;
    bool inside_create;   // the receiving thread was inside CreateRecorder
    LPVOID create_param;  // WM_NCCREATE, WM_CREATE: CREATESTRUCTA::lpCreateParams
};

// Every message the recorder windows of this process receive that the tests
// look at, in order. Guarded by a critical section: windows of several threads
// write to it.
class MessageLog {
public:
    static MessageLog& Get() {
        static MessageLog* log = new MessageLog;  // never destroyed: outlives every test
        return *log;
    }
    void Add(const Seen& s) {
        EnterCriticalSection(&cs_);
        seen_.push_back(s);
        LeaveCriticalSection(&cs_);
    }
    void Clear() {
        EnterCriticalSection(&cs_);
        seen_.clear();
        LeaveCriticalSection(&cs_);
    }
    std::vector<Seen> All() {
        EnterCriticalSection(&cs_);
        std::vector<Seen> copy = seen_;
        LeaveCriticalSection(&cs_);
        return copy;
    }
    std::vector<UINT> MessagesOf(HWND hwnd) {
        std::vector<UINT> out;
        for (const Seen& s : All())
            if (s.hwnd == hwnd) out.push_back(s.msg);
        return out;
    }

private:
    MessageLog() { InitializeCriticalSection(&cs_); }
    CRITICAL_SECTION cs_{};
    std::vector<Seen> seen_;
};

thread_local bool t_inside_create = false;

// Passed as CreateWindowExA's lpParam: what the recorder answers to the
// creation messages.
struct CreateAnswers {
    BOOL nccreate = TRUE;
    LRESULT create = 0;
};

void Record(HWND hwnd, UINT msg, WPARAM wparam, LPVOID create_param) {
    MessageLog::Get().Add(Seen{hwnd, msg, wparam, GetCurrentThreadId(), t_inside_create, create_param});
}

LRESULT CALLBACK RecorderProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_NCCREATE:
    case WM_CREATE: {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        Record(hwnd, msg, wparam, cs->lpCreateParams);
        const auto* answers = static_cast<const CreateAnswers*>(cs->lpCreateParams);
        if (msg == WM_CREATE) return answers != nullptr ? answers->create : 0;
        if (answers != nullptr && !answers->nccreate) return FALSE;
        break;
    }
    case WM_CLOSE:
    case WM_DESTROY:
    case WM_NCDESTROY:
        Record(hwnd, msg, wparam, nullptr);
        break;
    case kEcho:
        Record(hwnd, msg, wparam, nullptr);
        return static_cast<LRESULT>(wparam + 1000);
    default:
        if (msg >= WM_USER) {
            Record(hwnd, msg, wparam, nullptr);
            return 0;
        }
        break;
    }
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

bool RegisterRecorderClass(const std::string& name) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecorderProc;
    wc.hInstance = Instance();
    wc.lpszClassName = name.c_str();
    return RegisterClassA(&wc) != 0;
}

const char* SharedClass() {
    static const bool registered = RegisterRecorderClass("RykConformance.Recorder");
    return registered ? "RykConformance.Recorder" : "RykConformance.RecorderNotRegistered";
}

// A hidden top-level window of the recorder class, made on the calling thread.
HWND CreateRecorder(CreateAnswers* answers = nullptr, const char* class_name = nullptr) {
    t_inside_create = true;
    HWND hwnd =
        CreateWindowExA(0, class_name != nullptr ? class_name : SharedClass(), "RykConformance", WS_OVERLAPPEDWINDOW,
                        CW_USEDEFAULT, CW_USEDEFAULT, 200, 100, nullptr, nullptr, Instance(), answers);
    t_inside_create = false;
    return hwnd;
}

struct Got {
    BOOL result;
    HWND hwnd;
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
};

Got Next() {
    MSG m{};
    const BOOL r = GetMessageA(&m, nullptr, 0, 0);
    return Got{r, m.hwnd, m.message, m.wParam, m.lParam};
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_STRNE(SharedClass(), "RykConformance.RecorderNotRegistered") << "RegisterClassA failed";
        MessageLog::Get().Clear();
    }
};

// ---------------------------------------------------------------- creation

struct CreationCase {
    const char* label;
    CreateAnswers answers;
    bool created;
    std::vector<UINT> creation_messages;
};
void PrintTo(const CreationCase& c, std::ostream* os) { *os << c.label; }

const CreationCase kCreationCases[] = {
    {"accepted", {TRUE, 0}, true, {WM_NCCREATE, WM_CREATE}},
    {"wm_create_returns_minus_one", {TRUE, -1}, false, {WM_NCCREATE, WM_CREATE}},
    {"wm_nccreate_returns_false", {FALSE, 0}, false, {WM_NCCREATE}},
};

class CreationTest : public WindowTest, public ::testing::WithParamInterface<CreationCase> {};

TEST_P(CreationTest, CreationMessagesRunInsideCreateWindowOnTheCreatingThread) {
    const CreationCase& c = GetParam();
    RunOnNewThread([&c]() {
        CreateAnswers answers = c.answers;
        SetLastError(0xdeadbeef);
        HWND hwnd = CreateRecorder(&answers);
        EXPECT_EQ(hwnd != nullptr, c.created);

        std::vector<UINT> creation;
        HWND seen_hwnd = nullptr;
        for (const Seen& s : MessageLog::Get().All()) {
            if (s.create_param != &answers) continue;
            creation.push_back(s.msg);
            seen_hwnd = s.hwnd;
            EXPECT_EQ(s.thread, GetCurrentThreadId()) << "message " << s.msg << " ran on another thread";
            EXPECT_TRUE(s.inside_create) << "message " << s.msg << " ran after CreateWindowExA returned";
            if (hwnd != nullptr) {
                EXPECT_EQ(s.hwnd, hwnd);
            }
        }
        EXPECT_EQ(creation, c.creation_messages);
        EXPECT_NE(seen_hwnd, nullptr);

        if (hwnd != nullptr) {
            EXPECT_TRUE(IsWindow(hwnd));
            EXPECT_TRUE(DestroyWindow(hwnd));
            const std::vector<UINT> after = MessageLog::Get().MessagesOf(hwnd);
            ASSERT_GE(after.size(), 2u);
            EXPECT_EQ(std::vector<UINT>(after.end() - 2, after.end()), (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
        }
        EXPECT_FALSE(IsWindow(seen_hwnd)) << "the window is left over";
    });
}

INSTANTIATE_TEST_SUITE_P(Cases, CreationTest, ::testing::ValuesIn(kCreationCases), ParamLabel());

// ---------------------------------------------------------------- queues

TEST_F(WindowTest, APostedMessageGoesToTheQueueOfTheWindowsThread) {
    struct Owner {
        HANDLE ready;
        HWND hwnd = nullptr;
        DWORD thread = 0;
        std::vector<Got> got;
    } b{};
    Handle ready(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(ready);
    b.ready = ready.get();

    // Thread B makes a window and reads its queue until kStop.
    Handle thread_b(StartThread([&b]() -> DWORD {
        b.hwnd = CreateRecorder();
        b.thread = GetCurrentThreadId();
        SetEvent(b.ready);
        if (b.hwnd == nullptr) return 1;
        for (;;) {
            Got g = Next();
            b.got.push_back(g);
            if (g.result <= 0 || g.msg == kStop) break;
        }
        DestroyWindow(b.hwnd);
        return 0;
    }));
    ASSERT_TRUE(thread_b);
    ASSERT_EQ(WaitForSingleObject(ready.get(), INFINITE), WAIT_OBJECT_0);
    ASSERT_NE(b.hwnd, nullptr);

    // Thread A posts to B's window, then to its own; A's GetMessageA must
    // return its own message, not B's.
    RunOnNewThread([&b]() {
        HWND own = CreateRecorder();
        ASSERT_NE(own, nullptr);
        EXPECT_TRUE(PostMessageA(b.hwnd, kNote, 1, 11));
        EXPECT_TRUE(PostMessageA(own, kNote, 2, 22));
        const Got g = Next();
        EXPECT_EQ(g.hwnd, own) << "thread A read a message posted to thread B's window";
        EXPECT_EQ(g.wparam, 2u);
        EXPECT_TRUE(PostMessageA(b.hwnd, kStop, 3, 33));
        DestroyWindow(own);
    });

    ASSERT_EQ(WaitForSingleObject(thread_b.get(), INFINITE), WAIT_OBJECT_0);
    ASSERT_EQ(b.got.size(), 2u);
    EXPECT_EQ(b.got[0].result, TRUE);
    EXPECT_EQ(b.got[0].hwnd, b.hwnd);
    EXPECT_EQ(b.got[0].msg, kNote);
    EXPECT_EQ(b.got[0].wparam, 1u);
    EXPECT_EQ(b.got[0].lparam, 11);
    EXPECT_EQ(b.got[1].msg, kStop);
}

TEST_F(WindowTest, WmQuitComesOnlyAfterEveryPostedMessage) {
    struct Step {
        BOOL result;
        UINT msg;
        WPARAM wparam;
        bool operator==(const Step& o) const { return result == o.result && msg == o.msg && wparam == o.wparam; }
    };
    std::vector<Step> got;
    RunOnNewThread([&got]() {
        HWND hwnd = CreateRecorder();
        ASSERT_NE(hwnd, nullptr);
        PostMessageA(hwnd, kNote, 1, 0);
        PostMessageA(hwnd, kNote, 2, 0);
        PostQuitMessage(7);
        PostMessageA(hwnd, kNote, 3, 0);
        for (int i = 0; i < 4; ++i) {
            const Got g = Next();
            got.push_back(Step{g.result, g.msg, g.wparam});
            if (g.result <= 0) break;
        }
        DestroyWindow(hwnd);
    });
    const std::vector<Step> expected = {{TRUE, kNote, 1}, {TRUE, kNote, 2}, {TRUE, kNote, 3}, {FALSE, WM_QUIT, 7}};
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_TRUE(got[i] == expected[i]) << "step " << i << ": GetMessageA gave " << got[i].result << ", message 0x"
                                           << std::hex << got[i].msg << ", wParam " << std::dec << got[i].wparam;
    }
}

TEST_F(WindowTest, DispatchMessageCallsTheWindowProcedureAndReturnsItsResult) {
    RunOnNewThread([]() {
        HWND hwnd = CreateRecorder();
        ASSERT_NE(hwnd, nullptr);
        for (const WPARAM w : {WPARAM{0}, WPARAM{5}, WPARAM{123456}}) {
            ASSERT_TRUE(PostMessageA(hwnd, kEcho, w, 0));
            MSG m{};
            ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), TRUE);
            EXPECT_EQ(DispatchMessageA(&m), static_cast<LRESULT>(w + 1000));
        }
        std::vector<DWORD> threads;
        for (const Seen& s : MessageLog::Get().All())
            if (s.hwnd == hwnd && s.msg == kEcho) threads.push_back(s.thread);
        EXPECT_EQ(threads, std::vector<DWORD>(3, GetCurrentThreadId()));
        DestroyWindow(hwnd);
    });
}

TEST_F(WindowTest, DefWindowProcDestroysTheWindowOnWmClose) {
    RunOnNewThread([]() {
        HWND hwnd = CreateRecorder();
        ASSERT_NE(hwnd, nullptr);
        ASSERT_TRUE(PostMessageA(hwnd, WM_CLOSE, 0, 0));
        MSG m{};
        ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), TRUE);
        EXPECT_EQ(m.message, static_cast<UINT>(WM_CLOSE));
        DispatchMessageA(&m);
        const std::vector<UINT> seen = MessageLog::Get().MessagesOf(hwnd);
        EXPECT_EQ(seen, (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_CLOSE, WM_DESTROY, WM_NCDESTROY}));
        EXPECT_FALSE(IsWindow(hwnd));
    });
}

TEST_F(WindowTest, ADestroyedWindowIsNotFoundAndCannotBePostedTo) {
    const std::string class_name = UniqueName("Find");
    ASSERT_TRUE(RegisterRecorderClass(class_name));
    RunOnNewThread([&class_name]() {
        EXPECT_EQ(FindWindowA(class_name.c_str(), nullptr), nullptr);
        HWND hwnd = CreateRecorder(nullptr, class_name.c_str());
        ASSERT_NE(hwnd, nullptr);
        EXPECT_EQ(FindWindowA(class_name.c_str(), nullptr), hwnd);
        EXPECT_EQ(FindWindowA(SharedClass(), nullptr) == hwnd, false) << "found by another class's name";

        ASSERT_TRUE(DestroyWindow(hwnd));
        EXPECT_FALSE(IsWindow(hwnd));
        EXPECT_EQ(FindWindowA(class_name.c_str(), nullptr), nullptr);
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(PostMessageA(hwnd, kNote, 0, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    });
}

// ---------------------------------------------------------------- registered messages

TEST(RegisteredMessage, SameNameInAnyCaseGivesTheSameIdAndOtherNamesOtherIds) {
    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    const Case cases[] = {
        {"RykConformance.Message", "RykConformance.Message", true},
        {"RykConformance.Message", "rykconformance.message", true},
        {"RykConformance.Message", "RYKCONFORMANCE.MESSAGE", true},
        {"RykConformance.Message", "RykConformance.Message2", false},
        {"RykConformance.MessageA", "RykConformance.MessageB", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        const UINT a = RegisterWindowMessageA(c.a);
        const UINT b = RegisterWindowMessageA(c.b);
        EXPECT_GE(a, 0xC000u);
        EXPECT_LE(a, 0xFFFFu);
        EXPECT_GE(b, 0xC000u);
        EXPECT_LE(b, 0xFFFFu);
        EXPECT_EQ(a == b, c.same);
    }
}

TEST_F(WindowTest, ABroadcastReachesATopLevelWindowOfTheProcess) {
    const UINT msg = RegisterWindowMessageA(UniqueName("Broadcast").c_str());
    ASSERT_GE(msg, 0xC000u);
    RunOnNewThread([msg]() {
        HWND hwnd = CreateRecorder();
        ASSERT_NE(hwnd, nullptr);
        EXPECT_TRUE(PostMessageA(HWND_BROADCAST, msg, 41, 42));
        // Posted after the broadcast, so it comes after it. The thread may own
        // other top-level windows that the broadcast reaches as well (Windows
        // gives a thread that makes a window a hidden IME window).
        ASSERT_TRUE(PostMessageA(hwnd, kStop, 0, 0));
        std::vector<Got> broadcast;
        for (;;) {
            const Got g = Next();
            if (g.result <= 0 || g.msg == kStop) break;
            if (g.msg == msg) broadcast.push_back(g);
        }
        int to_window = 0;
        for (const Got& g : broadcast) {
            if (g.hwnd != hwnd) continue;
            ++to_window;
            EXPECT_EQ(g.wparam, 41u);
            EXPECT_EQ(g.lparam, 42);
        }
        EXPECT_EQ(to_window, 1) << "the broadcast should reach the window once";
        DestroyWindow(hwnd);
    });
}

}  // namespace
}  // namespace conformance
