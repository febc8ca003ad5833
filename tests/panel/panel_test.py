#!/usr/bin/env python3
"""GNOME Shell's own top bar (its AppIndicator extension) draws gweibar's label.

Starts, all private and on loopback: Xvfb, a stand-in system bus, a session bus, GNOME Shell, the
simulated API with scripted gas prices, then the demo build of gweibar. Reads the label back from
screenshots with tesseract, changes the served prices, and clicks the label to open the popover.
Screenshots and logs stay in the artefact directory.
"""

import argparse
import ctypes
import json
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

API_PORT = 38443
GAS_PATH = "/api/v1/chains/EVM/1/gas_price"  # the network a fresh configuration selects
# Wei values whose gwei texts OCR reads reliably (no long runs of one digit, no 1 next to a '|').
FIRST = (("23500000000", "46000000000", "68250000000"), "23.5 | 46 | 68.25")
SECOND = (("37000000000", "52500000000", "90750000000"), "37 | 52.5 | 90.75")

SCREEN_W, SCREEN_H = 1280, 800
BAR_H = 32
# Right of the clock, left of the system menu.
LABEL_AREA = (SCREEN_W // 2 + 60, 0, SCREEN_W - 50, BAR_H)

# Every process started here carries this variable, so teardown also finds what they start in turn
# (services the buses activate, helpers of the shell). Its value is the test's pid: what a killed
# earlier run left behind is recognised by an owner that no longer runs.
MARKER = "GWEIBAR_PANEL_TEST_OWNER"
TMP_PREFIX = "gweibar-panel-"  # then the owner's pid
# Worst case of the whole run, kept below the ctest timeout so that teardown always gets to run.
BUDGET_S = 80

T0 = time.monotonic()


class Failure(Exception):
    pass


def log(message):
    print(f"[{time.monotonic() - T0:5.1f}s] {message}", flush=True)


def wait_for(what, predicate, timeout, interval=0.25, alive=()):
    start = time.monotonic()
    deadline = min(start + timeout, T0 + BUDGET_S)
    while True:
        result = predicate()
        if result:
            return result
        for proc, name, logfile in alive:
            if proc.poll() is not None:
                raise Failure(f"{name} exited ({proc.returncode}) while waiting for {what}; "
                              f"end of {logfile}:\n{tail(logfile)}")
        if time.monotonic() > deadline:
            raise Failure(f"gave up after {time.monotonic() - start:.0f} s waiting for {what}")
        time.sleep(interval)


def tail(path, lines=15):
    try:
        with open(path, errors="replace") as f:
            return "".join(f.readlines()[-lines:])
    except OSError:
        return ""


def marked_pids(owner_wanted):
    found = []
    prefix = MARKER.encode() + b"="
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        owner = next((item[len(prefix):] for item in environ if item.startswith(prefix)), None)
        if owner is not None and owner.isdigit() and owner_wanted(int(owner)):
            found.append(int(entry))
    return found


def running(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def end_processes(pids):
    for sig in (signal.SIGTERM, signal.SIGKILL):
        for pid in pids:
            try:
                os.kill(pid, sig)
            except OSError:
                pass
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline:
            reap()
            pids = [p for p in pids if running(p)]
            if not pids:
                return
            time.sleep(0.1)


def reap():
    try:
        while os.waitpid(-1, os.WNOHANG)[0] > 0:
            pass
    except ChildProcessError:
        pass


def clear_up_after_killed_runs():
    stale = marked_pids(lambda owner: owner != os.getpid() and not os.path.exists(f"/proc/{owner}"))
    if stale:
        log(f"ending processes left by an earlier, killed run: {stale}")
        end_processes(stale)
    for entry in os.listdir(tempfile.gettempdir()):
        m = re.fullmatch(re.escape(TMP_PREFIX) + r"(\d+)-\w+", entry)
        if m and not os.path.exists(f"/proc/{m.group(1)}"):
            shutil.rmtree(os.path.join(tempfile.gettempdir(), entry), ignore_errors=True)


class Session:
    def __init__(self, args):
        self.args = args
        self.artefacts = args.artefacts
        self.procs = []  # (Popen, name, log file), in start order
        self.tmp = tempfile.mkdtemp(prefix=f"{TMP_PREFIX}{os.getpid()}-")
        home = os.path.join(self.tmp, "home")
        self.runtime = os.path.join(self.tmp, "run")
        for d in (home, self.runtime):
            os.makedirs(d, mode=0o700)
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "LANG": "C.UTF-8",
            "HOME": home,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "XDG_STATE_HOME": os.path.join(home, ".local", "state"),
            "XDG_RUNTIME_DIR": self.runtime,
            "XDG_SESSION_TYPE": "x11",
            "LIBGL_ALWAYS_SOFTWARE": "1",
            # tesseract's OpenMP threads spin for a long time on a busy machine.
            "OMP_THREAD_LIMIT": "1",
            MARKER: str(os.getpid()),
        }
        self.control_port = None

    def start(self, name, argv, env=None, **kwargs):
        logfile = os.path.join(self.artefacts, f"{name}.log")
        with open(logfile, "wb") as out:
            proc = subprocess.Popen(argv, env=env or self.env, cwd=self.tmp, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.STDOUT, **kwargs)
        self.procs.append((proc, name, logfile))
        return proc

    def alive(self, *names):
        return [p for p in self.procs if p[1] in names]

    def run(self, argv, timeout=20, check=True):
        result = subprocess.run(argv, env=self.env, cwd=self.tmp, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=timeout)
        if check and result.returncode != 0:
            raise Failure(f"{' '.join(argv)} failed ({result.returncode}): "
                          f"{result.stderr.decode(errors='replace').strip()}")
        return result.stdout.decode(errors="replace")

    def teardown(self):
        # GNOME Shell ends with a segmentation fault on SIGTERM (exit 139): exit codes are not checked.
        for proc, _, _ in reversed(self.procs):
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    proc.kill()
                    proc.wait()
        end_processes(marked_pids(lambda owner: owner == os.getpid()))
        reap()
        shutil.rmtree(self.tmp, ignore_errors=True)

    # --- the pieces ------------------------------------------------------------------------------

    def start_x(self):
        # Xvfb picks a free display number itself and writes it to the pipe once it accepts clients.
        read_end, write_end = os.pipe()
        self.start("xvfb", ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                            f"{SCREEN_W}x{SCREEN_H}x24", "+extension", "GLX", "-nolisten", "tcp"],
                   pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(read_end) as r:
            number = r.readline().strip()
        if not number.isdigit():
            raise Failure(f"Xvfb did not start:\n{tail(self.procs[-1][2])}")
        self.env["DISPLAY"] = f":{number}"
        log(f"Xvfb on :{number}")

    def start_bus(self, name):
        path = os.path.join(self.runtime, name)
        self.start(name, ["dbus-daemon", "--session", "--nofork", "--nopidfile", "--nosyslog",
                          f"--address=unix:path={path}"])
        wait_for(f"the {name} socket", lambda: os.path.exists(path), 10, alive=self.alive(name))
        return f"unix:path={path}"

    def start_shell(self):
        self.run(["gsettings", "set", "org.gnome.shell", "enabled-extensions",
                  "['ubuntu-appindicators@ubuntu.com']"])
        no_core = lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0))  # noqa: E731
        self.start("gnome-shell", ["gnome-shell", "--x11", "--replace", "--sm-disable"],
                                preexec_fn=no_core)
        wait_for("GNOME Shell's StatusNotifierWatcher", self.watcher_present, 60, interval=0.5,
                 alive=self.alive("gnome-shell"))
        log("GNOME Shell runs with its StatusNotifierWatcher")

    def bus_call(self, dest, path, method, *args):
        return self.run(["dbus-send", "--session", f"--dest={dest}", "--print-reply", path, method,
                         *args], check=False)

    def watcher_present(self):
        out = self.bus_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus.NameHasOwner", "string:org.kde.StatusNotifierWatcher")
        return "boolean true" in out

    def overview_active(self):
        out = self.bus_call("org.gnome.Shell", "/org/gnome/Shell", "org.freedesktop.DBus.Properties.Get",
                            "string:org.gnome.Shell", "string:OverviewActive")
        return "boolean false" not in out

    def leave_overview(self):
        # The shell shows the overview, which hides other windows (the popover too), once its opening
        # animation ends; it may read as inactive before that. Escape until it stays away for a while.
        quiet_since = [None]

        def left():
            if self.overview_active():
                quiet_since[0] = None
                self.run(["xdotool", "key", "Escape"])
                return False
            if quiet_since[0] is None:
                quiet_since[0] = time.monotonic()
            return time.monotonic() - quiet_since[0] >= 2.0

        wait_for("the shell to leave the overview", left, 30, interval=0.25,
                 alive=self.alive("gnome-shell"))

    def start_simapi(self):
        a = self.args
        argv = [a.simapi, "--port", str(API_PORT), "--tls", "--cert", os.path.join(a.ca_dir, "server.pem"),
                "--key", os.path.join(a.ca_dir, "server.key"), "--control-port", "0"]
        # The port is fixed (the demo build's base URL): wait a while for another user to release it.
        port_deadline = time.monotonic() + 45
        waited = False
        while True:
            proc = self.start("simapi", argv)
            logfile = self.procs[-1][2]

            def outcome():
                m = re.search(r"listening on \d+ control (\d+)", tail(logfile))
                return (m and int(m.group(1))) or (proc.poll() is not None and -1)

            port = wait_for("the simulated API", outcome, 10)
            if port > 0:
                self.control_port = port
                return
            if "in use" not in tail(logfile) or time.monotonic() > port_deadline:
                raise Failure(f"the simulated API did not start:\n{tail(logfile)}")
            if not waited:
                log(f"port {API_PORT} is in use, waiting for it")
            waited = True
            self.procs.pop()
            time.sleep(1)

    def serve(self, wei):
        low, standard, fast = wei
        body = json.dumps({"code": 0, "message": "ok", "data": {
            "low": {"price": low}, "standard": {"price": standard},
            "fast": {"price": fast, "time": int(time.time())}}})
        script = {"path": GAS_PATH, "set": {"kind": "fixed", "body": body}}
        request = urllib.request.Request(f"http://127.0.0.1:{self.control_port}/__control/script",
                                         data=json.dumps(script).encode(), method="POST")
        with urllib.request.urlopen(request, timeout=5):
            pass  # a refused script raises

    def start_gweibar(self):
        self.start("gweibar", [self.args.gweibar], env=dict(self.env, QT_QPA_PLATFORM="xcb"))

    # --- the screen ------------------------------------------------------------------------------

    def screenshot(self, name):
        path = os.path.join(self.artefacts, name)
        self.run(["import", "-window", "root", path])
        return path

    def bounding_box(self, image, box, *operations):
        """(x, y, w, h) around the white pixels of the box after the operations; None if none."""
        x0, y0, x1, y1 = box
        out = self.run(["convert", image, "-crop", f"{x1 - x0}x{y1 - y0}+{x0}+{y0}", "+repage",
                        *operations, "-format", "%[fx:maxima] %@", "info:"])
        m = re.fullmatch(r"(\S+) (\d+)x(\d+)\+(\d+)\+(\d+)", out.strip())
        if not m or float(m.group(1)) == 0:
            return None
        w, h, x, y = (int(v) for v in m.groups()[1:])
        return x0 + x, y0 + y, w, h

    def label_text_box(self, shot):
        """Where the label's text is: the light pixels right of the item's coloured icon."""
        x0, y0, x1, y1 = LABEL_AREA
        icon = self.bounding_box(shot, LABEL_AREA, "-colorspace", "HSL", "-channel", "G",
                                 "-separate", "+channel", "-threshold", "30%")
        if icon:
            x0 = icon[0] + icon[2]
        return self.bounding_box(shot, (x0, y0, x1, y1), "-colorspace", "Gray", "-threshold", "50%")

    def read_label(self, shot, stem):
        box = self.label_text_box(shot)
        if not box:
            return ""
        x, y, w, h = box
        pad = 6
        ocr_input = os.path.join(self.artefacts, f"{stem}-ocr.png")
        self.run(["convert", shot, "-crop", f"{w + 2 * pad}x{h + 2 * pad}+{x - pad}+{max(0, y - pad)}",
                  "+repage", "-colorspace", "Gray", "-negate", "-resize", "300%", "-threshold", "50%",
                  ocr_input])
        return self.run(["tesseract", ocr_input, "stdout", "--psm", "7", "-c",
                         "tessedit_char_whitelist=0123456789|.- "], check=False).strip()

    def expect_label(self, expected, stem, timeout):
        readings = []

        def shown():
            text = self.read_label(self.screenshot(f"{stem}.png"), stem)
            if not readings or readings[-1] != text:
                readings.append(text)
            return text.replace(" ", "") == expected.replace(" ", "")

        try:
            wait_for(f"the label '{expected}'", shown, timeout, interval=0.5,
                     alive=self.alive("gweibar", "gnome-shell"))
        except Failure as e:
            raise Failure(f"{e}; OCR read {readings}") from None
        log(f"the top bar shows '{expected}' ({stem}.png)")

    def popover_window(self):
        out = self.run(["xdotool", "search", "--onlyvisible", "--name", "gweibar popover"], check=False)
        return out.split()[0] if out.split() else None

    def window_geometry(self, window):
        out = self.run(["xdotool", "getwindowgeometry", "--shell", window])
        values = dict(line.split("=", 1) for line in out.split())
        return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--gweibar", required=True, help="the demo build's gweibar")
    parser.add_argument("--simapi", required=True, help="the demo build's gweibar-simapi")
    parser.add_argument("--ca-dir", required=True, help="server.pem/server.key the demo build trusts")
    parser.add_argument("--artefacts", required=True, help="directory for screenshots and logs")
    args = parser.parse_args()

    for path in (args.gweibar, args.simapi, os.path.join(args.ca_dir, "server.pem")):
        if not os.path.exists(path):
            print(f"missing {path}: build the demo configuration first (make demo)", file=sys.stderr)
            return 1
    shutil.rmtree(args.artefacts, ignore_errors=True)
    os.makedirs(args.artefacts)

    def stop(signum, _frame):
        raise Failure(f"stopped by signal {signum}")

    for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
        signal.signal(s, stop)
    # Orphans of the processes started here become this process's children instead of init's, so
    # none outlives the test unseen and all are reaped.
    ctypes.CDLL(None, use_errno=True).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER

    clear_up_after_killed_runs()

    session = Session(args)
    try:
        session.start_x()
        session.env["DBUS_SYSTEM_BUS_ADDRESS"] = session.start_bus("system-bus")
        session.env["DBUS_SESSION_BUS_ADDRESS"] = session.start_bus("session-bus")
        session.start_shell()
        session.leave_overview()
        session.start_simapi()
        session.serve(FIRST[0])
        session.start_gweibar()
        session.expect_label(FIRST[1], "1-label", 20)

        # The next refresh comes within 5 s.
        session.serve(SECOND[0])
        session.expect_label(SECOND[1], "2-label-changed", 15)

        if session.popover_window():
            raise Failure("the popover is shown before any click")
        session.leave_overview()
        x, y, w, h = session.label_text_box(os.path.join(args.artefacts, "2-label-changed.png"))
        x, y = x + w // 2, y + h // 2
        session.run(["xdotool", "mousemove", str(x), str(y), "click", "1"])
        window = wait_for("the popover after a left click on the label", session.popover_window, 10,
                          alive=session.alive("gweibar"))
        time.sleep(0.5)  # let it be drawn for the screenshot
        if session.overview_active():
            raise Failure("the overview came back and hides the popover")
        session.screenshot("3-popover.png")
        # Anchored at the click, which the shell passes on: just below the bar, under the label.
        px, py, pw, ph = session.window_geometry(window)
        log(f"a left click at ({x}, {y}) opened the popover at {pw}x{ph}+{px}+{py} (3-popover.png)")
        if not (0 <= px and px + pw <= SCREEN_W and py + ph <= SCREEN_H):
            raise Failure("the popover is not wholly on screen")
        if not (BAR_H - 8 <= py <= BAR_H + 40 and px - 40 <= x <= px + pw + 40):
            raise Failure("the popover is not next to the label")
    except (Failure, subprocess.TimeoutExpired, OSError, ValueError) as e:
        try:
            session.screenshot("failure.png")
        except (Failure, subprocess.TimeoutExpired):
            pass
        print(f"FAIL: {e}\nscreenshots and logs: {args.artefacts}", file=sys.stderr)
        return 1
    finally:
        for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(s, signal.SIG_IGN)
        session.teardown()
    print(f"PASS; screenshots and logs: {args.artefacts}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
