// The picture of a run as SVG: the virtual desktop with its monitors, which
// touchscreen serves which monitor, and what the program did with the mouse,
// numbered in order.
#pragma once

#include <string>

#include "marks.h"
#include "play.h"
#include "scenario.h"

namespace runner {

// The picture: the monitors (and earlier layouts), the touchscreens' monitors
// and rectangles, the topmost windows of find_topmost_windows(), the touches
// handed to the driver, the marks of find_marks(), a legend and lists of the
// touchscreens, message boxes, topmost windows, display layouts and steps.
std::string render_svg(const Scenario& sc, const RunResult& r);

}  // namespace runner
