// The touchscreen workers: the worker list's cursor rules, the start of one
// worker and of all workers with their refusals and failures, the hand-over
// of the two events, the quick-touch refresher, and the stop of workers,
// which must end both threads before anything they use goes, also when
// another thread stops them.
#include "touch/workers.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/app.h"
#include "driver/channel.h"
#include "driver/protocol.h"
#include "inventory/touchscreen_list.h"
#include "monitors/monitor_table.h"
#include "registry.h"
#include "touch/packets.h"
#include "served_support.h"
#include "unit_support.h"

namespace unit {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::ValuesIn;

// A request as "REQ_NAME touchscreen", with the handle for event requests
// ("ring0" for a ring-0 handle, "0" for none), so that sequences compare as
// text.
std::string Describe(const Request& r) {
    std::string s = std::string(r.name) + " " + std::to_string(r.touchscreen);
    for (const auto& f : r.fields)
        if (f.name == "hEventR0") s += f.value == 0 ? " 0" : " ring0";
    return s;
}

std::vector<std::string> Describe(const std::vector<Request>& requests) {
    std::vector<std::string> out;
    for (const Request& r : requests) out.push_back(Describe(r));
    return out;
}

// Requests that the calling thread sent.
std::vector<Request> SentHere(sim::Machine& m) {
    const DWORD self = GetCurrentThreadId();
    std::vector<Request> out;
    for (const Request& r : m.driver().requests())
        if (r.thread == self) out.push_back(r);
    return out;
}

// The id of the thread behind an open thread handle; 0 when it is none.
DWORD ThreadBehind(sim::Machine& m, HANDLE hThread) {
    for (const sim::HandleInfo& h : m.open_handles())
        if (h.handle == hThread) return h.thread_id;
    return 0;
}

bool Ended(sim::Machine& m, DWORD thread_id) {
    const auto t = m.thread(thread_id);
    return t && t->ended;
}

SIZE_T StackSize(sim::Machine& m, DWORD thread_id) {
    const auto t = m.thread(thread_id);
    return t ? t->stack_size : 0;
}

// The ids of the two threads of a node, as the machine knows them (0: none).
struct WorkerThreads {
    DWORD packets = 0;
    DWORD refresher = 0;
};

WorkerThreads ThreadsOf(sim::Machine& m, const WorkerNode* node) {
    return {node->hXyThread ? ThreadBehind(m, node->hXyThread) : 0,
            node->hQuickTouchThread ? ThreadBehind(m, node->hQuickTouchThread) : 0};
}

class ServedTest : public ServedFixture {
protected:
    sim::Config DefaultConfig() const override { return SideBySide(2); }
};

// ------------------------------------------------------------------ the list

// The list with its first node within reach, to check the links both ways
// without moving the cursor.
class ListProbe : public WorkerList {
public:
    WorkerNode* First() const { return pFirst; }
};

// Nodes labelled by their iTouchscreen, appended in order.
void Append(WorkerList& list, const std::vector<std::pair<LONG, LONG>>& nodes) {
    for (const auto& [iMonitor, iTouchscreen] : nodes) {
        ASSERT_EQ(list.AddTail(), 1);
        list.GetCurrent()->iMonitor = iMonitor;
        list.GetCurrent()->iTouchscreen = iTouchscreen;
    }
}

// Labels from the first node along pNext; the same read backwards from the
// last along pPrev must give the reverse.
std::vector<LONG> Labels(const ListProbe& list) {
    std::vector<LONG> forward, backward;
    const WorkerNode* last = nullptr;
    for (const WorkerNode* n = list.First(); n != nullptr; n = n->pNext) {
        forward.push_back(n->iTouchscreen);
        last = n;
    }
    for (const WorkerNode* n = last; n != nullptr; n = n->pPrev) backward.insert(backward.begin(), n->iTouchscreen);
    EXPECT_EQ(forward, backward) << "pNext and pPrev disagree";
    if (list.First() != nullptr) {
        EXPECT_EQ(list.First()->pPrev, nullptr);
    }
    return forward;
}

LONG CursorLabel(const WorkerList& list) {
    return list.GetCurrent() != nullptr ? list.GetCurrent()->iTouchscreen : -1;
}

class WorkerListTest : public MachineTest {};

TEST_F(WorkerListTest, AppendedNodesStartWithDefaultsAndTakeTheCursor) {
    Boot();
    ListProbe list;
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetCurrent(), nullptr);

    for (LONG i = 0; i < 3; ++i) {
        ASSERT_EQ(list.AddTail(), 1);
        WorkerNode* node = list.GetCurrent();
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(list.GetCount(), i + 1);
        EXPECT_EQ(node->pNext, nullptr);
        EXPECT_EQ(node->iMonitor, 0);
        EXPECT_EQ(node->hXyEvent, HANDLE(0));
        EXPECT_EQ(node->hXyThread, HANDLE(0));
        EXPECT_EQ(node->dwXyThreadId, 0u);
        EXPECT_EQ(node->iQuickTouchDx.load(), 200);
        EXPECT_EQ(node->iQuickTouchDy.load(), 200);
        EXPECT_EQ(node->hQuickTouchEvent, HANDLE(0));
        EXPECT_EQ(node->hQuickTouchThread, HANDLE(0));
        EXPECT_EQ(node->hStopEvent, HANDLE(0));
        node->iTouchscreen = 10 + i;
    }
    EXPECT_EQ(Labels(list), (std::vector<LONG>{10, 11, 12}));
}

