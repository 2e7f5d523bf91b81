#!/usr/bin/env python3
"""Does tests/wine/fidelity tell a real difference between the simulated run
and the Wine run from the ways the two may rightly differ?

    tests/wine/fidelity_test.py

A small pair of traces that agree is changed one way at a time: each fault
must be reported, each harmless difference (threads, times, handle values,
the system directory, how the pointer's position is seen) must not.
"""

import copy
import importlib.machinery
import importlib.util
import os
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
_loader = importlib.machinery.SourceFileLoader("fidelity", os.path.join(HERE, "fidelity"))
_module_def = importlib.util.spec_from_loader("fidelity", _loader)
fidelity = importlib.util.module_from_spec(_module_def)
_loader.exec_module(fidelity)


def ioctl(code, thread, ok=True, **fields):
    return dict(ev="ioctl", t_us=0, code=code, thread=thread, ok=ok, wTouchscreen=0, **fields)


def sim_trace():
    return [
        ioctl("REQ_GET_TOUCHSCREEN", 1, iMonitor=65535),
        ioctl("REQ_GET_TOUCHSCREEN", 1, ok=False, iMonitor=65535),
        ioctl("REQ_SET_XY_EVENT", 1, hEventR0=3248488496),
        ioctl("REQ_GET_QUICKTOUCH", 2),
        {"ev": "regwrite", "t_us": 0, "key": "Enum\\Ryk\\TS-0001", "name": "MonitorNumber", "type": "REG_DWORD",
         "value": 0},
        {"ev": "step", "t_us": 0, "n": 1, "action": "tap"},
        ioctl("REQ_GET_TOUCH", 3, iX=900, iY=100, dwFlags=5),
        {"ev": "cursor", "t_us": 0, "x": 900, "y": 100},
        {"ev": "mouse", "t_us": 0, "flags": 0x2, "dx": 0, "dy": 0},
        ioctl("REQ_GET_TOUCH", 3, iX=1023, iY=767, dwFlags=0x105),
        {"ev": "cursor", "t_us": 0, "x": 1023, "y": 767},
        {"ev": "mouse", "t_us": 0, "flags": 0x5, "dx": 1, "dy": 1},
        {"ev": "step", "t_us": 0, "n": 2, "action": "command"},
        {"ev": "broadcast", "t_us": 0, "message": "Quavel4683", "wparam": 2, "lparam": 0},
        {"ev": "launch", "t_us": 0, "command_line": "C:\\WINDOWS\\SYSTEM\\Quavel -t2", "ok": True},
        {"ev": "msgbox", "t_us": 0, "text": "Reg read error", "caption": "", "style": 0},
        tool("Windows: version 4.10 build 1998, platform 1\r\n{\"build\":1998}\r\n"),
        {"ev": "end", "t_us": 0},
        ioctl("REQ_CLEAR_EVENT", 1, hEventR0=0),
        {"ev": "device_close", "t_us": 0},
        {"ev": "exit", "t_us": 0, "code": 0},
    ]


def tool(output):
    """A RykXyProbe run, which prints the Windows build: Wine's Windows 98 is
    build 2222, the simulated one 1998."""
    return {"ev": "tool", "t_us": 0, "name": "RykXyProbe", "command_line": "RykXyProbe.exe", "exit_code": 0,
            "output": output, "requests": ["REQ_GET_TOUCHSCREEN"], "registry_writes": 0}


