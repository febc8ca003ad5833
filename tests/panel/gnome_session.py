"""A private GNOME Shell session for the panel tests, and what they share.

Everything runs private and on loopback: a stand-in system bus, a session bus, GNOME Shell (its X11
or Wayland mode: the scripts supply how it starts and how the screen is read), the simulated API with
scripted gas prices and the demo build of gweibar. The label is read back from screenshots with
tesseract. Logs of every process stay in the artefact directory.
"""

import argparse
import ctypes
import json
import os
import re
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
APPINDICATOR = "ubuntu-appindicators@ubuntu.com"
# What the extension logs when it drops an item or stops trusting its properties (appIndicator.js).
HOST_DROPPED_ITEM = ("While initalizing proxy for", "Impossible to get basic properties", "not on bus anymore")

# Every process started here carries this variable, so teardown also finds what they start in turn
# (services the buses activate, helpers of the shell). Its value is the test's pid: what a killed
# earlier run left behind is recognised by an owner that no longer runs.
MARKER = "GWEIBAR_PANEL_TEST_OWNER"
TMP_PREFIX = "gweibar-panel-"  # then the owner's pid

T0 = time.monotonic()
# Worst case of the whole run, kept below the ctest timeout so that teardown always gets to run.
budget_s = 80


class Failure(Exception):
    pass


def log(message):
    print(f"[{time.monotonic() - T0:5.1f}s] {message}", flush=True)


def wait_for(what, predicate, timeout, interval=0.25, alive=()):
    start = time.monotonic()
    deadline = min(start + timeout, T0 + budget_s)
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


def terminate(proc):
    """Ends a process we started: politely, then for good after five seconds."""
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


class Session:
    """The private session. Subclasses start the shell and take screenshots."""

    def __init__(self, args, session_type):
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
            "XDG_SESSION_TYPE": session_type,
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

    def stop(self, name):
        """Ends the processes of that name (a shell before the next one starts)."""
        for entry in self.alive(name):
            terminate(entry[0])
            self.procs.remove(entry)

    def run(self, argv, timeout=20, check=True, env=None):
        result = subprocess.run(argv, env=env or self.env, cwd=self.tmp, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=timeout)
        if check and result.returncode != 0:
            raise Failure(f"{' '.join(argv)} failed ({result.returncode}): "
                          f"{result.stderr.decode(errors='replace').strip()}")
        return result.stdout.decode(errors="replace")

    def teardown(self):
        # GNOME Shell ends with a segmentation fault on SIGTERM (exit 139): exit codes are not checked.
        for proc, _, _ in reversed(self.procs):
            terminate(proc)
        end_processes(marked_pids(lambda owner: owner == os.getpid()))
        reap()
        shutil.rmtree(self.tmp, ignore_errors=True)

    # --- the pieces ------------------------------------------------------------------------------

    def start_bus(self, name):
        path = os.path.join(self.runtime, name)
        self.start(name, ["dbus-daemon", "--session", "--nofork", "--nopidfile", "--nosyslog",
                          f"--address=unix:path={path}"])
        wait_for(f"the {name} socket", lambda: os.path.exists(path), 10, alive=self.alive(name))
        return f"unix:path={path}"

    def start_buses(self):
        self.env["DBUS_SYSTEM_BUS_ADDRESS"] = self.start_bus("system-bus")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = self.start_bus("session-bus")

    def enable_extensions(self, uuids):
        self.run(["gsettings", "set", "org.gnome.shell", "enabled-extensions",
                  "[" + ", ".join(f"'{uuid}'" for uuid in uuids) + "]"])

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

    # --- the screen ------------------------------------------------------------------------------

    def screenshot(self, name):
        """Saves the whole screen as `name` in the artefact directory; returns its path."""
        raise NotImplementedError

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

    def ocr(self, shot, box, stem, negate=True, pad=6):
        """The digits, '|', '.' and '-' tesseract reads in the box of the screenshot (light text on a
        dark ground; `negate=False` for dark on light)."""
        x, y, w, h = box
        ocr_input = os.path.join(self.artefacts, f"{stem}-ocr.png")
        self.run(["convert", shot, "-crop", f"{w + 2 * pad}x{h + 2 * pad}+{max(0, x - pad)}+{max(0, y - pad)}",
                  "+repage", "-colorspace", "Gray", *(["-negate"] if negate else []), "-resize", "300%",
                  "-threshold", "50%", "-bordercolor", "white", "-border", "12", ocr_input])
        return self.run(["tesseract", ocr_input, "stdout", "--psm", "7", "-c",
                         "tessedit_char_whitelist=0123456789|.- "], check=False).strip()

    def read_label(self, shot, stem):
        box = self.label_text_box(shot)
        return self.ocr(shot, box, stem) if box else ""

    def expect_label(self, expected, stem, timeout, alive=("gweibar", "gnome-shell")):
        readings = []

        def shown():
            text = self.read_label(self.screenshot(f"{stem}.png"), stem)
            if not readings or readings[-1] != text:
                readings.append(text)
            return text.replace(" ", "") == expected.replace(" ", "")

        try:
            wait_for(f"the label '{expected}'", shown, timeout, interval=0.5, alive=self.alive(*alive))
        except Failure as e:
            raise Failure(f"{e}; OCR read {readings}{self.host_warnings()}") from None
        log(f"the top bar shows '{expected}' ({stem}.png)")

    def host_warnings(self):
        """What the AppIndicator extension logged, should it have dropped the item."""
        shell = self.alive("gnome-shell")
        lines = [line for line in tail(shell[0][2], 400).splitlines()
                 if "Ubuntu-AppIndicators-WARNING" in line] if shell else []
        return "; the shell's AppIndicator extension logged:\n" + "\n".join(lines) if lines else ""

    def expect_item_kept(self):
        """Fails if the AppIndicator extension dropped the item, or gave up reading it, at any time: the
        program registers again after a drop, so the label coming back must not hide that it went."""
        shell = self.alive("gnome-shell")
        with open(shell[0][2], errors="replace") as f:
            lines = [line.strip() for line in f if "Ubuntu-AppIndicators-WARNING" in line
                     and any(sign in line for sign in HOST_DROPPED_ITEM)]
        if lines:
            raise Failure("the shell's AppIndicator extension dropped the item:\n" + "\n".join(lines))
        log("the AppIndicator extension never dropped the item")


def run_main(description, session_class, steps, budget, add_arguments=None):
    """Parses the common arguments, runs `steps(session, args)` in a fresh session and always tears it
    down; returns the exit status."""
    global budget_s
    budget_s = budget
    parser = argparse.ArgumentParser(description=description,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--gweibar", required=True, help="the demo build's gweibar")
    parser.add_argument("--simapi", required=True, help="the demo build's gweibar-simapi")
    parser.add_argument("--ca-dir", required=True, help="server.pem/server.key the demo build trusts")
    parser.add_argument("--artefacts", required=True, help="directory for screenshots and logs")
    if add_arguments:
        add_arguments(parser)
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

    session = session_class(args)
    try:
        steps(session, args)
    except (Failure, subprocess.TimeoutExpired, OSError, ValueError) as e:
        try:
            session.screenshot("failure.png")
        except (Failure, subprocess.TimeoutExpired, OSError, NotImplementedError):
            pass
        print(f"FAIL: {e}\nscreenshots and logs: {args.artefacts}", file=sys.stderr)
        return 1
    finally:
        for s in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(s, signal.SIG_IGN)
        session.teardown()
    print(f"PASS in {time.monotonic() - T0:.0f} s; screenshots and logs: {args.artefacts}")
    return 0