TEST_F(WorkerListTest, WithoutNodesEverythingIsNeutral) {
    Boot();
    ListProbe list;
    EXPECT_EQ(list.MoveFirst(), 0);
    EXPECT_EQ(list.MoveNext(), 0);
    EXPECT_EQ(list.MoveLast(), 0);
    EXPECT_EQ(list.RemoveCurrent(), 0);
    EXPECT_EQ(list.Find(0, 0), nullptr);
    EXPECT_EQ(list.GetCurrent(), nullptr);
    EXPECT_EQ(list.GetCount(), 0);
}

TEST_F(WorkerListTest, MovesStopAtTheEndsAndFindLeavesTheCursor) {
    Boot();
    ListProbe list;
    Append(list, {{0, 0}, {1, 1}, {1, 2}, {1, 1}});
    // The two nodes for (1, 1) are told apart by their quick-touch threshold.
    ASSERT_EQ(list.MoveFirst(), 1);
    ASSERT_EQ(list.MoveNext(), 1);
    list.GetCurrent()->iQuickTouchDx = 1;

    ASSERT_EQ(list.MoveLast(), 1);
    EXPECT_EQ(list.MoveNext(), 0);
    EXPECT_EQ(CursorLabel(list), 1);
    EXPECT_EQ(list.GetCurrent()->iQuickTouchDx.load(), 200) << "MoveNext at the last node stays there";

    ASSERT_EQ(list.MoveFirst(), 1);
    const WorkerNode* found = list.Find(1, 1);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->iQuickTouchDx.load(), 1) << "the node appended first";
    EXPECT_EQ(list.Find(0, 1), nullptr);
    EXPECT_EQ(list.Find(1, 0), nullptr);
    EXPECT_EQ(list.GetCurrent(), list.First()) << "Find leaves the cursor";
}

struct RemoveCase {
    const char* name;
    int nodes;
    int at;      // the current node when RemoveCurrent runs
    LONG cursor;  // label of the current node afterwards; -1 for none
    std::vector<LONG> left;
};

void PrintTo(const RemoveCase& c, std::ostream* os) { *os << c.name; }

class WorkerListRemoveTest : public MachineTest, public ::testing::WithParamInterface<RemoveCase> {};

TEST_P(WorkerListRemoveTest, CursorMovesToThePredecessorElseTheSuccessor) {
    const RemoveCase& c = GetParam();
    Boot();
    ListProbe list;
    for (LONG i = 0; i < c.nodes; ++i) Append(list, {{0, i}});
    ASSERT_EQ(list.MoveFirst(), 1);
    for (int i = 0; i < c.at; ++i) ASSERT_EQ(list.MoveNext(), 1);

    EXPECT_EQ(list.RemoveCurrent(), 1);
    EXPECT_EQ(CursorLabel(list), c.cursor);
    EXPECT_EQ(list.GetCount(), static_cast<LONG>(c.left.size()));
    EXPECT_EQ(Labels(list), c.left);
}

const RemoveCase kRemoveCases[] = {
    {"FirstOfThree", 3, 0, 1, {1, 2}},
    {"MiddleOfThree", 3, 1, 0, {0, 2}},
    {"LastOfThree", 3, 2, 1, {0, 1}},
    {"OnlyNode", 1, 0, -1, {}},
};

INSTANTIATE_TEST_SUITE_P(Workers, WorkerListRemoveTest, ValuesIn(kRemoveCases), CaseName<RemoveCase>);

// ------------------------------------------------------------------ StartWorker

