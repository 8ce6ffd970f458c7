#!/usr/bin/env python3
"""Start-up to first paint: programs started in turn, each under its own
Xvfb (xvfb-run -a), with NEBRIN_TRACE_FIRST_PAINT=1 so they print
"<mark> <ms since exec>" on stderr. The time of exec is taken right before
it (NEBRIN_TRACE_EXEC_NS, CLOCK_MONOTONIC), after the X server is up.

    startup.py --runs 10 --json out.json \
        --program nebrin=first-paint,offline-page:/path/nebrin \
        --program yardstick=first-paint:/path/firstpaint_yardstick

Each program's runs take turns with the other programs' (one warm-up run
each first, not counted); a run ends once its marks are printed (or after
--timeout seconds), by SIGTERM to the program alone. Prints the median of
each mark and writes them with every run's figures to --json.
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
    proc = subprocess.Popen(under_xvfb([path]), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, env=env)
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
    return found


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
    args = ap.parse_args()

    programs = []
    for entry in args.program:
        name, rest = entry.split("=", 1)
        marks, path = rest.split(":", 1)
        programs.append((name, marks.split(","), path))

    env = dict(os.environ, NEBRIN_TRACE_FIRST_PAINT="1", QT_LOGGING_RULES="qt.webenginecontext=false")
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    results = {name: {m: [] for m in marks} for name, marks, _ in programs}
    for run in range(args.runs + 1):
        for name, marks, path in programs:
            found = one_run(path, marks, args.timeout, env)
            if run == 0:
                continue  # warm-up: caches, fonts, first writes
            for m in marks:
                results[name][m].append(found.get(m))

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
    if args.json:
        with open(args.json, "w") as f:
            json.dump(summary, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
