// The end of a Windows session on the simulated machine: which messages a
// process's windows get and where their thread handles them, how the process
// ends, and the driver's check for events an ended process left registered.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "driver/protocol.h"
#include "kernel.h"
#include "machine.h"
#include "orvane/driver.h"

namespace {

// What the window procedure of the test program saw, in order.
std::vector<std::string> g_seen;
LRESULT g_query_answer = TRUE;

LRESULT CALLBACK SessionProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_QUERYENDSESSION) {
        g_seen.push_back("query " + std::to_string(wparam) + " " + std::to_string(lparam));
        return g_query_answer;
    }
    if (msg == WM_ENDSESSION) {
        g_seen.push_back("end " + std::to_string(wparam) + " " + std::to_string(lparam));
        return 0;
    }
    if (msg == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(hwnd, msg, wparam, lparam);
}

HWND MakeWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = SessionProc;
    wc.lpszClassName = "SessionTest";
    RegisterClassA(&wc);
    return CreateWindowExA(0, "SessionTest", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
}

void ReadMessages() {
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0)) DispatchMessageA(&m);
}

// Where the window's thread is when the session ends.
enum class Where { message_loop, held_message_box, plain_wait_3s, never_reads };

struct Case {
    const char* name;
    Where where;
    LRESULT query_answer;
    std::vector<std::string> seen;
    bool ended;
    const char* how;  // "session_end", "end_task" or "" (not ended)
    uint64_t answered_after_ms;  // of the first message
};

class SessionEnd : public ::testing::TestWithParam<Case> {};

TEST_P(SessionEnd, MessagesWhereTheThreadReadsThemThenTheProcessEnds) {
    const Case& c = GetParam();
    g_seen.clear();
    g_query_answer = c.query_answer;
    sim::Machine m;
    if (c.where == Where::held_message_box) m.hold_message_boxes(true);
    const DWORD pid = m.start_process("Session.exe", [&c]() -> int {
        MakeWindow();
        switch (c.where) {
        case Where::message_loop: ReadMessages(); break;
        case Where::held_message_box:
            MessageBoxA(nullptr, "open", "box", MB_OK);
            ReadMessages();
            break;
        case Where::plain_wait_3s: {
            HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            WaitForSingleObject(e, 3000);
            CloseHandle(e);
            ReadMessages();
            break;
        }
        case Where::never_reads: {
            HANDLE e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            WaitForSingleObject(e, INFINITE);
            break;
        }
        }
        return 7;
    });
    // Into the plain wait, not through it as settle() would go.
    if (c.where == Where::plain_wait_3s)
        m.quiesce();
    else
        m.settle();
    EXPECT_EQ(m.end_session(pid), c.ended);
    m.settle();
    EXPECT_EQ(g_seen, c.seen);
    EXPECT_EQ(m.process_ended(pid), c.ended);
    if (c.ended) {
        EXPECT_EQ(m.process_exit_code(pid), 0u);
        auto ends = m.trace().events("process_end");
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_EQ(ends[0].fields["how"], c.how);
    } else {
        EXPECT_EQ(m.trace().count("process_end"), 0u);
    }
    auto answers = m.trace().events("session_answer");
    ASSERT_FALSE(answers.empty());
    EXPECT_EQ(answers[0].fields["waited_ms"].get<uint64_t>(), c.answered_after_ms);
    if (c.where == Where::held_message_box) {
        EXPECT_EQ(m.open_message_boxes(), 1u);  // its thread was ended inside it
        m.release_message_box();
        m.settle();
    }
    // Not ended: the program still runs and ends the ordinary way.
    if (!m.process_ended(pid)) {
        m.post_from_outside(m.find_window("SessionTest"), WM_CLOSE, 0, 0);
        m.settle();
        EXPECT_TRUE(m.process_ended(pid));
        EXPECT_EQ(m.process_exit_code(pid), 7u);
    }
    EXPECT_TRUE(m.misuse().empty());
}

const Case kCases[] = {
    {"InTheMessageLoop", Where::message_loop, TRUE, {"query 0 0", "end 1 0"}, true, "session_end", 0},
    {"InsideAHeldMessageBox", Where::held_message_box, TRUE, {"query 0 0", "end 1 0"}, true, "session_end", 0},
    // A plain wait handles no sent message: the answer comes when it ends.
    {"AfterAPlainWait", Where::plain_wait_3s, TRUE, {"query 0 0", "end 1 0"}, true, "session_end", 3000},
    // One window refused: those that agreed hear that the session goes on.
    {"Refused", Where::message_loop, FALSE, {"query 0 0"}, false, "", 0},
    // A thread that never reads its messages is ended as End Task ends it.
    {"NeverAnswered", Where::never_reads, TRUE, {}, true, "end_task", sim::Machine::kSessionAnswerMs},
};

INSTANTIATE_TEST_SUITE_P(Where, SessionEnd, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

// One program-wide event request for ring-0 handle `r0`, from the calling
// thread.
bool EventCall(sim::Machine& m, DWORD code, DWORD r0) {
    EventRequest r;
    std::memset(&r, 0, sizeof r);
    r.header.wTag2 = REQ_TAG;
    r.hEventR0 = r0;
    uint32_t n = 0;
    const uint32_t size = RequestSize(code);
    return m.driver().ioctl(GetCurrentThreadId(), code, &r, size, &r, size, &n);
}

struct StaleCase {
    const char* name;
    bool withdraw;  // the process withdraws its event before it ends
    bool by_session_end;
    size_t errors;
};

class StaleRegistration : public ::testing::TestWithParam<StaleCase> {};

TEST_P(StaleRegistration, IsAProtocolErrorHoweverTheProcessEnds) {
    const StaleCase& c = GetParam();
    g_seen.clear();
    g_query_answer = TRUE;
    sim::Machine m;
    const DWORD pid = m.start_process("Holder.exe", [&m, &c]() -> int {
        HANDLE e = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        const DWORD r0 = m.kernel().open_vxd_handle(e);
        EventCall(m, REQ_BEGIN_CHANGE, 0);
        EXPECT_TRUE(EventCall(m, REQ_SET_ADDMON_EVENT, r0));
        EventCall(m, REQ_END_CHANGE, 0);
        if (c.withdraw) {
            EXPECT_TRUE(EventCall(m, REQ_CLEAR_EVENT, r0));
        }
        if (c.by_session_end) {
            MakeWindow();
            ReadMessages();
        }
        return 0;
    });
    m.settle();
    if (c.by_session_end) {
        EXPECT_TRUE(m.end_session(pid));
    }
    m.settle();
    ASSERT_TRUE(m.process_ended(pid));
    const auto errors = m.protocol_errors();
    ASSERT_EQ(errors.size(), c.errors);
    if (c.errors) {
        EXPECT_NE(errors[0].find("process Holder.exe ended while the driver still holds its add-monitor event"),
                  std::string::npos)
            << errors[0];
    }
}

const StaleCase kStale[] = {
    {"LeftAtReturn", false, false, 1},
    {"WithdrawnBeforeReturn", true, false, 0},
    {"LeftAtSessionEnd", false, true, 1},
    {"WithdrawnBeforeSessionEnd", true, true, 0},
};

INSTANTIATE_TEST_SUITE_P(Ends, StaleRegistration, ::testing::ValuesIn(kStale),
                         [](const ::testing::TestParamInfo<StaleCase>& i) { return std::string(i.param.name); });

}  // namespace
