#include "picture.h"

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "report.h"
#include "svg.h"
#include "trace_fields.h"

namespace runner {

namespace {

using svg::Element;
using svg::num;

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

// Each value a length (double, with one decimal) or text as written.
template <class X, class Y, class W, class H>
Element rect(X x, Y y, W width, H height) {
    return Element("rect").attr("x", x).attr("y", y).attr("width", width).attr("height", height);
}

template <class X, class Y>
Element circle(X cx, Y cy, std::string_view r) {
    return Element("circle").attr("cx", cx).attr("cy", cy).attr("r", r);
}

Element text_at(double x, double y) { return Element("text").attr("x", x).attr("y", y); }

// `text` broken at blanks into lines of at most `width` characters (a longer
// word stays whole on its own line).
std::vector<std::string> wrap(const std::string& text, size_t width) {
    std::vector<std::string> out;
    std::string line;
    size_t i = 0;
    while (i < text.size()) {
        const size_t end = std::min(text.find(' ', i), text.size());
        const std::string word = text.substr(i, end - i);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out.push_back(line);
            line.clear();
        }
        if (!word.empty()) line += (line.empty() ? "" : " ") + word;
        i = end + 1;
    }
    if (!line.empty() || out.empty()) out.push_back(line);
    return out;
}

// The lines of a text as drawn: split at line feeds.
std::vector<std::string> text_lines(const std::string& text) {
    std::vector<std::string> out;
    size_t i = 0;
    for (;;) {
        const size_t end = text.find('\n', i);
        out.push_back(text.substr(i, end == std::string::npos ? std::string::npos : end - i));
        if (end == std::string::npos) return out;
        i = end + 1;
    }
}

const char* const kTopmostStroke = "#d9480f";

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

// A legend entry: its symbol (drawn around (0, 0), the text's baseline
// start at x 34) and its text.
struct Entry {
    std::vector<Element> symbol;
    std::string text;
};

std::vector<Entry> legend(bool display_changed, bool topmost) {
    const char* blue = button_colour('L');
    std::vector<Entry> out = {
        {{rect("0", "-11", "22", "14").attr("fill", "#edf2fa").attr("stroke", "#495a75").attr("stroke-width", "2")},
         "monitor (number, size, position)"},
        {{rect("0", "-11", "22", "14")
              .attr("fill", "none")
              .attr("stroke", screen_colour(0))
              .attr("stroke-width", "2.5")
              .attr("stroke-dasharray", "6 3")},
         "rectangle the driver got for a touchscreen"},
        {{circle("11", "-4", "4").attr("fill", "#343a40")}, "cursor position (no button)"},
        {{circle("11", "-4", "8").attr("fill", "none").attr("stroke", blue).attr("stroke-width", "2.5"),
          circle("11", "-4", "2.5").attr("fill", blue)},
         "click: button down and up at one point"},
        {{Element("polyline")
              .attr("points", "0,0 10,-8 22,-4")
              .attr("fill", "none")
              .attr("stroke", blue)
              .attr("stroke-width", "2.5")
              .attr("marker-end", "url(#arrowL)"),
          circle("0", "0", "4").attr("fill", blue)},
         "press to release path"},
        {{Element("polyline")
              .attr("points", "0,0 22,-4")
              .attr("fill", "none")
              .attr("stroke", blue)
              .attr("stroke-width", "2.5")
              .attr("stroke-dasharray", "5 3"),
          rect("18", "-9", "9", "9").attr("fill", blue)},
         "press never released"},
        {{rect("6", "-9", "10", "10").attr("fill", "none").attr("stroke", blue).attr("stroke-width", "2")},
         "button up without a press"},
        {{Element("path").attr("d", "M5 -10 L17 2 M5 2 L17 -10").attr("stroke", "#868e96").attr("stroke-width", "1.5")},
         "touch handed to the driver (step number)"},
        {{rect("0", "-11", "10", "14").attr("fill", blue), rect("12", "-11", "10", "14").attr("fill", button_colour('R'))},
         "left button, right button"},
        {{Element("text").attr("x", "4").attr("y", "0").attr("class", "n").text("7")}, "order in which it happened"},
    };
    if (display_changed)
        out.push_back({{rect("0", "-11", "22", "14")
                            .attr("fill", "none")
                            .attr("stroke", "#6c757d")
                            .attr("stroke-width", "1.5")
                            .attr("stroke-dasharray", "4 4")},
                       "monitor before a display change"});
    if (topmost)
        out.push_back({{rect("0", "-11", "22", "14")
                            .attr("fill", "#fff4e6")
                            .attr("stroke", kTopmostStroke)
                            .attr("stroke-width", "2")},
                       "topmost window: step it came in, what it first drew"});
    return out;
}

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
    const std::vector<TopmostWindow> windows = find_topmost_windows(r.events);
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

