"""Weeks in the tray, in minutes: the dialer on the simulated line, connected,
dropping (DropAfter=1; once a minute one connection of 4 s) and redialling by
itself all the time; nebrin-web
ended now and then (killed, or ended by the main window going to the task
bar for a moment and brought back by a second start of the program);
popups and the automatic update check (every NEBRIN_UPDATE_CHECK_SECONDS
instead of every hour) served by a local HTTP server on 127.0.0.1, through a
theme that points there. Samples the dialer's memory, descriptors, threads
and X resources (xrestop) over the run and nebrin-web's PSS after each
restart.

Called by bench/run.py (--only soak, --soak-seconds); the figures go to
<build>/bench/results/soak.json.
"""
import ctypes
import glob
import http.server
import json
import os
import re
import shutil
import signal
import statistics
import subprocess
import tempfile
import threading
import time

import run as R
from startup import end_run

HERE = os.path.dirname(os.path.abspath(__file__))


# ---- the local server ----------------------------------------------------------------


class Server:
    """Counts the requests per path; answers the popup and online pages and
    404 for update.ini (no descriptor: the checks go on every period)."""

    def __init__(self):
        counts = self.counts = {}
        lock = self.lock = threading.Lock()

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):  # noqa: N802 - the library's name
                with lock:
                    counts[self.path] = counts.get(self.path, 0) + 1
                if self.path.endswith(".html"):
                    body = b"<html><body style='background:#cde'><p>soak %s</p></body></html>" % \
                        self.path.encode()
                    self.send_response(200)
                    self.send_header("Content-Type", "text/html")
                else:
                    body = b"not here"
                    self.send_response(404)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def count(self, prefix):
        with self.lock:
            return sum(n for p, n in self.counts.items() if p.startswith(prefix))

    def close(self):
        self.httpd.shutdown()


# ---- the theme and the folder ------------------------------------------------------


def soak_theme(build, home, port):
    """The default theme with a popup each minute (PopupTimer=1),
    the automatic update check and every page on the local server."""
    src = os.path.join(os.path.dirname(HERE), "theme", "default")
    work = tempfile.mkdtemp(prefix="soak-theme-", dir=home)
    for f in glob.glob(os.path.join(src, "[0-9][0-9]-*")):
        shutil.copy(f, work)
    ini = os.path.join(work, "00-settings.ini")
    text = open(ini, "rb").read().decode("cp1250")
    base = "http://127.0.0.1:%d/" % port
    for key, value in (("EnableAutoUpdate", "yes"), ("AutoUpdateURL", base + "update/"),
                       ("EnablePopup", "yes"), ("PopupTimer", "1"), ("PopupURL", base + "popup.html"),
                       ("OnlineURL", base + "online.html")):
        text, n = re.subn(r"(?m)^%s=.*$" % key, "%s=%s" % (key, value), text)
        if n != 1:
            raise RuntimeError("the default theme has no single %s" % key)
    open(ini, "wb").write(text.encode("cp1250"))
    out = os.path.join(home, "skin", "default.nbt")
    subprocess.run([os.path.join(build, "bin", "nebrin-theme"), "pack", work, out], check=True,
                   stdout=subprocess.DEVNULL)
    shutil.rmtree(work)


def line_script(home, drop_after):
    """The simulated line's script, read at the next dial."""
    with open(os.path.join(home, "simline.ini.tmp"), "w") as f:
        f.write("[Line]\nStepDelay=20\nDropAfter=%d\n" % drop_after)
    os.replace(os.path.join(home, "simline.ini.tmp"), os.path.join(home, "simline.ini"))


def dials_so_far(home):
    """Handles the simulated line has given out: one per dial."""
    try:
        with open(os.path.join(home, "simline.state")) as f:
            for line in f:
                if line.startswith("next "):
                    return int(line.split()[1])
    except (OSError, ValueError):
        pass
    return None


# ---- samples -------------------------------------------------------------------------


