#include "picture.h"

#include "report.h"
#include "trace_fields.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "driver/protocol.h"
#include "platform/win32.h"

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

// ------------------------------------------------------------------ drawing

namespace {

std::string esc(const std::string& s) {
    std::string o;
    for (char c : s) {
        switch (c) {
        case '&': o += "&amp;"; break;
        case '<': o += "&lt;"; break;
        case '>': o += "&gt;"; break;
        case '"': o += "&quot;"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t')
                o += ' ';
            else
                o += c;
        }
    }
    return o;
}

std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

const char* button_colour(char b) {
    switch (b) {
    case 'R': return "#e03131";
    case 'M': return "#7048e8";
    default: return "#1c7ed6";
    }
}

const char* screen_colour(int id) {
    static const char* const palette[] = {"#e8590c", "#2f9e44", "#ae3ec9", "#0c8599", "#c2255c", "#5c940d", "#f08c00"};
    return palette[static_cast<size_t>(id) % (sizeof palette / sizeof palette[0])];
}

struct Box {
    double x0, y0, x1, y1;
    bool overlaps(const Box& o) const { return x0 < o.x1 && o.x0 < x1 && y0 < o.y1 && o.y0 < y1; }
};

// Labels next to points, kept from covering each other.
class Labels {
public:
    void block(Box b) { taken_.push_back(b); }
    // The text's baseline position near (x, y).
    std::pair<double, double> place(double x, double y, const std::string& text, double size) {
        const double w = static_cast<double>(text.size()) * size * 0.62 + 2;
        const double h = size + 2;
        const double offsets[][2] = {{9, -7},  {9, 15},   {-9 - w, -7}, {-9 - w, 15}, {9, -7 - h},
                                     {9, 15 + h}, {-9 - w, -7 - h}, {-9 - w, 15 + h}};
        for (int ring = 0; ring < 6; ++ring) {
            for (const auto& o : offsets) {
                const double bx = x + o[0] + (o[0] > 0 ? ring * w : -ring * w) * 0.5;
                const double by = y + o[1] + (o[1] > 0 ? ring * h : -ring * h);
                Box b{bx, by - size, bx + w, by + 2};
                if (std::none_of(taken_.begin(), taken_.end(), [&](const Box& t) { return t.overlaps(b); })) {
                    taken_.push_back(b);
                    return {bx, by};
                }
            }
        }
        return {x + 9, y - 7};
    }

private:
    std::vector<Box> taken_;
};

struct Layout {
    std::vector<RECT> monitors;
    std::string when;  // "at the start", "after step 3"
};

struct TouchGiven {
    int step = 0;
    Point at;
};

}  // namespace

