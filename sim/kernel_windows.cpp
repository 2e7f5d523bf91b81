// The simulated kernel's windows, message queues (posted and sent
// messages), the session end that sends its messages to windows, and
// message boxes. The rest of the kernel is kernel.cpp.
#include "kernel.h"

#include <algorithm>
#include <cstring>

#include "desktop.h"
#include "machine.h"
#include "text.h"

namespace sim {

// ------------------------------------------------------------------ windows and messages

Kernel::Window* Kernel::window_locked(HWND h) {
    auto it = windows_.find(reinterpret_cast<uintptr_t>(h));
    if (it == windows_.end() || !it->second.alive) return nullptr;
    return &it->second;
}

ATOM Kernel::new_atom_locked() { return next_atom_++; }

HWND Kernel::new_window_locked(Window w) {
    uintptr_t v = next_hwnd_;
    next_hwnd_ += 4;
    w.h = reinterpret_cast<HWND>(v);
    windows_[v] = std::move(w);
    return reinterpret_cast<HWND>(v);
}

std::vector<Kernel::Window*> Kernel::live_windows_locked() {
    std::vector<Window*> out;
    for (auto& [v, w] : windows_)
        if (w.alive) out.push_back(&w);
    return out;
}

UINT Kernel::register_message_locked(const std::string& name) {
    std::string key = lower(name);
    auto it = messages_.find(key);
    if (it != messages_.end()) return it->second;
    UINT id = next_message_id_++;
    messages_[key] = id;
    message_names_[id] = name;
    return id;
}

void Kernel::post_locked(ThreadCtx* to, HWND h, UINT msg, WPARAM w, LPARAM l) {
    MSG m{};
    m.hwnd = h;
    m.message = msg;
    m.wParam = w;
    m.lParam = l;
    m.time = static_cast<DWORD>(now_.load() / 1000);
    to->queue.push_back(m);
    ++to->posted;
    signal_locked(*to->queue_obj);
}

std::string Kernel::message_name_locked(UINT msg) const {
    auto it = message_names_.find(msg);
    if (it != message_names_.end()) return it->second;
    return std::to_string(msg);
}

bool Kernel::post_from_outside(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    std::lock_guard<std::mutex> lk(mu_);
    if (hwnd == HWND_BROADCAST) {
        for (auto& [v, w] : windows_)
            if (w.alive) post_locked(w.t, w.h, msg, wparam, lparam);
        return true;
    }
    Window* w = window_locked(hwnd);
    if (!w) return false;
    post_locked(w->t, hwnd, msg, wparam, lparam);
    return true;
}

void Kernel::send_to_all_windows(UINT msg, WPARAM wparam, LPARAM lparam) {
    std::lock_guard<std::mutex> lk(mu_);
    for (auto& [v, w] : windows_)
        if (w.alive && !w.destroying && !w.t->ended) queue_sent_locked(w.t, w.h, msg, wparam, lparam);
}

std::shared_ptr<Kernel::SentMessage> Kernel::queue_sent_locked(ThreadCtx* to, HWND h, UINT msg, WPARAM w, LPARAM l) {
    auto s = std::make_shared<SentMessage>();
    s->h = h;
    s->msg = msg;
    s->wparam = w;
    s->lparam = l;
    s->reply = std::make_shared<Object>();
    s->reply->kind = Kind::Event;
    s->reply->manual = true;
    to->sent.push_back(s);
    to->sent_obj->signalled = true;
    signal_locked(*to->sent_obj);
    return s;
}

bool Kernel::send_locked(std::unique_lock<std::mutex>& lk, ThreadCtx* from, HWND h, UINT msg, WPARAM w, LPARAM l,
                         DWORD ms, LRESULT* result) {
    *result = 0;
    Window* win = window_locked(h);
    if (!win || win->destroying || win->t == from || win->t->ended) return false;
    ThreadCtx* to = win->t;
    auto s = queue_sent_locked(to, h, msg, w, l);
    wait_locked(lk, from, {s->reply}, {}, false, ms);
    if (!s->answered) {
        auto& q = to->sent;
        q.erase(std::remove(q.begin(), q.end(), s), q.end());
        if (q.empty()) to->sent_obj->signalled = false;
        return false;
    }
    *result = s->result;
    return true;
}

std::shared_ptr<Kernel::SentMessage> Kernel::take_sent_locked(ThreadCtx* t) {
    if (t->sent.empty()) return nullptr;
    auto s = t->sent.front();
    t->sent.pop_front();
    if (t->sent.empty()) t->sent_obj->signalled = false;
    return s;
}

void Kernel::answer_sent_locked(SentMessage& s, LRESULT result) {
    if (s.answered) return;
    s.answered = true;
    s.result = result;
    s.reply->signalled = true;
    signal_locked(*s.reply);
}

bool Kernel::generated_message_locked(ThreadCtx* t, MSG* m, bool remove, uint64_t* next_us) {
    *next_us = UINT64_MAX;
    std::memset(m, 0, sizeof *m);
    m->time = static_cast<DWORD>(now_.load() / 1000);
    // Painting comes before timers, as on Windows.
    for (auto& [v, w] : windows_) {
        if (!w.alive || w.destroying || w.t != t || !w.invalid) continue;
        m->hwnd = w.h;
        m->message = WM_PAINT;
        return true;
    }
    const uint64_t now = now_.load();
    Kernel::ThreadCtx::Timer* due = nullptr;
    for (auto& tm : t->timers) {
        if (tm.due_us <= now && (!due || tm.due_us < due->due_us)) due = &tm;
        *next_us = std::min(*next_us, tm.due_us);
    }
    if (!due) return false;
    m->hwnd = due->h;
    m->message = WM_TIMER;
    m->wParam = due->id;
    m->lParam = 0;
    // One WM_TIMER however long the thread kept it waiting; the next is one
    // interval from now.
    if (remove) due->due_us = now + uint64_t(due->ms) * 1000;
    return true;
}

DWORD Kernel::ms_until_locked(uint64_t due_us) const {
    if (due_us == UINT64_MAX) return INFINITE;
    const uint64_t now = now_.load();
    if (due_us <= now) return 0;
    const uint64_t ms = (due_us - now + 999) / 1000;
    return ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
}

void Kernel::record_topmost_locked(Window& w, bool closed) {
    if (!(w.ex_style & WS_EX_TOPMOST)) return;
    if (closed) {
        if (!w.is_recorded) return;
        w.is_recorded = false;
        w.recorded.clear();
        Fields f = Fields::object();
        f["window"] = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(w.h));
        f["process"] = w.p->name;
        machine_.trace().add("topmost_window_closed", f);
        return;
    }
    if (!w.visible) return;
    std::string text;
    for (const auto& line : w.painted) {
        if (!text.empty()) text += "\n";
        text += line;
    }
    if (w.is_recorded && text == w.recorded) return;
    w.is_recorded = true;
    w.recorded = text;
    // The monitor the window stands on: the one that holds its centre.
    const LONG cx = w.rect.left + (w.rect.right - w.rect.left) / 2;
    const LONG cy = w.rect.top + (w.rect.bottom - w.rect.top) / 2;
    int64_t monitor = -1;
    const auto monitors = machine_.desktop().monitors();
    for (size_t i = 0; i < monitors.size(); ++i) {
        const RECT& rc = monitors[i].rc;
        if (cx >= rc.left && cx < rc.right && cy >= rc.top && cy < rc.bottom) {
            monitor = static_cast<int64_t>(i);
            break;
        }
    }
    Fields f = Fields::object();
    f["window"] = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(w.h));
    f["process"] = w.p->name;
    f["left"] = w.rect.left;
    f["top"] = w.rect.top;
    f["right"] = w.rect.right;
    f["bottom"] = w.rect.bottom;
    f["monitor"] = monitor;
    f["text"] = text;
    machine_.trace().add("topmost_window", f);
}

