#!/usr/bin/env python3
"""The Wine section of scripts/bench: the real RykXyLdr.exe under Wine, with
the test driver orvane.vxd, against the bare program ryk-wine-bare.exe
(bench/wine/bare.cpp), in the same run, under the same Wine.

    wine_bench.py [--quick] [--out DIR] [--build BUILD]

Each run starts a fresh process through ryk-wine-bench.exe (bench/wine/
harness.cpp), Windows 98, in a Wine prefix of its own
(~/.cache/rykxyldr/wine-bench-prefix), on Wine's null display driver (one
1024x768 monitor) but for the start-up. The
two sides take turns, the order rotating. Measured:

- latency: the test driver's feeder queues move packets to every touchscreen
  at 200 Hz, one on its way per touchscreen, and stamps its SetEvent; a
  low-level mouse hook in the same process stamps the input each causes;
  at 1 and 33 touchscreens, the first 0.5 s of each turn left out;
- start-up: from CreateProcessA to the window existing, 33 touchscreens and
  8 monitors (Wine's X11 driver on an X server of the run's own, laid out by
  scripts/wine-xorg, in a second prefix);
- idle: context switches and CPU time of all threads of the Wine process
  over 10 s with 33 touchscreens, read by the host from /proc;
- memory and handles per worker: resident memory, threads (from /proc) and
  handles (GetProcessHandleCount, inside the process), 33 against 1
  touchscreen, divided by 32.

Prints the section's table and writes DIR/wine.json. Exit status 0, or 77
when Wine cannot run here (the section is then skipped with the reason).
"""

import argparse
import importlib.machinery
import importlib.util
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SKIP = 77
PROGRAM = {"program": ("RykXyLdr.exe", "RykXyLdrAppClass"), "bare": ("ryk-wine-bare.exe", "RykXyBareClass")}
SERVICE_KEY = "SYSTEM\\CurrentControlSet\\Services\\Class\\RykTouchscreen"