def x_resources(env, window):
    """The X resources of the client that made `window` (xrestop's counts,
    the client found by its resource base), or None."""
    try:
        out = subprocess.run(["xrestop", "-b", "-m", "1"], env=env, capture_output=True, text=True,
                             timeout=20).stdout
    except (OSError, subprocess.TimeoutExpired):
        return None
    for block in re.split(r"(?m)^\d+ - ", out)[1:]:
        fields = {}
        for line in block.splitlines()[1:]:
            k, sep, v = line.partition(":")
            if sep:
                fields[k.strip()] = v.strip().lstrip("~")
        try:
            base, mask = int(fields["res_base"], 16), int(fields["res_mask"], 16)
        except (KeyError, ValueError):
            continue
        if base == 0 or window & ~mask != base:
            continue
        counts = {k: int(v) for k, v in fields.items() if v.isdigit()}
        counts["resources"] = sum(v for k, v in counts.items() if "bytes" not in k)
        return counts
    return None


def close_window(env, window):
    """Asks `window` to close, as a window manager's close button does
    (WM_DELETE_WINDOW); there is no window manager here."""
    x = ctypes.cdll.LoadLibrary("libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XInternAtom.restype = ctypes.c_ulong
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x.XFlush.argtypes = x.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]

    # Xlib takes the server's cookie from this process's environment.
    os.environ["XAUTHORITY"] = env.get("XAUTHORITY", "")
    dpy = x.XOpenDisplay(env["DISPLAY"].encode())
    if not dpy:
        return
    ev = ClientMessage(type=33, window=window, format=32)  # 33: ClientMessage
    ev.message_type = x.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
    ev.data[0] = x.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
    x.XSendEvent(dpy, window, 0, 0, ctypes.byref(ev))
    x.XFlush(dpy)
    x.XCloseDisplay(dpy)


def close_popups(env):
    """Closes the popup windows that show ("Informacja"); how many."""
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Informacja$"], env=env,
                         capture_output=True, text=True).stdout.split()
    for w in out:
        close_window(env, int(w))
    return len(out)


def sample(pid, env, window, t0):
    status = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            k, _, v = line.partition(":")
            status[k] = v.split()
    return {
        "t": time.monotonic() - t0,
        "rss_kib": int(status["VmRSS"][0]),
        "pss_kib": R.memory_kib(pid, "Pss"),
        "fds": len(os.listdir("/proc/%d/fd" % pid)),
        "threads": int(status["Threads"][0]),
        "x": x_resources(env, window),
    }


def web_pid(pid):
    for p in R.descendants(pid):
        try:
            if R.proc_name(p) == "nebrin-web":
                return p
        except OSError:
            pass
    return None


def slope_per_hour(samples, key):
    """Least-squares slope of `key` over time, in units per hour."""
    xs = [s["t"] for s in samples]
    ys = [s[key] for s in samples]
    if len(xs) < 2:
        return 0.0
    mx, my = statistics.fmean(xs), statistics.fmean(ys)
    den = sum((x - mx) ** 2 for x in xs)
    return 0.0 if den == 0 else sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / den * 3600


# ---- the run -------------------------------------------------------------------------