struct RefusalCase {
    const char* name;
    int screens;
    int prefill;  // nodes in the list before the start
    LONG id;
    int result;
    LONG count;  // nodes afterwards
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class StartWorkerLimitTest : public ServedTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(StartWorkerLimitTest, RefusesOutsideTheListAndBeyondThirtyThreeNodes) {
    const RefusalCase& c = GetParam();
    sim::Machine& m = Serve(std::vector<TouchscreenConfig>(static_cast<size_t>(c.screens), Screen(0)));
    for (int i = 0; i < c.prefill; ++i) ASSERT_EQ(gpWorkers.load()->AddTail(), 1);
    m.driver().clear_log();

    EXPECT_EQ(StartWorker(0, c.id), c.result);
    EXPECT_EQ(gpWorkers.load()->GetCount(), c.count);
    if (c.result != 0) {
        EXPECT_THAT(m.driver().requests(), IsEmpty()) << "a refusal changes nothing";
    } else {
        ASSERT_EQ(gpWorkers.load()->MoveLast(), 1);
        EXPECT_EQ(gpWorkers.load()->GetCurrent()->iTouchscreen, c.id);
        EXPECT_NE(m.driver().xy_event(c.id), 0u);
    }
}

const RefusalCase kRefusalCases[] = {
    {"NegativeIdentifier", 3, 0, -1, 1, 0},
    {"IdentifierEqualToTheCount", 3, 0, 3, 1, 0},
    {"LastIdentifier", 3, 0, 2, 0, 1},
    {"ThirtyThirdNode", 1, 32, 0, 0, 33},
    {"ThirtyFourthNode", 1, 33, 0, 1, 33},
};

INSTANTIATE_TEST_SUITE_P(Workers, StartWorkerLimitTest, ValuesIn(kRefusalCases), CaseName<RefusalCase>);

class StartWorkerTest : public ServedTest {};

// Touchscreen 2 on monitor 1: the driver learns the monitor number and the
// rectangle, then gets the packet event in a bracket for touchscreen 2 and
// the quick-touch event in a bracket for touchscreen 0.
TEST_F(StartWorkerTest, HandsOverBothEventsAndStartsTwoThreads) {
    sim::Machine& m = Serve({Screen(0), Screen(0), Screen(0)});
    m.driver().clear_log();

    ASSERT_EQ(StartWorker(1, 2), 0);
    m.settle();

    ASSERT_EQ(gpWorkers.load()->GetCount(), 1);
    WorkerNode* node = gpWorkers.load()->GetCurrent();
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->iMonitor, 1);
    EXPECT_EQ(node->iTouchscreen, 2);
    EXPECT_NE(node->hXyEvent, HANDLE(0));
    EXPECT_NE(node->hQuickTouchEvent, HANDLE(0));
    EXPECT_EQ(node->hXyEventR0, m.driver().xy_event(2));
    EXPECT_NE(m.driver().quick_touch_event(2), 0u);
    EXPECT_NE(m.driver().quick_touch_event(2), node->hXyEventR0);

    EXPECT_EQ(m.driver().monitor_number(2), 1);
    const auto rect = m.driver().monitor_rect(2);
    ASSERT_TRUE(rect.has_value()) << "the monitor's rectangle was not handed over";
    EXPECT_EQ(rect->monitor, 1);
    EXPECT_EQ(rect->left, 1024);
    EXPECT_EQ(rect->right, 2048);

    const auto sent = SentHere(m);
    size_t i = 0;
    while (i < sent.size() && sent[i].code != REQ_SET_XY_EVENT) ++i;
    ASSERT_GE(i, 1u);
    ASSERT_EQ(sent.size(), i + 5) << "the quick-touch hand-over comes last";
    EXPECT_EQ(Describe(sent[0]), "REQ_SET_MONITOR_NUMBER 2");
    EXPECT_THAT(Describe(std::vector<Request>(sent.begin() + static_cast<std::ptrdiff_t>(i) - 1, sent.end())),
                ElementsAre("REQ_BEGIN_CHANGE 2", "REQ_SET_XY_EVENT 2 ring0", "REQ_END_CHANGE 2",
                            "REQ_BEGIN_CHANGE 0", "REQ_SET_QUICKTOUCH_EVENT 2 ring0", "REQ_END_CHANGE 0"));
    ExpectEncoded(sent[i], REQ_SET_XY_EVENT, 16, {{2, Le16(10)}, {8, Le16(2)}, {12, Le32(node->hXyEventR0)}});
    ExpectEncoded(sent[i + 3], REQ_SET_QUICKTOUCH_EVENT, 16,
                  {{2, Le16(10)}, {8, Le16(2)}, {12, Le32(m.driver().quick_touch_event(2))}});
    ExpectEncoded(sent[i + 2], REQ_BEGIN_CHANGE, 12, {{2, Le16(10)}, {8, Le16(0)}});
    EXPECT_THAT(m.driver().open_brackets(), IsEmpty());

    // The named events exist under their names.
    for (const char* name : {"RykXyEvent2", "RykUpdateQuickTouchEvent2"}) {
        HANDLE h = OpenEventA(0, FALSE, name);
        EXPECT_NE(h, HANDLE(0)) << name;
        if (h != 0) CloseHandle(h);
    }

    const WorkerThreads threads = ThreadsOf(m, node);
    ASSERT_NE(threads.packets, 0u);
    ASSERT_NE(threads.refresher, 0u);
    EXPECT_EQ(threads.packets, node->dwXyThreadId);
    EXPECT_EQ(GetThreadPriority(node->hXyThread), THREAD_PRIORITY_HIGHEST);
    EXPECT_EQ(GetThreadPriority(node->hQuickTouchThread), THREAD_PRIORITY_HIGHEST);
    EXPECT_EQ(StackSize(m, threads.packets), 512u);
    EXPECT_EQ(StackSize(m, threads.refresher), 512u);
}