    svg::Writer body;
    Labels labels;

    // ---- monitors
    for (size_t i = 0; i < final_monitors.size(); ++i) {
        const RECT& m = final_monitors[i];
        const double x = X(m.left), y = Y(m.top), w = (m.right - m.left) * scale, h = (m.bottom - m.top) * scale;
        body.line(rect(x, y, w, h).attr("fill", "#edf2fa").attr("stroke", "#495a75").attr("stroke-width", "2"));
        const double big = std::min(w, h) * 0.45;
        body.line(text_at(x + w / 2, y + h / 2 + big * 0.35)
                      .attr("text-anchor", "middle")
                      .attr("font-size", big)
                      .attr("font-weight", "bold")
                      .attr("fill", "#d3dcea")
                      .text(std::to_string(i)));
        const std::string label = "monitor " + std::to_string(i) + (i == 0 ? " · primary" : "") + " · " +
                                  std::to_string(m.right - m.left) + "×" + std::to_string(m.bottom - m.top) + " at (" +
                                  std::to_string(m.left) + ", " + std::to_string(m.top) + ")";
        body.line(text_at(x + 8, y + 18).attr("font-size", "13").attr("fill", "#344055").text(label));
        labels.block({x + 8, y + 4, x + 8 + static_cast<double>(label.size()) * 13 * 0.55, y + 22});
    }

    // Earlier layouts, when the display changed during the run, on top as
    // outlines: what happened before the change happened on them.
    for (size_t li = 0; li + 1 < layouts.size(); ++li) {
        for (const auto& m : layouts[li].monitors)
            body.line(rect(X(m.left), Y(m.top), (m.right - m.left) * scale, (m.bottom - m.top) * scale)
                          .attr("fill", "none")
                          .attr("stroke", "#6c757d")
                          .attr("stroke-width", "1.5")
                          .attr("stroke-dasharray", "4 4"));
    }

    // ---- topmost windows: each with the step it came in and what it first
    // drew; later ones on the same place go below the earlier ones' text.
    std::map<std::pair<LONG, LONG>, double> text_bottom;  // by window's top-left: where the next block starts
    for (const auto& w : windows) {
        const double x = X(w.rect.left), y = Y(w.rect.top);
        const double ww = std::max(1.0, (w.rect.right - w.rect.left) * scale), wh = std::max(1.0, (w.rect.bottom - w.rect.top) * scale);
        auto [at, fresh] = text_bottom.try_emplace({w.rect.left, w.rect.top}, y + 34);
        const double inset = fresh ? 3.0 : 6.0;
        body.line(rect(x + inset, y + inset, std::max(1.0, ww - 2 * inset), std::max(1.0, wh - 2 * inset))
                      .attr("fill", "#fff4e6")
                      .attr("fill-opacity", "0.5")
                      .attr("stroke", kTopmostStroke)
                      .attr("stroke-width", "2"));
        const double cx = x + ww / 2;
        const size_t chars = static_cast<size_t>(std::max(8.0, (ww - 16) / (12 * 0.6)));
        double ty = at->second + 12;
        const std::string head = "step " + std::to_string(w.step) + " · " + w.process;
        body.line(text_at(cx, ty).attr("text-anchor", "middle").attr("class", "s").text(head));
        ty += 20;
        const std::vector<std::string> drawn = w.texts.empty() ? std::vector<std::string>{} : text_lines(w.texts.front());
        for (size_t i = 0; i < drawn.size(); ++i) {
            const bool first = i == 0;
            for (const auto& part : wrap(drawn[i], first ? chars * 12 / 16 : chars)) {
                body.line(text_at(cx, ty)
                              .attr("text-anchor", "middle")
                              .attr("font-size", first ? "16" : "12")
                              .attr("font-weight", first ? "bold" : "normal")
                              .attr("fill", kTopmostStroke)
                              .text(part));
                ty += first ? 20 : 16;
            }
        }
        labels.block({x + 8, at->second, x + ww - 8, ty});
        at->second = ty + 6;
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
            body.line(rect(X(rc.left) + inset, Y(rc.top) + inset, std::max(1.0, (rc.right - rc.left) * scale - 2 * inset),
                           std::max(1.0, (rc.bottom - rc.top) * scale - 2 * inset))
                          .attr("fill", "none")
                          .attr("stroke", screen_colour(id))
                          .attr("stroke-width", "2.5")
                          .attr("stroke-dasharray", "10 5"));
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
        body.line(text_at(lx, ly)
                      .attr("font-size", "15")
                      .attr("font-weight", "bold")
                      .attr("fill", screen_colour(id))
                      .text(label));
        labels.block({lx, ly - 15, lx + static_cast<double>(label.size()) * 15 * 0.62, ly + 3});
    }

