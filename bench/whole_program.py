#!/usr/bin/env python3
"""Whole-program benchmark: the real program under a private Xvfb against the simulated API on loopback TLS.

Measures, in one run on this machine:
  * process start to the first title on screen (the strip window shows text), over several starts;
  * CPU time (utime + stime) per refresh, refreshes counted from the simulated API's request log, side by
    side with the HTTP floor: bench/reference_refresh, a bare Qt window making the same two signed HTTPS
    requests at the same rate against a second simulated API, doing nothing with the replies;
  * PSS, RSS and private dirty memory after the run, against a bare Qt Widgets + Network + DBus window;
  * memory growth between the end of the warm-up and the end of the run;
  * the biggest remaining costs, from a short profile (perf, or callgrind), and with callgrind the
    instructions per refresh of the program and of the floor;
  * the same CPU comparison (and callgrind profile) as a user's program runs: prices that move at every
    refresh, as they do at the shipped 5 s interval, so that every refresh saves the time, the gas
    prices and the token price (with prices moving every 5 s, the 50 ms load-test refresh saves only one
    time in a hundred), and the price popover opened once and closed again, so that its fields are
    filled at every refresh.

Uses the load-test build (50 ms refresh, https://localhost:38444) and build/release/bench/reference_window
and reference_refresh.
Environment:
  GWEIBAR_BENCH_REFRESHES  refreshes measured after the warm-up (default 10000, about 9 minutes; 0 skips)
  GWEIBAR_BENCH_WARMUP     refreshes before the first measurement (default 600)
  GWEIBAR_BENCH_STARTS     starts measured for the first title, each with and without saved prices
                           (default 10; 0 skips)
  GWEIBAR_BENCH_PROFILE    profilers to run, comma-separated: perf,callgrind (default), or none
  GWEIBAR_BENCH_PROFILE_SECONDS  length of the profiled run (default 15; callgrind runs are slower)
  GWEIBAR_BENCH_KEEP_PROFILES    a directory to copy the callgrind dumps of the program and the floor to
  GWEIBAR_BENCH_MOVING_REFRESHES refreshes measured with prices moving at every refresh and the popover
                           opened once (default 1000, about a minute; 0 skips)
A 3-minute run: GWEIBAR_BENCH_REFRESHES=1000 GWEIBAR_BENCH_WARMUP=200 GWEIBAR_BENCH_STARTS=2.
Exits non-zero when a target is missed.
"""

import ctypes
import ctypes.util
import fcntl
import json
import os
import re
import select
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
APP = os.path.join(ROOT, "build/loadtest/menubar/gweibar")
SIMAPI = os.path.join(ROOT, "build/loadtest/tools/simapi/gweibar-simapi")
REFERENCE = os.path.join(ROOT, "build/release/bench/reference_window")
FLOOR = os.path.join(ROOT, "build/release/bench/reference_refresh")
CERTS = os.path.join(ROOT, "build/demo-ca")
API_PORT = 38444  # compiled into the load-test build
REFRESH_S = 0.05  # the load-test build's refresh interval
GAS_PRICE_PATH = "/api/v1/chains/EVM/1/gas_price"

TARGET_TITLE_MS = 150.0
TARGET_CPU_MS = 1.0
TARGET_FLOOR_RATIO = 1.15  # CPU per refresh against the floor's, measured side by side
TARGET_PRIVATE_DIRTY_KIB = 5 * 1024
TARGET_RSS_RATIO = 1.15
# Allocator and page-cache noise: a few pages up or down is not growth; a leak of even a few bytes per
# refresh shows far past this over 10,000 refreshes.
GROWTH_NOISE_KIB = 64


def env_int(name, default):
    value = os.environ.get(name, "")
    return int(value) if value else default


def log(*args):
    print(*args, flush=True)


# Entry points into the libraries whose whole cost the callgrind profile lists.
HEAVY_LIBRARY_CALLS = ("QNetworkAccessManager::createRequest", "QObject::connect(QObject const*, char const*",
                       "QSslSocketPrivate::transmit", "QSslSocketPrivate::_q_readyReadSlot", "QSettings::sync",
                       "QTextEngine::shape(", "QWidgetRepaintManager::sync(", "QJsonDocument::fromJson")


# --- X11, through libX11 and ctypes ---------------------------------------------------------------