// A start that fails after its node was appended leaves no node: the node
// is stopped at once the way a later stop would have stopped it (the stop
// requests for its touchscreen, its threads ended) and every handle it got
// is closed, the packet event too. The monitor assignment stays in force.
struct FailedStartCase {
    const char* name;
    sim::OpenVxd open_vxd;
    DWORD refused;  // 0: none
    bool threads;   // the start got as far as the two threads
};

void PrintTo(const FailedStartCase& c, std::ostream* os) { *os << c.name; }

class FailedStartTest : public ServedTest, public ::testing::WithParamInterface<FailedStartCase> {};

// Handles of the program's own kernel objects with this name that are open.
size_t OpenHandlesNamed(sim::Machine& m, const std::string& name) {
    size_t n = 0;
    for (const sim::HandleInfo& h : m.open_handles()) n += h.name == name ? 1 : 0;
    return n;
}

TEST_P(FailedStartTest, StopsAndRemovesItsNodeAtOnce) {
    const FailedStartCase& c = GetParam();
    sim::Machine& m = Serve({Screen(0), Screen(0)}, SideBySide(2, c.open_vxd));
    if (c.refused != 0) m.driver().refuse(c.refused, Refusal{.always = true});
    const size_t before = m.threads().size();
    m.driver().clear_log();

    EXPECT_EQ(StartWorker(1, 1), 1);
    m.settle();

    EXPECT_EQ(gpWorkers.load()->GetCount(), 0) << "a failed start never counts as a worker";
    EXPECT_EQ(gpWorkers.load()->Find(1, 1), nullptr);
    EXPECT_EQ(m.driver().monitor_number(1), 1) << "the assignment stays";
    const auto sent = Describe(SentHere(m));
    ASSERT_GE(sent.size(), 3u);
    EXPECT_THAT(std::vector<std::string>(sent.end() - 3, sent.end()),
                ElementsAre("REQ_BEGIN_CHANGE 1", "REQ_CLEAR_EVENT 1 0", "REQ_END_CHANGE 1"));
    EXPECT_EQ(OpenHandlesNamed(m, "RykXyEvent1"), 0u) << "the packet event is closed";
    EXPECT_EQ(OpenHandlesNamed(m, "RykUpdateQuickTouchEvent1"), 0u);

    // Every thread the start made has ended again.
    size_t made = 0;
    const std::vector<sim::ThreadInfo> now = m.threads();
    for (size_t i = before; i < now.size(); ++i) {
        if (!now[i].started) continue;
        ++made;
        EXPECT_TRUE(now[i].ended) << now[i].label;
    }
    EXPECT_EQ(made, c.threads ? 2u : 0u);

    // Nothing is left for a later stop.
    m.driver().clear_refusals();
    m.driver().clear_log();
    StopAllWorkers();
    EXPECT_THAT(SentHere(m), IsEmpty());
}

const FailedStartCase kFailedStartCases[] = {
    {"NoOpenVxDHandle", sim::OpenVxd::missing, 0, false},
    {"OpenVxDHandleRefuses", sim::OpenVxd::returns_zero, 0, false},
    {"PacketEventRefused", sim::OpenVxd::exported, REQ_SET_XY_EVENT, false},
    {"QuickTouchEventRefused", sim::OpenVxd::exported, REQ_SET_QUICKTOUCH_EVENT, true},
};

INSTANTIATE_TEST_SUITE_P(Workers, FailedStartTest, ValuesIn(kFailedStartCases), CaseName<FailedStartCase>);

// ------------------------------------------------------------------ the two hand-overs

struct ArmCase {
    const char* name;
    sim::OpenVxd open_vxd;
    DWORD refused;  // 0: none
    int xy_code;
    std::vector<std::string> xy_requests;
    int quick_code;
    std::vector<std::string> quick_requests;
};

void PrintTo(const ArmCase& c, std::ostream* os) { *os << c.name; }

class ArmEventTest : public ServedTest, public ::testing::WithParamInterface<ArmCase> {};

TEST_P(ArmEventTest, StepCodesAndBrackets) {
    const ArmCase& c = GetParam();
    sim::Machine& m = Serve({Screen(0), Screen(0)}, SideBySide(2, c.open_vxd));
    if (c.refused != 0) m.driver().refuse(c.refused, Refusal{.always = true});
    m.driver().clear_log();

    HANDLE hXyEvent = 0;
    DWORD dwXyEventR0 = 0;
    EXPECT_EQ(ArmXyEvent(1, &hXyEvent, &dwXyEventR0), c.xy_code);
    EXPECT_NE(hXyEvent, HANDLE(0)) << "the event exists from step 2 on";
    EXPECT_EQ(dwXyEventR0 != 0, c.xy_code == 0 || c.xy_code == 3);
    EXPECT_EQ(Describe(SentHere(m)), c.xy_requests);
    if (hXyEvent != 0) CloseHandle(hXyEvent);

    m.driver().clear_log();
    ASSERT_EQ(gpWorkers.load()->AddTail(), 1);
    WorkerNode* node = gpWorkers.load()->GetCurrent();
    node->iTouchscreen = 1;
    node->hStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(ArmQuickTouchEvent(node), c.quick_code);
    EXPECT_NE(node->hQuickTouchEvent, HANDLE(0));
    ASSERT_NE(node->hQuickTouchThread, HANDLE(0)) << "the refresher runs from step 3 on";
    EXPECT_EQ(GetThreadPriority(node->hQuickTouchThread), THREAD_PRIORITY_HIGHEST);
    EXPECT_EQ(Describe(SentHere(m)), c.quick_requests);
    m.driver().clear_refusals();
}