    // ---- touches handed to the driver
    for (const auto& t : touches) {
        const double x = X(static_cast<double>(t.at.x)), y = Y(static_cast<double>(t.at.y));
        body.line(Element("path")
                      .attr("d", "M" + num(x - 6) + " " + num(y - 6) + " L" + num(x + 6) + " " + num(y + 6) + " M" +
                                     num(x - 6) + " " + num(y + 6) + " L" + num(x + 6) + " " + num(y - 6))
                      .attr("stroke", "#868e96")
                      .attr("stroke-width", "1.5"));
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
        case Mark::Kind::position: body.line(circle(x, y, "4").attr("fill", "#343a40")); break;
        case Mark::Kind::click:
            body.line(circle(x, y, "9").attr("fill", "none").attr("stroke", c).attr("stroke-width", "2.5"));
            body.line(circle(x, y, "2.5").attr("fill", c));
            break;
        case Mark::Kind::drag:
        case Mark::Kind::held: {
            Element path("polyline");
            path.attr("fill", "none").attr("stroke", c).attr("stroke-width", "2.5");
            if (m.kind == Mark::Kind::held)
                path.attr("stroke-dasharray", "7 4");
            else
                path.attr("marker-end", "url(#arrow" + std::string(1, m.button) + ")");
            std::string points;
            for (const auto& p : m.points)
                points += num(X(static_cast<double>(p.x))) + "," + num(Y(static_cast<double>(p.y))) + " ";
            body.line(path.attr("points", points));
            body.line(circle(x, y, "5").attr("fill", c));
            if (m.kind == Mark::Kind::held) {
                const double ex = X(static_cast<double>(m.points.back().x)), ey = Y(static_cast<double>(m.points.back().y));
                body.line(rect(ex - 5, ey - 5, "10", "10").attr("fill", c));
            }
            break;
        }
        case Mark::Kind::release_only:
            body.line(rect(x - 5, y - 5, "10", "10").attr("fill", "none").attr("stroke", c).attr("stroke-width", "2"));
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
        body.line(text_at(lx, ly).attr("class", "n").text(t));
    }
    for (const auto& t : touches) {
        const double x = X(static_cast<double>(t.at.x)), y = Y(static_cast<double>(t.at.y));
        const std::string s = "step " + std::to_string(t.step);
        auto [lx, ly] = labels.place(x, y, s, 10);
        body.line(text_at(lx, ly).attr("class", "s").text(s));
    }

    // ---- legend and lists below the desktop
    double y = desk_bottom + 34;
    svg::Writer below;
    const double col2 = margin + 520;
    const std::vector<Entry> entries = legend(layouts.size() > 1, !windows.empty());
    below.line(text_at(margin, y).attr("class", "h").text("Legend"));
    y += 24;
    for (size_t i = 0; i < entries.size(); ++i) {
        const double lx = (i % 2 == 0) ? margin : col2;
        const double ly = y + static_cast<double>(i / 2) * 24;
        Element g("g");
        g.attr("transform", "translate(" + num(lx) + "," + num(ly) + ")");
        for (const Element& e : entries[i].symbol) g.add(e);
        below.line(g.add(Element("text").attr("x", "34").attr("y", "0").text(entries[i].text)));
    }
    y += static_cast<double>((entries.size() + 1) / 2) * 24 + 16;