def load_wine_run():
    path = os.path.join(REPO, "scripts", "wine-run")
    loader = importlib.machinery.SourceFileLoader("wine_run", path)
    spec = importlib.util.spec_from_loader("wine_run", loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


wine_run = load_wine_run()


def scenario(n):
    """The machine of a run with n touchscreens, each on monitor 0 with its
    registry entry, and every driver setting in place (no box at start)."""
    reg = {SERVICE_KEY: {"MouseMode": 6, "BeepFlag": 1, "BeepTime": 20, "BeepFreq": 4000, "DefaultDragDelay": 200,
                         "MinDragDelay": 0, "MaxDragDelay": 1000, "NumberOfTouchscreens": n, "NumXScreens": 1,
                         "NumYScreens": 1, "CplLanguage": {"binary": [9, 0]}}}
    screens = []
    for i in range(n):
        serial = "TS-%04d" % (i + 1)
        path = "Enum\\Ryk\\" + serial
        reg[path] = {"SerialNumber": serial, "MonitorNumber": 0}
        screens.append({"serial": serial, "monitor": 0, "registry_path": path})
    return {"registry": reg, "touchscreen": screens}


class Machine:
    """The Wine prefix with the programs, the test driver and the registry of
    a number of touchscreens."""

    def __init__(self, build, work, monitors=None):
        home = os.environ.get("HOME") or os.path.expanduser("~")
        self.prefix = os.environ.get("RYK_WINE_BENCH_PREFIX",
                                     os.path.join(home, ".cache", "rykxyldr", "wine-bench-prefix"))
        # Several monitors: Wine's X11 driver on an X server of the run's own
        # (scripts/wine-xorg), in a prefix of their own, as wine-run does.
        self.monitors, self.server, self.display = monitors, None, {}
        if monitors:
            self.prefix += "-x11"
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        self.build, self.work = build, work
        self.wine_exec = os.path.join(REPO, "scripts", "wine-exec")
        self.pipe = "\\\\.\\pipe\\RykOrvaneBench%d" % os.getpid()
        self.log = os.path.join(work, "driver.jsonl")
        self.touchscreens = None

    def env(self):
        return wine_run.wine_env(self.prefix, dict(self.display, **{
            "RYK_WINE_VERSION": "win98",
            "RYK_ORVANE_CONFIG": wine_run.windows_path(os.path.join(self.work, "driver.txt")),
            "RYK_ORVANE_LOG": wine_run.windows_path(self.log),
            "RYK_ORVANE_PIPE": self.pipe,
        }))

    def start(self):
        if self.monitors:
            try:
                self.server = wine_run.wine_xorg.Server(self.monitors, os.path.join(self.work, "xorg"))
            except wine_run.wine_xorg.XorgError as e:
                return "no X server for %d monitors: %s" % (len(self.monitors), e)
            self.display = {"RYK_WINE_DISPLAY": self.server.display}
        r = subprocess.run([self.wine_exec, "--start"], env=self.env(), stdin=subprocess.DEVNULL)
        if r.returncode == SKIP:
            return "Wine cannot run on this machine (scripts/wine-exec)"
        if r.returncode != 0:
            return "Wine cannot be set up in %s" % self.prefix
        self.folder = os.path.join(self.prefix, "drive_c", "rykxyldr")
        os.makedirs(self.folder, exist_ok=True)
        for name in ("RykXyLdr.exe", "wine/ryk-wine-bare.exe", "wine/ryk-wine-bench.exe"):
            shutil.copy(os.path.join(self.build, name), os.path.join(self.folder, os.path.basename(name)))
        for sysdir in ("system32", "system"):
            dst = os.path.join(self.prefix, "drive_c", "windows", sysdir, "orvane.vxd")
            if os.path.exists(dst):
                os.remove(dst)
        shutil.copy(os.path.join(self.build, "wine", "orvane.vxd"),
                    os.path.join(self.prefix, "drive_c", "windows", "system32", "orvane.vxd"))
        return None

    def use(self, n):
        """The registry and the driver's touchscreens for n touchscreens."""
        if self.touchscreens == n:
            return
        sc = scenario(n)
        state = os.path.join(self.prefix, "ryk-wine-bench-keys.json")
        old = json.load(open(state)) if os.path.exists(state) else []
        text, keys = wine_run.registry_file(sc, old, "win98")
        text += "".join("[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s]\r\n\"Version\"=\"win98\"\r\n\r\n" % p
                        for p in ("ryk-wine-bare.exe", "ryk-wine-bench.exe"))
        reg = os.path.join(self.work, "setup.reg")
        with open(reg, "w", encoding="latin-1", newline="") as f:
            f.write(text)
        r = subprocess.run([self.wine_exec, os.path.join(self.prefix, "drive_c", "windows", "regedit.exe"), "/S",
                            wine_run.windows_path(reg)], env=self.env(), stdin=subprocess.DEVNULL,
                           capture_output=True, text=True)
        if r.returncode != 0:
            raise RuntimeError("regedit failed: %s" % r.stderr.strip())
        with open(state, "w") as f:
            json.dump(keys, f)
        with open(os.path.join(self.work, "driver.txt"), "w") as f:
            f.write("".join("add\t" + "\t".join(wine_run.touchscreen_fields(t)) + "\n" for t in sc["touchscreen"]))
        self.touchscreens = n

    def run(self, side, args, during=None):
        """One run of `side` through the harness; `during(pid)` runs while an
        idle run waits. Returns the harness's output as a dict."""
        exe, cls = PROGRAM[side]
        cmd = [self.wine_exec, os.path.join(self.folder, "ryk-wine-bench.exe"), "C:\\rykxyldr\\" + exe, cls,
               self.pipe] + args
        proc = subprocess.Popen(cmd, env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True)
        extra = {}
        if during:
            marks = args[1]
            ready = os.path.join(wine_run_unix(marks), "ready")
            deadline = time.time() + 120
            while not os.path.exists(ready) and proc.poll() is None and time.time() < deadline:
                time.sleep(0.02)
            if os.path.exists(ready):
                extra = during(find_pid(exe, self.prefix))
            open(os.path.join(wine_run_unix(marks), "done"), "w").close()
        out, _ = proc.communicate(timeout=600)
        result = {"output": out, "status": proc.returncode}
        result.update(extra)
        for line in out.splitlines():
            key, _, value = line.partition(" ")
            if key in ("startup_us", "pid", "exit"):
                result[key] = int(value)
            elif key in ("result", "start", "stats", "error"):
                result.setdefault(key, []).append(value)
        if proc.returncode != 0 or result.get("exit") != 0:
            raise RuntimeError("%s %s failed:\n%s" % (exe, " ".join(args), out))
        return result

    def stop(self):
        # Wine's X11 driver holds the X server: Wine ends first, then the server.
        subprocess.run([os.path.join(REPO, "scripts", "wine-stop")], env=self.env(), stdin=subprocess.DEVNULL)
        if self.server:
            self.server.stop()
            self.server = None

    def protocol_errors(self):
        if not os.path.exists(self.log):
            return 0
        with open(self.log, encoding="utf-8", errors="replace") as f:
            return sum(1 for line in f if '"ev":"protocol_error"' in line.replace(" ", ""))


def wine_run_unix(windows_path):
    """The host path of a Z: path made by windows_path."""
    assert windows_path.upper().startswith("Z:")
    return windows_path[2:].replace("\\", "/")


def find_pid(exe, prefix):
    """The host process id of the Wine process of `exe` in `prefix`."""
    for _ in range(200):
        for d in os.listdir("/proc"):
            if not d.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % d, "rb") as f:
                    argv0 = f.read().decode("latin-1").split("\0")[0]
                # Wine shows a process's Windows path as its argv[0].
                if not argv0.replace("/", "\\").lower().endswith("\\" + exe.lower()):
                    continue
                with open("/proc/%s/environ" % d, "rb") as f:
                    environ = f.read().decode("latin-1").split("\0")
                if "WINEPREFIX=" + prefix in environ:
                    return int(d)
            except OSError:
                continue
        time.sleep(0.05)
    raise RuntimeError("no host process of %s found" % exe)