class XAnyWindowEvent(ctypes.Structure):
    # The leading fields shared by CreateNotify, MapNotify and ConfigureNotify (event, then window).
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("event", ctypes.c_ulong), ("window", ctypes.c_ulong)]


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("any", XAnyWindowEvent), ("pad", ctypes.c_long * 24)]


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("class_", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
                ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong),
                ("save_under", ctypes.c_int), ("colormaps", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


SIOCGIFFLAGS = 0x8913
SIOCSIFFLAGS = 0x8914
IFF_UP = 0x1

MAP_NOTIFY = 19
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
Z_PIXMAP = 2
IS_VIEWABLE = 2
X_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)


class X11:
    """Watches top-level windows being mapped and reads their pixels."""

    def __init__(self, display_name):
        path = ctypes.util.find_library("X11") or "libX11.so.6"
        x = ctypes.CDLL(path)
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        x.XConnectionNumber.argtypes = [ctypes.c_void_p]
        x.XPending.argtypes = [ctypes.c_void_p]
        x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XEvent)]
        x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
        x.XFree.argtypes = [ctypes.c_void_p]
        x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x.XGetImage.restype = ctypes.POINTER(XImage)
        x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(XWindowAttributes)]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.x = x
        # A window that goes away between two requests must not end this process.
        self.error_handler = X_ERROR_HANDLER(lambda display, event: 0)
        x.XSetErrorHandler(self.error_handler)
        self.dpy = x.XOpenDisplay(display_name.encode())
        if not self.dpy:
            raise RuntimeError("cannot open display " + display_name)
        self.root = x.XDefaultRootWindow(self.dpy)
        x.XSelectInput(self.dpy, self.root, SUBSTRUCTURE_NOTIFY_MASK)
        x.XSync(self.dpy, 0)
        self.fd = x.XConnectionNumber(self.dpy)

    def close(self):
        self.x.XCloseDisplay(self.dpy)

    def drain(self):
        event = XEvent()
        while self.x.XPending(self.dpy):
            self.x.XNextEvent(self.dpy, ctypes.byref(event))

    def mapped_windows(self, timeout):
        """Top-level windows mapped since the last call, waiting up to `timeout` seconds for the first."""
        if not self.x.XPending(self.dpy):
            select.select([self.fd], [], [], timeout)
        windows = []
        event = XEvent()
        while self.x.XPending(self.dpy):
            self.x.XNextEvent(self.dpy, ctypes.byref(event))
            if event.type == MAP_NOTIFY:
                windows.append(event.any.window)
        return windows

    def name(self, window):
        out = ctypes.c_char_p()
        if not self.x.XFetchName(self.dpy, window, ctypes.byref(out)) or not out.value:
            return ""
        text = out.value.decode(errors="replace")
        self.x.XFree(out)
        return text

    def shows_text(self, window):
        """True once the window holds some pixels clearly darker than its most common colour (text)."""
        attributes = XWindowAttributes()
        if not self.x.XGetWindowAttributes(self.dpy, window, ctypes.byref(attributes)):
            return False
        if attributes.map_state != IS_VIEWABLE or attributes.width < 1 or attributes.height < 1:
            return False
        image = self.x.XGetImage(self.dpy, window, 0, 0, attributes.width, attributes.height, ~0 & 0xFFFFFFFF,
                                 Z_PIXMAP)
        if not image:
            return False
        try:
            img = image.contents
            if img.bits_per_pixel != 32:
                raise RuntimeError("needs a 24- or 32-bit screen")
            width, height, stride = img.width, img.height, img.bytes_per_line
            raw = ctypes.string_at(img.data, stride * height)
        finally:
            self.x.XFree(image.contents.data)
            self.x.XFree(image)
        counts = {}
        for row in range(height):
            line = raw[row * stride: row * stride + 4 * width]
            for i in range(0, len(line), 4):
                pixel = line[i:i + 3]
                counts[pixel] = counts.get(pixel, 0) + 1
        background = max(counts, key=counts.get)
        level = sum(background)
        dark = sum(n for pixel, n in counts.items() if sum(pixel) < level - 3 * 64)
        return dark >= 3


# --- processes and /proc ----------------------------------------------------------------------------

class Processes:
    """Every process this benchmark starts, stopped by its own id at the end."""

    def __init__(self):
        self.started = []

    def start(self, args, **kwargs):
        process = subprocess.Popen(args, **kwargs)
        self.started.append(process)
        return process

    def stop(self, process, timeout=5):
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(timeout)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        if process in self.started:
            self.started.remove(process)

    def stop_all(self):
        for process in reversed(list(self.started)):
            self.stop(process)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # utime and stime are fields 14 and 15 of the whole line, counted from 1; all threads included.
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def memory_kib(pid):
    values = {}
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            match = re.match(r"(\w+):\s+(\d+) kB", line)
            if match:
                values[match.group(1)] = int(match.group(2))
    return {"rss": values["Rss"], "pss": values["Pss"], "private_dirty": values["Private_Dirty"]}