HWND Kernel::foreground_window() {
    std::lock_guard<std::mutex> lk(mu_);
    return window_locked(foreground_) ? foreground_ : nullptr;
}

bool Kernel::press_key(UINT vk) {
    std::lock_guard<std::mutex> lk(mu_);
    Window* w = window_locked(foreground_);
    Fields f = Fields::object();
    f["vk"] = vk;
    f["window"] = w ? static_cast<uint64_t>(reinterpret_cast<uintptr_t>(w->h)) : 0;
    machine_.trace().add("key", f);
    if (!w || w->destroying) return false;
    // lParam: repeat count 1; the key-up also has the previous-state and
    // transition bits. Scan codes are not simulated (0).
    post_locked(w->t, w->h, WM_KEYDOWN, vk, 1);
    post_locked(w->t, w->h, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
    return true;
}

// ------------------------------------------------------------------ the session end

Kernel::SessionEnd Kernel::end_session(DWORD pid, DWORD answer_ms, DWORD hung_ms) {
    SessionEnd out;
    std::unique_lock<std::mutex> lk(mu_);
    ThreadCtx* self = harness_locked();
    Process* p = process_by_id_locked(pid);
    if (!p || p->ended) return out;
    out.found = true;
    // Every window of the simulated machine is a top-level one; hidden ones
    // get the messages as well.
    std::vector<HWND> wins;
    for (auto& [v, w] : windows_)
        if (w.alive && !w.destroying && w.p == p) wins.push_back(w.h);

    bool hung = false;
    // One message to one window; false when it was not answered in time.
    auto send = [&](HWND h, UINT msg, WPARAM wp) {
        SessionMessage m;
        m.h = h;
        m.msg = msg;
        m.wparam = wp;
        const char* name = msg == WM_QUERYENDSESSION ? "WM_QUERYENDSESSION" : "WM_ENDSESSION";
        Fields f = Fields::object();
        f["message"] = name;
        f["wparam"] = static_cast<uint64_t>(wp);
        f["lparam"] = 0;
        f["window"] = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(h));
        machine_.trace().add("session_message", f);
        m.sent_us = now_.load();
        m.answered = send_locked(lk, self, h, msg, wp, 0, answer_ms, &m.result);
        m.answered_us = now_.load();
        const uint64_t waited_ms = (m.answered_us - m.sent_us) / 1000;
        Fields a = Fields::object();
        a["message"] = name;
        a["answered"] = m.answered;
        if (m.answered) a["result"] = static_cast<int64_t>(m.result);
        a["waited_ms"] = waited_ms;
        if (waited_ms >= hung_ms)
            a["warning"] = "not answered within " + std::to_string(hung_ms) +
                           " ms: Windows shows the program as not responding";
        machine_.trace().add("session_answer", a);
        // A window that went away meanwhile (its thread ended) has nothing
        // left to answer; only a window still there that did not answer is
        // hung.
        const bool gone = window_locked(h) == nullptr;
        out.messages.push_back(m);
        if (!m.answered && !gone) hung = true;
        return m;
    };

    out.agreed = true;
    std::vector<HWND> agreed;
    for (HWND h : wins) {
        if (p->ended) break;
        const SessionMessage m = send(h, WM_QUERYENDSESSION, 0);
        if (hung) break;
        if (m.answered && m.result == 0) {
            out.agreed = false;
            break;
        }
        agreed.push_back(h);
    }
    if (!hung) {
        for (HWND h : out.agreed ? wins : agreed) {
            if (p->ended) break;
            send(h, WM_ENDSESSION, out.agreed ? TRUE : FALSE);
            if (hung) break;
        }
    }
    if ((out.agreed || hung) && !p->ended) {
        Fields f = Fields::object();
        f["process"] = p->name;
        f["how"] = hung ? "end_task" : "session_end";
        f["exit_code"] = 0;
        machine_.trace().add("process_end", f);
        end_process_locked(p, 0, false);
    }
    out.ended = p->ended;
    return out;
}