def soak(build, results, seconds, row):
    nebrin = os.path.join(build, "bin", "nebrin")
    rasdial = os.path.join(build, "bin", "nebrin-rasdial")
    if not (os.path.exists(nebrin) and os.path.exists(rasdial)):
        row("weeks in the tray", "-", "not built (NEBRIN_UI off)", "-", "-")
        return
    for tool in ("xvfb-run", "xdotool", "xrestop"):
        if not shutil.which(tool):
            row("weeks in the tray", "-", "%s missing (tools/install-deps.sh)" % tool, "-", "-", False)
            return
    server = Server()
    home = R.program_home(build)
    check_seconds = 1
    env = dict(os.environ, NEBRIN_HOME=home, NEBRIN_RAS="sim", NEBRIN_UPDATE_CHECK_SECONDS=str(check_seconds),
               NEBRIN_WEB_HIDDEN_GRACE_MS="1000", QT_LOGGING_RULES="qt.webenginecontext=false")
    env.pop("DISPLAY", None)
    proc, pid = None, None
    figures = {"popups_shown": 0, "samples": [], "web_pss_kib": [], "restarts": {"killed": 0, "hidden": 0}}
    try:
        soak_theme(build, home, server.port)
        line_script(home, 1)
        subprocess.run([rasdial, "Nebrin", "/create", "soak", "user", "secret"], check=True, env=env,
                       stdout=subprocess.DEVNULL)
        R.log("$ xvfb-run nebrin: %d s on a line that drops every second, update check every %d s"
              % (seconds, check_seconds))
        t0 = time.monotonic()
        proc, pid = R.start_under_xvfb([nebrin], env)
        time.sleep(20)  # the window, the web engine, the offline page
        xenv = R.display_env(pid)
        window = click_onoff(build, home, xenv)
        # The first popup, on a connection that stays up, shown and closed
        # before the start sample: the popup window and its backing store
        # are made once and kept, which is no growth.
        line_script(home, 4)
        deadline = time.monotonic() + 90
        while time.monotonic() < deadline and not close_popups(xenv):
            time.sleep(1)
        line_script(home, 1)
        time.sleep(20)  # the first short connections and checks: the start-up allocations settle
        dials0 = dials_so_far(home) or 0
        checks0, popups0 = server.count("/update/"), server.count("/popup")
        figures["samples"].append(sample(pid, xenv, window, t0))
        start = time.monotonic()
        next_sample = start + 10
        next_restart = start + 8
        killing = True
        next_popup_close = start
        next_long, long_line = start + 25, False
        figures["popups_shown"] = 0
        while time.monotonic() - start < seconds:
            now = time.monotonic()
            if now >= next_popup_close:
                figures["popups_shown"] += close_popups(xenv)
                next_popup_close = now + 3
            if now >= next_long:
                # Once a minute (the popup alarm's period) one connection
                # stays up 4 s: long enough for the alarm's check (it wants a
                # second online); the others drop after one.
                long_line = not long_line
                line_script(home, 4 if long_line else 1)
                next_long = now + (5 if long_line else 55)
            if now >= next_restart:
                old = web_pid(pid)
                if killing and old:
                    os.kill(old, signal.SIGKILL)
                elif not killing:
                    minimise_and_restore(build, home, pid, xenv, nebrin, env)
                # A restart counts once the new process is there (a killed
                # one waits while three restarts fell within the minute);
                # its PSS once the engine has come up.
                new = wait_new_web(pid, old, 30)
                if new:
                    figures["restarts"]["killed" if killing else "hidden"] += 1
                    time.sleep(4)
                    figures["web_pss_kib"].append(R.memory_kib(new, "Pss"))
                killing = not killing
                next_restart = time.monotonic() + 2
            if time.monotonic() >= next_sample:
                figures["samples"].append(sample(pid, xenv, window, t0))
                next_sample += 10
            time.sleep(0.2)
        figures["samples"].append(sample(pid, xenv, window, t0))
        figures["dials"] = (dials_so_far(home) or 0) - dials0
        figures["update_checks"] = server.count("/update/") - checks0
        figures["popups"] = server.count("/popup") - popups0
        figures["seconds"] = time.monotonic() - start
        figures["alive"] = proc.poll() is None
    finally:
        end_run(proc, pid, 20)
        subprocess.run([rasdial, "Nebrin", "/disconnect"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        server.close()
        shutil.rmtree(home, ignore_errors=True)
    with open(os.path.join(results, "soak.json"), "w") as f:
        json.dump(figures, f, indent=1)
    report(figures, check_seconds, row)


def click_onoff(build, home, env):
    win = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Nebrin$"], env=env,
                         capture_output=True, text=True, check=True).stdout.split()[0]
    geo = subprocess.run(["xdotool", "getwindowgeometry", "--shell", win], env=env, capture_output=True,
                         text=True, check=True).stdout
    pos = dict(line.split("=", 1) for line in geo.split())
    theme = os.path.join(build, "bin", "nebrin-theme")
    skin = os.path.join(home, "skin", "default.nbt")

    def key(name):
        return int(subprocess.run([theme, "get", skin, "OnOff", name], capture_output=True, text=True,
                                  check=True).stdout.strip())

    x = int(pos["X"]) + key("OnOffLeft") + key("OnOffWidth") // 2
    y = int(pos["Y"]) + key("OnOffTop") + key("OnOffHeight") // 2
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], env=env, check=True)
    return int(win)


