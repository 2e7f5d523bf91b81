#!/usr/bin/env python3
"""Does scripts/wine-run pick the right desktop for a scenario, and does
scripts/wine-xorg lay the monitors out so that Wine gives back the
scenario's coordinates?

    tests/wine/wine_run_test.py

Needs neither Wine nor an X server: what Xorg and Wine make of the layout is
checked by wine_xorg_layout and the wine_fidelity_* tests.
"""

import importlib.machinery
import json
import importlib.util
import os
import unittest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def load(name, path):
    loader = importlib.machinery.SourceFileLoader(name, path)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(name, loader))
    loader.exec_module(module)
    return module


wine_run = load("wine_run", os.path.join(REPO, "scripts", "wine-run"))
wine_xorg = wine_run.wine_xorg


def mon(left, top, right, bottom, **extra):
    return dict(left=left, top=top, right=right, bottom=bottom, **extra)


PRIMARY = mon(0, 0, 1024, 768)
L_SHAPE = [PRIMARY, mon(-1280, 0, 0, 1024), mon(0, -600, 800, 0)]


def scenario(monitors=None, windows="98", steps=()):
    machine = {"windows": windows}
    if monitors is not None:
        machine["monitors"] = monitors
    return {"machine": machine, "step": list(steps)}


def held(hold_ms, wait_ms):
    """A press, a wait and a release played without settling."""
    touch = {"screen": 0, "x": 200, "y": 300, "kind": 5}
    sc = scenario(steps=[{"touch": touch, "settle": False}, {"wait_ms": wait_ms, "settle": False},
                         {"touch": dict(touch, release=True)}])
    sc["registry"] = {"SOFTWARE\\RykXyLdr": {"HoldTimeMs": hold_ms}}
    return sc