def wine_trace():
    """The same run as Wine shows it: other threads, handles and times, the
    quick-touch refresher ahead of the main thread, the mouse seen by the
    hook (the move and the release of one mouse_event call as two inputs,
    the move past the screen's edge unclipped), Wine's system directory."""
    return [
        ioctl("REQ_GET_QUICKTOUCH", 352),
        ioctl("REQ_GET_TOUCHSCREEN", 340, iMonitor=65535),
        ioctl("REQ_GET_TOUCHSCREEN", 340, ok=False, iMonitor=65535),
        ioctl("REQ_SET_XY_EVENT", 340, hEventR0=192),
        {"ev": "regwrite", "t_us": 9, "key": "Enum\\Ryk\\TS-0001", "name": "MonitorNumber", "type": "REG_DWORD",
         "value": 0},
        {"ev": "step", "t_us": 10, "n": 1, "action": "tap"},
        ioctl("REQ_GET_TOUCH", 360, iX=900, iY=100, dwFlags=5),
        {"ev": "mouse", "t_us": 11, "flags": 0x2, "x": 900, "y": 100, "injected": True},
        ioctl("REQ_GET_TOUCH", 360, iX=1023, iY=767, dwFlags=0x105),
        {"ev": "mouse", "t_us": 12, "flags": 0x1, "x": 1024, "y": 768, "injected": True},
        {"ev": "mouse", "t_us": 13, "flags": 0x4, "x": 1024, "y": 768, "injected": True},
        {"ev": "step", "t_us": 20, "n": 2, "action": "command"},
        {"ev": "broadcast", "t_us": 21, "message": "Quavel4683", "wparam": 2, "lparam": 0},
        {"ev": "launch", "t_us": 22, "command_line": "C:\\windows\\system32\\Quavel -t2", "ok": True},
        {"ev": "msgbox", "t_us": 23, "text": "Reg read error", "caption": "", "style": 0},
        tool("Windows: version 4.10 build 2222, platform 1\r\n{\"build\":2222}\r\n"),
        {"ev": "end", "t_us": 30},
        ioctl("REQ_CLEAR_EVENT", 340, hEventR0=0),
        {"ev": "device_close", "t_us": 31},
        {"ev": "exit", "t_us": 40, "code": 0},
    ]


def where(trace, **match):
    return next(i for i, e in enumerate(trace) if all(e.get(k) == v for k, v in match.items()))


class Fidelity(unittest.TestCase):
    def differences(self, wine):
        return fidelity.compare(sim_trace(), wine)

    def test_the_same_run_agrees(self):
        self.assertEqual(self.differences(wine_trace()), [])

    def test_faults_are_reported(self):
        def drop(**m):
            def f(t):
                del t[where(t, **m)]
            return f

        def set_field(field, value, **m):
            def f(t):
                t[where(t, **m)][field] = value
            return f

        def swap_within_thread(t):
            a, b = where(t, code="REQ_GET_TOUCHSCREEN", ok=True), where(t, code="REQ_GET_TOUCHSCREEN", ok=False)
            t[a], t[b] = t[b], t[a]

        def move_to_next_step(t):
            i = where(t, ev="broadcast")
            e = t.pop(i)
            t.insert(where(t, ev="end") + 1, e)

        def add(event, after):
            def f(t):
                t.insert(where(t, **after) + 1, event)
            return f

        # (what goes wrong under Wine, how the Wine trace shows it, the kind of difference reported)
        cases = [
            ("a request is missing", drop(code="REQ_SET_XY_EVENT"), "driver requests"),
            ("a request has another field value", set_field("iX", 901, code="REQ_GET_TOUCH", dwFlags=5),
             "driver requests"),
            ("a request fails that succeeded", set_field("ok", False, code="REQ_SET_XY_EVENT"), "driver requests"),
            ("a handle of 0 where one was handed over", set_field("hEventR0", 0, code="REQ_SET_XY_EVENT"),
             "driver requests"),
            ("one thread's requests in another order", swap_within_thread, "driver requests"),
            ("a request moves to another thread", set_field("thread", 352, code="REQ_SET_XY_EVENT"),
             "driver requests"),
            ("a click lands elsewhere", set_field("x", 901, ev="mouse", flags=0x2), "mouse input"),
            ("a left click becomes a right click", set_field("flags", 0x8, ev="mouse", flags=0x2), "mouse input"),
            ("the broadcast comes a step later", move_to_next_step, "broadcasts"),
            ("another broadcast parameter", set_field("wparam", 3, ev="broadcast"), "broadcasts"),
            ("another message box style", set_field("style", 0x30, ev="msgbox"), "message boxes"),
            ("another registry value", set_field("value", 1, ev="regwrite"), "registry writes"),
            ("another command line", set_field("command_line", "C:\\windows\\system32\\Quavel -t1", ev="launch"),
             "launches"),
            ("a launch that failed", set_field("ok", False, ev="launch"), "launches"),
            ("a protocol error", add({"ev": "protocol_error", "t_us": 5, "detail": "REQ_GET_TOUCH: x", "thread": 1},
                                     {"ev": "step", "n": 1}), "protocol errors"),
            ("the device is not closed", drop(ev="device_close"), "device closings"),
            ("another exit code", set_field("code", 2, ev="exit"), "exit code"),
            ("a step is missing", drop(ev="step", n=2), "different steps"),
            ("a tool ends with another exit code", set_field("exit_code", 1, ev="tool"), "tool runs"),
            ("a tool writes something else", set_field("output", "RykXyLdr is not running\r\n", ev="tool"),
             "tool runs"),
            ("a tool sends another request", set_field("requests", ["REQ_GET_ALIGNMENT"], ev="tool"), "tool runs"),
        ]
        for name, change, reported in cases:
            with self.subTest(name):
                wine = wine_trace()
                change(wine)
                diffs = self.differences(wine)
                self.assertTrue(diffs, "not reported")
                self.assertIn(reported, "\n".join(diffs))

    def test_real_input_is_not_the_programs(self):
        wine = wine_trace()
        wine.insert(where(wine, ev="step", n=2), {"ev": "mouse", "t_us": 14, "flags": 0x1, "x": 5, "y": 5,
                                                   "injected": False})
        self.assertEqual(self.differences(wine), [])