def minimise_and_restore(build, home, pid, xenv, nebrin, env):
    """To the task bar (nebrin-web ends after the 1 s grace), then back
    through a second start of the program, as from the desktop's menu."""
    R.minimise(build, home, pid)
    web = web_pid(pid)
    deadline = time.monotonic() + 6
    while web and web_pid(pid) == web and time.monotonic() < deadline:
        time.sleep(0.2)
    second = dict(env, DISPLAY=xenv.get("DISPLAY", ""), XAUTHORITY=xenv.get("XAUTHORITY", ""))
    subprocess.run([nebrin], env=second, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)


def wait_new_web(pid, old, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        p = web_pid(pid)
        if p and p != old:
            return p
        time.sleep(0.2)
    return None


def report(f, check_seconds, row):
    s = f["samples"]
    first, last = s[0], s[-1]
    hours = (last["t"] - first["t"]) / 3600
    restarts = f["restarts"]["killed"] + f["restarts"]["hidden"]
    week = 7 * 24
    row("soak: %.0f s, dialer alive at the end" % f["seconds"], "-",
        "%d redials, %d web restarts (%d killed, %d via the task bar), %d update checks (%.1f simulated days"
        " of hourly checks), %d popups shown and closed (%d page loads)"
        % (f["dials"], restarts, f["restarts"]["killed"], f["restarts"]["hidden"], f["update_checks"],
           f["update_checks"] / 24, f["popups_shown"], f["popups"]),
        "-", ">= 200 redials, >= 30 restarts, >= %d checks" % week,
        f["alive"] and f["dials"] >= 200 and restarts >= 30 and f["update_checks"] >= week)
    rss_growth = last["rss_kib"] - first["rss_kib"]
    row("soak: dialer RSS start / end, slope", "-",
        "%.1f / %.1f MiB, %+.2f MiB/h" % (first["rss_kib"] / 1024, last["rss_kib"] / 1024,
                                          slope_per_hour(s, "rss_kib") / 1024),
        "%+.2f MiB" % (rss_growth / 1024), "growth <= 1 MiB", rss_growth <= 1024)
    row("soak: dialer PSS start / end, slope", "-",
        "%.1f / %.1f MiB, %+.2f MiB/h" % (first["pss_kib"] / 1024, last["pss_kib"] / 1024,
                                          slope_per_hour(s, "pss_kib") / 1024),
        "%+.2f MiB" % ((last["pss_kib"] - first["pss_kib"]) / 1024), "reported")
    row("soak: dialer descriptors start / end (max)", "-",
        "%d / %d (%d)" % (first["fds"], last["fds"], max(x["fds"] for x in s)), "-", "no growth",
        last["fds"] <= first["fds"])
    row("soak: dialer threads start / end (max)", "-",
        "%d / %d (%d)" % (first["threads"], last["threads"], max(x["threads"] for x in s)), "-", "no growth",
        last["threads"] <= first["threads"])
    xa, xb = first["x"], last["x"]
    if xa and xb:
        keys = ("windows", "pixmaps", "GCs", "pictures", "resources")
        row("soak: dialer's X resources start / end (xrestop)", "-",
            ", ".join("%s %d/%d" % (k, xa.get(k, 0), xb.get(k, 0)) for k in keys) +
            ", pixmap bytes %d/%d KiB" % (xa.get("pixmap bytes", 0) // 1024, xb.get("pixmap bytes", 0) // 1024),
            "-", "no growth", xb.get("resources", 0) <= xa.get("resources", 0) and
            xb.get("pixmap bytes", 0) <= xa.get("pixmap bytes", 0))
    else:
        row("soak: dialer's X resources (xrestop)", "-", "the client was not found", "-", "no growth", False)
    w = f["web_pss_kib"]
    if w:
        row("soak: nebrin-web PSS after each restart (%d)" % len(w), "-",
            "first %.0f, median %.0f, last %.0f, max %.0f MiB" % (w[0] / 1024, statistics.median(w) / 1024,
                                                                   w[-1] / 1024, max(w) / 1024),
            "%.2fx last/first" % (w[-1] / w[0]) if w[0] else "-", "reported")