const ArmCase kArmCases[] = {
    {"HandedOver", sim::OpenVxd::exported, 0,
     0, {"REQ_BEGIN_CHANGE 1", "REQ_SET_XY_EVENT 1 ring0", "REQ_END_CHANGE 1"},
     0, {"REQ_BEGIN_CHANGE 0", "REQ_SET_QUICKTOUCH_EVENT 1 ring0", "REQ_END_CHANGE 0"}},
    {"NoOpenVxDHandle", sim::OpenVxd::missing, 0, 4, {}, 3, {}},
    {"OpenVxDHandleRefuses", sim::OpenVxd::returns_zero, 0, 2, {}, 4, {}},
    {"PacketEventRefusedLeavesItsBracketOpen", sim::OpenVxd::exported, REQ_SET_XY_EVENT,
     3, {"REQ_BEGIN_CHANGE 1", "REQ_SET_XY_EVENT 1 ring0"},
     0, {"REQ_BEGIN_CHANGE 0", "REQ_SET_QUICKTOUCH_EVENT 1 ring0", "REQ_END_CHANGE 0"}},
    {"QuickTouchEventRefusedLeavesItsBracketOpen", sim::OpenVxd::exported, REQ_SET_QUICKTOUCH_EVENT,
     0, {"REQ_BEGIN_CHANGE 1", "REQ_SET_XY_EVENT 1 ring0", "REQ_END_CHANGE 1"},
     5, {"REQ_BEGIN_CHANGE 0", "REQ_SET_QUICKTOUCH_EVENT 1 ring0"}},
};

INSTANTIATE_TEST_SUITE_P(Workers, ArmEventTest, ValuesIn(kArmCases), CaseName<ArmCase>);

// ------------------------------------------------------------------ the refresher

struct Signal {
    bool refused;
    LONG dx, dy;  // the driver's new values
};

struct RefreshCase {
    const char* name;
    std::vector<Signal> signals;
    LONG dx, dy;  // the node's thresholds afterwards
};

void PrintTo(const RefreshCase& c, std::ostream* os) { *os << c.name; }

class QuickTouchRefreshTest : public ServedTest, public ::testing::WithParamInterface<RefreshCase> {};

TEST_P(QuickTouchRefreshTest, ThresholdsFollowAcceptedRepliesOnly) {
    const RefreshCase& c = GetParam();
    sim::Machine& m = Serve({Screen(0), Screen(0)});
    ASSERT_EQ(StartWorker(0, 1), 0);
    WorkerNode* node = gpWorkers.load()->GetCurrent();
    const WorkerThreads threads = ThreadsOf(m, node);
    m.settle();
    m.driver().clear_log();

    for (const Signal& s : c.signals) {
        if (s.refused) m.driver().refuse(REQ_GET_QUICKTOUCH, Refusal{.times = 1});
        m.driver().set_quick_touch(1, s.dx, s.dy);
        m.settle();
    }

    EXPECT_EQ(node->iQuickTouchDx.load(), c.dx);
    EXPECT_EQ(node->iQuickTouchDy.load(), c.dy);
    const auto asked = m.driver().requests();
    ASSERT_EQ(asked.size(), c.signals.size()) << "one request per signal, nothing else";
    for (size_t i = 0; i < asked.size(); ++i) {
        ExpectEncoded(asked[i], REQ_GET_QUICKTOUCH, 24, {{2, Le16(10)}, {8, Le16(1)}});
        EXPECT_EQ(asked[i].thread, threads.refresher);
        EXPECT_EQ(asked[i].ok, !c.signals[i].refused);
    }
}

const RefreshCase kRefreshCases[] = {
    {"TakesTheDriversValues", {{false, 50, 60}}, 50, 60},
    {"RefusedFirstKeepsTheDefaults", {{true, 50, 60}}, 200, 200},
    {"RefusedLaterKeepsThePrevious", {{false, 50, 60}, {true, 70, 80}}, 50, 60},
    {"NextSignalAfterARefusal", {{true, 50, 60}, {false, 70, 80}}, 70, 80},
};

INSTANTIATE_TEST_SUITE_P(Workers, QuickTouchRefreshTest, ValuesIn(kRefreshCases), CaseName<RefreshCase>);

// ------------------------------------------------------------------ StartAllWorkers

