// A small stand-in for RykXyLdr, for testing the scenario runner without the
// real program. It has the outer behaviour the runner relies on: exit code 0
// when "RykXyLdrAppMutex" exists, 1 without the driver, 2 when the first
// REQ_GET_TOUCHSCREEN is refused. Then it gives touchscreen 0 the primary
// monitor's rectangle (touchscreen 1 gets none), reads touchscreen 0's
// packets on a worker thread (SetCursorPos; a press, or a release and a
// nudge), records every "RykPlexor4683" it receives as a trace event
// `fake_command` (wparam, lparam), and ends with exit code 0 when its window
// "RykXyLdrAppClass" is closed.
#pragma once

namespace fake {

int Program();

}  // namespace fake
