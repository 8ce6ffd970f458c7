#!/usr/bin/env python3
"""Runs every benchmark of bench/ against its yardstick in the same run and
prints one table: figure, yardstick, what was measured, ratio, target.

Called by bench/run.sh after the build; usable on its own:

    bench/run.py --build build-bench [--runs 10] [--idle-seconds 60]
                 [--only cipher,theme,startup,tick,idle] [--soak-seconds 540]

"soak" (bench/soak.py, some 10 minutes) runs only when named in --only.

Times of the Google Benchmark programs are medians over repetitions taken
in random order (--benchmark_enable_random_interleaving), in CPU time of the
benchmark thread, which a shared machine disturbs least. Start-up times are
wall-clock runs of the dialer and the yardstick in turn (bench/startup.py);
the ratio is the median of the per-pair ratios, with their quartiles and
extremes as the spread. The raw results stay in
<build>/bench/results/.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from startup import end_run, under_xvfb

HERE = os.path.dirname(os.path.abspath(__file__))
ROWS = []


def row(figure, yardstick, measured, ratio, target, ok=None):
    status = "" if ok is None else ("ok" if ok else "MISSED")
    ROWS.append((figure, yardstick, measured, ratio, target, status))


def log(text):
    sys.stderr.write(text + "\n")
    sys.stderr.flush()


# ---- Google Benchmark programs -------------------------------------------------------


def gbench(program, out, args=(), env=None, reps=10, min_time=0.2):
    cmd = [program, "--benchmark_repetitions=%d" % reps, "--benchmark_min_time=%g" % min_time,
           "--benchmark_enable_random_interleaving=true", "--benchmark_display_aggregates_only=true",
           "--benchmark_out=" + out, "--benchmark_out_format=json"] + list(args)
    log("$ " + " ".join(cmd))
    subprocess.run(cmd, check=True, env=env, stdout=sys.stderr)
    with open(out) as f:
        data = json.load(f)
    medians, counters = {}, {}
    for b in data["benchmarks"]:
        name = b.get("run_name", b["name"])
        if b.get("error_occurred"):
            raise RuntimeError("%s: %s" % (name, b.get("error_message")))
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") == "median":
            medians[name] = b["cpu_time"]
        if b.get("run_type") == "iteration":
            counters.setdefault(name, []).append(b)
    return medians, counters


def fmt_ratio(x):
    return "%.2fx" % x


def cipher(build, results):
    prog = os.path.join(build, "bench", "bench_cipher")
    fast, _ = gbench(prog, os.path.join(results, "cipher.json"), ["--no-masked"])
    env = dict(os.environ, NEBRIN_BENCH_MASKED_RUN="1", NEBRIN_AES="portable",
               OPENSSL_ia32cap="~0x200000200000000")
    slow, _ = gbench(prog, os.path.join(results, "cipher-portable.json"), ["--no-masked"], env=env)
    mib = 1.0  # every case works on 1 MiB

    def mbs(t_us):
        return mib / (t_us / 1e6)

    for label, data, yard, targets in (
            ("", fast, "OpenSSL EVP aes-128-cbc", {"unseal": 0.7, "seal": 0.8}),
            ("portable AES fallback, ", slow, "OpenSSL, AES-NI masked off", None)):
        for what, ours, theirs in (("unseal", "BM_Unseal", "BM_OpenSSL_Decrypt"),
                                   ("seal", "BM_Seal", "BM_OpenSSL_Encrypt")):
            r = data[theirs] / data[ours]  # throughput ratio
            target = targets[what] if targets else None
            row("%s%s throughput, 1 MiB" % (label, what),
                "%s %s" % (yard, "decrypt" if what == "unseal" else "encrypt"),
                "%.0f vs %.0f MiB/s" % (mbs(data[ours]), mbs(data[theirs])), fmt_ratio(r),
                ">= %.1fx" % target if target else "reported", None if target is None else r >= target)


def theme(build, results):
    prog = os.path.join(build, "bench", "bench_theme")
    env = dict(os.environ, NEBRIN_BENCH_WORK=os.path.join(build, "bench", "work", "theme"))
    data, _ = gbench(prog, os.path.join(results, "theme.json"), env=env)
    for case, label in (("default", "default package"), ("large", "20 MiB package, large bitmaps")):
        ours, theirs = data["BM_ThemeLoad/" + case], data["BM_ReadAndDecrypt/" + case]
        r = ours / theirs
        row("whole theme load, " + label, "read the file + OpenSSL decrypt of every member",
            "%.2f vs %.2f ms" % (ours / 1e3, theirs / 1e3), fmt_ratio(r), "<= 1.5x", r <= 1.5)


# ---- start-up ------------------------------------------------------------------------


def program_home(build):
    """A private program folder on disk: the theme, an empty html/."""
    home = tempfile.mkdtemp(prefix="nebrin-bench-", dir=os.path.join(build, "bench"))
    shutil.copytree(os.path.join(build, "bin", "skin"), os.path.join(home, "skin"))
    os.makedirs(os.path.join(home, "html"))
    return home


def startup(build, results, runs):
    nebrin = os.path.join(build, "bin", "nebrin")
    yard = os.path.join(build, "bench", "firstpaint_yardstick")
    if not (os.path.exists(nebrin) and os.path.exists(yard)):
        row("start-up to first paint", "minimal Qt window", "not built (NEBRIN_UI off)", "-", "<= 1.3x")
        return
    home = program_home(build)
    try:
        env = dict(os.environ, NEBRIN_HOME=home, NEBRIN_RAS="sim")
        out = os.path.join(results, "startup.json")
        cmd = [sys.executable, os.path.join(HERE, "startup.py"), "--runs", str(runs), "--json", out,
               "--program", "nebrin=first-paint,offline-page:" + nebrin,
               "--program", "yardstick=first-paint:" + yard,
               "--ratio", "nebrin:first-paint:yardstick:first-paint",
               "--ratio", "nebrin:offline-page:yardstick:first-paint"]
        log("$ " + " ".join(cmd))
        subprocess.run(cmd, check=True, env=env, stdout=sys.stderr)
        with open(out) as f:
            data = json.load(f)
    finally:
        shutil.rmtree(home, ignore_errors=True)
    # The ratio is the median of the per-run ratios: the two programs run in
    # turn, so each pair shares the machine's load of its moment.
    y = data["yardstick"]["first-paint"]["median_ms"]
    for mark, label, target in (("first-paint", "skinned main window", 1.3),
                                ("offline-page", "offline page (web engine)", None)):
        m = data["nebrin"][mark]["median_ms"]
        r = data.get("ratios", {}).get("nebrin %s / yardstick first-paint" % mark)
        if m is None or y is None or r is None:
            row("start-up to first paint, " + label, "minimal Qt frameless 300x180 window", "no mark printed",
                "-", "<= 1.3x" if target else "reported", False if target else None)
            continue
        row("start-up to first paint, %s (median of %d pairs run in turn, Xvfb)" % (label, r["pairs"]),
            "minimal Qt frameless 300x180 window",
            "%.1f vs %.1f ms; pair ratios: quartiles %.2f-%.2fx, min %.2fx, max %.2fx" % (
                m, y, r["q1"], r["q3"], r["min"], r["max"]),
            fmt_ratio(r["median"]), "<= %.1fx" % target if target else "reported",
            None if target is None else r["median"] <= target)


# ---- status tick ---------------------------------------------------------------------


def callgrind_total(path):
    with open(path) as f:
        for line in f:
            if line.startswith("summary:") or line.startswith("totals:"):
                return int(line.split()[1])
    return None


def tick(build, results):
    prog = os.path.join(build, "bench", "bench_tick")
    if not os.path.exists(prog):
        row("heap allocations per connected tick", "-", "pending (no tick benchmark)", "-", "0 beyond label texts")
        row("instructions per connected tick (callgrind)", "-", "pending", "-", "reported")
        return
    _, iters = gbench(prog, os.path.join(results, "tick.json"), ["--benchmark_filter=BM_ConnectedTick"], reps=3)
    allocs = [b["allocs_per_tick"] for b in iters["BM_ConnectedTick"]]
    per = max(allocs)
    ok = per == 0
    row("heap allocations per connected tick (core side)", "-", "%.2f allocations/tick" % per, "-",
        "0 beyond label texts", ok)
    if not shutil.which("valgrind"):
        row("instructions per connected tick (callgrind)", "-", "valgrind missing", "-", "reported")
        return
    per_tick = {}
    for n in (1000, 10000):
        out = os.path.join(results, "callgrind.tick.%d" % n)
        cmd = ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out,
               "--toggle-collect=nebrin::StatusTicker::Tick()", prog, "--ticks", str(n)]
        log("$ " + " ".join(cmd))
        subprocess.run(cmd, check=True, stdout=sys.stderr, stderr=subprocess.DEVNULL)
        total = callgrind_total(out)
        per_tick[n] = None if total is None else total / n
    a, b = per_tick[1000], per_tick[10000]
    if a is None or b is None:
        row("instructions per connected tick (callgrind)", "-", "no callgrind summary", "-", "reported")
        return
    growth = b / a
    row("instructions per connected tick (callgrind)", "-",
        "%.0f Ir at 1000 ticks, %.0f at 10000" % (a, b), "%.2fx over 10x the ticks" % growth,
        "reported; flat with history", growth < 1.05)


# ---- idle dialer ---------------------------------------------------------------------


def proc_stat(pid):
    with open("/proc/%d/stat" % pid) as f:
        text = f.read()
    fields = text[text.rindex(")") + 2:].split()
    # fields[0] is field 3 (state): ppid = field 4, utime = 14, stime = 15
    return int(fields[1]), int(fields[11]) + int(fields[12])


def proc_name(pid):
    with open("/proc/%d/comm" % pid) as f:
        return f.read().strip()


def descendants(root):
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                ppid, _ = proc_stat(int(entry))
            except (OSError, ValueError, IndexError):
                continue
            children.setdefault(ppid, []).append(int(entry))
    out, todo = [], [root]
    while todo:
        p = todo.pop()
        for c in children.get(p, []):
            out.append(c)
            todo.append(c)
    return out


def memory_kib(pid, key):
    for name in ("/proc/%d/smaps_rollup" % pid, "/proc/%d/status" % pid):
        try:
            with open(name) as f:
                for line in f:
                    if line.startswith(key + ":"):
                        return int(line.split()[1])
        except OSError:
            pass
    return 0


def cpu_ticks(pids):
    total = 0
    for p in pids:
        try:
            total += proc_stat(p)[1]
        except (OSError, ValueError, IndexError):
            pass
    return total


def tree_pss_kib(pid):
    return sum(memory_kib(p, "Pss") for p in [pid] + descendants(pid))


def start_under_xvfb(argv, env):
    """The program under its own Xvfb; returns (xvfb-run process, program pid)."""
    proc = subprocess.Popen(under_xvfb(argv), env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    line = proc.stderr.readline().decode()
    pid = int(line.split()[1])
    # Drain the rest of its messages without keeping them.
    subprocess.Popen(["cat"], stdin=proc.stderr, stdout=subprocess.DEVNULL)
    return proc, pid


def display_env(pid):
    """DISPLAY and XAUTHORITY of a running program, for xdotool."""
    with open("/proc/%d/environ" % pid, "rb") as f:
        pairs = [e.split(b"=", 1) for e in f.read().split(b"\0") if b"=" in e]
    env = dict(os.environ)
    for k, v in pairs:
        if k in (b"DISPLAY", b"XAUTHORITY"):
            env[k.decode()] = v.decode()
    return env


def minimise(build, home, pid):
    """The minimise button, clicked: without a notification area (Xvfb) the
    window goes to the task bar, which counts as the tray for nebrin-web."""
    env = display_env(pid)
    win = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Nebrin$"], env=env,
                         capture_output=True, text=True, check=True).stdout.split()[0]
    geo = subprocess.run(["xdotool", "getwindowgeometry", "--shell", win], env=env, capture_output=True,
                         text=True, check=True).stdout
    pos = dict(line.split("=", 1) for line in geo.split())
    theme = os.path.join(build, "bin", "nebrin-theme")
    skin = os.path.join(home, "skin", "default.nbt")

    def key(section, name):
        return int(subprocess.run([theme, "get", skin, section, name], capture_output=True, text=True,
                                  check=True).stdout.strip())

    x = int(pos["X"]) + key("MinimizeButton", "MinBtnLeft") + 5
    y = int(pos["Y"]) + key("MinimizeButton", "MinBtnTop") + 5
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], env=env, check=True)


def idle(build, results, seconds):
    nebrin = os.path.join(build, "bin", "nebrin")
    rasdial = os.path.join(build, "bin", "nebrin-rasdial")
    yard = os.path.join(build, "bench", "web_yardstick")
    if not (os.path.exists(nebrin) and os.path.exists(rasdial)):
        row("CPU of a connected, idle dialer", "-", "not built", "-", "reported, near 0")
        return
    home = program_home(build)
    env = dict(os.environ, NEBRIN_HOME=home, NEBRIN_RAS="sim", QT_LOGGING_RULES="qt.webenginecontext=false")
    env.pop("DISPLAY", None)
    proc, pid = None, None
    figures = {}
    hz = os.sysconf("SC_CLK_TCK")
    try:
        with open(os.path.join(home, "simline.ini"), "w") as f:
            f.write("[Line]\nStepDelay=50\n")
        subprocess.run([rasdial, "Nebrin", "/create", "bench", "user", "secret"], check=True, env=env,
                       stdout=subprocess.DEVNULL)
        log("$ xvfb-run nebrin: offline page, then connected on the simulated line, idle %d s shown, %d s hidden"
            % (seconds, seconds))
        proc, pid = start_under_xvfb([nebrin], env)
        time.sleep(30)  # start, web engine, the offline page
        figures["offline_pss_kib"] = tree_pss_kib(pid)
        figures["offline_processes"] = 1 + len(descendants(pid))
        subprocess.run([rasdial, "Nebrin", "user", "secret"], check=True, env=env, stdout=subprocess.DEVNULL)
        time.sleep(10)  # the connection seen, the online page tried

        def cpu_over(wait):
            t0 = time.monotonic()
            own0, tree0 = cpu_ticks([pid]), {p: cpu_ticks([p]) for p in [pid] + descendants(pid)}
            time.sleep(wait)
            own1, tree1 = cpu_ticks([pid]), {p: cpu_ticks([p]) for p in [pid] + descendants(pid)}
            t1 = time.monotonic()
            # Processes that ended meanwhile are not counted.
            tree = sum(tree1[p] - tree0[p] for p in tree1 if p in tree0)
            return t1 - t0, (own1 - own0) / hz / (t1 - t0) * 100, tree / hz / (t1 - t0) * 100

        wall, own, tree = cpu_over(seconds)
        # Measured after the idle minute: the engine's start-up allocations
        # have settled by then.
        figures["shown_pss_kib"] = tree_pss_kib(pid)
        figures["shown_processes"] = 1 + len(descendants(pid))
        figures["dialer_pss_kib"] = memory_kib(pid, "Pss")
        figures.update(shown_seconds=wall, cpu_percent=own, tree_cpu_percent=tree)
        row("CPU of a connected, idle dialer over %.0f s, shown" % wall, "-",
            "%.2f%% of a core (its whole tree %.2f%%)" % (own, tree), "-", "reported, near 0", own < 1.0)

        if shutil.which("xdotool"):
            minimise(build, home, pid)
            wall, own, tree = cpu_over(seconds)
            figures["hidden_pss_kib"] = tree_pss_kib(pid)
            figures["hidden_processes"] = 1 + len(descendants(pid))
            figures.update(hidden_seconds=wall, hidden_cpu_percent=own, hidden_tree_cpu_percent=tree)
            row("CPU of a connected, idle dialer over %.0f s, in the tray" % wall, "-",
                "%.2f%% of a core (its whole tree %.2f%%)" % (own, tree), "-", "reported, near 0", own < 1.0)
    finally:
        end_run(proc, pid, 20)
        subprocess.run([rasdial, "Nebrin", "/disconnect"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    # The yardstick: a bare web view showing the offline page the dialer wrote.
    proc, pid = None, None
    try:
        if os.path.exists(yard):
            flags = "--disable-gpu" + (" --no-sandbox" if os.geteuid() == 0 else "")
            yenv = dict(env, QTWEBENGINE_CHROMIUM_FLAGS=flags)
            log("$ xvfb-run web_yardstick offline.html")
            proc, pid = start_under_xvfb([yard, os.path.join(home, "html", "offline.html")], yenv)
            time.sleep(30)
            figures["yardstick_pss_kib"] = tree_pss_kib(pid)
            figures["yardstick_processes"] = 1 + len(descendants(pid))
    finally:
        end_run(proc, pid, 20)
        shutil.rmtree(home, ignore_errors=True)

    with open(os.path.join(results, "idle.json"), "w") as f:
        json.dump(figures, f, indent=1)
    y = figures.get("yardstick_pss_kib")
    yname = "bare QWebEngineView, offline page: PSS of its tree"
    for key, label, target in (("offline_pss_kib", "dialer shown, offline page: PSS of its tree", None),
                               ("shown_pss_kib", "connected dialer shown (online page): PSS of its tree", 1.10),
                               ("hidden_pss_kib", "connected dialer %d s in the tray: PSS of its tree" % seconds,
                                0.25)):
        m = figures.get(key)
        goal = "reported" if target is None else "<= %.2fx" % target
        if m is None or not y:
            row(label, yname, "not measured", "-", goal, None if target is None else False)
            continue
        r = m / y
        procs = figures[key.replace("pss_kib", "processes")]
        row(label, yname, "%.0f vs %.0f MiB (%d vs %d processes)" % (m / 1024, y / 1024, procs,
                                                                      figures["yardstick_processes"]),
            fmt_ratio(r), goal, None if target is None else r <= target)


# ---- weeks in the tray ------------------------------------------------------------


def soak(build, results, seconds):
    import soak as soak_bench  # (it uses the helpers above)

    soak_bench.soak(build, results, seconds, row)


# ---- table ---------------------------------------------------------------------------


def table():
    head = ("figure", "yardstick", "measured (ours vs yardstick)", "ratio", "target", "")
    widths = [max(len(str(r[i])) for r in ROWS + [head]) for i in range(len(head))]
    lines = []
    for i, r in enumerate([head] + ROWS):
        lines.append("| " + " | ".join(str(c).ljust(widths[j]) for j, c in enumerate(r)) + " |")
        if i == 0:
            lines.append("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    return "\n".join(lines)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(os.path.dirname(HERE), "build-bench"))
    ap.add_argument("--runs", type=int, default=40, help="start-up runs per program (pairs)")
    ap.add_argument("--idle-seconds", type=int, default=60)
    ap.add_argument("--only", default="cipher,theme,startup,tick,idle", help="also: soak")
    ap.add_argument("--soak-seconds", type=int, default=540)
    args = ap.parse_args()
    # As root the dialer shows no web pages unless told it is a test run; the
    # figures are taken with its web engine.
    if os.geteuid() == 0:
        os.environ["NEBRIN_TEST_WEB_AS_ROOT"] = "1"
    build = os.path.abspath(args.build)
    results = os.path.join(build, "bench", "results")
    os.makedirs(results, exist_ok=True)
    log("load before: %s" % open("/proc/loadavg").read().strip())
    steps = {"cipher": lambda: cipher(build, results), "theme": lambda: theme(build, results),
             "startup": lambda: startup(build, results, args.runs), "tick": lambda: tick(build, results),
             "idle": lambda: idle(build, results, args.idle_seconds),
             "soak": lambda: soak(build, results, args.soak_seconds)}
    failed = False
    for name in args.only.split(","):
        try:
            steps[name]()
        except Exception as e:  # one broken step still leaves the others' rows
            failed = True
            row(name, "-", "failed: %s" % e, "-", "-", False)
    log("load after: %s" % open("/proc/loadavg").read().strip())
    text = table()
    print(text)
    with open(os.path.join(results, "table.md"), "w") as f:
        f.write(text + "\n")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