def mib(kib):
    return f"{kib / 1024:.2f} MiB"


# --- the simulated API ------------------------------------------------------------------------------

class SimApi:
    def __init__(self, processes, workdir, port=API_PORT, name="simapi", moving=False):
        self.log_path = os.path.join(workdir, name + ".log")
        with open(self.log_path, "w") as out:
            self.process = processes.start(
                [SIMAPI, "--port", str(port), "--tls", "--cert", os.path.join(CERTS, "server.pem"),
                 "--key", os.path.join(CERTS, "server.key"), "--control-port", "0"]
                + (["--market-per-request"] if moving else []),
                stdout=out, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            with open(self.log_path) as f:
                match = re.search(r"listening on (\d+) control (\d+)", f.read())
            if match:
                self.base_url = f"https://localhost:{match.group(1)}"
                self.control = f"http://127.0.0.1:{match.group(2)}/__control"
                return
            if self.process.poll() is not None:
                break
            time.sleep(0.05)
        with open(self.log_path) as f:
            raise RuntimeError(f"the simulated API did not start on port {port}: {f.read().strip()}")

    def _call(self, route, body=None):
        request = urllib.request.Request(self.control + route, data=body,
                                         method="POST" if body is not None else "GET")
        with urllib.request.urlopen(request, timeout=60) as reply:
            return reply.read()

    def refreshes(self):
        """Refreshes since the last reset: each ends with its gas price request."""
        requests = json.loads(self._call("/requests"))["requests"]
        return sum(1 for r in requests if r["method"] == "GET" and r["path"].split("?")[0] == GAS_PRICE_PATH)

    def reset(self):
        self._call("/reset", b"")

    def take_refreshes(self):
        """Refreshes since the last reset, then a reset: the log stays small, and fetching it never stalls
        the server (a stalled server makes the program open more connections). A request landing between
        the two calls goes uncounted, which errs towards more CPU per refresh."""
        seen = self.refreshes()
        self.reset()
        return seen


# --- the measurements -------------------------------------------------------------------------------

class Bench:
    def __init__(self, workdir, processes):
        self.workdir = workdir
        self.processes = processes
        self.failures = []

    def start_xvfb(self):
        read_end, write_end = os.pipe()
        self.xvfb = self.processes.start(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-br"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        ready, _, _ = select.select([read_end], [], [], 15)
        number = os.read(read_end, 32).decode().strip() if ready else ""
        os.close(read_end)
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        runtime = os.path.join(self.workdir, "runtime")
        os.makedirs(runtime, mode=0o700)
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        # No session bus: the program shows its strip window, the same on every machine.
        self.env.update(DISPLAY=self.display, XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="xcb")

    def app_env(self, config):
        env = dict(self.env)
        env["XDG_CONFIG_HOME"] = config
        return env

    def start_app(self, config, command_prefix=()):
        out = open(os.path.join(self.workdir, "gweibar.out"), "a")
        try:
            return self.processes.start(list(command_prefix) + [APP], env=self.app_env(config), stdout=out,
                                        stderr=subprocess.STDOUT, cwd=self.workdir)
        finally:
            out.close()

    def check(self, ok, text):
        log(("  ok    " if ok else "  MISS  ") + text)
        if not ok:
            self.failures.append(text)

    # Process start to the strip window showing the first title.
    def first_title(self, x11, config):
        x11.drain()
        started = time.perf_counter()
        app = self.start_app(config)
        strip = None
        try:
            deadline = started + 10
            while time.perf_counter() < deadline:
                if strip is None:
                    for window in x11.mapped_windows(0.001):
                        if x11.name(window) == "gweibar":
                            strip = window
                if strip is not None and x11.shows_text(strip):
                    return (time.perf_counter() - started) * 1000
                if app.poll() is not None:
                    raise RuntimeError(f"gweibar ended with status {app.returncode} before showing a title")
                if strip is not None:
                    time.sleep(0.0005)
            raise RuntimeError("no title on screen within 10 s")
        finally:
            self.processes.stop(app)

    def seed_saved_prices(self, config):
        """Lets one run save the prices of its first refresh, as a user's earlier runs have."""
        app = self.start_app(config)
        defaults = os.path.join(config, "gweibar", "defaults.json")
        try:
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline:
                if os.path.exists(defaults):
                    with open(defaults, "rb") as f:
                        if re.search(rb'"low"\s*:\s*"[0-9]', f.read()):
                            return
                time.sleep(0.05)
            with open(os.path.join(self.workdir, "gweibar.out"), errors="replace") as out:
                raise RuntimeError("no prices saved within 10 s; gweibar said:\n" + out.read()[-2000:])
        finally:
            self.processes.stop(app)

    def measure_first_title(self, starts):
        log(f"== start to first title ({starts} starts each)")
        saved_config = os.path.join(self.workdir, "saved-config")
        self.seed_saved_prices(saved_config)
        x11 = X11(self.display)
        try:
            fresh, saved = [], []
            for i in range(starts):
                fresh.append(self.first_title(x11, os.path.join(self.workdir, f"fresh-config-{i}")))
                saved.append(self.first_title(x11, saved_config))
        finally:
            x11.close()
        for name, values in (("first start (no saved settings)", fresh), ("with saved settings", saved)):
            log(f"  {name}: median {statistics.median(values):.1f} ms, "
                f"min {min(values):.1f} ms, max {max(values):.1f} ms")
        # The first start of all also pays for a cold page cache; the median is the figure.
        self.check(statistics.median(fresh) <= TARGET_TITLE_MS and statistics.median(saved) <= TARGET_TITLE_MS,
                   f"first title median <= {TARGET_TITLE_MS:.0f} ms")

    def measure_reference(self, name, arguments=()):
        reference = self.processes.start([REFERENCE, *arguments],
                                         env=self.app_env(os.path.join(self.workdir, "ref-config")),
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            time.sleep(3)
            if reference.poll() is not None:
                raise RuntimeError("the reference window ended early")
            memory = memory_kib(reference.pid)
        finally:
            self.processes.stop(reference)
        log(f"  {name}: RSS {mib(memory['rss'])}, PSS {mib(memory['pss'])}, "
            f"private dirty {mib(memory['private_dirty'])}")
        return memory

    def measure_references(self, simapi):
        log("== bare Qt Widgets + Network + DBus window")
        base = [simapi.base_url, os.path.join(CERTS, "ca.pem")]
        bare = self.measure_reference("bare")
        tls = self.measure_reference("the same after one refresh's two HTTPS requests (for comparison)", base)
        return bare, tls

    def start_floor(self, simapi, command_prefix=()):
        """The HTTP floor: the program's two requests every refresh interval, through Qt alone."""
        return self.processes.start(
            list(command_prefix) + [FLOOR, simapi.base_url, os.path.join(CERTS, "ca.pem"),
                                    str(int(REFRESH_S * 1000))],
            env=self.app_env(os.path.join(self.workdir, "floor-config")), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)

    def wait_for_refreshes(self, simapi, app, count, on_sample=None, beside=None):
        """Waits until `count` refreshes of `app` since the last reset; samples memory every 10 s meanwhile.
        `beside`, a (simapi, process) pair running alongside, has its refreshes counted over the same time
        and returned second."""
        started = time.monotonic()
        deadline = started + 3 * count * REFRESH_S + 60
        next_sample = started + 10
        seen = beside_seen = 0
        while seen < count:
            for process in (app, beside[1]) if beside else (app,):
                if process.poll() is not None:
                    raise RuntimeError(f"{os.path.basename(process.args[0])} ended with status"
                                       f" {process.returncode}")
            if time.monotonic() > deadline:
                raise RuntimeError(f"{seen} refreshes of {count} in {time.monotonic() - started:.0f} s")
            time.sleep(max(0.05, min(next_sample - time.monotonic(), (count - seen) * REFRESH_S)))
            if on_sample and time.monotonic() >= next_sample:
                on_sample()
                next_sample += 10
            seen += simapi.take_refreshes()
            if beside:
                beside_seen += beside[0].take_refreshes()
        return (seen, beside_seen) if beside else seen

    def measure_run(self, simapi, floor_simapi, refreshes, warmup, references):
        log(f"== {refreshes} refreshes after a warm-up of {warmup} (load-test build, {REFRESH_S * 1000:.0f} ms"
            " refresh, loopback TLS), side by side with the HTTP floor")
        simapi.reset()
        floor_simapi.reset()
        app = self.start_app(os.path.join(self.workdir, "run-config"))
        floor = self.start_floor(floor_simapi)
        try:
            self.wait_for_refreshes(simapi, app, warmup, beside=(floor_simapi, floor))
            cpu_start = cpu_seconds(app.pid)
            floor_cpu_start = cpu_seconds(floor.pid)
            wall_start = time.monotonic()
            memory_start = memory_kib(app.pid)
            series = [(0.0, memory_start)]

            def sample():
                series.append((time.monotonic() - wall_start, memory_kib(app.pid)))
                if len(series) % 6 == 0:
                    m = series[-1][1]
                    log(f"  {series[-1][0]:5.0f} s: RSS {mib(m['rss'])}, private dirty {mib(m['private_dirty'])}")

            counted, floor_counted = self.wait_for_refreshes(simapi, app, refreshes, sample,
                                                             beside=(floor_simapi, floor))
            cpu_end = cpu_seconds(app.pid)
            floor_cpu_end = cpu_seconds(floor.pid)
            wall = time.monotonic() - wall_start
            memory_end = memory_kib(app.pid)
            floor_memory = memory_kib(floor.pid)
        finally:
            self.processes.stop(app)
            self.processes.stop(floor)
        series.append((wall, memory_end))

        per_refresh_ms = (cpu_end - cpu_start) * 1000 / counted
        floor_ms = (floor_cpu_end - floor_cpu_start) * 1000 / max(1, floor_counted)
        log(f"  {counted} refreshes in {wall:.1f} s ({counted / wall:.1f}/s), CPU {cpu_end - cpu_start:.2f} s"
            f" => {per_refresh_ms:.3f} ms per refresh ({100 * (cpu_end - cpu_start) / wall:.1f}% of one core)")
        log(f"  HTTP floor over the same {wall:.1f} s: {floor_counted} refreshes, CPU"
            f" {floor_cpu_end - floor_cpu_start:.2f} s => {floor_ms:.3f} ms per refresh")
        log(f"  program / floor: {per_refresh_ms / floor_ms:.3f}")
        self.check(per_refresh_ms <= TARGET_CPU_MS, f"CPU per refresh <= {TARGET_CPU_MS} ms")
        self.check(per_refresh_ms <= TARGET_FLOOR_RATIO * floor_ms,
                   f"CPU per refresh <= {TARGET_FLOOR_RATIO} x the HTTP floor's")

        log(f"  memory after {warmup + counted} refreshes: RSS {mib(memory_end['rss'])}, PSS {mib(memory_end['pss'])}"
            f", private dirty {mib(memory_end['private_dirty'])}")
        reference, tls_reference = references
        ratio = memory_end["rss"] / reference["rss"]
        log(f"  RSS {ratio:.3f} x the bare window's ({mib(reference['rss'])}), "
            f"{memory_end['rss'] / tls_reference['rss']:.3f} x the one after an HTTPS request, "
            f"{memory_end['rss'] / floor_memory['rss']:.3f} x the HTTP floor's ({mib(floor_memory['rss'])});"
            f" private dirty {mib(memory_end['private_dirty'] - reference['private_dirty'])} above the bare"
            f" window's")
        self.check(memory_end["private_dirty"] <= TARGET_PRIVATE_DIRTY_KIB, "private dirty <= 5 MiB")
        self.check(ratio <= TARGET_RSS_RATIO, f"RSS within {100 * (TARGET_RSS_RATIO - 1):.0f}% of the reference")

        middle = series[len(series) // 2][1]
        for key, label in (("rss", "RSS"), ("private_dirty", "private dirty")):
            highest = max(m[key] for _, m in series)
            log(f"  growth of {label}: {memory_end[key] - memory_start[key]:+d} KiB since the warm-up,"
                f" {memory_end[key] - middle[key]:+d} KiB over the second half; peak {mib(highest)}")
            self.check(memory_end[key] - memory_start[key] <= GROWTH_NOISE_KIB
                       and memory_end[key] - middle[key] <= GROWTH_NOISE_KIB // 2,
                       f"{label} growth 0 (within {GROWTH_NOISE_KIB} KiB of page noise)")

    def xdotool(self, *args):
        result = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True, timeout=15)
        return result.stdout.split() if result.returncode == 0 else []

    def open_and_close_popover(self):
        """Clicks the strip to open the price popover, then moves the focus away, which closes it."""
        strip = self.xdotool("search", "--onlyvisible", "--name", "^gweibar$")
        popover = []
        if strip:
            geometry = dict(word.split("=", 1) for word in self.xdotool("getwindowgeometry", "--shell", strip[0]))
            self.xdotool("mousemove", str(int(geometry["X"]) + int(geometry["WIDTH"]) // 2),
                         str(int(geometry["Y"]) + int(geometry["HEIGHT"]) // 2))
            self.xdotool("click", "1")
            deadline = time.monotonic() + 10
            while not popover and time.monotonic() < deadline:
                time.sleep(0.1)
                popover = self.xdotool("search", "--onlyvisible", "--name", "^gweibar popover$")
        if not popover:
            raise RuntimeError("the price popover did not open")
        # Without a window manager nothing moves the focus on a click; do what one does.
        root = self.xdotool("search", "--maxdepth", "0", "--name", "")
        self.xdotool("windowfocus", "--sync", root[0])
        deadline = time.monotonic() + 10
        while self.xdotool("search", "--onlyvisible", "--name", "^gweibar popover$"):
            if time.monotonic() > deadline:
                raise RuntimeError("the price popover did not close")
            time.sleep(0.1)

    def measure_moving(self, simapi, floor_simapi, refreshes, warmup):
        log(f"== {refreshes} refreshes with prices moving at every refresh and the popover opened once,"
            " side by side with the HTTP floor (for the closing note; no target)")
        simapi.reset()
        floor_simapi.reset()
        app = self.start_app(os.path.join(self.workdir, "moving-config"))
        floor = self.start_floor(floor_simapi)
        try:
            time.sleep(1)
            self.open_and_close_popover()
            self.wait_for_refreshes(simapi, app, warmup, beside=(floor_simapi, floor))
            cpu_start, floor_cpu_start = cpu_seconds(app.pid), cpu_seconds(floor.pid)
            counted, floor_counted = self.wait_for_refreshes(simapi, app, refreshes, beside=(floor_simapi, floor))
            cpu, floor_cpu = cpu_seconds(app.pid) - cpu_start, cpu_seconds(floor.pid) - floor_cpu_start
        finally:
            self.processes.stop(app)
            self.processes.stop(floor)
        per_refresh_ms = cpu * 1000 / counted
        floor_ms = floor_cpu * 1000 / max(1, floor_counted)
        log(f"  program {per_refresh_ms:.3f} ms per refresh ({counted}), HTTP floor {floor_ms:.3f} ms"
            f" ({floor_counted}), program / floor {per_refresh_ms / floor_ms:.3f}")

    def profile(self, simapi, floor_simapi, tool, seconds, heading="", open_popover=False):
        log(f"== biggest costs ({tool}, {seconds} s of refreshes after a warm-up{heading})")
        self.profiles = getattr(self, "profiles", 0) + 1
        run = f"{tool}-{self.profiles}"
        config = os.path.join(self.workdir, f"profile-config-{run}")
        if tool == "perf":
            data = os.path.join(self.workdir, f"{run}.data")
            # Started under perf, which records from the end of the warm-up: attaching to a running
            # process records nothing on some virtual machines.
            perf = self.start_app(config, ["perf", "record", "-q", "-F", "999", "-g", "-D", "3000", "-o", data,
                                           "--"])
            try:
                time.sleep(3)
                simapi.reset()
                time.sleep(seconds)
                refreshes = simapi.refreshes()
                with open(f"/proc/{perf.pid}/task/{perf.pid}/children") as f:
                    app_pids = [int(pid) for pid in f.read().split()]
                # perf writes its data once the program it started has ended.
                for pid in app_pids:
                    os.kill(pid, signal.SIGTERM)
                perf.wait(60)
            finally:
                self.processes.stop(perf)
            log(f"  {refreshes} refreshes sampled")
            if refreshes == 0:
                with open(os.path.join(self.workdir, "gweibar.out"), errors="replace") as out:
                    log("  no refreshes to profile; gweibar said:\n" + out.read()[-1500:])
                return
            for sort, limit in (("dso", 1), ("dso,symbol", 1)):
                report = subprocess.run(["perf", "report", "-i", data, "--stdio", "--no-children", "-g", "none",
                                         "--sort", sort, "--percent-limit", str(limit)], capture_output=True,
                                        text=True, timeout=300).stdout
                lines = [" ".join(re.sub(r"(\s+-)+\s*$", "", line).split()) for line in report.splitlines()
                         if line.strip() and not line.startswith("#")]
                log(f"  CPU time by {'library' if sort == 'dso' else 'function'} (>= {limit}%):")
                for line in lines[:15]:
                    log("    " + line)
            return

        # The program and the HTTP floor side by side, each instrumented only after its warm-up, so the
        # profiles are of refreshes, not of start-up.
        def valgrind(name):
            return ["valgrind", "--tool=callgrind", "--instr-atstart=no",
                    "--callgrind-out-file=" + os.path.join(self.workdir, name + ".out")]
        simapi.reset()
        floor_simapi.reset()
        app = self.start_app(config, valgrind(f"{run}-app"))
        floor = self.start_floor(floor_simapi, valgrind(f"{run}-floor"))
        processes = (app, floor)
        try:
            time.sleep(8)
            if open_popover:
                self.open_and_close_popover()
            for process in processes:
                subprocess.run(["callgrind_control", "-i", "on", str(process.pid)], check=True,
                               capture_output=True)
            time.sleep(3)
            simapi.reset()
            floor_simapi.reset()
            for process in processes:
                subprocess.run(["callgrind_control", "-z", str(process.pid)], check=True, capture_output=True)
            time.sleep(seconds)
            for process in processes:
                subprocess.run(["callgrind_control", "-d", str(process.pid)], check=True, capture_output=True)
            refreshes = max(1, simapi.refreshes())
            floor_refreshes = max(1, floor_simapi.refreshes())
        finally:
            for process in processes:
                self.processes.stop(process, timeout=60)

        def last_dump(name):
            dumps = sorted(f for f in os.listdir(self.workdir) if f.startswith(name + ".out."))
            return os.path.join(self.workdir, dumps[-1]) if dumps else None

        dump, floor_dump = last_dump(f"{run}-app"), last_dump(f"{run}-floor")
        if not dump or not floor_dump:
            log("  no callgrind dump")
            return
        if os.environ.get("GWEIBAR_BENCH_KEEP_PROFILES"):
            keep = os.environ["GWEIBAR_BENCH_KEEP_PROFILES"]
            os.makedirs(keep, exist_ok=True)
            shutil.copy(dump, os.path.join(keep, f"{run}.gweibar.{refreshes}-refreshes"))
            shutil.copy(floor_dump, os.path.join(keep, f"{run}.floor.{floor_refreshes}-refreshes"))
            log(f"  callgrind dumps copied to {keep}")
        floor_total = 0
        with open(floor_dump) as f:
            for line in f:
                if line.startswith("totals:") or line.startswith("summary:"):
                    floor_total = int(line.split()[1])
        rows = []
        for inclusive in ("no", "yes"):
            report = subprocess.run(["callgrind_annotate", f"--inclusive={inclusive}", "--threshold=100",
                                     "--auto=no", dump], capture_output=True, text=True, timeout=300).stdout
            parsed = []
            for line in report.splitlines():
                totals = re.match(r"\s*([\d,]+) .*PROGRAM TOTALS", line)
                if totals:
                    everything = int(totals.group(1).replace(",", ""))
                match = re.match(r"\s*([\d,]+) \([ \d.]+%\)\s+(\S.*?)(?: \[(.*)\])?$", line)
                if match and ":" in match.group(2):
                    function = match.group(2).split(":", 1)[1]
                    parsed.append((int(match.group(1).replace(",", "")), function, match.group(3) or "?"))
            rows.append(parsed)
        own, total = rows
        log(f"  {refreshes} refreshes, {everything / refreshes / 1000:.0f} k instructions per refresh; the HTTP"
            f" floor: {floor_refreshes} refreshes, {floor_total / floor_refreshes / 1000:.0f} k per refresh;"
            f" program / floor {everything / refreshes / (floor_total / floor_refreshes):.3f}")
        by_object = {}
        for cost, _, obj in own:
            by_object[os.path.basename(obj)] = by_object.get(os.path.basename(obj), 0) + cost
        log("  own instructions by library:")
        for obj, cost in sorted(by_object.items(), key=lambda kv: -kv[1])[:8]:
            log(f"    {100 * cost / everything:5.1f}%  {cost / refreshes / 1000:6.0f} k/refresh  {obj}")
        log("  own instructions by function, top 12:")
        for cost, function, obj in own[:12]:
            log(f"    {100 * cost / everything:5.1f}%  {function[:90]}  [{os.path.basename(obj)}]")
        log("  instructions including callees, the program's own functions, top 12:")
        mine = [r for r in total if os.path.basename(r[2]) == "gweibar" and "std::_Function_handler" not in r[1]]
        for cost, function, _ in mine[:12]:
            log(f"    {100 * cost / everything:5.1f}%  {function[:110]}")
        log("  instructions including callees, known heavy library calls:")
        for cost, function, obj in total:
            if function.startswith(HEAVY_LIBRARY_CALLS):
                log(f"    {100 * cost / everything:5.1f}%  {function[:100]}  [{os.path.basename(obj)}]")


def profile_tools():
    wanted = os.environ.get("GWEIBAR_BENCH_PROFILE", "perf,callgrind")
    tools = []
    for tool in filter(None, wanted.split(",")):
        if tool == "perf" and shutil.which("perf"):
            probe = subprocess.run(["perf", "stat", "-e", "task-clock", "true"], capture_output=True)
            if probe.returncode == 0:
                tools.append(tool)
                continue
        if tool == "callgrind" and shutil.which("valgrind") and shutil.which("callgrind_control"):
            tools.append(tool)
            continue
        if tool != "none":
            log(f"(no {tool} profile: the tool is missing or not permitted here)")
    return tools


def machine():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return f"{os.cpu_count()} CPUs ({len(os.sched_getaffinity(0))} usable), {model}, {os.uname().release}"


def isolate_network():
    """Where it may (as root), reruns this benchmark in a network namespace of its own: the load-test build's
    fixed port is free there whatever else runs (the crash-safety tests use it too), and nothing can leave
    loopback. Elsewhere it runs as it is, and a busy port is reported as such."""
    if os.environ.get("GWEIBAR_BENCH_ISOLATED") == "1":
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            request = struct.pack("16sh22x", b"lo", 0)
            flags = struct.unpack("16sh22x", fcntl.ioctl(s, SIOCGIFFLAGS, request))[1]
            fcntl.ioctl(s, SIOCSIFFLAGS, struct.pack("16sh22x", b"lo", flags | IFF_UP))
        return
    if os.geteuid() != 0 or not shutil.which("unshare"):
        return
    if subprocess.run(["unshare", "--net", "true"], capture_output=True).returncode != 0:
        return
    env = dict(os.environ, GWEIBAR_BENCH_ISOLATED="1")
    sys.exit(subprocess.run(["unshare", "--net", sys.executable, os.path.abspath(__file__)], env=env).returncode)


def main():
    isolate_network()
    for path in (APP, SIMAPI, REFERENCE, FLOOR):
        if not os.access(path, os.X_OK):
            sys.exit(f"missing {path}: build the load-test and release presets first (make bench does)")
    refreshes = env_int("GWEIBAR_BENCH_REFRESHES", 10000)
    warmup = env_int("GWEIBAR_BENCH_WARMUP", 600)
    starts = env_int("GWEIBAR_BENCH_STARTS", 10)
    log(f"== whole program: {machine()}")

    processes = Processes()
    workdir = tempfile.mkdtemp(prefix="gweibar-bench-")
    bench = Bench(workdir, processes)
    try:
        bench.start_xvfb()
        simapi = SimApi(processes, workdir)
        # The floor's own server, so that each side's refreshes are counted apart.
        floor_simapi = SimApi(processes, workdir, port=0, name="simapi-floor")
        if starts > 0:
            bench.measure_first_title(starts)
        references = bench.measure_references(simapi)
        if refreshes > 0:
            bench.measure_run(simapi, floor_simapi, refreshes, warmup, references)
        tools = profile_tools()
        for tool in tools:
            bench.profile(simapi, floor_simapi, tool, env_int("GWEIBAR_BENCH_PROFILE_SECONDS", 15))
        moving = env_int("GWEIBAR_BENCH_MOVING_REFRESHES", 1000)
        if moving > 0:
            for server in (simapi, floor_simapi):
                processes.stop(server.process)
            simapi = SimApi(processes, workdir, name="simapi-moving", moving=True)
            floor_simapi = SimApi(processes, workdir, port=0, name="simapi-floor-moving", moving=True)
            bench.measure_moving(simapi, floor_simapi, moving, 100)
            if "callgrind" in tools:
                bench.profile(simapi, floor_simapi, "callgrind", env_int("GWEIBAR_BENCH_PROFILE_SECONDS", 15),
                              ", prices moving at every refresh, the popover opened once", open_popover=True)
    finally:
        processes.stop_all()
        shutil.rmtree(workdir, ignore_errors=True)
    if bench.failures:
        log("whole program: targets missed: " + "; ".join(bench.failures))
        return 1
    log("whole program: every target met")
    return 0


if __name__ == "__main__":
    sys.exit(main())
