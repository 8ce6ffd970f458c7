#!/usr/bin/env python3
"""Start-up to first paint: programs started in turn, each under its own
Xvfb (xvfb-run -a), with NEBRIN_TRACE_FIRST_PAINT=1 so they print
"<mark> <ms since exec>" on stderr. The time of exec is taken right before
it (NEBRIN_TRACE_EXEC_NS, CLOCK_MONOTONIC), after the X server is up.

    startup.py --runs 10 --json out.json \
        --program nebrin=first-paint,offline-page:/path/nebrin \
        --program yardstick=first-paint:/path/firstpaint_yardstick

Each program's runs take turns with the other programs' (one warm-up run
each first, not counted), so run i of every program forms a pair taken
under the same load; a run ends once its marks are printed (or after
--timeout seconds), by SIGTERM to the program alone. Prints the median of
each mark and writes them with every run's figures to --json; with
--ratio A:MARK:B:MARK2 also the per-pair ratios of A's MARK to B's MARK2
(median, quartiles, min and max), which a load that changes during the
run disturbs far less than a ratio of two medians.
"""
import argparse
import json
import os
import re
import select
import signal
import statistics
import subprocess
import sys
import time

MARK = re.compile(r"^([A-Za-z][\w-]*) (-?[0-9.]+)$")


def exec_mode(argv):
    # Runs inside xvfb-run: note the moment, then become the program.
    os.environ["NEBRIN_TRACE_EXEC_NS"] = str(time.monotonic_ns())
    sys.stderr.write("launched-pid %d\n" % os.getpid())
    sys.stderr.flush()
    os.execv(argv[0], argv)


def under_xvfb(argv):
    """The command that runs argv under an Xvfb of its own, through
    exec_mode (it prints "launched-pid PID" first)."""
    return ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24 -nolisten tcp",
            sys.executable, os.path.abspath(__file__), "--exec"] + argv


def end_run(proc, pid, timeout):
    """Ends a run: SIGTERM to the program alone (xvfb-run then ends its
    server), SIGKILL should it outlast `timeout` seconds."""
    if pid is not None:
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    if proc is None:
        return
    try:
        proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        if pid is not None:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        proc.wait(timeout=timeout)


def one_run(path, marks, timeout, env):
    # A session of its own: the run's every process is then known by its
    # group, and the next run starts only once all of them are gone.
    proc = subprocess.Popen(under_xvfb([path]), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, env=env, start_new_session=True)
    found, pid, buf = {}, None, b""
    deadline = time.monotonic() + timeout
    fd = proc.stderr.fileno()
    try:
        while time.monotonic() < deadline and not all(m in found for m in marks):
            ready, _, _ = select.select([fd], [], [], 0.2)
            if not ready:
                if proc.poll() is not None:
                    break
                continue
            chunk = os.read(fd, 65536)
            if not chunk:
                break
            buf += chunk
            *lines, buf = buf.split(b"\n")
            for raw in lines:
                line = raw.decode("utf-8", "replace").strip()
                if line.startswith("launched-pid "):
                    pid = int(line.split()[1])
                    continue
                m = MARK.match(line)
                if m and m.group(1) not in found:
                    found[m.group(1)] = float(m.group(2))
    finally:
        end_run(proc, pid, 15)
        proc.stderr.close()
        wait_group_gone(proc.pid, 10)
    return found


def group_at_work(pgid):
    """Whether a process of group `pgid` is still there and not a zombie
    (those only wait to be reaped)."""
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % name) as f:
                stat = f.read()
        except OSError:
            continue
        fields = stat[stat.rfind(")") + 2:].split()  # state, ppid, pgrp, ...
        if len(fields) > 2 and fields[2] == str(pgid) and fields[0] not in "ZX":
            return True
    return False


def wait_group_gone(pgid, timeout):
    """Waits until no process of group `pgid` is at work any more (the
    dialer's web processes end a little after it), killing what outlasts
    `timeout` seconds: none of them may take the CPU during the next run."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if not group_at_work(pgid):
            return
        time.sleep(0.02)
    try:
        os.killpg(pgid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def measure(programs, args, env):
    """Every program's marks, run by run: {name: {mark: [ms or None]}}."""
    results = {name: {m: [] for m in marks} for name, marks, _ in programs}
    for run in range(args.runs + 1):
        for name, marks, path in programs:
            found = one_run(path, marks, args.timeout, env)
            if run == 0:
                continue  # warm-up: caches, fonts, first writes
            for m in marks:
                results[name][m].append(found.get(m))
    return results


