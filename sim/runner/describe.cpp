// The one-line texts for steps and refusal rules that the timeline, the
// trace's `step` events and the picture show.
#include <cstdio>

#include "driver/protocol.h"
#include "report.h"
#include "scenario.h"
#include "text.h"

namespace runner {

namespace {

std::string number_text(double d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", d);
    return buf;
}

std::string point_text(const TouchPoint& s) {
    if (s.at) return "at (" + number_text(s.u) + ", " + number_text(s.v) + ")";
    return "at (" + std::to_string(s.x) + ", " + std::to_string(s.y) + ")";
}

using sim::hex;

}  // namespace

std::string describe(const RefusalRule& r) {
    if (r.rule.position > 0)
        return "refuse request " + std::to_string(r.rule.position) + (r.rule.onward ? " and every later one" : "");
    std::string t = "refuse " + r.request;
    if (r.rule.index >= 0) t += " for index " + std::to_string(r.rule.index);
    if (r.rule.touchscreen >= 0) t += " for touchscreen " + std::to_string(r.rule.touchscreen);
    if (r.rule.always)
        t += ", always";
    else if (r.rule.times == 1)
        t += ", once";
    else if (r.rule.times > 1)
        t += ", " + std::to_string(r.rule.times) + " times";
    else
        t += ", every time";
    return t;
}

std::string describe(const Step& step) {
    using namespace stimuli;
    return std::visit(
        Overloaded{
            [](const Touch& s) {
                std::string t = "touch touchscreen " + std::to_string(s.point.screen) + " " + point_text(s.point) +
                                ", kind " + std::to_string(s.flags & PKT_KIND & ~PKT_QUICKTOUCH);
                if (s.flags & PKT_QUICKTOUCH) t += ", quick";
                if (s.flags & PKT_RELEASE) t += ", release";
                if (s.flags & PKT_FARTOUCH) t += ", far";
                return t + " (flags " + hex(s.flags, 3) + ")";
            },
            [](const Tap& s) { return "tap touchscreen " + std::to_string(s.point.screen) + " " + point_text(s.point); },
            [](const QuickTouchParams& s) {
                return "quick-touch thresholds of touchscreen " + std::to_string(s.screen) + " become dx " +
                       std::to_string(s.dx) + ", dy " + std::to_string(s.dy);
            },
            [](const AddTouchscreen& s) {
                return "add touchscreen " + s.touchscreen.serial + " (monitor " + std::to_string(s.touchscreen.monitor) +
                       (s.touchscreen.registry_path.empty() ? "" : ", " + s.touchscreen.registry_path) + ")" +
                       (s.signal ? " and signal add-monitor" : ", no signal");
            },
            [](const RemoveDevices&) { return std::string("signal remove-devices"); },
            [](const Display& s) {
                std::string t = "display changes to";
                for (const auto& m : s.monitors) t += " " + rect_text(m.rc);
                return t;
            },
            [](const Command& s) {
                return "another program posts " + s.message + " wparam " + std::to_string(s.wparam) + " lparam " +
                       hex(static_cast<uint32_t>(s.lparam), 8);
            },
            [](const Refuse& s) { return describe(s.refusal); },
            [](const ClearRefusals&) { return std::string("the driver answers every request again"); },
            [](const Wait& s) { return "wait " + std::to_string(s.ms) + " ms"; },
            [](const Close&) { return std::string("WM_CLOSE to the program's window"); },
            [](const HoldBoxes& s) {
                return std::string(s.hold ? "message boxes stay open until dismissed"
                                          : "message boxes are answered OK at once");
            },
            [](const DismissBox& s) {
                return s.caption.empty() ? std::string("the user answers the oldest open message box with OK")
                                         : "the user answers the open message box \"" + s.caption + "\" with OK";
            },
            [](const EndSession&) { return std::string("the user ends the Windows session"); },
            [](const Tool& s) {
                std::string t = (s.background ? "start " : "run ") + s.name;
                for (const auto& a : s.args) t += " " + a;
                if (s.background) t += " in the background";
                return t;
            },
            [](const ToolWait& s) { return "wait for " + s.tool.name + " to end"; },
            [](const Key& s) {
                if (s.vk == VK_ESCAPE) return std::string("the user presses Esc");
                if (s.vk == VK_RETURN) return std::string("the user presses Enter");
                return "the user presses the key with virtual-key code " + std::to_string(s.vk);
            },
            [](const Restart&) { return std::string("WM_CLOSE to the program, then it starts again"); },
            [](const Registry& s) {
                std::string text = "registry values set:";
                for (const auto& k : s.keys)
                    for (const auto& v : k.values) text += " " + k.path + "\\" + v.name;
                return text;
            },
        },
        step.stimulus);
}

}  // namespace runner
