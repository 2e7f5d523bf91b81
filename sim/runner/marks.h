// What the picture of a run shows, read from the run's trace: the marks of
// what the program did with the mouse and message boxes, and which monitor
// each touchscreen was given.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "trace.h"

namespace runner {

struct Point {
    int64_t x = 0, y = 0;
    bool operator==(const Point&) const = default;
};

// Something the program did that the picture shows.
struct Mark {
    enum class Kind {
        position,      // the cursor put somewhere, no button involved
        click,         // a button down and up at one point
        drag,          // a button down, moved, up: the path from press to release
        held,          // a button down and never released in the run
        release_only,  // a button up without a press before it
        message_box,
    };
    Kind kind = Kind::position;
    int number = 0;    // 1, 2, 3, ... in the order the marks began
    char button = 0;   // 'L', 'R', 'M' for the button marks
    std::vector<Point> points;  // the position; for drag and held the path
    std::string text;           // message box: caption and text
};

// The marks in the trace. Cursor positions come from SetCursorPos; mouse_event
// moves (relative, or absolute across the primary monitor `primary`, which
// display events replace) carry the cursor along and extend a pressed
// button's path.
std::vector<Mark> find_marks(const std::vector<sim::TraceEvent>& events, const RECT& primary);

// What the driver was last told about a touchscreen's monitor.
struct Assignment {
    std::optional<int> monitor;  // REQ_SET_MONITOR_NUMBER, else REQ_SET_MONITOR_RECT's iMonitor
    std::optional<RECT> rect;    // REQ_SET_MONITOR_RECT
};
// By touchscreen identifier, from the successful requests of the trace.
std::map<int, Assignment> find_assignments(const std::vector<sim::TraceEvent>& events);

// A topmost window a program showed (a prompt of the set-up wizard): from
// its first `topmost_window` event to its `topmost_window_closed`. A window
// shown again after it was closed counts as another one.
struct TopmostWindow {
    int64_t window = 0;
    std::string process;
    RECT rect{};                     // where it first painted
    int monitor = -1;                // the monitor that holds its centre then, -1 none
    int step = 0;                    // the step during which it first painted (0 before the first)
    std::vector<std::string> texts;  // what it drew, each different text in order
};
// In the order the windows first painted.
std::vector<TopmostWindow> find_topmost_windows(const std::vector<sim::TraceEvent>& events);

}  // namespace runner