// ------------------------------------------------------------------ windows and messages by name

HWND Kernel::find_window(const std::string& class_name) {
    std::lock_guard<std::mutex> lk(mu_);
    std::string c = lower(class_name);
    for (auto& [v, w] : windows_)
        if (w.alive && lower(w.cls) == c) return w.h;
    return nullptr;
}

UINT Kernel::registered_message(const std::string& name) {
    std::lock_guard<std::mutex> lk(mu_);
    auto it = messages_.find(lower(name));
    return it == messages_.end() ? 0 : it->second;
}

// ------------------------------------------------------------------ message boxes

namespace {

// The window procedure of a message box's dialog. Its dialog procedure
// answers only its buttons and WM_CLOSE (an MB_OK box closes with IDOK);
// everything else goes to the default handling, so that the box answers
// WM_QUERYENDSESSION with TRUE and WM_ENDSESSION with 0 and stays open.
LRESULT CALLBACK message_box_window_proc(HWND h, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_CLOSE || (msg == WM_COMMAND && LOWORD(wparam) == IDOK)) {
        Machine::current().kernel().release_message_box_window(h);
        return 0;
    }
    return DefWindowProcA(h, msg, wparam, lparam);
}

}  // namespace

std::shared_ptr<Kernel::MessageBoxRecord> Kernel::hold_message_box_locked(ThreadCtx* t, const std::string& text,
                                                                          const std::string& caption, UINT style) {
    if (!hold_boxes_) return nullptr;
    auto box = std::make_shared<MessageBoxRecord>();
    box->text = text;
    box->caption = caption;
    box->style = style;
    box->thread = t;
    box->release = std::make_shared<Object>();
    box->release->kind = Kind::Event;
    box->release->manual = true;
    // As on Windows, the box is a top-level window of its thread (and so of
    // its process) while it is open: the session end and broadcasts reach
    // it, and its modal loop handles what they send.
    Window w;
    w.cls = "#32770";
    w.title = caption;
    w.proc = message_box_window_proc;
    w.t = t;
    w.p = t->proc;
    box->window = new_window_locked(std::move(w));
    held_boxes_.push_back(box);
    return box;
}