def counters(pid):
    """Context switches and CPU ticks summed over the process's threads, its
    resident memory (KiB) and its number of threads."""
    switches = ticks = 0
    tasks = os.listdir("/proc/%d/task" % pid)
    for t in tasks:
        try:
            with open("/proc/%d/task/%s/status" % (pid, t)) as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        switches += int(line.split()[1])
            with open("/proc/%d/task/%s/stat" % (pid, t)) as f:
                fields = f.read().rsplit(")", 1)[1].split()
                ticks += int(fields[11]) + int(fields[12])
        except OSError:
            continue
    rss = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
    return {"switches": switches, "ticks": ticks, "rss_kib": rss, "threads": len(tasks)}


def percentile(values, p):
    s = sorted(values)
    if not s:
        return float("nan")
    k = max(0, min(len(s) - 1, int(round(p / 100.0 * len(s) + 0.5)) - 1))
    return s[k]


def measure(m, quick, log):
    turns = 1 if quick else 3
    seconds = 1.0 if quick else 4.0
    idle_s = 2.0 if quick else 10.0
    starts = 3 if quick else 11
    sides = ["program", "bare"]
    res = {"latency": {}, "startup_us": {s: [] for s in sides}, "idle": {}, "memory": {}}
    lat_file = os.path.join(m.work, "latency.txt")

    for n in (1, 33):
        m.use(n)
        got = {s: {"lat": [], "sent": 0, "matched": 0, "unmatched": 0, "lost": 0} for s in sides}
        for turn in range(turns):
            for side in (sides if turn % 2 == 0 else sides[::-1]):
                r = m.run(side, ["latency", "200", str(seconds), "500", wine_run.windows_path(lat_file)])
                fields = dict(kv.split("=") for kv in r["result"][0].split()[1:] if "=" in kv)
                for k in ("sent", "matched", "unmatched", "lost"):
                    got[side][k] += int(fields[k])
                with open(lat_file) as f:
                    got[side]["lat"] += [int(x) for x in f.read().split()]
                log("latency @%d, %s, turn %d: %s" % (n, side, turn + 1, r["result"][0]))
        res["latency"][n] = {s: {"p50": percentile(g["lat"], 50), "p99": percentile(g["lat"], 99),
                                 "max": max(g["lat"]) if g["lat"] else float("nan"), "samples": len(g["lat"]),
                                 "sent": g["sent"], "matched": g["matched"], "unmatched": g["unmatched"],
                                 "lost": g["lost"], "rate": g["matched"] / (turns * seconds)}
                           for s, g in got.items()}

    # Start-up with 33 touchscreens and 8 monitors (4 x 2 of 1024 x 768).
    eight = [{"left": 1024 * (i % 4), "top": 768 * (i // 4), "right": 1024 * (i % 4 + 1),
              "bottom": 768 * (i // 4 + 1)} for i in range(8)]
    x = Machine(m.build, tempfile.mkdtemp(prefix="x11-", dir=m.work), eight)
    try:
        reason = x.start()
        if reason:
            raise RuntimeError(reason)
        x.use(33)
        for i in range(starts):
            for side in (sides if i % 2 == 0 else sides[::-1]):
                res["startup_us"][side].append(x.run(side, ["startup"])["startup_us"])
        res["protocol_errors_x11"] = x.protocol_errors()
    finally:
        x.stop()
    log("start-up runs done (8 monitors, X11 driver)")

    tick = os.sysconf("SC_CLK_TCK")
    for n in (1, 33):
        m.use(n)
        for side in sides:
            marks = tempfile.mkdtemp(prefix="idle-", dir=m.work)

            def during(pid):
                time.sleep(0.5)
                a = counters(pid)
                time.sleep(idle_s)
                b = counters(pid)
                return {"before": a, "after": b}

            r = m.run(side, ["idle", wine_run.windows_path(marks)], during)
            handles = int(r["stats"][-1].split("handles=")[1]) if "handles=" in r["stats"][-1] else None
            a, b = r["before"], r["after"]
            res["memory"].setdefault(side, {})[n] = {"rss_kib": b["rss_kib"], "threads": b["threads"],
                                                     "handles": handles}
            if n == 33:
                res["idle"][side] = {"seconds": idle_s, "switches": b["switches"] - a["switches"],
                                     "cpu_ms": (b["ticks"] - a["ticks"]) * 1000.0 / tick}
            log("idle @%d, %s: %s" % (n, side, res["memory"][side][n]))
    res["protocol_errors"] = m.protocol_errors() + res.get("protocol_errors_x11", 0)
    return res


def rows(res):
    """The section's table: (figure, program, bare, goal, met)."""
    out = []

    def ratio_row(name, p, b, goal=None, limit=None, unit=""):
        r = p / b if b else float("nan")
        met = "" if limit is None else ("yes" if r <= limit else "NO")
        out.append({"figure": name + (" (%s)" % unit if unit else ""), "program": p, "bare": b, "ratio": r,
                    "goal": goal or "", "met": met})

    for n in (1, 33):
        lp, lb = res["latency"][n]["program"], res["latency"][n]["bare"]
        for k in ("p50", "p99", "max"):
            ratio_row("Wine latency %s @%d touchscreens, 200 Hz" % (k, n), lp[k], lb[k],
                      "<= 1.2 x bare" if (k, n) == ("p99", 33) else None, 1.2 if (k, n) == ("p99", 33) else None,
                      "us")
        out.append({"figure": "Wine packets delivered per second @%d" % n, "program": lp["rate"], "bare": lb["rate"],
                    "ratio": lp["rate"] / lb["rate"] if lb["rate"] else None, "goal": "", "met": ""})
        for k in ("lost", "unmatched"):
            out.append({"figure": "Wine packets %s @%d (of %d / %d sent)" % (k, n, lp["sent"], lb["sent"]),
                        "program": lp[k], "bare": lb[k], "ratio": None, "goal": "", "met": ""})
    sp, sb = statistics.median(res["startup_us"]["program"]), statistics.median(res["startup_us"]["bare"])
    ratio_row("Wine start-up to the window, 33 touchscreens, 8 monitors (median)", sp / 1000.0, sb / 1000.0, "<= 1.2 x bare",
              1.2, "ms")
    ip, ib = res["idle"]["program"], res["idle"]["bare"]
    out.append({"figure": "Wine idle context switches, 33 touchscreens, %g s" % ip["seconds"],
                "program": ip["switches"], "bare": ib["switches"], "ratio": None, "goal": "0",
                "met": "yes" if ip["switches"] == 0 else "NO"})
    out.append({"figure": "Wine idle CPU time (ms)", "program": ip["cpu_ms"], "bare": ib["cpu_ms"], "ratio": None,
                "goal": "", "met": ""})
    mp, mb = res["memory"]["program"], res["memory"]["bare"]
    threads_p = (mp[33]["threads"] - mp[1]["threads"]) / 32.0
    threads_b = (mb[33]["threads"] - mb[1]["threads"]) / 32.0
    if threads_p and threads_b:
        ratio_row("Wine resident memory per thread of a worker", (mp[33]["rss_kib"] - mp[1]["rss_kib"]) / 32.0 / threads_p,
                  (mb[33]["rss_kib"] - mb[1]["rss_kib"]) / 32.0 / threads_b, unit="KiB")
    for key, name in (("rss_kib", "resident memory (KiB)"), ("threads", "threads"), ("handles", "handles")):
        if mp[33][key] is None or mp[1][key] is None or mb[33][key] is None or mb[1][key] is None:
            continue
        ratio_row("Wine %s per worker" % name, (mp[33][key] - mp[1][key]) / 32.0, (mb[33][key] - mb[1][key]) / 32.0)
    out.append({"figure": "Wine protocol errors of the test driver", "program": res["protocol_errors"], "bare": None,
                "ratio": None, "goal": "0", "met": "yes" if res["protocol_errors"] == 0 else "NO"})
    return out


def fmt(v):
    if v is None:
        return "-"
    if isinstance(v, float):
        if v != v:
            return "-"
        return "%.2f" % v if abs(v) < 10 else "%.1f" % v if abs(v) < 1000 else "%.0f" % v
    return str(v)


def main(argv):
    p = argparse.ArgumentParser(prog="wine_bench.py")
    p.add_argument("--quick", action="store_true")
    p.add_argument("--out", default=os.path.join(REPO, "build", "bench", "results"))
    p.add_argument("--build", default=os.environ.get("RYK_WIN32_BUILD", os.path.join(REPO, "build", "win32")))
    a = p.parse_args(argv)
    for name in ("RykXyLdr.exe", "wine/ryk-wine-bare.exe", "wine/ryk-wine-bench.exe", "wine/orvane.vxd"):
        if not os.path.isfile(os.path.join(a.build, name)):
            print("wine bench: %s is missing; build the win32 preset first" % name, file=sys.stderr)
            return 1
    os.makedirs(a.out, exist_ok=True)
    work = tempfile.mkdtemp(prefix="ryk-wine-bench-")
    m = Machine(a.build, work)
    try:
        reason = m.start()
        if reason:
            print("=== bench: Wine section skipped: %s ===" % reason)
            return SKIP
        # The preloader stand-in is set only where Wine runs through QEMU.
        emulated = subprocess.run([os.path.join(REPO, "scripts", "wine-host", "prepare"), "--env"],
                                  stdin=subprocess.DEVNULL, capture_output=True, text=True).stdout.strip() != ""
        started = time.time()
        res = measure(m, a.quick, lambda s: print("  " + s, flush=True))
        res["seconds"] = time.time() - started
    finally:
        m.stop()
        shutil.rmtree(work, ignore_errors=True)
    table = rows(res)
    how = "Wine %s, %s" % (subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip(),
                          "32-bit programs through QEMU user-mode emulation" if emulated
                          else "32-bit programs run natively")
    print("RykXyLdr.exe under Wine (%s) against the bare program; times are Wine's on Linux, not Windows'" % how)
    print("%-62s %10s %10s %6s  %-16s %s" % ("figure", "program", "bare", "ratio", "goal", "met"))
    for r in table:
        print("%-62s %10s %10s %6s  %-16s %s" % (r["figure"], fmt(r["program"]), fmt(r["bare"]), fmt(r["ratio"]),
                                                  r["goal"], r["met"]))
    with open(os.path.join(a.out, "wine.json"), "w") as f:
        json.dump({"machine": platform.node(), "wine": how, "quick": a.quick, "results": res, "rows": table}, f,
                  indent=1, default=str)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
