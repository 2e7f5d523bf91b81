#include "kernel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <pthread.h>

#include "machine.h"
#include "orvane/driver.h"
#include "text.h"

namespace sim {

namespace {

std::atomic<uint64_t> g_generation{0};

struct Tls {
    uint64_t generation = 0;
    Kernel::ThreadCtx* thread = nullptr;
};
thread_local Tls tls;



}  // namespace

Kernel::Kernel(Machine& machine) : machine_(machine), generation_(++g_generation) {
    std::lock_guard<std::mutex> lk(mu_);
    default_process_ = new_process_locked("test");
}

Kernel::~Kernel() { shutdown(); }

// ------------------------------------------------------------------ threads

Kernel::ThreadCtx* Kernel::new_thread_locked(Process* p, const std::string& label) {
    auto t = std::make_unique<ThreadCtx>();
    t->id = next_thread_id_;
    next_thread_id_ += 4;
    t->proc = p;
    t->label = label;
    t->obj = std::make_shared<Object>();
    t->obj->kind = Kind::Thread;
    t->obj->thread = t.get();
    t->queue_obj = std::make_shared<Object>();
    t->queue_obj->kind = Kind::Queue;
    t->queue_obj->thread = t.get();
    t->sent_obj = std::make_shared<Object>();
    t->sent_obj->kind = Kind::Event;
    t->sent_obj->manual = true;
    p->threads.push_back(t.get());
    ++running_;
    threads_.push_back(std::move(t));
    return threads_.back().get();
}

Kernel::ThreadCtx* Kernel::thread_by_id_locked(DWORD id) {
    for (auto& t : threads_)
        if (t->id == id) return t.get();
    return nullptr;
}

Kernel::ThreadCtx* Kernel::self_locked() {
    if (tls.generation == generation_ && tls.thread) return tls.thread;
    ThreadCtx* t = new_thread_locked(default_process_, "attached");
    tls.generation = generation_;
    tls.thread = t;
    return t;
}

void Kernel::check_kill_locked(ThreadCtx* t) {
    if (t->kill && std::uncaught_exceptions() == 0) throw ThreadKilled{};
}

void Kernel::set_error(DWORD e) {
    if (tls.generation == generation_ && tls.thread) {
        tls.thread->last_error = e;
        return;
    }
    std::lock_guard<std::mutex> lk(mu_);
    self_locked()->last_error = e;
}

DWORD Kernel::get_error() {
    if (tls.generation == generation_ && tls.thread) return tls.thread->last_error;
    std::lock_guard<std::mutex> lk(mu_);
    return self_locked()->last_error;
}

void Kernel::thread_ended_locked(ThreadCtx* t, DWORD code) {
    if (t->ended) return;
    t->ended = true;
    t->exit_code = code;
    if (!t->blocked) --running_;
    t->blocked = false;
    // Mutexes and critical sections it still owns are abandoned.
    for (auto& [h, obj] : handles_) {
        if (obj->kind == Kind::Mutex && obj->owner == t) {
            obj->owner = nullptr;
            obj->recursion = 0;
            obj->abandoned = true;
            signal_locked(*obj);
        }
    }
    for (auto& obj : system_objects_) {
        if (obj->kind == Kind::Mutex && obj->owner == t) {
            obj->owner = nullptr;
            obj->recursion = 0;
            obj->abandoned = true;
            signal_locked(*obj);
        }
    }
    // Senders waiting on it get 0, as SendMessage returns when the receiving
    // thread ends.
    while (auto sent = take_sent_locked(t)) answer_sent_locked(*sent, 0);
    t->obj->signalled = true;
    signal_locked(*t->obj);
    Process* p = t->proc;
    if (!p->ended && t->started) {
        bool any = false;
        for (auto* o : p->threads)
            if (!o->ended && !o->harness) any = true;
        if (!any && p != default_process_) end_process_locked(p, code, false);
    }
    running_dropped_locked();
}

void Kernel::kill_thread_locked(ThreadCtx* t) {
    if (t->ended || t->kill) return;
    t->kill = true;
    if (t->blocked) {
        Waiter* w = t->wait;
        if (w) {
            for (auto& o : w->objs) {
                auto& ws = o->waiters;
                ws.erase(std::remove(ws.begin(), ws.end(), w), ws.end());
            }
        }
        t->blocked = false;
        ++running_;
    }
    t->cv.notify_all();
}

Kernel::Process* Kernel::new_process_locked(const std::string& name) {
    auto p = std::make_unique<Process>();
    p->id = next_process_id_;
    next_process_id_ += 4;
    p->name = name;
    p->obj = std::make_shared<Object>();
    p->obj->kind = Kind::Process;
    p->obj->process = p.get();
    p->idle = std::make_shared<Object>();
    p->idle->kind = Kind::Event;
    p->idle->manual = true;
    processes_.push_back(std::move(p));
    return processes_.back().get();
}

Kernel::Process* Kernel::process_by_id_locked(DWORD pid) const {
    for (auto& p : processes_)
        if (p->id == pid) return p.get();
    return nullptr;
}

void Kernel::end_process_locked(Process* p, DWORD code, bool report_leftovers) {
    if (p->ended) return;
    p->ended = true;
    p->exit_code = code;
    for (auto* t : p->threads) {
        if (t->ended || t->harness || t->exiting) continue;
        if (report_leftovers && !t->killed_is_reported) {
            t->killed_is_reported = true;
            machine_.report_misuse("thread " + std::to_string(t->id) + " (" + t->label +
                                   ") still running when process " + p->name + " ended");
        }
        kill_thread_locked(t);
    }
    for (auto& [h, w] : windows_)
        if (w.p == p) w.alive = false;
    // The driver learns which of its ring-0 handles belonged to the process,
    // so that it can tell a registration the process left behind. Not while
    // the machine itself is taken down: that is no end the program sees.
    if (!shutting_down_) {
        std::vector<uint32_t> own;
        for (const auto& [r0, pid] : ring0_process_)
            if (pid == p->id) own.push_back(r0);
        if (!own.empty()) machine_.driver().process_ended(p->name, own);
    }
    // Windows closes every handle the process still holds; a named object
    // whose last handle this was is gone with it (a mutex it owned is
    // abandoned by the end of its thread).
    if (!shutting_down_) {
        for (auto it = handle_owner_.begin(); it != handle_owner_.end();) {
            if (it->second != p) {
                ++it;
                continue;
            }
            handles_.erase(it->first);
            it = handle_owner_.erase(it);
        }
    }
    p->obj->signalled = true;
    signal_locked(*p->obj);
    running_dropped_locked();
}

// ------------------------------------------------------------------ objects and handles

HANDLE Kernel::new_handle_locked(ObjRef obj) {
    uintptr_t v = next_handle_;
    next_handle_ += 4;
    handles_[v] = std::move(obj);
    // Made by a thread of a process: it is that process's handle, closed
    // when the process ends.
    if (tls.generation == generation_ && tls.thread && tls.thread->proc && tls.thread->proc != default_process_)
        handle_owner_[v] = tls.thread->proc;
    return reinterpret_cast<HANDLE>(v);
}

Kernel::ObjRef Kernel::lookup_locked(HANDLE h, const char* api) {
    auto v = reinterpret_cast<uintptr_t>(h);
    if (v == static_cast<uintptr_t>(-1)) return self_locked()->proc->obj;  // GetCurrentProcess()
    if (v == static_cast<uintptr_t>(-2)) return self_locked()->obj;        // GetCurrentThread()
    auto it = handles_.find(v);
    if (it != handles_.end()) return it->second;
    if (closed_.count(v))
        machine_.report_misuse(std::string(api) + ": handle " + hex(v, 0, true) + " used after CloseHandle");
    self_locked()->last_error = ERROR_INVALID_HANDLE;
    return nullptr;
}

Kernel::ObjRef Kernel::close_handle_locked(uintptr_t v) {
    auto it = handles_.find(v);
    if (it == handles_.end()) {
        if (closed_.count(v)) machine_.report_misuse("CloseHandle: handle " + std::to_string(v) + " closed twice");
        return nullptr;
    }
    // A wait that is pending on this very handle fails.
    for (auto& t : threads_) {
        Waiter* w = t->wait;
        if (!t->blocked || !w || w->done) continue;
        if (std::find(w->handles.begin(), w->handles.end(), v) == w->handles.end()) continue;
        machine_.report_misuse("CloseHandle: handle " + std::to_string(v) + " closed while thread " +
                               std::to_string(t->id) + " (" + t->label + ") waits on it");
        w->result = WAIT_FAILED;
        w->error = ERROR_INVALID_HANDLE;
        wake_locked(*w);
    }
    ObjRef obj = std::move(it->second);
    handles_.erase(it);
    handle_owner_.erase(v);
    closed_.insert(v);
    return obj;
}

Kernel::ObjRef Kernel::find_named_locked(const std::string& name) {
    auto it = names_.find(name);
    if (it == names_.end()) return nullptr;
    auto obj = it->second.lock();
    if (!obj) names_.erase(it);
    return obj;
}

Kernel::ObjRef Kernel::create_named_locked(Kind kind, const char* name, bool* existed, bool* wrong_kind) {
    *existed = false;
    *wrong_kind = false;
    if (name && *name) {
        if (auto obj = find_named_locked(name)) {
            if (obj->kind != kind) {
                *wrong_kind = true;
                return nullptr;
            }
            *existed = true;
            return obj;
        }
    }
    auto obj = std::make_shared<Object>();
    obj->kind = kind;
    if (name && *name) {
        obj->name = name;
        names_[name] = obj;
    }
    return obj;
}

void Kernel::create_existing_object(const std::string& spec) {
    std::lock_guard<std::mutex> lk(mu_);
    Kind kind = Kind::Event;
    std::string name = spec;
    if (spec.rfind("mutex:", 0) == 0) {
        kind = Kind::Mutex;
        name = spec.substr(6);
    } else if (spec.rfind("event:", 0) == 0) {
        name = spec.substr(6);
    } else if (spec.find("Mutex") != std::string::npos) {
        kind = Kind::Mutex;
    }
    bool existed = false, wrong = false;
    auto obj = create_named_locked(kind, name.c_str(), &existed, &wrong);
    if (obj) system_objects_.push_back(obj);
}

// ------------------------------------------------------------------ critical sections

uint64_t Kernel::new_critsec_locked() {
    uint64_t id = next_critsec_++;
    auto obj = std::make_shared<Object>();
    obj->kind = Kind::CritSec;
    critsecs_[id] = obj;
    return id;
}

Kernel::ObjRef Kernel::critsec_locked(uint64_t id) {
    auto it = critsecs_.find(id);
    return it == critsecs_.end() ? nullptr : it->second;
}

bool Kernel::critsec_deleted_locked(uint64_t id) const { return deleted_critsecs_.count(id) != 0; }

void Kernel::delete_critsec_locked(uint64_t id) {
    critsecs_.erase(id);
    deleted_critsecs_.insert(id);
}

// ------------------------------------------------------------------ waits

bool Kernel::available_locked(Object& o, ThreadCtx* t) {
    switch (o.kind) {
    case Kind::Mutex:
    case Kind::CritSec:
        return o.owner == nullptr || o.owner == t;
    case Kind::Queue:
        return !o.thread->queue.empty() || o.thread->quit;
    default:
        return o.signalled;
    }
}

bool Kernel::try_satisfy_locked(Waiter& w) {
    auto acquire = [&](Object& o) {
        bool abandoned = false;
        switch (o.kind) {
        case Kind::Event:
            if (!o.manual) o.signalled = false;
            break;
        case Kind::Mutex:
        case Kind::CritSec:
            if (o.abandoned) {
                abandoned = true;
                o.abandoned = false;
            }
            o.owner = w.t;
            ++o.recursion;
            break;
        default:
            break;
        }
        return abandoned;
    };
    if (w.objs.empty()) return false;
    if (!w.all) {
        for (size_t i = 0; i < w.objs.size(); ++i) {
            if (available_locked(*w.objs[i], w.t)) {
                bool abandoned = acquire(*w.objs[i]);
                w.result = (abandoned ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + static_cast<DWORD>(i);
                return true;
            }
        }
        return false;
    }
    for (auto& o : w.objs)
        if (!available_locked(*o, w.t)) return false;
    bool abandoned = false;
    for (auto& o : w.objs) abandoned = acquire(*o) || abandoned;
    w.result = abandoned ? WAIT_ABANDONED_0 : WAIT_OBJECT_0;
    return true;
}

void Kernel::wake_locked(Waiter& w) {
    w.done = true;
    for (auto& o : w.objs) {
        auto& ws = o->waiters;
        ws.erase(std::remove(ws.begin(), ws.end(), &w), ws.end());
    }
    if (w.t->blocked) {
        w.t->blocked = false;
        ++running_;
    }
    w.t->cv.notify_all();
}

void Kernel::signal_locked(Object& o) {
    if (o.waiters.empty()) return;
    auto waiters = o.waiters;  // waking changes the list
    for (Waiter* w : waiters) {
        if (w->done) continue;
        if (try_satisfy_locked(*w)) wake_locked(*w);
    }
}

bool Kernel::has_deadline_locked() const {
    for (auto& t : threads_)
        if (t->blocked && t->wait && !t->wait->done && t->wait->deadline != UINT64_MAX) return true;
    return false;
}

void Kernel::advance_locked() {
    while (running_ == 0) {
        uint64_t earliest = UINT64_MAX;
        for (auto& t : threads_)
            if (t->blocked && t->wait && !t->wait->done) earliest = std::min(earliest, t->wait->deadline);
        if (earliest == UINT64_MAX) return;
        if (earliest > now_.load()) now_.store(earliest);
        // When a time-out of the program and the harness's own wait run out
        // together, the program's goes first: the harness wakes only once
        // the program waits again, so the order of events does not depend on
        // which thread the host runs first.
        bool program_due = false;
        for (auto& t : threads_) {
            Waiter* w = t->wait;
            if (t->blocked && w && !w->done && w->deadline <= now_.load() && !t->harness) program_due = true;
        }
        for (auto& t : threads_) {
            Waiter* w = t->wait;
            if (program_due && t->harness) continue;
            if (t->blocked && w && !w->done && w->deadline <= now_.load()) {
                w->result = WAIT_TIMEOUT;
                wake_locked(*w);
            }
        }
    }
}

void Kernel::running_dropped_locked() {
    // A harness in quiesce() waits for itself to be the only one running.
    if (running_ == 1) settle_cv_.notify_all();
    if (running_ != 0) return;
    advance_locked();
    if (running_ == 0) settle_cv_.notify_all();
}

DWORD Kernel::block_locked(std::unique_lock<std::mutex>& lk, ThreadCtx* t, Waiter& w) {
    w.t = t;
    t->wait = &w;
    for (auto& o : w.objs) o->waiters.push_back(&w);
    t->blocked = true;
    --running_;
    if (on_block_) on_block_(thread_info_locked(*t));
    running_dropped_locked();
    t->cv.wait(lk, [&] { return w.done || t->kill; });
    if (w.done) ++t->wakeups;
    if (!w.done) {
        for (auto& o : w.objs) {
            auto& ws = o->waiters;
            ws.erase(std::remove(ws.begin(), ws.end(), &w), ws.end());
        }
    }
    t->wait = nullptr;
    check_kill_locked(t);
    if (w.result == WAIT_FAILED) t->last_error = w.error ? w.error : ERROR_INVALID_HANDLE;
    return w.result;
}

DWORD Kernel::wait_locked(std::unique_lock<std::mutex>& lk, ThreadCtx* t, std::vector<ObjRef> objs,
                          std::vector<uintptr_t> handles, bool all, DWORD ms) {
    Waiter w;
    w.t = t;
    w.objs = std::move(objs);
    w.handles = std::move(handles);
    w.all = all;
    if (try_satisfy_locked(w)) return w.result;
    if (ms == 0) return WAIT_TIMEOUT;
    if (ms != INFINITE) w.deadline = now_.load() + uint64_t(ms) * 1000;
    return block_locked(lk, t, w);
}

// ------------------------------------------------------------------ the harness

Kernel::ThreadCtx* Kernel::harness_locked() {
    // The harness is counted as running from the moment it starts a
    // process: otherwise time could run on while the process's first
    // thread waits before the harness has said a word.
    ThreadCtx* t = self_locked();
    t->harness = true;
    check_kill_locked(t);
    return t;
}

void Kernel::settle() {
    std::unique_lock<std::mutex> lk(mu_);
    ThreadCtx* t = harness_locked();
    t->blocked = true;
    --running_;
    running_dropped_locked();
    settle_cv_.wait(lk, [&] { return running_ == 0 && !has_deadline_locked(); });
    t->blocked = false;
    ++running_;
}

void Kernel::quiesce() {
    std::unique_lock<std::mutex> lk(mu_);
    harness_locked();
    // The harness stays counted as running, so time cannot move on.
    settle_cv_.wait(lk, [&] { return running_ <= 1; });
}

void Kernel::advance_ms(uint64_t ms) {
    std::unique_lock<std::mutex> lk(mu_);
    ThreadCtx* t = harness_locked();
    wait_locked(lk, t, {}, {}, false, static_cast<DWORD>(ms));
}

DWORD Kernel::start_process(const std::string& name, std::function<int()> main) {
    std::lock_guard<std::mutex> lk(mu_);
    Process* p = new_process_locked(name);
    ThreadCtx* t = new_thread_locked(p, name + " main");
    harness_locked();  // after the main thread, which keeps the first id
    spawn_locked(t, [main = std::move(main)] { return static_cast<DWORD>(main()); }, true);
    return p->id;
}

DWORD Kernel::start_console_process(const std::string& name, const std::string& command_line,
                                    std::function<int()> main, bool console) {
    std::lock_guard<std::mutex> lk(mu_);
    Process* p = new_process_locked(name);
    p->command_line = command_line;
    p->console = console;
    p->captures_output = true;
    ThreadCtx* t = new_thread_locked(p, name + " main");
    harness_locked();
    spawn_locked(t, [main = std::move(main)] { return static_cast<DWORD>(main()); }, true);
    return p->id;
}

std::string Kernel::process_output(DWORD pid) {
    std::lock_guard<std::mutex> lk(mu_);
    Process* p = process_by_id_locked(pid);
    return p ? p->output : std::string();
}

std::vector<DWORD> Kernel::process_thread_ids(DWORD pid) {
    std::lock_guard<std::mutex> lk(mu_);
    std::vector<DWORD> ids;
    if (Process* p = process_by_id_locked(pid))
        for (ThreadCtx* t : p->threads) ids.push_back(t->id);
    return ids;
}

void Kernel::spawn_locked(ThreadCtx* t, std::function<DWORD()> body, bool process_main) {
    t->started = true;
    uint64_t gen = generation_;
    t->th = std::thread([this, t, gen, body = std::move(body), process_main] {
        tls.generation = gen;
        tls.thread = t;
        DWORD code = 0;
        bool normal = true;
        try {
            code = body();
        } catch (const ThreadExitRequest& e) {
            code = e.code;
        } catch (const ThreadKilled&) {
            normal = false;
        }
        std::lock_guard<std::mutex> g(mu_);
        t->exiting = true;
        if (process_main && normal) end_process_locked(t->proc, code, true);
        thread_ended_locked(t, normal ? code : t->proc->exit_code);
    });
}

bool Kernel::process_ended(DWORD pid) {
    std::lock_guard<std::mutex> lk(mu_);
    Process* p = process_by_id_locked(pid);
    return p && p->ended;
}

DWORD Kernel::process_exit_code(DWORD pid) {
    std::lock_guard<std::mutex> lk(mu_);
    Process* p = process_by_id_locked(pid);
    return p ? p->exit_code : STILL_ACTIVE;
}

void Kernel::shutdown() {
    std::vector<ThreadCtx*> started;
    {
        std::lock_guard<std::mutex> lk(mu_);
        if (shutting_down_) return;
        shutting_down_ = true;
        for (auto& t : threads_) {
            if (t->started) {
                started.push_back(t.get());
                kill_thread_locked(t.get());
            }
        }
    }
    for (auto* t : started)
        if (t->th.joinable()) t->th.join();
}

void Kernel::set_input_idle_current() {
    std::lock_guard<std::mutex> lk(mu_);
    Process* p = self_locked()->proc;
    p->idle->signalled = true;
    signal_locked(*p->idle);
}

// ------------------------------------------------------------------ ring-0 handles

DWORD Kernel::open_vxd_handle(HANDLE h) {
    std::lock_guard<std::mutex> lk(mu_);
    ObjRef obj = lookup_locked(h, "OpenVxDHandle");
    if (!obj || obj->kind != Kind::Event) {
        self_locked()->last_error = ERROR_INVALID_HANDLE;
        return 0;
    }
    uint32_t r0 = next_ring0_;
    next_ring0_ += 0x10;
    ring0_[r0] = obj;
    ring0_process_[r0] = self_locked()->proc->id;
    return r0;
}

void Kernel::set_event_ring0(uint32_t r0) {
    std::lock_guard<std::mutex> lk(mu_);
    auto it = ring0_.find(r0);
    if (it == ring0_.end()) {
        machine_.report_misuse("driver set an event through an unknown ring-0 handle " + hex(r0, 0, true));
        return;
    }
    it->second->signalled = true;
    signal_locked(*it->second);
}

bool Kernel::is_ring0(uint32_t r0) {
    std::lock_guard<std::mutex> lk(mu_);
    return ring0_.count(r0) != 0;
}

// ------------------------------------------------------------------ programs

bool Kernel::folder_has_program_locked(const std::string& lower_folder) const {
    for (const auto& [path, spec] : programs_)
        if (path.size() > lower_folder.size() && path.compare(0, lower_folder.size(), lower_folder) == 0 &&
            path[lower_folder.size()] == '\\')
            return true;
    return false;
}

void Kernel::install_program(const std::string& path, const ProgramSpec& spec) {
    std::lock_guard<std::mutex> lk(mu_);
    programs_[lower(path)] = std::make_shared<ProgramSpec>(spec);
}

const ProgramSpec* Kernel::find_program_locked(const std::string& path) const {
    auto it = programs_.find(lower(path));
    return it == programs_.end() ? nullptr : it->second.get();
}

// ------------------------------------------------------------------ failures on cue

bool Kernel::fail_locked(ThreadCtx* t, const char* api) {
    if (t->harness) return false;
    if (!fail_process_.empty() && (t->proc == nullptr || t->proc->name != fail_process_)) return false;
    const uint64_t n = ++call_counts_[api];
    for (const FailRule& r : fail_rules_) {
        if (r.function != api) continue;
        if (n == r.call || (r.onward && n > r.call)) return true;
    }
    return false;
}

uint64_t Kernel::call_count_locked(const char* api) { return call_counts_[api]; }

void Kernel::add_fail_rule(FailRule rule) {
    std::lock_guard<std::mutex> lk(mu_);
    fail_rules_.push_back(std::move(rule));
}

void Kernel::clear_fail_rules() {
    std::lock_guard<std::mutex> lk(mu_);
    fail_rules_.clear();
}

void Kernel::set_failing_process(const std::string& process) {
    std::lock_guard<std::mutex> lk(mu_);
    fail_process_ = process;
}

std::map<std::string, uint64_t> Kernel::call_counts() {
    std::lock_guard<std::mutex> lk(mu_);
    return call_counts_;
}

bool Kernel::allocation_fails() {
    if (tls.generation != generation_ || tls.thread == nullptr || tls.thread->harness) return false;
    ThreadCtx* t = tls.thread;
    std::lock_guard<std::mutex> lk(mu_);
    if (!fail_locked(t, "new(nothrow)")) return false;
    Fields f = Fields::object();
    f["function"] = "new(nothrow)";
    f["call"] = call_counts_["new(nothrow)"];
    f["error"] = 0;
    f["thread"] = t->id;
    machine_.trace().add("fail", f);
    return true;
}

// ------------------------------------------------------------------ views

namespace {

const char* kind_name(Kernel::Kind k) {
    switch (k) {
    case Kernel::Kind::Event: return "event";
    case Kernel::Kind::Mutex: return "mutex";
    case Kernel::Kind::Thread: return "thread";
    case Kernel::Kind::Process: return "process";
    case Kernel::Kind::Device: return "device";
    case Kernel::Kind::Queue: return "queue";
    case Kernel::Kind::CritSec: return "critsec";
    case Kernel::Kind::Output: return "output";
    }
    return "?";
}

}  // namespace

ThreadInfo Kernel::thread_info_locked(const ThreadCtx& t) const {
    ThreadInfo i;
    i.id = t.id;
    i.process_id = t.proc->id;
    i.process = t.proc->name;
    i.label = t.label;
    i.main = !t.proc->threads.empty() && t.proc->threads.front() == &t;
    i.started = t.started;
    i.ended = t.ended;
    i.stack_size = t.stack_size;
    i.wakeups = t.wakeups;
    i.process_ready = t.proc->idle->signalled;
    if (t.started && t.th.joinable()) i.host = t.th.get_id();
    return i;
}

std::vector<ThreadInfo> Kernel::threads() {
    std::lock_guard<std::mutex> lk(mu_);
    std::vector<ThreadInfo> out;
    for (const auto& t : threads_) out.push_back(thread_info_locked(*t));
    return out;
}

std::optional<ThreadInfo> Kernel::thread(DWORD id) {
    std::lock_guard<std::mutex> lk(mu_);
    const ThreadCtx* t = thread_by_id_locked(id);
    if (!t) return std::nullopt;
    return thread_info_locked(*t);
}

int64_t Kernel::thread_cpu_ns(DWORD id) {
    std::lock_guard<std::mutex> lk(mu_);
    ThreadCtx* t = thread_by_id_locked(id);
    // A thread that has not ended cannot leave its host thread without the
    // lock: its host thread is there while the lock is held.
    if (!t || t->ended || !t->started || !t->th.joinable()) return -1;
    clockid_t cid;
    timespec ts;
    if (pthread_getcpuclockid(t->th.native_handle(), &cid) != 0 || clock_gettime(cid, &ts) != 0) return -1;
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

std::vector<HandleInfo> Kernel::open_handles() {
    std::lock_guard<std::mutex> lk(mu_);
    std::vector<HandleInfo> out;
    for (const auto& [v, obj] : handles_) {
        HandleInfo h;
        h.handle = reinterpret_cast<HANDLE>(v);
        h.kind = kind_name(obj->kind);
        h.name = obj->name;
        if (obj->kind == Kind::Thread && obj->thread) h.thread_id = obj->thread->id;
        out.push_back(std::move(h));
    }
    return out;
}

DWORD Kernel::priority_class(DWORD pid) {
    std::lock_guard<std::mutex> lk(mu_);
    const Process* p = process_by_id_locked(pid);
    return p ? p->priority_class : 0;
}

void Kernel::set_on_block(std::function<void(const ThreadInfo&)> hook) {
    std::lock_guard<std::mutex> lk(mu_);
    on_block_ = std::move(hook);
}

}  // namespace sim