void Kernel::retire_box_window_locked(MessageBoxRecord& box) {
    Window* w = window_locked(box.window);
    box.window = nullptr;
    if (!w) return;
    w->alive = false;
    auto& q = w->t->queue;
    for (auto it = q.begin(); it != q.end();)
        it = it->hwnd == w->h ? q.erase(it) : it + 1;
}

void Kernel::close_message_box_locked(const std::shared_ptr<MessageBoxRecord>& box) {
    held_boxes_.erase(std::remove(held_boxes_.begin(), held_boxes_.end(), box), held_boxes_.end());
    retire_box_window_locked(*box);
}

void Kernel::hold_message_boxes(bool hold) {
    std::lock_guard<std::mutex> lk(mu_);
    hold_boxes_ = hold;
}

void Kernel::release_box_locked(std::deque<std::shared_ptr<MessageBoxRecord>>::iterator it) {
    auto box = *it;
    held_boxes_.erase(it);
    retire_box_window_locked(*box);
    box->release->signalled = true;
    signal_locked(*box->release);
}

bool Kernel::release_message_box(const std::string* caption) {
    std::lock_guard<std::mutex> lk(mu_);
    auto it = held_boxes_.begin();
    while (it != held_boxes_.end() && caption != nullptr && (*it)->caption != *caption) ++it;
    if (it == held_boxes_.end()) return false;
    release_box_locked(it);
    return true;
}

bool Kernel::release_message_box_window(HWND h) {
    std::lock_guard<std::mutex> lk(mu_);
    auto it = held_boxes_.begin();
    while (it != held_boxes_.end() && (*it)->window != h) ++it;
    if (it == held_boxes_.end()) return false;
    release_box_locked(it);
    return true;
}

size_t Kernel::open_message_boxes() {
    std::lock_guard<std::mutex> lk(mu_);
    return held_boxes_.size();
}

bool Kernel::message_box_open(const std::string& caption) {
    std::lock_guard<std::mutex> lk(mu_);
    for (const auto& box : held_boxes_)
        if (box->caption == caption) return true;
    return false;
}

// ------------------------------------------------------------------ views

std::vector<MSG> Kernel::posted_messages(DWORD thread_id) {
    std::lock_guard<std::mutex> lk(mu_);
    const ThreadCtx* t = thread_by_id_locked(thread_id);
    if (!t) return {};
    return std::vector<MSG>(t->queue.begin(), t->queue.end());
}

std::optional<int> Kernel::pending_quit(DWORD thread_id) {
    std::lock_guard<std::mutex> lk(mu_);
    const ThreadCtx* t = thread_by_id_locked(thread_id);
    if (!t || !t->quit) return std::nullopt;
    return t->quit_code;
}

std::optional<WindowInfo> Kernel::window(HWND h) {
    std::lock_guard<std::mutex> lk(mu_);
    const Window* w = window_locked(h);
    if (!w) return std::nullopt;
    WindowInfo i;
    i.class_name = w->cls;
    i.title = w->title;
    i.thread_id = w->t->id;
    i.process_id = w->p->id;
    return i;
}

std::optional<WindowClassInfo> Kernel::window_class(DWORD pid, const std::string& class_name) {
    std::lock_guard<std::mutex> lk(mu_);
    const Process* p = process_by_id_locked(pid);
    if (!p) return std::nullopt;
    auto it = p->classes.find(lower(class_name));
    if (it == p->classes.end()) return std::nullopt;
    WindowClassInfo i;
    i.name = it->second.name;
    i.menu = it->second.menu;
    i.wc = it->second.wc;
    return i;
}

}  // namespace sim