class Desktop(unittest.TestCase):
    def test_which_driver_and_what_is_skipped(self):
        xorg_missing = wine_xorg.missing()
        # (case, scenario, runs on an X server, skipped with a reason containing this or None)
        cases = [
            ("no monitors given: the null driver's screen", scenario(), False, None),
            ("one 1024x768 monitor", scenario([PRIMARY]), False, None),
            ("one monitor of another size", scenario([mon(0, 0, 800, 600)]), True, None),
            ("two side by side", scenario([PRIMARY, mon(1024, 0, 1824, 600)]), True, None),
            ("an L of three with negative coordinates", scenario(L_SHAPE), True, None),
            ("several monitors as Windows 95", scenario(L_SHAPE, windows="95"), True, "Windows 95 with 3"),
            ("one 1024x768 monitor as Windows 95", scenario([PRIMARY], windows="95"), False, None),
            ("the primary monitor elsewhere than (0, 0)", scenario([mon(-1024, 0, 0, 768), PRIMARY]), True,
             "primary monitor at (-1024, 0)"),
            ("a work area smaller than the monitor",
             scenario([mon(0, 0, 1024, 768, work=mon(0, 0, 1024, 740))]), False, "work area"),
            ("a display change on several monitors",
             scenario([PRIMARY, mon(1024, 0, 1824, 600)], steps=[{"display": {"monitors": [PRIMARY]}}]), True,
             "step 1 changes the display settings"),
            ("a display change on the null driver", scenario(steps=[{"display": {"monitors": [PRIMARY]}}]), False,
             "null display driver has no other"),
            ("CreateWindowExA refused on cue", dict(scenario(), machine={"refuse_create_window": True}), False,
             "CreateWindowExA refused"),
            ("a release 100 ms after a press, unsettled, with a 500 ms hold", held(500, 100), False, None),
            ("a release 499 ms after a press, unsettled, with a 500 ms hold", held(500, 499), False,
             "1 ms from the program's 500 ms press-and-hold"),
            ("a release 620 ms after a press, unsettled, with a 500 ms hold", held(500, 620), False,
             "120 ms from the program's 500 ms"),
            ("a release 499 ms after a press, unsettled, press-and-hold off", held(0, 499), False, None),
        ]
        for name, sc, x_server, reason in cases:
            with self.subTest(name):
                self.assertEqual(wine_run.needs_x_server(sc), x_server)
                got = wine_run.skip_reason(sc)
                if reason is None and x_server and xorg_missing:
                    self.assertIn(xorg_missing, got or "")
                elif reason is None:
                    self.assertIsNone(got)
                else:
                    self.assertIn(reason, got or "")

    def test_the_program_a_launch_started_is_named_as_createprocess_finds_it(self):
        # (launch record, program name the trace gives its termination)
        cases = [
            ({"command_line": "C:\\windows\\system32\\Quavel -t2"}, "C:\\windows\\system32\\Quavel.exe"),
            ({"command_line": "C:\\windows\\system32\\Quavel.exe -t2"}, "C:\\windows\\system32\\Quavel.exe"),
            ({"command_line": '"C:\\Program Files\\Q\\Quavel" -t2'}, "C:\\Program Files\\Q\\Quavel.exe"),
            ({"command_line": "Quavel"}, "Quavel.exe"),
            ({"application": "C:\\x\\Quavel.exe", "command_line": "Quavel -t2"}, "C:\\x\\Quavel.exe"),
        ]
        for launch, name in cases:
            with self.subTest(launch["command_line"]):
                self.assertEqual(wine_run.program_of(launch), name)

    def test_a_touch_at_the_held_point_right_after_its_right_click_is_skipped(self):
        press = {"touch": {"screen": 0, "x": 200, "y": 300, "kind": 5}}
        unsettled = dict(press, settle=False)
        moved = {"touch": {"screen": 0, "x": 260, "y": 300, "kind": 5}}
        released = {"touch": dict(press["touch"], release=True)}
        # (steps, HoldTimeMs, skipped)
        cases = [
            ([unsettled, {"wait_ms": 100, "settle": False}, press, press], 500, True),
            ([unsettled, {"wait_ms": 100, "settle": False}, press, press], None, False),
            ([unsettled, {"wait_ms": 100, "settle": False}, press, moved], 500, False),
            ([unsettled, {"wait_ms": 100, "settle": False}, released, press], 500, False),
            # settled: the press becomes a right click before the next one
            ([press, press, press], 500, True),
        ]
        for steps, hold, skipped in cases:
            with self.subTest(steps=steps, hold=hold):
                sc = {"machine": {}, "step": steps,
                      "registry": {"SOFTWARE\\RykXyLdr": {"HoldTimeMs": hold}} if hold else {}}
                self.assertEqual(wine_run.report_after_right_click(sc) is not None, skipped)

    def test_a_tool_step_gets_the_command_line_rykxy_sim_gives_it(self):
        # (arguments, command line)
        cases = [
            ([], "RykXyCtl.exe"),
            (["assign", "1", "0"], "RykXyCtl.exe assign 1 0"),
            (["a b", ""], 'RykXyCtl.exe "a b" ""'),
            (['say "hi"'], 'RykXyCtl.exe "say \\"hi\\""'),
            (["C:\\x y\\"], 'RykXyCtl.exe "C:\\x y\\\\"'),
        ]
        for args, command_line in cases:
            with self.subTest(args=args):
                line, action, _ = wine_run.step_plan(2, {"tool": {"name": "RykXyCtl", "args": args}})
                self.assertEqual((action, line), ("tool", ["step", "2", "tool", "RykXyCtl", command_line]))

    def test_a_tool_run_is_completed_and_checked_as_rykxy_sim_does(self):
        def run(expect, code=0, output="RykXyLdr runs\r\n", tool_requests=("REQ_GET_TOUCHSCREEN",), writes=0):
            trace = [{"ev": "ioctl", "code": "REQ_GET_TOUCH", "pid": 8}, {"ev": "step", "n": 1}]
            trace += [{"ev": "ioctl", "code": r, "pid": 9} for r in tool_requests]
            trace += [{"ev": "ioctl", "code": "REQ_CLEAR_EVENT", "pid": 8}]
            trace += [{"ev": "regwrite"}] * writes
            trace += [{"ev": "tool", "name": "RykXyProbe", "command_line": "RykXyProbe.exe", "pid": 9,
                       "exit_code": code, "output": output}]
            wine_run.tool_events(trace)
            self.assertNotIn("pid", json.dumps(trace))
            return trace[-1], wine_run.tool_failures(trace, [{"args": dict(expect, name="RykXyProbe")}])

        tool, failed = run({"expect_exit": 0, "expect_output": ["runs"], "read_only": True})
        self.assertEqual((tool["requests"], tool["registry_writes"], failed), (["REQ_GET_TOUCHSCREEN"], 0, []))
        # (expectations, the run, the failure reported)
        cases = [
            ({"expect_exit": 0}, dict(code=2), "expected exit code 0, it ended with 2"),
            ({}, dict(code=None), "did not end"),
            ({"expect_output": ["stopped"]}, {}, 'its output lacks "stopped"'),
            ({"read_only": True}, dict(tool_requests=("REQ_SET_MONITOR_NUMBER",)), "expected to change nothing"),
            ({"read_only": True}, dict(writes=1), "expected to change nothing"),
        ]
        for expect, how, reported in cases:
            with self.subTest(reported, expect=expect):
                _, failed = run(expect, **how)
                self.assertEqual(len(failed), 1)
                self.assertIn("step 1 (RykXyProbe): " + reported, failed[0])

    def test_a_registry_step_becomes_one_agent_line_of_typed_values(self):
        step = {"registry": {"SOFTWARE\\RykXyLdr": {"Trace": 0, "HoldTimeMs": -1, "Name": "a b",
                                                    "Blob": {"binary": [1, 255]}}}}
        line, action, text = wine_run.step_plan(3, step)
        self.assertEqual(action, "registry")
        self.assertEqual(line, ["step", "3", "registry",
                                "SOFTWARE\\RykXyLdr", "Trace", "dword", "0",
                                "SOFTWARE\\RykXyLdr", "HoldTimeMs", "dword", str(0xFFFFFFFF),
                                "SOFTWARE\\RykXyLdr", "Name", "sz", "a b",
                                "SOFTWARE\\RykXyLdr", "Blob", "binary", "01ff"])
        for bad in ({"K": {"V": True}}, {"K": {"V": "a\tb"}}, {"K": {"V": [1]}}):
            with self.subTest(bad=bad):
                with self.assertRaises(wine_run.ScenarioError):
                    wine_run.step_plan(1, {"registry": bad})
        self.assertIsNone(wine_run.skip_reason({"machine": {}, "step": [step]}))

    def test_settling_outlasts_the_longest_press_and_hold_time(self):
        # A press that waits for its hold time shows nothing until the time
        # runs out: a shorter quiet takes the program for settled too early.
        later = scenario(steps=[{"registry": {"SOFTWARE\\RykXyLdr": {"HoldTimeMs": 2000}}}])
        cases = [
            ("no hold", scenario(), 500),
            ("hold at the start", held(500, 100), 1000),
            ("hold set by a step", later, 2500),
            ("a rejected value", dict(scenario(), registry={"SOFTWARE\\RykXyLdr": {"HoldTimeMs": "x"}}), 500),
        ]
        for name, sc, quiet in cases:
            with self.subTest(name):
                self.assertEqual(wine_run.settle_quiet_ms(sc), quiet)

    def test_a_report_after_a_right_click_is_skipped_only_where_the_touch_stayed_inside_the_radius(self):
        def touch(x, **extra):
            return {"touch": dict({"screen": 0, "x": x, "y": 300, "kind": 5}, **extra)}

        def hold_scenario(*steps):
            sc = scenario(steps=steps)
            sc["registry"] = {"SOFTWARE\\RykXyLdr": {"HoldTimeMs": 500}}
            return sc

        # (name, scenario, skipped)
        cases = [
            ("held, then a report", hold_scenario(touch(200), touch(203), touch(203, release=True)), True),
            ("held, then only the release", hold_scenario(touch(200), touch(200, release=True)), False),
            ("a drag beyond the radius", hold_scenario(dict(touch(200), settle=False), touch(220), touch(230)),
             False),
            ("not settled in between", hold_scenario(dict(touch(200), settle=False), touch(203)), False),
            ("no press-and-hold", scenario(steps=[touch(200), touch(203)]), False),
        ]
        for name, sc, skipped in cases:
            with self.subTest(name):
                self.assertEqual(wine_run.report_after_right_click(sc) is not None, skipped)

    def test_held_and_dismissed_boxes_become_agent_lines_worded_as_rykxy_sim_words_them(self):
        # (step, agent line, text)
        cases = [
            ({"hold_boxes": True}, ["hold_boxes", "1"], "message boxes stay open until dismissed"),
            ({"hold_boxes": False}, ["hold_boxes", "0"], "message boxes are answered OK at once"),
            ({"dismiss_box": True}, ["dismiss_box"], "the user answers the oldest open message box with OK"),
            ({"dismiss_box": "Reg read error"}, ["dismiss_box", "Reg read error"],
             'the user answers the open message box "Reg read error" with OK'),
        ]
        for step, line, text in cases:
            with self.subTest(step=step):
                self.assertEqual(wine_run.step_plan(2, step), (["step", "2"] + line, list(step)[0], text))
                self.assertIsNone(wine_run.skip_reason({"machine": {"hold_boxes": True}, "step": [step]}))

    def test_the_layout_keeps_the_primary_at_the_origin_wine_restores(self):
        # X has no negative coordinates: the L is shifted so that its
        # bounding box starts at (0, 0); Wine then moves the first head (the
        # primary) back to (0, 0), which must give the scenario's rectangles.
        heads = wine_xorg.layout(L_SHAPE)
        self.assertEqual(heads, [(1280, 600, 1024, 768), (0, 600, 1280, 1024), (1280, 0, 800, 600)])
        px, py = heads[0][:2]
        self.assertEqual([(x - px, y - py, x - px + w, y - py + h) for x, y, w, h in heads],
                         [tuple(m[k] for k in ("left", "top", "right", "bottom")) for m in L_SHAPE])

    def test_the_configuration_places_every_head(self):
        text = wine_xorg.config_text(L_SHAPE)
        for i, (x, y, w, h) in enumerate(wine_xorg.layout(L_SHAPE)):
            with self.subTest(head=i):
                self.assertIn('Screen %d "ryk-screen-%d" Absolute %d %d' % (i, i, x, y), text)
                self.assertIn('Modes "ryk%dx%d"' % (w, h), text)
                self.assertIn("Virtual %d %d" % (w, h), text)
        self.assertIn('Option "Xinerama" "on"', text)
        self.assertIn('Option "AutoAddDevices" "false"', text)

    def test_layouts_that_cannot_be_made(self):
        cases = [
            ("no monitor", [], "no monitor"),
            ("an empty monitor", [PRIMARY, mon(1024, 0, 1024, 768)], "monitor 1 is empty"),
            ("an inverted monitor", [mon(0, 0, -10, 768)], "monitor 0 is empty"),
            ("a monitor too large", [mon(0, 0, 10000, 768)], "larger than 8192"),
        ]
        for name, monitors, problem in cases:
            with self.subTest(name):
                self.assertIn(problem, wine_xorg.layout_problem(monitors) or "")
                with self.assertRaises(wine_xorg.XorgError):
                    wine_xorg.config_text(monitors)


if __name__ == "__main__":
    unittest.main()
