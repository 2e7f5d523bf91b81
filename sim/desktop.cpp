#include "desktop.h"

#include <algorithm>
#include <stdexcept>

namespace sim {

namespace {

// Handle of the monitor at position 0; the others follow one by one.
constexpr uintptr_t kFirstMonitor = 0x6D000001u;

// Coordinates farther out than this are taken as this far out. It keeps the
// distance arithmetic inside 64 bits and is far beyond any desktop.
constexpr long long kFarOut = 1LL << 30;

bool empty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }

long long floor_div(long long a, long long b) {
    long long q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

bool multi_monitor(Windows w) { return w != Windows::v95 && w != Windows::nt4; }

}  // namespace

std::vector<MonitorConfig> Desktop::checked(std::vector<MonitorConfig> monitors) {
    if (monitors.empty()) throw std::invalid_argument("sim::Desktop: a desktop needs at least one monitor");
    for (auto& m : monitors) {
        if (empty(m.rc)) throw std::invalid_argument("sim::Desktop: empty monitor rectangle");
        if (empty(m.work)) m.work = m.rc;
    }
    return monitors;
}

Desktop::Desktop(const Config& config) : windows_(config.windows), monitors_(checked(config.monitors)) {
    const RECT& p = monitors_.front().rc;
    cursor_ = POINT{p.left + (p.right - p.left) / 2, p.top + (p.bottom - p.top) / 2};
}

Windows Desktop::windows() const { return windows_; }

std::vector<MonitorConfig> Desktop::monitors() const {
    std::lock_guard<std::mutex> lock(mu_);
    return monitors_;
}

POINT Desktop::cursor() const {
    std::lock_guard<std::mutex> lock(mu_);
    return cursor_;
}

MouseButtons Desktop::buttons() const {
    std::lock_guard<std::mutex> lock(mu_);
    return buttons_;
}

void Desktop::set_monitors(std::vector<MonitorConfig> monitors) {
    auto m = checked(std::move(monitors));
    std::lock_guard<std::mutex> lock(mu_);
    monitors_ = std::move(m);
    cursor_ = clip(cursor_.x, cursor_.y);
}

void Desktop::set_before_enumeration(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mu_);
    before_enumeration_ = std::move(hook);
}

std::function<void()> Desktop::take_before_enumeration() {
    std::lock_guard<std::mutex> lock(mu_);
    std::function<void()> hook;
    std::swap(hook, before_enumeration_);
    return hook;
}

POINT Desktop::clip(long long x, long long y) const {
    x = std::clamp(x, -kFarOut, kFarOut);
    y = std::clamp(y, -kFarOut, kFarOut);
    POINT best{};
    long long best_distance = -1;
    for (const auto& m : monitors_) {
        const long long cx = std::clamp<long long>(x, m.rc.left, m.rc.right - 1LL);
        const long long cy = std::clamp<long long>(y, m.rc.top, m.rc.bottom - 1LL);
        const long long d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        if (best_distance < 0 || d < best_distance) {
            best_distance = d;
            best = POINT{static_cast<LONG>(cx), static_cast<LONG>(cy)};
        }
    }
    return best;
}

std::optional<int> Desktop::system_metric(int index) const {
    std::lock_guard<std::mutex> lock(mu_);
    const RECT& p = monitors_.front().rc;
    RECT box = p;
    for (const auto& m : monitors_) {
        box.left = std::min(box.left, m.rc.left);
        box.top = std::min(box.top, m.rc.top);
        box.right = std::max(box.right, m.rc.right);
        box.bottom = std::max(box.bottom, m.rc.bottom);
    }
    // Windows 95 and NT 4.0 know nothing of several monitors and answer 0
    // for the metrics that came with them.
    const bool multi = multi_monitor(windows_);
    switch (index) {
        case SM_CXSCREEN: return p.right - p.left;
        case SM_CYSCREEN: return p.bottom - p.top;
        case SM_XVIRTUALSCREEN: return multi ? box.left : 0;
        case SM_YVIRTUALSCREEN: return multi ? box.top : 0;
        case SM_CXVIRTUALSCREEN: return multi ? box.right - box.left : 0;
        case SM_CYVIRTUALSCREEN: return multi ? box.bottom - box.top : 0;
        case SM_CMONITORS: return multi ? static_cast<int>(monitors_.size()) : 0;
        default: return std::nullopt;
    }
}

void Desktop::set_cursor_pos(LONG x, LONG y) {
    std::lock_guard<std::mutex> lock(mu_);
    cursor_ = clip(x, y);
}

void Desktop::mouse_input(DWORD flags, LONG dx, LONG dy) {
    std::lock_guard<std::mutex> lock(mu_);
    if (flags & MOUSEEVENTF_MOVE) {
        if (flags & MOUSEEVENTF_ABSOLUTE) {
            const RECT& p = monitors_.front().rc;
            const long long w = p.right - p.left;
            const long long h = p.bottom - p.top;
            cursor_ = clip(p.left + floor_div(dx * w, 65536), p.top + floor_div(dy * h, 65536));
        } else {
            cursor_ = clip(static_cast<long long>(cursor_.x) + dx, static_cast<long long>(cursor_.y) + dy);
        }
    }
    if (flags & MOUSEEVENTF_LEFTDOWN) buttons_.left = true;
    if (flags & MOUSEEVENTF_LEFTUP) buttons_.left = false;
    if (flags & MOUSEEVENTF_RIGHTDOWN) buttons_.right = true;
    if (flags & MOUSEEVENTF_RIGHTUP) buttons_.right = false;
    if (flags & MOUSEEVENTF_MIDDLEDOWN) buttons_.middle = true;
    if (flags & MOUSEEVENTF_MIDDLEUP) buttons_.middle = false;
    if (mouse_observer_) mouse_observer_(flags, dx, dy);
}

void Desktop::set_mouse_observer(std::function<void(DWORD flags, LONG dx, LONG dy)> observer) {
    std::lock_guard<std::mutex> lock(mu_);
    mouse_observer_ = std::move(observer);
}

HMONITOR Desktop::monitor_handle(size_t index) { return reinterpret_cast<HMONITOR>(kFirstMonitor + index); }

bool Desktop::monitor_info(HMONITOR monitor, MONITORINFO* info) const {
    const auto v = reinterpret_cast<uintptr_t>(monitor);
    std::lock_guard<std::mutex> lock(mu_);
    if (v < kFirstMonitor || v - kFirstMonitor >= monitors_.size()) return false;
    const size_t i = v - kFirstMonitor;
    info->rcMonitor = monitors_[i].rc;
    info->rcWork = monitors_[i].work;
    info->dwFlags = i == 0 ? MONITORINFOF_PRIMARY : 0;
    return true;
}

}  // namespace sim