def session_bus():
    """A session bus of the run's own, as every desktop session has one:
    (address, pid), or None without dbus-daemon. Without any bus each
    program would first have the D-Bus library start one for its X server
    (dbus-launch --autolaunch), which costs more than the rest of a small
    program's start and varies with the machine's load."""
    try:
        out = subprocess.run(["dbus-daemon", "--session", "--fork", "--nopidfile", "--print-address=1",
                              "--print-pid=1"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True, timeout=30, check=True).stdout.split()
        return out[0], int(out[1])
    except (OSError, subprocess.SubprocessError, IndexError, ValueError):
        return None


def quartiles(values):
    """Lower quartile, median, upper quartile (the medians of each half)."""
    v = sorted(values)
    half = len(v) // 2
    lower, upper = v[:half], v[len(v) - half:]
    med = statistics.median(v)
    return (statistics.median(lower) if lower else med, med, statistics.median(upper) if upper else med)


def pair_ratios(ours, yardstick):
    """Per-run ratios ours[i] / yardstick[i], skipping runs where either
    mark is missing. Summary: median, quartiles, min, max, pairs."""
    ratios = [a / b for a, b in zip(ours, yardstick) if a is not None and b is not None and b > 0]
    if not ratios:
        return None
    q1, med, q3 = quartiles(ratios)
    return {"median": med, "q1": q1, "q3": q3, "min": min(ratios), "max": max(ratios),
            "pairs": len(ratios), "ratios": ratios}


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "--exec":
        exec_mode(sys.argv[2:])
        return 0
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--runs", type=int, default=10)
    ap.add_argument("--timeout", type=float, default=60.0)
    ap.add_argument("--json")
    ap.add_argument("--program", action="append", required=True,
                    help="NAME=MARK[,MARK...]:PATH")
    ap.add_argument("--ratio", action="append", default=[],
                    help="A:MARK:B:MARK2, per-pair ratios of A's MARK to B's MARK2")
    args = ap.parse_args()

    programs = []
    for entry in args.program:
        name, rest = entry.split("=", 1)
        marks, path = rest.split(":", 1)
        programs.append((name, marks.split(","), path))

    env = dict(os.environ, NEBRIN_TRACE_FIRST_PAINT="1", QT_LOGGING_RULES="qt.webenginecontext=false")
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    bus = session_bus()
    if bus:
        env["DBUS_SESSION_BUS_ADDRESS"] = bus[0]
    else:
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        sys.stderr.write("startup.py: no dbus-daemon, the programs run without a session bus\n")
    try:
        results = measure(programs, args, env)
    finally:
        if bus:
            try:
                os.kill(bus[1], signal.SIGTERM)
            except ProcessLookupError:
                pass

    summary = {}
    for name, marks, _ in programs:
        summary[name] = {}
        for m in marks:
            values = [v for v in results[name][m] if v is not None]
            med = statistics.median(values) if values else None
            summary[name][m] = {"median_ms": med, "runs": results[name][m],
                                "missing": len(results[name][m]) - len(values)}
            shown = "n/a" if med is None else "%.1f ms" % med
            print("%-12s %-14s median %s over %d runs%s" % (
                name, m, shown, len(values),
                "" if len(values) == args.runs else " (%d without the mark)" % (args.runs - len(values))))
    ratios = {}
    for entry in args.ratio:
        a, mark_a, b, mark_b = entry.split(":")
        key = "%s %s / %s %s" % (a, mark_a, b, mark_b)
        r = pair_ratios(results[a][mark_a], results[b][mark_b])
        ratios[key] = r
        if r is not None:
            print("%s: per-pair ratio median %.2f, quartiles %.2f-%.2f, min %.2f, max %.2f over %d pairs" % (
                key, r["median"], r["q1"], r["q3"], r["min"], r["max"], r["pairs"]))
    if ratios:
        summary["ratios"] = ratios
    if args.json:
        with open(args.json, "w") as f:
            json.dump(summary, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
