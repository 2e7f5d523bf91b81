#include "machine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "desktop.h"
#include "kernel.h"
#include "orvane/driver.h"
#include "registry.h"

namespace sim {

namespace {
std::atomic<Machine*> g_current{nullptr};
}

const char* windows_name(Windows w) {
    switch (w) {
    case Windows::v95: return "95";
    case Windows::v98: return "98";
    case Windows::me: return "me";
    case Windows::nt4: return "nt4";
    case Windows::w2000: return "2000";
    case Windows::xp: return "xp";
    case Windows::vista: return "vista";
    }
    return "?";
}

bool parse_windows(const std::string& s, Windows* out) {
    for (Windows w : {Windows::v95, Windows::v98, Windows::me, Windows::nt4, Windows::w2000, Windows::xp,
                      Windows::vista}) {
        if (s == windows_name(w)) {
            *out = w;
            return true;
        }
    }
    return false;
}

void not_simulated(const std::string& what) {
    std::fprintf(stderr, "simulated machine: not simulated: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

// The driver reaches the machine through this.
struct Machine::DriverHostImpl : orvane::Host {
    Machine& m;
    explicit DriverHostImpl(Machine& machine) : m(machine) {}
    void set_event(uint32_t ring0) override { m.kernel().set_event_ring0(ring0); }
    bool is_ring0_handle(uint32_t value) override { return m.kernel().is_ring0(value); }
    uint64_t now_us() override { return m.now_us(); }
};

Machine::Machine(Config config) : config_(std::move(config)) {
    Machine* expected = nullptr;
    if (!g_current.compare_exchange_strong(expected, this)) {
        std::fprintf(stderr, "simulated machine: a second machine while one exists\n");
        std::abort();
    }
    for (auto& mon : config_.monitors)
        if (mon.work.right == 0 && mon.work.bottom == 0 && mon.work.left == 0 && mon.work.top == 0)
            mon.work = mon.rc;
    trace_.set_clock([](void* ctx) { return static_cast<Machine*>(ctx)->now_us(); }, this);
    kernel_ = std::make_unique<Kernel>(*this);
    registry_ = std::make_unique<Registry>();
    desktop_ = std::make_unique<Desktop>(config_);
    driver_host_ = std::make_unique<DriverHostImpl>(*this);
    driver_ = std::make_unique<orvane::Driver>(*driver_host_);
    driver_->set_observer(
        [this](const orvane::Request& r) {
            Fields f = Fields::object();
            f["code"] = r.name;
            f["thread"] = r.thread;
            f["ok"] = r.ok;
            for (const auto& field : r.fields) f[field.name] = field.value;
            trace_.add("ioctl", f);
        },
        [this](const orvane::ProtocolError& e) {
            Fields f = Fields::object();
            f["detail"] = e.detail;
            f["thread"] = e.thread;
            f["request"] = e.seq;
            trace_.add("protocol_error", f);
        });
    for (const auto& name : config_.existing_objects) kernel_->create_existing_object(name);
    kernel_->hold_message_boxes(config_.hold_boxes);
}

Machine::~Machine() {
    kernel_->shutdown();
    driver_->set_observer(nullptr, nullptr);
    driver_.reset();
    driver_host_.reset();
    desktop_.reset();
    registry_.reset();
    kernel_.reset();
    g_current.store(nullptr);
}

Machine& Machine::current() {
    Machine* m = g_current.load();
    if (!m) {
        std::fprintf(stderr, "simulated machine: a Win32 call without a machine\n");
        std::abort();
    }
    return *m;
}

Machine* Machine::current_or_null() { return g_current.load(); }

uint64_t Machine::now_us() const { return kernel_ ? kernel_->now_us() : 0; }

void Machine::settle() { kernel_->settle(); }
void Machine::quiesce() { kernel_->quiesce(); }
void Machine::advance_ms(uint64_t ms) { kernel_->advance_ms(ms); }

DWORD Machine::start_process(const std::string& name, std::function<int()> main) {
    return kernel_->start_process(name, std::move(main));
}
bool Machine::process_ended(DWORD pid) const { return kernel_->process_ended(pid); }
bool Machine::press_key(UINT vk) { return kernel_->press_key(vk); }

DWORD Machine::start_console_process(const std::string& name, const std::string& command_line,
                                     std::function<int()> main, bool console) {
    return kernel_->start_console_process(name, command_line, std::move(main), console);
}
std::string Machine::process_output(DWORD pid) const { return kernel_->process_output(pid); }
std::vector<DWORD> Machine::process_thread_ids(DWORD pid) const { return kernel_->process_thread_ids(pid); }
DWORD Machine::process_exit_code(DWORD pid) const { return kernel_->process_exit_code(pid); }

void Machine::install_program(const std::string& path, ProgramSpec spec) { kernel_->install_program(path, spec); }

bool Machine::end_session(DWORD pid) { return kernel_->end_session(pid, kSessionAnswerMs, kHungAppMs).ended; }

bool Machine::post_from_outside(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    return kernel_->post_from_outside(hwnd, msg, wparam, lparam);
}
HWND Machine::find_window(const std::string& class_name) const { return kernel_->find_window(class_name); }
UINT Machine::registered_message(const std::string& name) const { return kernel_->registered_message(name); }

void Machine::hold_message_boxes(bool hold) { kernel_->hold_message_boxes(hold); }
bool Machine::release_message_box() { return kernel_->release_message_box(); }
bool Machine::release_message_box(const std::string& caption) { return kernel_->release_message_box(&caption); }
size_t Machine::open_message_boxes() const { return kernel_->open_message_boxes(); }

bool Machine::message_box_open(const std::string& caption) const { return kernel_->message_box_open(caption); }

std::vector<ThreadInfo> Machine::threads() const { return kernel_->threads(); }
std::optional<ThreadInfo> Machine::thread(DWORD thread_id) const { return kernel_->thread(thread_id); }
int64_t Machine::thread_cpu_ns(DWORD thread_id) const { return kernel_->thread_cpu_ns(thread_id); }
std::vector<HandleInfo> Machine::open_handles() const { return kernel_->open_handles(); }
std::vector<MSG> Machine::posted_messages(DWORD thread_id) const { return kernel_->posted_messages(thread_id); }
std::optional<int> Machine::pending_quit(DWORD thread_id) const { return kernel_->pending_quit(thread_id); }
std::optional<WindowInfo> Machine::window(HWND hwnd) const { return kernel_->window(hwnd); }
std::optional<WindowClassInfo> Machine::window_class(DWORD pid, const std::string& class_name) const {
    return kernel_->window_class(pid, class_name);
}
DWORD Machine::priority_class(DWORD pid) const { return kernel_->priority_class(pid); }
void Machine::set_on_block(std::function<void(const ThreadInfo&)> hook) { kernel_->set_on_block(std::move(hook)); }

std::vector<std::string> Machine::misuse() const {
    std::lock_guard<std::mutex> lk(misuse_mu_);
    return misuse_;
}

void Machine::report_misuse(const std::string& detail) {
    {
        std::lock_guard<std::mutex> lk(misuse_mu_);
        misuse_.push_back(detail);
    }
    Fields f = Fields::object();
    f["detail"] = detail;
    trace_.add("misuse", f);
}

void Machine::fail_call(const std::string& function, uint64_t call, bool onward) {
    const auto& known = failable_functions();
    if (std::find(known.begin(), known.end(), function) == known.end())
        throw std::invalid_argument("fail_call: " + function + " cannot be failed on cue");
    kernel_->add_fail_rule({function, call, onward});
}

void Machine::set_failing_process(const std::string& process) { kernel_->set_failing_process(process); }

void Machine::clear_failures() { kernel_->clear_fail_rules(); }

std::map<std::string, uint64_t> Machine::call_counts() const { return kernel_->call_counts(); }

const std::vector<std::string>& Machine::failable_functions() {
    // Object, thread, window and process creation, registration of classes
    // and messages, the registry, posting, the device and priorities: what
    // the program calls that Windows may refuse for want of memory, quota or
    // rights; and memory, which the program allocates only through
    // operator new(std::nothrow).
    static const std::vector<std::string> names = {
        "CreateMutexA",     "CreateEventA",     "OpenEventA",       "CreateThread",   "CreateFileA",
        "RegisterClassA",   "CreateWindowExA",  "RegisterWindowMessageA", "PostMessageA", "CreateProcessA",
        "RegOpenKeyExA",    "RegCreateKeyExA",  "RegQueryValueExA", "RegSetValueExA", "RegDeleteValueA",
        "SetThreadPriority", "SetPriorityClass", "new(nothrow)"};
    return names;
}

std::vector<std::string> Machine::protocol_errors() const {
    std::vector<std::string> out;
    for (const auto& e : driver_->errors()) out.push_back(e.detail);
    return out;
}

}  // namespace sim