struct StartAllCase {
    const char* name;
    std::vector<TouchscreenConfig> screens;
    std::vector<std::pair<std::string, std::string>> serials;  // key path, its "SerialNumber"
    std::vector<std::pair<DWORD, Refusal>> refusals;
    std::vector<std::pair<LONG, LONG>> nodes;  // (iMonitor, iTouchscreen), in list order
    std::vector<int32_t> aligned;              // touchscreens whose alignment was asked for
    std::vector<int32_t> told;                 // the monitor number the driver got, per touchscreen
    std::vector<bool> served;                  // the packet event was handed over, per touchscreen
};

void PrintTo(const StartAllCase& c, std::ostream* os) { *os << c.name; }

class StartAllWorkersTest : public ServedTest, public ::testing::WithParamInterface<StartAllCase> {};

TEST_P(StartAllWorkersTest, EveryTouchscreenGetsAWorkerOnItsMonitorOrOnMonitorZero) {
    const StartAllCase& c = GetParam();
    sim::Machine& m = Serve(c.screens);
    for (const auto& [path, serial] : c.serials) m.registry().set_string(HKEY_LOCAL_MACHINE, path, "SerialNumber", serial);
    for (const auto& [code, refusal] : c.refusals) m.driver().refuse(code, refusal);
    m.driver().clear_log();

    StartAllWorkers();
    m.settle();

    std::vector<std::pair<LONG, LONG>> nodes;
    if (gpWorkers.load()->MoveFirst()) {
        do nodes.emplace_back(gpWorkers.load()->GetCurrent()->iMonitor, gpWorkers.load()->GetCurrent()->iTouchscreen);
        while (gpWorkers.load()->MoveNext());
    }
    EXPECT_EQ(nodes, c.nodes);

    std::vector<int32_t> aligned;
    for (const Request& r : m.driver().requests(REQ_GET_ALIGNMENT)) aligned.push_back(r.touchscreen);
    EXPECT_EQ(aligned, c.aligned);

    std::vector<int32_t> told;
    std::vector<bool> served;
    for (int i = 0; i < static_cast<int>(c.screens.size()); ++i) {
        told.push_back(m.driver().monitor_number(i).value_or(-99));
        served.push_back(m.driver().xy_event(i) != 0);
    }
    EXPECT_EQ(told, c.told);
    EXPECT_EQ(served, c.served);
    m.driver().clear_refusals();
}

const StartAllCase kStartAllCases[] = {
    {"NoTouchscreens", {}, {}, {}, {}, {}, {}, {}},
    {"UnassignedServedOnMonitorZero",
     {Screen(-1, "TS-1", "Enum\\TS-1")}, {{"Enum\\TS-1", "TS-1"}}, {},
     {{0, 0}}, {0}, {0}, {true}},
    {"ForeignRegistryEntryServedOnMonitorZero",
     {Screen(1, "TS-1", "Enum\\TS-1")}, {{"Enum\\TS-1", "TS-9"}}, {},
     {{0, 0}}, {0}, {0}, {true}},
    {"OwnRegistryEntryKeepsItsMonitor",
     {Screen(1, "TS-1", "Enum\\TS-1")}, {{"Enum\\TS-1", "TS-1"}}, {},
     {{1, 0}}, {}, {1}, {true}},
    {"InEnumerationOrder",
     {Screen(1, "A", "Enum\\A"), Screen(-1, "B", "Enum\\B"), Screen(0, "C", "Enum\\C")},
     {{"Enum\\A", "A"}, {"Enum\\B", "B"}}, {},
     {{1, 0}, {0, 1}, {0, 2}}, {1, 2}, {1, 0, 0}, {true, true, true}},
    {"FailedStartDoesNotStopTheOthers",
     {Screen(0, "A", "Enum\\A"), Screen(1, "B", "Enum\\B")},
     {{"Enum\\A", "A"}, {"Enum\\B", "B"}}, {{REQ_SET_XY_EVENT, Refusal{.touchscreen = 0}}},
     {{1, 1}}, {}, {0, 1}, {false, true}},
};

INSTANTIATE_TEST_SUITE_P(Workers, StartAllWorkersTest, ValuesIn(kStartAllCases), CaseName<StartAllCase>);

class RegistryCheckScopeTest : public ServedTest {};

// The registry check is only for touchscreens with a monitor: one without
// keeps a foreign entry untouched.
TEST_F(RegistryCheckScopeTest, UnassignedTouchscreenIsNotChecked) {
    sim::Machine& m = Serve({Screen(-1, "TS-1", "Enum\\TS-1")});
    m.registry().set_string(HKEY_LOCAL_MACHINE, "Enum\\TS-1", "SerialNumber", "TS-9");
    StartAllWorkers();
    EXPECT_FALSE(m.registry().get_value(HKEY_LOCAL_MACHINE, "Enum\\TS-1", "MonitorNumber").has_value());
}

// ------------------------------------------------------------------ stopping

class StopWorkerTest : public ServedTest {};

