#include "marks.h"

#include "trace_fields.h"

#include <algorithm>

#include "driver/protocol.h"

namespace runner {

namespace {

using Json = sim::Fields;

int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

}  // namespace

std::vector<Mark> find_marks(const std::vector<sim::TraceEvent>& events, const RECT& first_primary) {
    struct Started {
        Mark mark;
        size_t order;  // index of the event the mark began with
    };
    std::vector<Started> done;
    struct Press {
        bool active = false;
        Mark mark;
        size_t order = 0;
    };
    Press presses[3];  // left, right, middle
    const char buttons[3] = {'L', 'R', 'M'};

    RECT primary = first_primary;
    Point pos{0, 0};
    std::optional<Point> pending;  // a cursor position not yet part of a mark
    size_t pending_order = 0;

    auto flush_pending = [&] {
        if (!pending) return;
        Mark m;
        m.kind = Mark::Kind::position;
        m.points = {*pending};
        done.push_back({m, pending_order});
        pending.reset();
    };
    auto any_pressed = [&] { return presses[0].active || presses[1].active || presses[2].active; };
    auto extend = [&](Point p) {
        for (auto& pr : presses)
            if (pr.active && !(pr.mark.points.back() == p)) pr.mark.points.push_back(p);
    };

    for (size_t i = 0; i < events.size(); ++i) {
        const sim::TraceEvent& e = events[i];
        const Json& f = e.fields;
        if (e.ev == "display") {
            if (f.contains("monitors") && f["monitors"].is_array() && !f["monitors"].empty())
                primary = rect_field(f["monitors"][0]);
        } else if (e.ev == "cursor") {
            const Point p{int_field(f, "x"), int_field(f, "y")};
            if (any_pressed()) {
                extend(p);
            } else if (!(pending && *pending == p)) {
                flush_pending();
                pending = p;
                pending_order = i;
            }
            pos = p;
        } else if (e.ev == "mouse") {
            const auto flags = static_cast<uint64_t>(int_field(f, "flags"));
            const int64_t dx = int_field(f, "dx"), dy = int_field(f, "dy");
            if (flags & MOUSEEVENTF_MOVE) {
                if (flags & MOUSEEVENTF_ABSOLUTE) {
                    const int64_t w = primary.right - primary.left, h = primary.bottom - primary.top;
                    pos = {primary.left + floor_div(dx * w, 65536), primary.top + floor_div(dy * h, 65536)};
                } else {
                    pos = {pos.x + dx, pos.y + dy};
                }
                extend(pos);
            }
            const uint64_t down[3] = {MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_MIDDLEDOWN};
            const uint64_t up[3] = {MOUSEEVENTF_LEFTUP, MOUSEEVENTF_RIGHTUP, MOUSEEVENTF_MIDDLEUP};
            for (int b = 0; b < 3; ++b) {
                Press& pr = presses[b];
                if ((flags & down[b]) && !pr.active) {
                    // The press takes over the cursor position it starts at.
                    if (pending && *pending == pos) {
                        pr.order = pending_order;
                        pending.reset();
                    } else {
                        flush_pending();
                        pr.order = i;
                    }
                    pr.active = true;
                    pr.mark = Mark{};
                    pr.mark.button = buttons[b];
                    pr.mark.points = {pos};
                }
                if (flags & up[b]) {
                    if (pr.active) {
                        pr.active = false;
                        const auto& pts = pr.mark.points;
                        const bool still = std::all_of(pts.begin(), pts.end(), [&](const Point& p) { return p == pts.front(); });
                        pr.mark.kind = still ? Mark::Kind::click : Mark::Kind::drag;
                        if (still) pr.mark.points.resize(1);
                        done.push_back({pr.mark, pr.order});
                    } else {
                        size_t order = i;
                        if (pending && *pending == pos) {
                            order = pending_order;
                            pending.reset();
                        } else {
                            flush_pending();
                        }
                        Mark m;
                        m.kind = Mark::Kind::release_only;
                        m.button = buttons[b];
                        m.points = {pos};
                        done.push_back({m, order});
                    }
                }
            }
        } else if (e.ev == "msgbox") {
            flush_pending();
            Mark m;
            m.kind = Mark::Kind::message_box;
            m.text = "\"" + str_field(f, "caption") + "\": " + str_field(f, "text");
            m.points = {pos};
            done.push_back({m, i});
        }
    }
    flush_pending();
    for (auto& pr : presses) {
        if (!pr.active) continue;
        pr.mark.kind = Mark::Kind::held;
        done.push_back({pr.mark, pr.order});
    }
    std::stable_sort(done.begin(), done.end(), [](const Started& a, const Started& b) { return a.order < b.order; });
    std::vector<Mark> out;
    for (auto& s : done) {
        s.mark.number = static_cast<int>(out.size()) + 1;
        out.push_back(std::move(s.mark));
    }
    return out;
}

std::map<int, Assignment> find_assignments(const std::vector<sim::TraceEvent>& events) {
    std::map<int, Assignment> out;
    const std::string number_name = RequestName(REQ_SET_MONITOR_NUMBER);
    const std::string rect_name = RequestName(REQ_SET_MONITOR_RECT);
    for (const auto& e : events) {
        if (e.ev != "ioctl" || !bool_field(e.fields, "ok", false)) continue;
        const Json& f = e.fields;
        const std::string code = str_field(f, "code");
        if (code != number_name && code != rect_name) continue;
        if (!f.contains("wTouchscreen") || !f.contains("iMonitor")) continue;
        Assignment& a = out[static_cast<int>(int_field(f, "wTouchscreen"))];
        const int monitor = static_cast<int>(int_field(f, "iMonitor"));
        if (code == number_name) {
            a.monitor = monitor;
        } else {
            RECT rc{};
            rc.left = static_cast<LONG>(int_field(f, "iLeft"));
            rc.top = static_cast<LONG>(int_field(f, "iTop"));
            rc.right = static_cast<LONG>(int_field(f, "iRight"));
            rc.bottom = static_cast<LONG>(int_field(f, "iBottom"));
            a.rect = rc;
            a.monitor = monitor;
        }
    }
    return out;
}

std::vector<TopmostWindow> find_topmost_windows(const std::vector<sim::TraceEvent>& events) {
    std::vector<TopmostWindow> out;
    std::map<int64_t, size_t> open;  // window -> its entry in `out` while shown
    int step = 0;
    for (const auto& e : events) {
        if (e.ev == "step") {
            step = static_cast<int>(int_field(e.fields, "n"));
        } else if (e.ev == "topmost_window") {
            const int64_t window = int_field(e.fields, "window");
            auto it = open.find(window);
            if (it == open.end()) {
                TopmostWindow w;
                w.window = window;
                w.process = str_field(e.fields, "process");
                w.rect = rect_field(e.fields);
                w.monitor = static_cast<int>(int_field(e.fields, "monitor", -1));
                w.step = step;
                it = open.emplace(window, out.size()).first;
                out.push_back(std::move(w));
            }
            TopmostWindow& w = out[it->second];
            std::string text = str_field(e.fields, "text");
            if (w.texts.empty() || w.texts.back() != text) w.texts.push_back(std::move(text));
        } else if (e.ev == "topmost_window_closed") {
            open.erase(int_field(e.fields, "window"));
        }
    }
    return out;
}

}  // namespace runner