# Three monitors in an L: the primary, one left of it, one above it.
L_SHAPE = ((0, 0, 1024, 768), (-1280, 0, 0, 1024), (0, -600, 800, 0))


def l_shape_sim():
    """Taps in corners of the monitors left of and above the primary one,
    each followed by the program's nudge of (1, 1); the one off the top
    right corner of the upper monitor would leave every monitor."""
    out = [{"ev": "step", "t_us": 0, "n": 1, "action": "tap"}]
    for x, y in ((-1280, 1023), (-1, 0), (799, -600), (0, -1)):
        out += [{"ev": "cursor", "t_us": 0, "x": x, "y": y},
                {"ev": "mouse", "t_us": 0, "flags": 0x2, "dx": 0, "dy": 0},
                {"ev": "mouse", "t_us": 0, "flags": 0x4, "dx": 0, "dy": 0},
                {"ev": "mouse", "t_us": 0, "flags": 0x1, "dx": 1, "dy": 1}]
    return out + [{"ev": "exit", "t_us": 0, "code": 0}]


def l_shape_wine():
    """The same as Wine's hook sees it: the nudge off the upper monitor's
    corner unclipped, in the corner of the bounding box that no monitor
    covers."""
    out = [{"ev": "step", "t_us": 0, "n": 1, "action": "tap"}]
    for (x, y), (nx, ny) in (((-1280, 1023), (-1279, 1024)), ((-1, 0), (0, 1)), ((799, -600), (800, -599)),
                             ((0, -1), (1, 0))):
        out += [{"ev": "mouse", "t_us": 0, "flags": 0x2, "x": x, "y": y, "injected": True},
                {"ev": "mouse", "t_us": 0, "flags": 0x4, "x": x, "y": y, "injected": True},
                {"ev": "mouse", "t_us": 0, "flags": 0x1, "x": nx, "y": ny, "injected": True}]
    return out + [{"ev": "exit", "t_us": 0, "code": 0}]


class SeveralMonitors(unittest.TestCase):
    def differences(self, wine):
        return fidelity.compare(l_shape_sim(), wine, monitors=L_SHAPE)

    def test_negative_coordinates_agree(self):
        self.assertEqual(self.differences(l_shape_wine()), [])

    def test_the_pointer_is_kept_on_a_monitor(self):
        # Off the upper monitor's top right corner: the nearest pixel of a
        # monitor, not the bounding box's.
        self.assertEqual(fidelity.clip(800, -599, L_SHAPE), (799, -599))
        self.assertEqual(fidelity.clip(-5, -9, L_SHAPE), (0, -9))
        self.assertEqual(fidelity.clip(-2000, 2000, L_SHAPE), (-1280, 1023))

    def test_clicks_on_the_wrong_monitor_are_reported(self):
        def at(x, y, flags=0x2, nth=0):
            def f(t):
                hits = [e for e in t if e["ev"] == "mouse" and e["flags"] == flags]
                hits[nth]["x"], hits[nth]["y"] = x, y
            return f

        # (what goes wrong under Wine, how the Wine trace shows it)
        cases = [
            ("the left monitor's corner taken as the primary's: no negative x", at(0, 1023)),
            ("the upper monitor's corner taken as the primary's: no negative y", at(799, 0, nth=2)),
            ("the left monitor placed as if right of the primary", at(1024 + 1279, 1023)),
            ("a click one pixel into the primary from the left monitor's edge", at(0, 0, nth=1)),
            ("the release on another monitor than the press", at(-1, -1, flags=0x4, nth=3)),
        ]
        for name, change in cases:
            with self.subTest(name):
                wine = l_shape_wine()
                change(wine)
                diffs = self.differences(wine)
                self.assertTrue(diffs, "not reported")
                self.assertIn("mouse input", "\n".join(diffs))


if __name__ == "__main__":
    unittest.main()