std::string render_svg(const Scenario& sc, const RunResult& r) {
    // ---- what there is to draw
    std::vector<Layout> layouts;
    {
        Layout first;
        for (const auto& m : sc.config.monitors) first.monitors.push_back(m.rc);
        first.when = "at the start";
        layouts.push_back(first);
    }
    std::vector<TouchGiven> touches;
    int step = 0;
    for (const auto& e : r.events) {
        if (e.ev == "step") {
            step = static_cast<int>(int_field(e.fields, "n"));
            if (e.fields.contains("x") && e.fields.contains("y"))
                touches.push_back({step, {int_field(e.fields, "x"), int_field(e.fields, "y")}});
        } else if (e.ev == "display" && e.fields.contains("monitors") && e.fields["monitors"].is_array()) {
            Layout l;
            for (const auto& m : e.fields["monitors"]) l.monitors.push_back(rect_field(m));
            l.when = "after step " + std::to_string(step);
            if (!l.monitors.empty()) layouts.push_back(l);
        }
    }
    const std::vector<RECT>& final_monitors = layouts.back().monitors;
    const std::vector<Mark> marks = find_marks(r.events, layouts.front().monitors.front());
    const std::map<int, Assignment> assignments = find_assignments(r.events);
    std::vector<std::string> serials;
    for (const auto& t : sc.touchscreens) serials.push_back(t.serial);
    for (const auto& s : sc.steps)
        if (const auto* add = std::get_if<stimuli::AddTouchscreen>(&s.stimulus)) serials.push_back(add->touchscreen.serial);

    // ---- scale: the virtual desktop about 1000 pixels wide
    double minx = 1e18, miny = 1e18, maxx = -1e18, maxy = -1e18;
    auto grow = [&](double x, double y) {
        minx = std::min(minx, x);
        miny = std::min(miny, y);
        maxx = std::max(maxx, x);
        maxy = std::max(maxy, y);
    };
    for (const auto& l : layouts)
        for (const auto& m : l.monitors) {
            grow(m.left, m.top);
            grow(m.right, m.bottom);
        }
    for (const auto& m : marks)
        for (const auto& p : m.points) grow(static_cast<double>(p.x), static_cast<double>(p.y));
    for (const auto& t : touches) grow(static_cast<double>(t.at.x), static_cast<double>(t.at.y));
    const double bw = std::max(1.0, maxx - minx), bh = std::max(1.0, maxy - miny);
    const double scale = std::min(1000.0 / bw, 620.0 / bh);
    const double margin = 30, top = 84;
    const double width = std::max(1060.0, bw * scale + 2 * margin);
    auto X = [&](double x) { return margin + (x - minx) * scale; };
    auto Y = [&](double y) { return top + (y - miny) * scale; };
    const double desk_bottom = top + bh * scale;

    std::ostringstream body;
    Labels labels;

    // ---- monitors
    for (size_t i = 0; i < final_monitors.size(); ++i) {
        const RECT& m = final_monitors[i];
        const double x = X(m.left), y = Y(m.top), w = (m.right - m.left) * scale, h = (m.bottom - m.top) * scale;
        body << "<rect x=\"" << num(x) << "\" y=\"" << num(y) << "\" width=\"" << num(w) << "\" height=\"" << num(h)
             << "\" fill=\"#edf2fa\" stroke=\"#495a75\" stroke-width=\"2\"/>\n";
        const double big = std::min(w, h) * 0.45;
        body << "<text x=\"" << num(x + w / 2) << "\" y=\"" << num(y + h / 2 + big * 0.35)
             << "\" text-anchor=\"middle\" font-size=\"" << num(big) << "\" font-weight=\"bold\" fill=\"#d3dcea\">" << i
             << "</text>\n";
        const std::string label = "monitor " + std::to_string(i) + (i == 0 ? " · primary" : "") + " · " +
                                  std::to_string(m.right - m.left) + "×" + std::to_string(m.bottom - m.top) + " at (" +
                                  std::to_string(m.left) + ", " + std::to_string(m.top) + ")";
        body << "<text x=\"" << num(x + 8) << "\" y=\"" << num(y + 18) << "\" font-size=\"13\" fill=\"#344055\">"
             << esc(label) << "</text>\n";
        labels.block({x + 8, y + 4, x + 8 + static_cast<double>(label.size()) * 13 * 0.55, y + 22});
    }

    // Earlier layouts, when the display changed during the run, on top as
    // outlines: what happened before the change happened on them.
    for (size_t li = 0; li + 1 < layouts.size(); ++li) {
        for (const auto& m : layouts[li].monitors)
            body << "<rect x=\"" << num(X(m.left)) << "\" y=\"" << num(Y(m.top)) << "\" width=\""
                 << num((m.right - m.left) * scale) << "\" height=\"" << num((m.bottom - m.top) * scale)
                 << "\" fill=\"none\" stroke=\"#6c757d\" stroke-width=\"1.5\" stroke-dasharray=\"4 4\"/>\n";
    }

    // ---- touchscreens on their monitors
    std::map<int, int> per_monitor;  // how many touchscreen labels a monitor carries
    std::vector<std::string> screen_lines;
    const int screens = static_cast<int>(std::max(serials.size(), assignments.empty() ? 0 : static_cast<size_t>(assignments.rbegin()->first + 1)));
    for (int id = 0; id < screens; ++id) {
        const std::string serial = id < static_cast<int>(serials.size()) ? serials[static_cast<size_t>(id)] : "?";
        auto it = assignments.find(id);
        std::string line = "touchscreen " + std::to_string(id) + " · " + serial;
        if (it == assignments.end() || !it->second.monitor) {
            screen_lines.push_back(line + ": the program gave it no monitor");
            continue;
        }
        const int mon = *it->second.monitor;
        line += " → monitor " + std::to_string(mon);
        if (it->second.rect) line += ", rectangle " + rect_text(*it->second.rect);
        screen_lines.push_back(line);
        const int k = per_monitor[mon]++;
        if (it->second.rect) {
            const RECT& rc = *it->second.rect;
            const double inset = 5.0 + 5.0 * k;
            body << "<rect x=\"" << num(X(rc.left) + inset) << "\" y=\"" << num(Y(rc.top) + inset) << "\" width=\""
                 << num(std::max(1.0, (rc.right - rc.left) * scale - 2 * inset)) << "\" height=\""
                 << num(std::max(1.0, (rc.bottom - rc.top) * scale - 2 * inset)) << "\" fill=\"none\" stroke=\""
                 << screen_colour(id) << "\" stroke-width=\"2.5\" stroke-dasharray=\"10 5\"/>\n";
        }
        // The label sits at the bottom of the monitor the driver was given.
        RECT at{};
        if (it->second.rect)
            at = *it->second.rect;
        else if (mon >= 0 && static_cast<size_t>(mon) < final_monitors.size())
            at = final_monitors[static_cast<size_t>(mon)];
        else
            continue;
        const std::string label = "touchscreen " + std::to_string(id) + " (" + serial + ")";
        const double lx = X(at.left) + 14, ly = Y(at.bottom) - 14 - 20.0 * k;
        body << "<text x=\"" << num(lx) << "\" y=\"" << num(ly) << "\" font-size=\"15\" font-weight=\"bold\" fill=\""
             << screen_colour(id) << "\">" << esc(label) << "</text>\n";
        labels.block({lx, ly - 15, lx + static_cast<double>(label.size()) * 15 * 0.62, ly + 3});
    }

    // ---- touches handed to the driver
    for (const auto& t : touches) {
        const double x = X(static_cast<double>(t.at.x)), y = Y(static_cast<double>(t.at.y));
        body << "<path d=\"M" << num(x - 6) << " " << num(y - 6) << " L" << num(x + 6) << " " << num(y + 6) << " M"
             << num(x - 6) << " " << num(y + 6) << " L" << num(x + 6) << " " << num(y - 6)
             << "\" stroke=\"#868e96\" stroke-width=\"1.5\"/>\n";
    }

    // ---- what the program did with the mouse
    std::vector<const Mark*> boxes;
    for (const auto& m : marks) {
        if (m.kind == Mark::Kind::message_box) {
            boxes.push_back(&m);
            continue;
        }
        const char* c = button_colour(m.button);
        const double x = X(static_cast<double>(m.points.front().x)), y = Y(static_cast<double>(m.points.front().y));
        switch (m.kind) {
        case Mark::Kind::position:
            body << "<circle cx=\"" << num(x) << "\" cy=\"" << num(y) << "\" r=\"4\" fill=\"#343a40\"/>\n";
            break;
        case Mark::Kind::click:
            body << "<circle cx=\"" << num(x) << "\" cy=\"" << num(y) << "\" r=\"9\" fill=\"none\" stroke=\"" << c
                 << "\" stroke-width=\"2.5\"/>\n<circle cx=\"" << num(x) << "\" cy=\"" << num(y) << "\" r=\"2.5\" fill=\""
                 << c << "\"/>\n";
            break;
        case Mark::Kind::drag:
        case Mark::Kind::held: {
            body << "<polyline fill=\"none\" stroke=\"" << c << "\" stroke-width=\"2.5\"";
            if (m.kind == Mark::Kind::held) body << " stroke-dasharray=\"7 4\"";
            else body << " marker-end=\"url(#arrow" << m.button << ")\"";
            body << " points=\"";
            for (const auto& p : m.points)
                body << num(X(static_cast<double>(p.x))) << "," << num(Y(static_cast<double>(p.y))) << " ";
            body << "\"/>\n<circle cx=\"" << num(x) << "\" cy=\"" << num(y) << "\" r=\"5\" fill=\"" << c << "\"/>\n";
            if (m.kind == Mark::Kind::held) {
                const double ex = X(static_cast<double>(m.points.back().x)), ey = Y(static_cast<double>(m.points.back().y));
                body << "<rect x=\"" << num(ex - 5) << "\" y=\"" << num(ey - 5) << "\" width=\"10\" height=\"10\" fill=\""
                     << c << "\"/>\n";
            }
            break;
        }
        case Mark::Kind::release_only:
            body << "<rect x=\"" << num(x - 5) << "\" y=\"" << num(y - 5) << "\" width=\"10\" height=\"10\" fill=\"none\" stroke=\""
                 << c << "\" stroke-width=\"2\"/>\n";
            break;
        case Mark::Kind::message_box: break;
        }
        labels.block({x - 9, y - 9, x + 9, y + 9});
    }
    for (const auto& m : marks) {
        if (m.kind == Mark::Kind::message_box) continue;
        const double x = X(static_cast<double>(m.points.front().x)), y = Y(static_cast<double>(m.points.front().y));
        const std::string t = std::to_string(m.number);
        auto [lx, ly] = labels.place(x, y, t, 13);
        body << "<text x=\"" << num(lx) << "\" y=\"" << num(ly) << "\" class=\"n\">" << t << "</text>\n";
    }
    for (const auto& t : touches) {
        const double x = X(static_cast<double>(t.at.x)), y = Y(static_cast<double>(t.at.y));
        const std::string s = "step " + std::to_string(t.step);
        auto [lx, ly] = labels.place(x, y, s, 10);
        body << "<text x=\"" << num(lx) << "\" y=\"" << num(ly) << "\" class=\"s\">" << esc(s) << "</text>\n";
    }

    // ---- legend and lists below the desktop
    double y = desk_bottom + 34;
    std::ostringstream below;
    const double col2 = margin + 520;
    struct Entry {
        std::string symbol;
        std::string text;
    };
    std::vector<Entry> legend = {
        {"<rect x=\"0\" y=\"-11\" width=\"22\" height=\"14\" fill=\"#edf2fa\" stroke=\"#495a75\" stroke-width=\"2\"/>",
         "monitor (number, size, position)"},
        {"<rect x=\"0\" y=\"-11\" width=\"22\" height=\"14\" fill=\"none\" stroke=\"#e8590c\" stroke-width=\"2.5\" "
         "stroke-dasharray=\"6 3\"/>",
         "rectangle the driver got for a touchscreen"},
        {"<circle cx=\"11\" cy=\"-4\" r=\"4\" fill=\"#343a40\"/>", "cursor position (no button)"},
        {"<circle cx=\"11\" cy=\"-4\" r=\"8\" fill=\"none\" stroke=\"#1c7ed6\" stroke-width=\"2.5\"/><circle cx=\"11\" "
         "cy=\"-4\" r=\"2.5\" fill=\"#1c7ed6\"/>",
         "click: button down and up at one point"},
        {"<polyline points=\"0,0 10,-8 22,-4\" fill=\"none\" stroke=\"#1c7ed6\" stroke-width=\"2.5\" "
         "marker-end=\"url(#arrowL)\"/><circle cx=\"0\" cy=\"0\" r=\"4\" fill=\"#1c7ed6\"/>",
         "press to release path"},
        {"<polyline points=\"0,0 22,-4\" fill=\"none\" stroke=\"#1c7ed6\" stroke-width=\"2.5\" stroke-dasharray=\"5 3\"/>"
         "<rect x=\"18\" y=\"-9\" width=\"9\" height=\"9\" fill=\"#1c7ed6\"/>",
         "press never released"},
        {"<rect x=\"6\" y=\"-9\" width=\"10\" height=\"10\" fill=\"none\" stroke=\"#1c7ed6\" stroke-width=\"2\"/>",
         "button up without a press"},
        {"<path d=\"M5 -10 L17 2 M5 2 L17 -10\" stroke=\"#868e96\" stroke-width=\"1.5\"/>",
         "touch handed to the driver (step number)"},
        {"<rect x=\"0\" y=\"-11\" width=\"10\" height=\"14\" fill=\"#1c7ed6\"/><rect x=\"12\" y=\"-11\" width=\"10\" "
         "height=\"14\" fill=\"#e03131\"/>",
         "left button, right button"},
        {"<text x=\"4\" y=\"0\" class=\"n\">7</text>", "order in which it happened"},
    };
    if (layouts.size() > 1)
        legend.push_back({"<rect x=\"0\" y=\"-11\" width=\"22\" height=\"14\" fill=\"none\" stroke=\"#6c757d\" "
                          "stroke-width=\"1.5\" stroke-dasharray=\"4 4\"/>",
                          "monitor before a display change"});
    below << "<text x=\"" << num(margin) << "\" y=\"" << num(y) << "\" class=\"h\">Legend</text>\n";
    y += 24;
    for (size_t i = 0; i < legend.size(); ++i) {
        const double lx = (i % 2 == 0) ? margin : col2;
        const double ly = y + static_cast<double>(i / 2) * 24;
        below << "<g transform=\"translate(" << num(lx) << "," << num(ly) << ")\">" << legend[i].symbol << "<text x=\"34\" y=\"0\">"
              << esc(legend[i].text) << "</text></g>\n";
    }
    y += static_cast<double>((legend.size() + 1) / 2) * 24 + 16;

    auto list = [&](const std::string& heading, const std::vector<std::pair<std::string, std::string>>& lines) {
        below << "<text x=\"" << num(margin) << "\" y=\"" << num(y) << "\" class=\"h\">" << esc(heading) << "</text>\n";
        y += 22;
        for (const auto& [colour, text] : lines) {
            below << "<text x=\"" << num(margin + 10) << "\" y=\"" << num(y) << "\"" << (colour.empty() ? "" : " fill=\"" + colour + "\"")
                  << ">" << esc(text) << "</text>\n";
            y += 20;
        }
        y += 12;
    };
    {
        std::vector<std::pair<std::string, std::string>> lines;
        for (size_t i = 0; i < screen_lines.size(); ++i) lines.emplace_back(screen_colour(static_cast<int>(i)), screen_lines[i]);
        if (lines.empty()) lines.emplace_back("", "none");
        list("Touchscreens", lines);
    }
    {
        std::vector<std::pair<std::string, std::string>> lines;
        for (const Mark* m : boxes) lines.emplace_back("#c92a2a", std::to_string(m->number) + ". " + m->text);
        if (lines.empty()) lines.emplace_back("", "none");
        list("Message boxes", lines);
    }
    if (layouts.size() > 1) {
        std::vector<std::pair<std::string, std::string>> lines;
        for (const auto& l : layouts) {
            std::string t = l.when + ":";
            for (const auto& m : l.monitors) t += " " + rect_text(m);
            lines.emplace_back("", t);
        }
        list("Display layouts", lines);
    }
    {
        std::vector<std::pair<std::string, std::string>> lines;
        for (const auto& s : sc.steps) lines.emplace_back("", "step " + std::to_string(s.number) + ": " + describe(s));
        if (lines.empty()) lines.emplace_back("", "none");
        list("Steps", lines);
    }
    const double height = y + 10;

    // ---- the document
    std::ostringstream svg;
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << num(width) << "\" height=\"" << num(height)
        << "\" viewBox=\"0 0 " << num(width) << " " << num(height)
        << "\" font-family=\"DejaVu Sans, Verdana, sans-serif\" font-size=\"13\" fill=\"#212529\">\n"
        << "<style>.n{font-size:13px;font-weight:bold;fill:#212529;paint-order:stroke;stroke:#fff;stroke-width:3px}"
           ".s{font-size:10px;font-style:italic;fill:#6c757d;paint-order:stroke;stroke:#fff;stroke-width:3px}"
           ".h{font-size:15px;font-weight:bold}</style>\n<defs>\n";
    for (char b : {'L', 'R', 'M'})
        svg << "<marker id=\"arrow" << b
            << "\" viewBox=\"0 0 10 10\" refX=\"8\" refY=\"5\" markerWidth=\"4\" markerHeight=\"4\" orient=\"auto-start-reverse\">"
               "<path d=\"M0 0 L10 5 L0 10 z\" fill=\""
            << button_colour(b) << "\"/></marker>\n";
    svg << "</defs>\n<rect x=\"0\" y=\"0\" width=\"" << num(width) << "\" height=\"" << num(height) << "\" fill=\"#ffffff\"/>\n";
    const bool clean = r.protocol_errors.empty() && r.misuse.empty();
    svg << "<text x=\"" << num(margin) << "\" y=\"34\" font-size=\"21\" font-weight=\"bold\">RykXyLdr · " << esc(sc.file)
        << "</text>\n";
    std::string sub = std::string(windows_text(sc.config.windows)) + " · " + std::to_string(final_monitors.size()) +
                      " monitor(s) · " + std::to_string(serials.size()) + " touchscreen(s) · " +
                      std::to_string(sc.steps.size()) + " step(s) · " +
                      (r.ended ? "exit code " + std::to_string(r.exit_code) : std::string("still running at the end")) +
                      " · " + std::to_string(r.protocol_errors.size()) + " protocol error(s) · " +
                      std::to_string(r.misuse.size()) + " misuse";
    svg << "<text x=\"" << num(margin) << "\" y=\"58\" font-size=\"14\" fill=\"" << (clean ? "#495057" : "#c92a2a") << "\">"
        << esc(sub) << "</text>\n";
    svg << body.str() << below.str() << "</svg>\n";
    return svg.str();
}

}  // namespace runner
