#include "svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace bench {

namespace {

std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

std::string escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '&') out += "&amp;";
        else out += c;
    }
    return out;
}

struct Line {
    std::string label;
    std::string color;
    std::string dashes;  // empty: solid
    std::vector<double> values;
};

std::string dash_attr(const Line& l) { return l.dashes.empty() ? "" : " stroke-dasharray='" + l.dashes + "'"; }

// One panel: categories along x, microseconds on a log scale along y.
void panel(std::ostringstream& o, double x0, double y0, double w, double h, const std::string& title,
           const std::vector<std::string>& categories, const std::vector<Line>& lines,
           const std::vector<std::string>& notes) {
    double lo = 1e300, hi = 0;
    for (const Line& l : lines)
        for (double v : l.values)
            if (v > 0) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
    if (hi <= 0) {
        lo = 1;
        hi = 10;
    }
    const double dlo = std::floor(std::log10(lo));
    const double dhi = std::max(dlo + 1, std::ceil(std::log10(hi)));
    const double bottom = std::pow(10.0, dlo);
    auto ys = [&](double v) { return y0 + h - (std::log10(std::max(v, bottom)) - dlo) / (dhi - dlo) * h; };
    const double step = w / static_cast<double>(categories.size());
    auto xs = [&](size_t i) { return x0 + step * (static_cast<double>(i) + 0.5); };

    o << "<text x='" << num(x0 + w / 2) << "' y='" << num(y0 - 14) << "' text-anchor='middle' font-size='14'>"
      << escape(title) << "</text>\n";
    o << "<rect x='" << num(x0) << "' y='" << num(y0) << "' width='" << num(w) << "' height='" << num(h)
      << "' fill='none' stroke='#888'/>\n";
    for (double d = dlo; d <= dhi; d += 1) {
        for (int k = 1; k < 10; ++k) {
            const double v = std::pow(10.0, d) * k;
            if (std::log10(v) > dhi + 1e-9) break;
            const double y = ys(v);
            o << "<line x1='" << num(x0) << "' x2='" << num(x0 + w) << "' y1='" << num(y) << "' y2='" << num(y)
              << "' stroke='" << (k == 1 ? "#ccc" : "#eee") << "'/>\n";
            if (k == 1 || k == 2 || k == 5) {
                char buf[32];
                if (v >= 1000) std::snprintf(buf, sizeof buf, "%g ms", v / 1000);
                else std::snprintf(buf, sizeof buf, "%g us", v);
                o << "<text x='" << num(x0 - 4) << "' y='" << num(y + 4)
                  << "' text-anchor='end' font-size='10'>" << buf << "</text>\n";
            }
        }
    }
    for (size_t i = 0; i < categories.size(); ++i) {
        o << "<text x='" << num(xs(i)) << "' y='" << num(y0 + h + 14) << "' text-anchor='middle' font-size='11'>"
          << escape(categories[i]) << "</text>\n";
        if (i < notes.size())
            o << "<text x='" << num(xs(i)) << "' y='" << num(y0 + h + 27)
              << "' text-anchor='middle' font-size='9' fill='#555'>" << escape(notes[i]) << "</text>\n";
    }
    for (const Line& l : lines) {
        std::string pts;
        for (size_t i = 0; i < l.values.size(); ++i)
            if (l.values[i] > 0) pts += num(xs(i)) + "," + num(ys(l.values[i])) + " ";
        o << "<polyline fill='none' stroke='" << l.color << "' stroke-width='2'" << dash_attr(l) << " points='" << pts
          << "'/>\n";
        for (size_t i = 0; i < l.values.size(); ++i)
            if (l.values[i] > 0)
                o << "<circle cx='" << num(xs(i)) << "' cy='" << num(ys(l.values[i])) << "' r='3' fill='"
                  << (l.dashes.empty() ? l.color : "white") << "' stroke='" << l.color << "'/>\n";
    }
}

std::vector<Line> lines_of(const std::vector<StreamSides>& runs) {
    std::vector<Line> lines = {{"program p50", "#1f77b4", "", {}},      {"program p99", "#d62728", "", {}},
                               {"floor p50", "#1f77b4", "6,4", {}},     {"floor p99", "#d62728", "6,4", {}},
                               {"design floor p50", "#2ca02c", "2,3", {}}, {"design floor p99", "#ff7f0e", "2,3", {}}};
    for (const StreamSides& x : runs) {
        lines[0].values.push_back(x.program.p50_us);
        lines[1].values.push_back(x.program.p99_us);
        lines[2].values.push_back(x.floor.p50_us);
        lines[3].values.push_back(x.floor.p99_us);
        lines[4].values.push_back(x.design.p50_us);
        lines[5].values.push_back(x.design.p99_us);
    }
    return lines;
}

}  // namespace

std::string picture(const std::vector<StreamSides>& by_screens, const std::vector<StreamSides>& by_rate,
                    const nlohmann::ordered_json& machine, bool quick) {
    std::ostringstream o;
    const double W = 980, H = 450;
    o << "<svg xmlns='http://www.w3.org/2000/svg' width='" << W << "' height='" << H
      << "' font-family='sans-serif'>\n<rect width='100%' height='100%' fill='white'/>\n";

    std::vector<std::string> cats, notes;
    for (const StreamSides& x : by_screens) cats.push_back(std::to_string(x.program.screens) + " touchscreens");
    panel(o, 70, 50, 380, 290, "Mouse input latency at 200 Hz per touchscreen", cats, lines_of(by_screens), {});

    cats.clear();
    for (const StreamSides& x : by_rate) {
        const StreamResult& p = x.program;
        cats.push_back(p.rate_hz > 0 ? num(p.rate_hz).substr(0, num(p.rate_hz).size() - 2) + " Hz" : "flat out");
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.1fk / %.1fk / %.1fk", p.delivered_per_s / 1000,
                      x.floor.delivered_per_s / 1000, x.design.delivered_per_s / 1000);
        notes.push_back(buf);
    }
    panel(o, 560, 50, 390, 290, "33 touchscreens: latency against offered rate each", cats, lines_of(by_rate),
          notes);

    // Legend and origin.
    const auto lines = lines_of({});
    double lx = 70;
    for (const Line& l : lines) {
        o << "<line x1='" << num(lx) << "' x2='" << num(lx + 30) << "' y1='385' y2='385' stroke='" << l.color
          << "' stroke-width='2'" << dash_attr(l) << "/>\n";
        o << "<text x='" << num(lx + 36) << "' y='389' font-size='11'>" << l.label << "</text>\n";
        lx += l.label.size() > 12 ? 150 : 115;
    }
    o << "<text x='70' y='407' font-size='10' fill='#555'>Under each rate: packets delivered per second, program / "
         "floor / design floor.</text>\n";
    o << "<text x='70' y='422' font-size='10' fill='#555'>Floor: bare threads of the same simulated machine, woken by "
         "the same driver model, making the same mouse call. Design floor: the same, reading each packet under one "
         "shared lock.</text>\n";
    std::string who = machine.value("host", "") + ", " + machine.value("cpu", "") + ", " +
                      std::to_string(machine.value("cpus", 0)) + " CPUs, load " + machine.value("load_at_start", "");
    o << "<text x='70' y='437' font-size='10' fill='#555'>" << escape((quick ? "QUICK RUN. " : "") + who)
      << ".</text>\n";
    o << "</svg>\n";
    return o.str();
}

}  // namespace bench