TEST_F(StopWorkerTest, StopsTheCurrentWorkerAndOnlyIt) {
    sim::Machine& m = Serve({Screen(0), Screen(0), Screen(0)});
    std::vector<WorkerThreads> threads;
    for (LONG i = 0; i < 3; ++i) {
        ASSERT_EQ(StartWorker(0, i), 0);
        threads.push_back(ThreadsOf(m, gpWorkers.load()->GetCurrent()));
    }
    m.settle();
    ASSERT_EQ(gpWorkers.load()->MoveFirst(), 1);
    ASSERT_EQ(gpWorkers.load()->MoveNext(), 1);
    m.driver().clear_log();

    EXPECT_EQ(StopCurrentWorker(), 1);
    EXPECT_EQ(CursorLabel(*gpWorkers.load()), 0);
    EXPECT_EQ(gpWorkers.load()->GetCount(), 2);
    EXPECT_THAT(Describe(SentHere(m)), ElementsAre("REQ_BEGIN_CHANGE 1", "REQ_CLEAR_EVENT 1 0", "REQ_END_CHANGE 1"));
    EXPECT_EQ(m.driver().xy_event(1), 0u);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("worker " + std::to_string(i));
        EXPECT_EQ(Ended(m, threads[i].packets), i == 1);
        EXPECT_EQ(Ended(m, threads[i].refresher), i == 1);
    }

    // The stopped worker reads nothing more; the others go on.
    m.trace().clear();
    m.driver().clear_log();
    m.driver().queue_packet(1, 10, 10, 0);
    m.driver().set_quick_touch(1, 50, 50);
    m.settle();
    EXPECT_THAT(m.driver().requests(), IsEmpty());
    EXPECT_EQ(m.trace().count("mouse"), 0u);
    m.driver().queue_packet(2, 20, 20, 0);
    m.settle();
    EXPECT_EQ(m.trace().count("mouse"), 3u);
}

TEST_F(StopWorkerTest, WithoutWorkersNothingIsSent) {
    sim::Machine& m = Serve({Screen(0)});
    m.driver().clear_log();
    EXPECT_EQ(StopCurrentWorker(), 0);
    StopAllWorkers();
    EXPECT_THAT(m.driver().requests(), IsEmpty());
}

TEST_F(StopWorkerTest, StopAllWorkersGoesFromFirstToLastAndEndsEveryThread) {
    sim::Machine& m = Serve({Screen(0), Screen(0)});
    std::vector<WorkerThreads> threads;
    for (LONG i : {1, 0}) {
        ASSERT_EQ(StartWorker(0, i), 0);
        threads.push_back(ThreadsOf(m, gpWorkers.load()->GetCurrent()));
    }
    m.settle();
    m.driver().clear_log();

    StopAllWorkers();
    EXPECT_EQ(gpWorkers.load()->GetCount(), 0);
    EXPECT_EQ(gpWorkers.load()->GetCurrent(), nullptr);
    EXPECT_THAT(Describe(SentHere(m)),
                ElementsAre("REQ_BEGIN_CHANGE 1", "REQ_CLEAR_EVENT 1 0", "REQ_END_CHANGE 1", "REQ_BEGIN_CHANGE 0",
                            "REQ_CLEAR_EVENT 0 0", "REQ_END_CHANGE 0"));
    for (const WorkerThreads& t : threads) {
        EXPECT_TRUE(Ended(m, t.packets));
        EXPECT_TRUE(Ended(m, t.refresher));
    }
}

// Helpers that run on machine threads of the test.
struct DriverLockHolder {
    HANDLE hRelease;
};

DWORD WINAPI HoldDriverLock(LPVOID pParam) {
    auto* holder = static_cast<DriverLockHolder*>(pParam);
    EnterCriticalSection(&gcsDriver);
    WaitForSingleObject(holder->hRelease, INFINITE);
    LeaveCriticalSection(&gcsDriver);
    return 0;
}

// What shutdown does with the workers and the lock they use.
DWORD WINAPI StopWorkersAndDeleteDriverLock(LPVOID) {
    StopAllWorkers();
    DeleteCriticalSection(&gcsDriver);
    return 0;
}

DWORD WINAPI StopWorkers(LPVOID) {
    StopAllWorkers();
    return 0;
}