    auto list = [&](const std::string& heading, const std::vector<std::pair<std::string, std::string>>& lines) {
        below.line(text_at(margin, y).attr("class", "h").text(heading));
        y += 22;
        for (const auto& [colour, text] : lines) {
            Element line = text_at(margin + 10, y);
            if (!colour.empty()) line.attr("fill", colour);
            below.line(line.text(text));
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
    if (!windows.empty()) {
        // Everything each window drew, one text after the other.
        std::vector<std::pair<std::string, std::string>> lines;
        for (const auto& w : windows) {
            std::string t = "step " + std::to_string(w.step) + " · " + w.process + " · monitor " + std::to_string(w.monitor) +
                            " " + rect_text(w.rect) + ":";
            for (size_t i = 0; i < w.texts.size(); ++i) {
                std::string joined;
                for (const auto& l : text_lines(w.texts[i])) joined += (joined.empty() ? "" : " / ") + l;
                t += (i == 0 ? " " : " · then: ") + joined;
            }
            const auto parts = wrap(t, 140);
            for (size_t i = 0; i < parts.size(); ++i) lines.emplace_back(kTopmostStroke, (i == 0 ? "" : "    ") + parts[i]);
        }
        list("Topmost windows", lines);
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
    svg::Writer doc;
    doc.raw("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    doc.open(Element("svg")
                 .attr("xmlns", "http://www.w3.org/2000/svg")
                 .attr("width", width)
                 .attr("height", height)
                 .attr("viewBox", "0 0 " + num(width) + " " + num(height))
                 .attr("font-family", "DejaVu Sans, Verdana, sans-serif")
                 .attr("font-size", "13")
                 .attr("fill", "#212529"));
    doc.line(Element("style").text(
        ".n{font-size:13px;font-weight:bold;fill:#212529;paint-order:stroke;stroke:#fff;stroke-width:3px}"
        ".s{font-size:10px;font-style:italic;fill:#6c757d;paint-order:stroke;stroke:#fff;stroke-width:3px}"
        ".h{font-size:15px;font-weight:bold}"));
    doc.open(Element("defs"));
    for (char b : {'L', 'R', 'M'})
        doc.line(Element("marker")
                     .attr("id", "arrow" + std::string(1, b))
                     .attr("viewBox", "0 0 10 10")
                     .attr("refX", "8")
                     .attr("refY", "5")
                     .attr("markerWidth", "4")
                     .attr("markerHeight", "4")
                     .attr("orient", "auto-start-reverse")
                     .add(Element("path").attr("d", "M0 0 L10 5 L0 10 z").attr("fill", button_colour(b))));
    doc.close("defs");
    doc.line(rect("0", "0", width, height).attr("fill", "#ffffff"));
    const bool clean = r.protocol_errors.empty() && r.misuse.empty();
    doc.line(Element("text").attr("x", margin).attr("y", "34").attr("font-size", "21").attr("font-weight", "bold").text("RykXyLdr · " + sc.file));
    std::string sub = std::string(windows_text(sc.config.windows)) + " · " + std::to_string(final_monitors.size()) +
                      " monitor(s) · " + std::to_string(serials.size()) + " touchscreen(s) · " +
                      std::to_string(sc.steps.size()) + " step(s) · " +
                      (r.ended ? "exit code " + std::to_string(r.exit_code) : std::string("still running at the end")) +
                      " · " + std::to_string(r.protocol_errors.size()) + " protocol error(s) · " +
                      std::to_string(r.misuse.size()) + " misuse";
    doc.line(Element("text").attr("x", margin).attr("y", "58").attr("font-size", "14").attr("fill", clean ? "#495057" : "#c92a2a").text(sub));
    doc.raw(body.str());
    doc.raw(below.str());
    doc.close("svg");
    return doc.str();
}

}  // namespace runner
