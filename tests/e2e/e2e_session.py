"""A private desktop for one end-to-end run of the demo build.

Xvfb on a display number it picks itself, a private session bus, the simulated API on its fixed port,
optionally the test StatusNotifierWatcher, and gweibar with private HOME and XDG directories. Every
process started here is ended when the session ends, on failure and on SIGTERM/SIGINT too; their
output is kept in the run's artefact directory.
"""

import argparse
import json
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

API_PORT = 38443  # compiled into the demo build
SCREEN_WIDTH, SCREEN_HEIGHT = 1280, 800
# What AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer print when they find a fault (the
# asan tree runs these tests against a sanitizer build, with the sanitizer options of ctest's environment).
SANITIZER_REPORTS = (b"ERROR: AddressSanitizer", b"ERROR: LeakSanitizer", b"runtime error:",
                     b"SUMMARY: UndefinedBehaviorSanitizer")


class Failure(Exception):
    pass


def e2e_arguments(description):
    """The arguments every end-to-end script of the demo build takes; the caller adds its own."""
    parser = argparse.ArgumentParser(description=description, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--demo", required=True, help="build tree of the demo configuration")
    parser.add_argument("--ca", required=True, help="directory with the demo server certificate")
    parser.add_argument("--artefacts", required=True, help="where screenshots and logs go")
    return parser


def demo_build_missing(demo):
    """The first program of the demo build that is not there, with what to do; None when all are."""
    for tool in ("menubar/gweibar", "tools/simapi/gweibar-simapi", "tools/sniwatcher/gweibar-sniwatcher"):
        if not os.access(os.path.join(demo, tool), os.X_OK):
            return f"missing {os.path.join(demo, tool)}: build the demo configuration first (make demo)"
    return None


def wait_until(what, predicate, timeout, interval=0.05):
    """Polls until `predicate` returns something truthy and returns that; raises Failure after `timeout` s."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Failure(f"{what}: not within {timeout:g} s")
        time.sleep(interval)


def _terminated_by_signal(signum, _frame):
    # Turns SIGTERM (ctest's timeout, a Ctrl-C) into an exception, so that the session's clean-up runs.
    raise SystemExit(128 + signum)


class Process:
    """A child process whose standard output and error go to files in the artefact directory."""

    def __init__(self, name, argv, env, logs, stdin=None):
        self.name = name
        self.stdout_path = os.path.join(logs, f"{name}.stdout")
        self.stderr_path = os.path.join(logs, f"{name}.stderr")
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.popen = subprocess.Popen(argv, env=env, stdin=stdin, stdout=out, stderr=err)
        self.started = time.monotonic()

    def output(self):
        with open(self.stdout_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def lines(self):
        return self.output().splitlines()

    def stderr_tail(self, size=2000):
        with open(self.stderr_path, "rb") as f:
            return f.read()[-size:].decode("utf-8", "replace")

    def check_running(self):
        code = self.popen.poll()
        if code is not None:
            raise Failure(f"{self.name} exited with {code}; stderr ends:\n{self.stderr_tail()}")

    def sanitizer_report(self):
        """The first sanitizer report in the standard error output, or None."""
        if self.stderr_path == os.devnull:
            return None
        with open(self.stderr_path, "rb") as f:
            err = f.read()
        found = [err.rfind(b"\n", 0, err.find(marker)) + 1 for marker in SANITIZER_REPORTS if marker in err]
        return err[min(found):][:6000].decode("utf-8", "replace") if found else None

    def stop(self):
        if self.popen.poll() is None:
            self.popen.terminate()
            try:
                self.popen.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                self.popen.wait()
        for pipe in (self.popen.stdin, self.popen.stdout):
            if pipe:
                pipe.close()


class XWindows:
    """X windows seen through xdotool, on the X display in `self.env`."""

    def xdotool(self, *args):
        result = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True, timeout=15)
        return result.stdout.split() if result.returncode == 0 else []

    def visible_windows(self, title):
        # Qt makes hidden helper windows with the same titles; only mapped ones count.
        return self.xdotool("search", "--onlyvisible", "--name", f"^{title}$")

    def geometry(self, window):
        """(x, y, width, height) of a window, in screen pixels."""
        values = {}
        for word in self.xdotool("getwindowgeometry", "--shell", window):
            key, _, value = word.partition("=")
            values[key] = int(value) if value.lstrip("-").isdigit() else value
        return values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]


class Session(XWindows):
    def __init__(self, demo_dir, ca_dir, artefacts, api_port=API_PORT, program_dir=None):
        """`program_dir`: the build tree whose gweibar and simulated API run (a build with another
        compiled-in port, `api_port`); the test watcher always comes from `demo_dir`."""
        self.demo_dir = demo_dir
        self.program_dir = program_dir or demo_dir
        self.api_port = api_port
        self.ca_dir = ca_dir
        self.artefacts = artefacts
        self.processes = []
        self.spawned = []  # all of them, ended or not, for the sanitizer check at the end
        self.tmp = None
        self.env = None
        self.control_port = None
        self.watcher = None
        self.gweibar = None
        self.screenshots = 0

    # -- life cycle ---------------------------------------------------------------------------------

    def __enter__(self):
        signal.signal(signal.SIGTERM, _terminated_by_signal)
        signal.signal(signal.SIGINT, _terminated_by_signal)
        os.makedirs(self.artefacts, exist_ok=True)
        for name in os.listdir(self.artefacts):  # only what an earlier run left, nothing else
            if name.endswith((".png", ".stdout", ".stderr", ".log")):
                os.remove(os.path.join(self.artefacts, name))
        self.tmp = tempfile.mkdtemp(prefix="gweibar-e2e-")
        home = os.path.join(self.tmp, "home")
        runtime = os.path.join(self.tmp, "runtime")
        for d in (home, runtime):
            os.makedirs(d, mode=0o700)
        # The rest of the environment passes on, ctest's ASAN_OPTIONS, LSAN_OPTIONS and UBSAN_OPTIONS too.
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XAUTHORITY",
                            "QT_QPA_PLATFORM", "QT_SCALE_FACTOR", "XDG_CURRENT_DESKTOP")}
        env.update({
            "HOME": home,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "XDG_RUNTIME_DIR": runtime,
            "QT_QPA_PLATFORM": "xcb",
        })
        self.env = env
        try:
            self._start_display()
            self._start_bus()
            self._start_simapi()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, exc_type, *_):
        signal.signal(signal.SIGINT, signal.SIG_IGN)  # a second Ctrl-C must not cut the clean-up short
        for process in reversed(self.processes):
            process.stop()
        self.processes.clear()
        if self.tmp:
            shutil.rmtree(self.tmp, ignore_errors=True)
            self.tmp = None
        reports = [(p.name, p.sanitizer_report()) for p in self.spawned]
        reports = [f"{name}.stderr:\n{report}" for name, report in reports if report]
        if reports and exc_type is None:
            raise Failure("sanitizer report in " + "\n".join(reports))
        if reports:
            print("sanitizer report in " + "\n".join(reports), flush=True)
        return False

    def _spawn(self, name, argv, stdin=None):
        process = Process(name, argv, self.env, self.artefacts, stdin)
        self.processes.append(process)
        self.spawned.append(process)
        return process

    def _start_display(self):
        # -displayfd: the server takes the first free display number and reports it, so parallel runs
        # never meet on one display.
        read_end, write_end = os.pipe()
        try:
            with open(os.path.join(self.artefacts, "Xvfb.log"), "wb") as log:
                popen = subprocess.Popen(
                    ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp",
                     "-screen", "0", f"{SCREEN_WIDTH}x{SCREEN_HEIGHT}x24"],
                    pass_fds=(write_end,), stdout=log, stderr=log, env=self.env)
            self.processes.append(_Adopted("Xvfb", popen))
            os.close(write_end)
            write_end = None
            number = b""
            deadline = time.monotonic() + 15
            while not number.endswith(b"\n"):
                ready, _, _ = select.select([read_end], [], [], max(0.0, deadline - time.monotonic()))
                chunk = os.read(read_end, 16) if ready else b""
                if not chunk:
                    raise Failure("Xvfb reported no display number")
                number += chunk
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)
        self.env["DISPLAY"] = ":" + number.decode().strip()

    def _start_bus(self):
        # Not forked: a child of this script, so that it ends with the session whatever happens.
        popen = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=self.env)
        self.processes.append(_Adopted("dbus-daemon", popen))
        ready, _, _ = select.select([popen.stdout], [], [], 15)
        address = popen.stdout.readline().decode().strip() if ready else ""
        if not address:
            raise Failure("dbus-daemon printed no address")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address

    def _start_simapi(self):
        # The port is fixed by the demo build. Another run outside this ctest (a demo, a hand-run test)
        # may hold it for a while: wait for it rather than fail at once.
        deadline, waited = time.monotonic() + 60, False
        while True:
            simapi = self._spawn("simapi", [
                os.path.join(self.program_dir, "tools", "simapi", "gweibar-simapi"), "--port", str(self.api_port),
                "--tls", "--cert", os.path.join(self.ca_dir, "server.pem"),
                "--key", os.path.join(self.ca_dir, "server.key"), "--control-port", "0"])

            def ready():
                if simapi.popen.poll() is not None:
                    return "exited"
                for line in simapi.lines():
                    words = line.split()
                    if words[:2] == ["listening", "on"] and "control" in words:
                        return words[words.index("control") + 1]
                return None

            port = wait_until("simulated API ready", ready, 15)
            if port != "exited":
                self.control_port = int(port)
                return
            with open(simapi.stderr_path, "rb") as f:
                in_use = b"already in use" in f.read()
            if not in_use or time.monotonic() > deadline:
                simapi.check_running()
            self.processes.remove(simapi)
            if not waited:
                print(f"port {self.api_port} is in use; waiting for it", flush=True)
                waited = True
            time.sleep(1)

    def start_watcher(self):
        watcher = self._spawn("sniwatcher",
                              [os.path.join(self.demo_dir, "tools", "sniwatcher", "gweibar-sniwatcher")],
                              stdin=subprocess.PIPE)
        wait_until("watcher owns its name",
                   lambda: watcher.check_running() or "watching" in watcher.lines(), 15)
        self.watcher = watcher
        return watcher

    def watcher_command(self, line):
        self.watcher.popen.stdin.write(line.encode() + b"\n")
        self.watcher.popen.stdin.flush()

    def start_gweibar(self, wrapper=(), name="gweibar"):
        """`wrapper`: a command that ends by exec'ing its arguments (the program keeps its pid)."""
        self.gweibar = self._spawn(name, [*wrapper, os.path.join(self.program_dir, "menubar", "gweibar")])
        return self.gweibar

    def stop_process(self, process):
        process.stop()
        if process in self.processes:
            self.processes.remove(process)

    def defaults_path(self):
        return os.path.join(self.env["XDG_CONFIG_HOME"], "gweibar", "defaults.json")

    def defaults(self):
        path = self.defaults_path()
        try:
            with open(path, encoding="utf-8") as f:
                return json.load(f)
        except (OSError, ValueError):
            return None

    # -- simulated API ------------------------------------------------------------------------------

    def _control(self, method, route, body=None):
        data = json.dumps(body).encode() if body is not None else None
        request = urllib.request.Request(f"http://127.0.0.1:{self.control_port}/__control/{route}",
                                         data=data, method=method)
        try:
            with urllib.request.urlopen(request, timeout=10) as reply:
                return json.loads(reply.read() or b"null")
        except urllib.error.HTTPError as error:
            raise Failure(f"control {route}: HTTP {error.code} {error.read()[:500]!r}") from error

    def serve_gas_prices(self, low_wei, standard_wei, fast_wei, chain="*"):
        """From now on gas-price requests for `chain` ("*": all) get these prices (wei, as text)."""
        path = "/api/v1/chains/EVM/" + ("*" if chain == "*" else f"{chain}/gas_price")
        self._control("POST", "script", {"path": path, "set": gas_price_reply(low_wei, standard_wei, fast_wei)})

    def script(self, entries):
        """Script entries as the simulated API's control channel takes them (tools/simapi/README.md)."""
        self._control("POST", "script", entries)

    def refuse_connections(self, refuse):
        self._control("POST", "refuse", {"refuse": refuse})

    def api_status(self):
        """{"requests": [...], "open_connections": n, "pending_replies": n}"""
        return self._control("GET", "requests")

    def requests(self):
        return self._control("GET", "requests")["requests"]

    # -- display ------------------------------------------------------------------------------------

    def screenshot(self, name):
        self.screenshots += 1
        path = os.path.join(self.artefacts, f"{self.screenshots:02d}-{name}.png")
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True, timeout=30,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path

    def screen_pixels(self):
        """The screen as (width, height, rows of RGB bytes)."""
        ppm = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], env=self.env,
                             check=True, timeout=30, capture_output=True).stdout
        fields, position = [], 0
        while len(fields) < 4:  # magic, width, height, maximum; comments start with '#'
            while ppm[position:position + 1].isspace():
                position += 1
            if ppm[position:position + 1] == b"#":
                position = ppm.index(b"\n", position)
                continue
            end = position
            while not ppm[end:end + 1].isspace():
                end += 1
            fields.append(ppm[position:end])
            position = end
        if fields[0] != b"P6" or fields[3] != b"255":
            raise Failure(f"unexpected screenshot format {fields}")
        width, height = int(fields[1]), int(fields[2])
        data = ppm[position + 1:]
        return width, height, [data[y * width * 3:(y + 1) * width * 3] for y in range(height)]


def gas_price_reply(low_wei, standard_wei, fast_wei, close=False, **extra):
    """A `fixed` behaviour answering a gas-price request with these prices (wei, as text). With `close`
    the server closes the connection after it, so that every request needs a new one."""
    document = {"code": 0, "message": "ok", "data": {
        "low": {"price": low_wei}, "standard": {"price": standard_wei}, "fast": {"price": fast_wei}}}
    return fixed_reply(json.dumps(document), close, **extra)


def fixed_reply(body, close=False, **extra):
    headers = [["Content-Type", "application/json"]]
    if close:  # a given Content-Length makes the server close the connection afterwards
        headers.append(["Content-Length", str(len(body.encode()))])
    return {"kind": "fixed", "headers": headers, "body": body, **extra}


def vm_kib(pid, field):
    """A `Vm...` field of /proc/<pid>/status in KiB, or None once the process is gone."""
    try:
        with open(f"/proc/{pid}/status", encoding="ascii") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


class _Adopted(Process):
    """A process started by hand (it needed a pipe or fd of its own), ended like the others."""

    def __init__(self, name, popen):  # pylint: disable=super-init-not-called
        self.name = name
        self.popen = popen
        self.started = time.monotonic()
        self.stdout_path = self.stderr_path = os.devnull