// A worker that waits to enter gcsDriver when shutdown comes: shutdown must
// not delete the lock under it, so the stop waits until the worker is gone.
TEST_F(StopWorkerTest, ShutdownDeletesTheDriverLockOnlyAfterTheWorkersEnd) {
    sim::Machine& m = Serve({Screen(0)});
    ASSERT_EQ(StartWorker(0, 0), 0);
    const WorkerThreads threads = ThreadsOf(m, gpWorkers.load()->GetCurrent());
    DriverLockHolder holder{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE hHolder = CreateThread(nullptr, 0, HoldDriverLock, &holder, 0, nullptr);
    m.settle();
    m.driver().queue_packet(0, 10, 10, 0);
    m.settle();  // the worker now waits for gcsDriver

    HANDLE hShutdown = CreateThread(nullptr, 0, StopWorkersAndDeleteDriverLock, nullptr, 0, nullptr);
    DriverLockDeleted();
    m.settle();
    EXPECT_FALSE(Ended(m, threads.packets));
    EXPECT_EQ(WaitForSingleObject(hShutdown, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the stop waits for the worker";

    SetEvent(holder.hRelease);
    m.settle();
    EXPECT_EQ(WaitForSingleObject(hShutdown, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(Ended(m, threads.packets));
    EXPECT_TRUE(Ended(m, threads.refresher));
    EXPECT_EQ(gpWorkers.load()->GetCount(), 0);
    EXPECT_THAT(m.misuse(), IsEmpty());
    for (HANDLE h : {hShutdown, hHolder, holder.hRelease}) CloseHandle(h);
}

// The remove-devices watcher stops all workers from its own thread: while
// the main thread holds the list, that stop waits for it.
TEST_F(StopWorkerTest, StopFromAnotherThreadWaitsForTheListLock) {
    sim::Machine& m = Serve({Screen(0), Screen(0)});
    ASSERT_EQ(StartWorker(0, 0), 0);
    ASSERT_EQ(StartWorker(0, 1), 0);
    m.settle();
    m.driver().clear_log();

    gpWorkers.load()->Lock();
    ASSERT_EQ(gpWorkers.load()->MoveFirst(), 1);
    HANDLE hStopper = CreateThread(nullptr, 0, StopWorkers, nullptr, 0, nullptr);
    m.settle();
    // The walk still sees both nodes, and nothing was withdrawn.
    EXPECT_EQ(CursorLabel(*gpWorkers.load()), 0);
    ASSERT_EQ(gpWorkers.load()->MoveNext(), 1);
    EXPECT_EQ(CursorLabel(*gpWorkers.load()), 1);
    EXPECT_THAT(m.driver().requests(), IsEmpty());
    gpWorkers.load()->Unlock();

    m.settle();
    EXPECT_EQ(WaitForSingleObject(hStopper, 0), WAIT_OBJECT_0);
    EXPECT_EQ(gpWorkers.load()->GetCount(), 0);
    EXPECT_EQ(m.driver().requests(REQ_CLEAR_EVENT).size(), 2u);
    CloseHandle(hStopper);
}

// ------------------------------------------------------------------ the whole program

using ProgramWorkersTest = MachineTest;

// Two touchscreens on two monitors: a tap on each lands on its own monitor,
// and after WM_CLOSE no worker thread is left when the process ends.
TEST_F(ProgramWorkersTest, TapsLandOnTheirOwnMonitorsAndTheEndLeavesNoWorker) {
    sim::Machine& m = Boot(SideBySide(2), {Screen(0, "TS-0", "Enum\\TS-0"), Screen(1, "TS-1", "Enum\\TS-1")});
    m.registry().set_string(HKEY_LOCAL_MACHINE, "Enum\\TS-0", "SerialNumber", "TS-0");
    m.registry().set_string(HKEY_LOCAL_MACHINE, "Enum\\TS-1", "SerialNumber", "TS-1");
    const DWORD pid = m.start_process("RykXyLdr", [] {
        return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(""), SW_SHOWDEFAULT);
    });
    m.settle();
    ASSERT_FALSE(m.process_ended(pid));

    const RECT monitors[] = {{0, 0, 1024, 768}, {1024, 0, 2048, 768}};
    for (int screen = 0; screen < 2; ++screen) {
        SCOPED_TRACE("touchscreen " + std::to_string(screen));
        m.trace().clear();
        ASSERT_TRUE(m.driver().queue_touch_at(screen, 0.5, 0.5, 5));
        ASSERT_TRUE(m.driver().queue_touch_at(screen, 0.5, 0.5, 5 | PKT_RELEASE));
        m.settle();
        const auto cursor = m.trace().events("cursor");
        ASSERT_EQ(cursor.size(), 2u);
        for (const auto& e : cursor) {
            const LONG x = e.fields["x"].get<LONG>();
            const LONG y = e.fields["y"].get<LONG>();
            EXPECT_TRUE(x >= monitors[screen].left && x < monitors[screen].right && y >= monitors[screen].top &&
                        y < monitors[screen].bottom)
                << "(" << x << ", " << y << ")";
        }
        std::vector<DWORD> flags;
        for (const auto& e : m.trace().events("mouse")) flags.push_back(e.fields["flags"].get<DWORD>());
        EXPECT_EQ(flags, (std::vector<DWORD>{MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP, MOUSEEVENTF_MOVE}));
    }

    HWND hwnd = m.find_window("RykXyLdrAppClass");
    ASSERT_NE(hwnd, nullptr);
    ASSERT_TRUE(m.post_from_outside(hwnd, WM_CLOSE, 0, 0));
    m.settle();
    ASSERT_TRUE(m.process_ended(pid));
    EXPECT_EQ(m.process_exit_code(pid), 0u);
    EXPECT_THAT(m.misuse(), IsEmpty()) << "a worker thread outlived the process, or a handle was closed under a wait";
    EXPECT_EQ(m.driver().xy_event(0), 0u);
    EXPECT_EQ(m.driver().xy_event(1), 0u);
}

}  // namespace
}  // namespace unit
