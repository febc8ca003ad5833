#!/usr/bin/env python3
"""The real program (demo build) against a hostile or broken price server, on loopback.

    gweibar_hostile.py --demo build/demo --ca build/demo-ca --artefacts DIR GROUP

GROUP is one of:
  stalled    every gas-price request held: a valid reply that comes after 70 s, one trickled a byte
             per second, then connections accepted and never answered, until the requests pile up
  malformed  refused connections, a 1 GiB body, garbage, truncated JSON and a truncated transfer,
             100,000 nested arrays, numbers of 100,000 digits, another network's prices, and
             at the end Quit from the popover while a price of 100,000 digits is shown

Throughout, in one program session per group: the popover opens within 200 ms of an Activate, at
most 12 requests are in flight at the server, resident memory stays under twice its idle value, the
defaults file never holds prices that were not validly served (nor anything in another network's
record), and a good reply after the trouble shows on the label. While a price of 100,000 digits is
shown, the popover fits the screen and its Quit button ends the program normally. Measured values go
to stdout and to DIR/measurements.json.
"""

import json
import os
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_session import (demo_build_missing, e2e_arguments, API_PORT, SCREEN_HEIGHT, SCREEN_WIDTH,  # noqa: E402
                         Failure, Session, fixed_reply, gas_price_reply, vm_kib, wait_until)
from gweibar_e2e import quit_through_popover  # noqa: E402

GWEI = 10**9
GAS_PATH = "/api/v1/chains/EVM/1/gas_price"
TOKEN_PATH = "/api/v1/tokens/prices/conditions"
POPOVER_BOUND_S = 0.200
MAX_IN_FLIGHT = 12
RSS_FACTOR = 2.0
TRANSFER_LIMIT_S = 60  # the program's limit on a whole transfer
REFRESH_S = 5  # the demo build's refresh interval
DIGITS = 100_000
NEST = 100_000
# A record of another network, written before the start; nothing may change it.
OTHER_RECORD = {"gasPriceKey": {"low": "31", "standard": "41", "fast": "59.2"},
                "tokenPriceKey": "0.71", "sysTime": "1700000000.5"}
OTHER_CHAIN = "137"


def expect(condition, message):
    if not condition:
        raise Failure(message)


def gwei_text(wei_text):
    """wei (decimal digits) as the program shows gwei: four fraction digits at most, cut, zeros dropped."""
    digits = wei_text.lstrip("0") or "0"
    whole, fraction = (digits[:-9] or "0"), digits[-9:].rjust(9, "0")[:4].rstrip("0")
    return whole + ("." + fraction if fraction else "")


class Prices:
    """Distinct prices for each reply, so that any of them showing up can be told apart."""

    def __init__(self):
        self.n = 0

    def next(self):
        self.n += 1
        return tuple(str((base + self.n) * GWEI + self.n * 1000 * 100_000) for base in (10, 20, 30))


def triple(wei_prices):
    return tuple(gwei_text(w) for w in wei_prices)


def token_reply(chain_id="1", symbol="ETH", last_price="2000.5", close=True):
    document = {"code": 0, "message": "ok", "data": {"prices": [{
        "chain": {"chain_type": "EVM", "chain_id": chain_id},
        "tokens": [{"symbol": symbol, "address": "", "last_price": last_price}]}]}}
    return fixed_reply(json.dumps(document), close)


def gas_document(wei_prices, time_value=None):
    values = {}
    for name, price in zip(("low", "standard", "fast"), wei_prices):
        entry = {"price": price}
        if time_value is not None:
            entry["time"] = "@TIME@"
        values[name] = entry
    text = json.dumps({"code": 0, "message": "ok", "data": values})
    return text.replace('"@TIME@"', str(time_value)) if time_value is not None else text


class Monitor(threading.Thread):
    """Samples, every 100 ms, the program's resident memory, the server's requests in flight and the
    defaults file, and keeps the worst of each per phase. Violations are collected, not raised here."""

    def __init__(self, session, pid):
        super().__init__(daemon=True)
        self.session = session
        self.pid = pid
        self.phase = "start"
        self.stats = {}
        self.allowed = set()  # gas triples validly served for network 1
        self.violations = []
        self.stopping = threading.Event()
        self.lock = threading.Lock()

    def set_phase(self, name):
        with self.lock:
            self.phase = name
            self.stats.setdefault(name, {"rss_max_kib": 0, "open_max": 0, "pending_max": 0, "samples": 0})

    def allow(self, prices):
        with self.lock:
            self.allowed.add(prices)

    def violation(self, text):
        with self.lock:
            if len(self.violations) < 20:
                self.violations.append(f"[{self.phase}] {text}")

    def run(self):
        tick = 0
        while not self.stopping.wait(0.1):
            tick += 1
            with self.lock:
                stats = self.stats.setdefault(self.phase, {"rss_max_kib": 0, "open_max": 0,
                                                           "pending_max": 0, "samples": 0})
            rss = vm_kib(self.pid, "VmRSS")
            if rss is not None:
                stats["rss_max_kib"] = max(stats["rss_max_kib"], rss)
            stats["samples"] += 1
            if tick % 2 == 0:
                try:
                    status = self.session.api_status()
                except (OSError, Failure) as error:
                    self.violation(f"control channel: {error}")
                    continue
                stats["open_max"] = max(stats["open_max"], status["open_connections"])
                stats["pending_max"] = max(stats["pending_max"], status["pending_replies"])
                if status["pending_replies"] > MAX_IN_FLIGHT or status["open_connections"] > MAX_IN_FLIGHT:
                    self.violation(f"{status['pending_replies']} replies pending, "
                                   f"{status['open_connections']} connections open")
            self.check_defaults()

    def check_defaults(self):
        path = self.session.defaults_path()
        try:
            with open(path, "rb") as f:
                data = f.read()
        except FileNotFoundError:
            return
        if not data:  # created empty just before the first save
            return
        try:
            document = json.loads(data)
        except ValueError as error:
            self.violation(f"defaults file does not parse ({error}): {data[:200]!r}")
            return
        if document.get(OTHER_CHAIN) != OTHER_RECORD:
            self.violation(f"network {OTHER_CHAIN}'s record changed: {str(document.get(OTHER_CHAIN))[:300]}")
        gas = (document.get("1") or {}).get("gasPriceKey") or {}
        stored = (gas.get("low"), gas.get("standard"), gas.get("fast"))
        with self.lock:
            fine = stored in self.allowed or stored in (("", "", ""), (None, None, None))
        if not fine:
            self.violation(f"network 1 holds prices never validly served: {str(stored)[:300]}")


class Run:
    def __init__(self, session, artefacts):
        self.session = session
        self.artefacts = artefacts
        self.prices = Prices()
        self.results = []
        self.monitor = None
        self.watcher = None
        self.gweibar = None
        self.idle_rss = None
        self.sanitized = False
        self.root = None
        self.quit = False  # the program was ended through its Quit button
        self.popover_geometry = {}  # (x, y, width, height) of the popover around the long price

    # -- set-up -------------------------------------------------------------------------------------

    def start(self):
        session = self.session
        os.makedirs(os.path.dirname(session.defaults_path()), mode=0o700)
        with open(session.defaults_path(), "w", encoding="utf-8") as f:
            json.dump({OTHER_CHAIN: OTHER_RECORD}, f)
        first = self.prices.next()
        session.script([{"path": TOKEN_PATH, "set": token_reply()},
                        {"path": GAS_PATH, "set": gas_price_reply(*first, close=True)}])
        self.watcher = session.start_watcher()
        self.gweibar = session.start_gweibar()
        self.monitor = Monitor(session, self.gweibar.popen.pid)
        self.monitor.allow(triple(first))
        self.monitor.set_phase("start")
        self.monitor.start()
        self.wait_label(triple(first), 15)
        self.root = session.xdotool("search", "--maxdepth", "0", "--name", "")
        expect(self.root, "no root window")
        # Idle: after a few good refreshes and one opening of the popover, which every later phase has.
        self.probe_popover()
        self.wait_gas_requests(1, 15)
        time.sleep(1.0)
        samples = []
        for _ in range(5):
            samples.append(vm_kib(self.gweibar.popen.pid, "VmRSS"))
            time.sleep(0.2)
        self.idle_rss = statistics.median(samples)
        with open(f"/proc/{self.gweibar.popen.pid}/maps", encoding="utf-8", errors="replace") as f:
            # AddressSanitizer's shadow memory and quarantine make resident memory say nothing.
            self.sanitized = "libasan" in f.read()
        print(f"idle RSS {self.idle_rss / 1024:.1f} MiB{' (sanitizer build)' if self.sanitized else ''}",
              flush=True)

    def stop(self):
        if self.monitor:
            self.monitor.stopping.set()
            self.monitor.join(5)

    # -- observations -------------------------------------------------------------------------------

    def labels(self):
        return [line[len("label "):] for line in self.watcher.lines() if line.startswith("label ")]

    def wait_label(self, prices, timeout):
        text = " | ".join(prices)

        def seen():
            self.gweibar.check_running()
            return any(label == text or (label.endswith("\u2026") and text.startswith(label[:-1]))
                       for label in self.labels())

        return wait_until(f"label {text[:80]}", seen, timeout)

    def gas_requests(self):
        return sum(1 for r in self.session.requests() if r["path"].split("?")[0] == GAS_PATH)

    def wait_gas_requests(self, more, timeout):
        target = self.gas_requests() + more
        wait_until(f"{more} more gas-price request(s)",
                   lambda: self.gweibar.check_running() or self.gas_requests() >= target, timeout, 0.05)

    def probe_popover(self):
        """Seconds from an Activate to the popover mapped on the screen (an upper bound: it includes one
        window search), then closes it again."""
        session = self.session
        wait_until("no popover shown", lambda: not session.visible_windows("gweibar popover"), 10)
        started = time.monotonic()
        session.watcher_command(f"activate {SCREEN_WIDTH - 1} 12")
        wait_until("the popover opens", lambda: session.visible_windows("gweibar popover"), 10, 0.005)
        latency = time.monotonic() - started
        session.xdotool("windowfocus", "--sync", self.root[0])
        wait_until("the popover closes", lambda: not session.visible_windows("gweibar popover"), 10)
        return latency

    def probes(self, count=3):
        return [self.probe_popover() for _ in range(count)]

    # -- phases -------------------------------------------------------------------------------------

    def phase(self, name, body):
        """Runs one scenario; `body` returns its latencies and, optionally, its recovery time."""
        self.monitor.set_phase(name)
        started = time.monotonic()
        latencies, recovery = body()
        if not self.quit:
            self.gweibar.check_running()
        stats = dict(self.monitor.stats.get(name, {}))
        result = {
            "scenario": name,
            "popover_ms": [round(x * 1000) for x in latencies],
            "open_connections_max": stats.get("open_max"),
            "pending_replies_max": stats.get("pending_max"),
            "rss_idle_mib": round(self.idle_rss / 1024, 1),
            "rss_max_mib": round(stats.get("rss_max_kib", 0) / 1024, 1),
            "recovery_s": None if recovery is None else round(recovery, 2),  # to the good prices shown
            "wall_s": round(time.monotonic() - started, 1),
        }
        if self.popover_geometry:
            result["popover_geometry"] = self.popover_geometry
        self.results.append(result)
        print(json.dumps(result), flush=True)
        self.check(result)

    def check(self, result):
        name = result["scenario"]
        if self.monitor.violations:
            raise Failure("; ".join(self.monitor.violations))
        if result["popover_ms"]:
            median = statistics.median(result["popover_ms"])
            expect(median <= POPOVER_BOUND_S * 1000,
                   f"{name}: popover opened after {result['popover_ms']} ms (median above 200 ms)")
        expect(self.sanitized or result["rss_max_mib"] < RSS_FACTOR * result["rss_idle_mib"],
               f"{name}: resident memory reached {result['rss_max_mib']} MiB, idle was "
               f"{result['rss_idle_mib']} MiB")
        labels = self.labels()
        allowed = {" | ".join(p) for p in self.monitor.allowed} | {"-- | -- | --", ""}
        # The panel cuts a very long title and ends it with an ellipsis.
        wrong = [label[:120] for label in labels if label not in allowed and
                 not (label.endswith("\u2026") and any(a.startswith(label[:-1]) for a in allowed))]
        expect(not wrong, f"{name}: the label showed prices never validly served: {wrong[:3]}")

    def hostile_then_good(self, hostile, after_each=None):
        """Each behaviour in `hostile` answers one gas-price request; then good prices follow.
        Returns (latencies, seconds from the last hostile request to the good prices on the label)."""
        good = self.prices.next()
        self.monitor.allow(triple(good))  # served only after the hostile ones
        self.session.script([{"path": GAS_PATH, "queue": hostile},
                             {"path": GAS_PATH, "set": gas_price_reply(*good, close=True)}])
        latencies = []
        for _ in hostile:
            before = len(self.session.requests())
            wait_until("the hostile reply requested",
                       lambda: self.gweibar.check_running() or any(
                           r["path"].split("?")[0] == GAS_PATH for r in self.session.requests()[before:]),
                       REFRESH_S * 3, 0.01)
            hostile_at = time.monotonic()
            if after_each:
                after_each()
            # Opened while the program reads the hostile reply, then twice more.
            latencies += self.probes(3)
        self.wait_label(triple(good), REFRESH_S * 3)
        return latencies, time.monotonic() - hostile_at

    def stored_gas(self, chain="1"):
        gas = ((self.session.defaults() or {}).get(chain) or {}).get("gasPriceKey") or {}
        return gas.get("low"), gas.get("standard"), gas.get("fast")


# -- groups -----------------------------------------------------------------------------------------


def group_stalled(run):
    session = run.session
    late, trickled = run.prices.next(), run.prices.next()
    # A valid reply held back 70 s; one whose body comes a byte a second (longer than the limit);
    # then every later request hangs.
    session.script([{"path": GAS_PATH, "queue": [gas_price_reply(*late, delay_ms=70_000),
                                                 gas_price_reply(*trickled, trickle_ms=1000)]},
                    {"path": GAS_PATH, "set": {"kind": "hang"}}])
    expect(len(gas_document(trickled)) > TRANSFER_LIMIT_S + 20, "trickled body too short")

    def stalled():
        started = time.monotonic()
        run.wait_gas_requests(1, REFRESH_S * 3)
        first_held = time.monotonic()
        latencies = []
        # Probe while the requests pile up; switch to good prices shortly before the first held
        # request reaches the time limit.
        while time.monotonic() - first_held < TRANSFER_LIMIT_S - 8:
            latencies += run.probes(1)
            time.sleep(4)
        good = run.prices.next()
        run.monitor.allow(triple(good))
        session.script({"path": GAS_PATH, "set": gas_price_reply(*good, close=True)})
        status = session.api_status()
        print(f"{time.monotonic() - first_held:.0f} s after the first held request: "
              f"{status['pending_replies']} replies pending, {status['open_connections']} open", flush=True)
        run.wait_label(triple(good), TRANSFER_LIMIT_S)
        recovered = time.monotonic()
        print(f"good prices shown {recovered - first_held:.1f} s after the first held request", flush=True)
        latencies += run.probes(2)
        # The held-back reply would be sent 70 s after its request: it must not show, nor be stored.
        while time.monotonic() - first_held < 72:
            time.sleep(0.5)
            run.gweibar.check_running()
        print(f"stalled phase {time.monotonic() - started:.0f} s", flush=True)
        return latencies, recovered - first_held - TRANSFER_LIMIT_S

    run.phase("hang+trickle+late", stalled)
    expect(run.stored_gas() in run.monitor.allowed, f"stored {run.stored_gas()}")
    for prices in (late, trickled):
        expect(" | ".join(triple(prices)) not in run.labels(), f"the late or trickled prices {prices} shown")


def group_malformed(run):
    session = run.session

    def refused():
        before = len(session.requests())
        session.refuse_connections(True)
        try:
            time.sleep(REFRESH_S + 0.5)  # at least one refresh meets a refused connection
            latencies = run.probes(3)
            expect(len(session.requests()) == before,
                   "requests arrived while refusing: the program reused a kept-alive connection")
        finally:
            good = run.prices.next()
            run.monitor.allow(triple(good))
            session.script({"path": GAS_PATH, "set": gas_price_reply(*good, close=True)})
            session.refuse_connections(False)
        resumed = time.monotonic()
        run.wait_label(triple(good), REFRESH_S * 3)
        return latencies, time.monotonic() - resumed

    run.phase("refuse", refused)

    run.phase("1 GiB body", lambda: run.hostile_then_good([{"kind": "huge", "size": 1 << 30}]))

    bait = run.prices.next()
    whole = gas_document(bait)
    cut = whole[:len(whole) // 2]
    run.phase("garbage, truncated JSON, truncated transfer", lambda: run.hostile_then_good([
        {"kind": "garbage", "size": 4096},
        fixed_reply(whole[:-3], close=True),  # the JSON alone is cut; the message is complete
        {"kind": "fixed", "headers": [["Content-Type", "application/json"],
                                      ["Content-Length", str(len(whole))]], "body": cut},
    ]))

    nested = ('{"code":0,"message":"ok","data":{"low":{"price":' + "[" * NEST + "]" * NEST +
              '},"standard":{"price":"1"},"fast":{"price":"1"}}}')
    run.phase("100,000 nested arrays", lambda: run.hostile_then_good([fixed_reply(nested, close=True)]))

    bait_code, bait_time = run.prices.next(), run.prices.next()
    long_number = "9" * DIGITS
    run.phase("100,000-digit numbers", lambda: run.hostile_then_good([
        fixed_reply(gas_document(bait_code).replace('"code": 0', '"code": ' + long_number), close=True),
        fixed_reply(gas_document(bait_time, time_value=long_number), close=True),
    ]))

    # A price text of 100,000 digits is a valid price; the program must store its exact conversion.
    big = ("7" * DIGITS, str(21 * GWEI), str(22 * GWEI))
    run.monitor.allow(triple(big))

    def stored_exactly():
        wait_until("the long price stored exactly", lambda: run.stored_gas() == triple(big), REFRESH_S)

    run.phase("100,000-digit price text",
              lambda: run.hostile_then_good([gas_price_reply(*big, close=True)], stored_exactly))

    # Network 1's gas path answers with another network's prices and token: the program cannot tell,
    # but they may only ever reach network 1's record.
    other = (str(31 * GWEI), str(41 * GWEI), str(59 * GWEI + 200_000_000))
    expect(triple(other) == tuple(OTHER_RECORD["gasPriceKey"][k] for k in ("low", "standard", "fast")),
           "the other network's prices")
    run.monitor.allow(triple(other))

    def flip():
        session.script({"path": TOKEN_PATH, "queue": [token_reply(OTHER_CHAIN, "MATIC", "0.71")]})
        result = run.hostile_then_good([gas_price_reply(*other, close=True)])
        expect(" | ".join(triple(other)) in run.labels(), "network 137's prices never reached the label")
        return result

    run.phase("another network's prices", flip)

    # Last, as it ends the program: the long price arrives while the popover is open, and again while
    # it is closed; each time it must fit the screen. Then Quit.
    def popover_fits(what):
        popover = wait_until("the popover shown", lambda: session.visible_windows("gweibar popover"), 10)
        time.sleep(0.5)
        x, y, w, h = session.geometry(popover[0])
        run.popover_geometry[what] = (x, y, w, h)
        print(f"popover at {(x, y, w, h)} {what}", flush=True)
        expect(x >= 0 and y >= 0 and x + w <= SCREEN_WIDTH and y + h <= SCREEN_HEIGHT,
               f"the popover {(x, y, w, h)} {what} does not fit the {SCREEN_WIDTH}x{SCREEN_HEIGHT} screen")

    def quit_while_long():
        started = time.monotonic()
        session.watcher_command(f"activate {SCREEN_WIDTH - 1} 12")
        wait_until("the popover opens", lambda: session.visible_windows("gweibar popover"), 10, 0.005)
        latencies = [time.monotonic() - started]
        popover_fits("before the long price")
        session.script([{"path": GAS_PATH, "set": gas_price_reply(*big, close=True)}])
        run.wait_gas_requests(1, REFRESH_S * 3)
        stored_exactly()
        run.wait_label(triple(big), REFRESH_S)
        popover_fits("when the long price came while it was open")
        session.xdotool("windowfocus", "--sync", run.root[0])
        wait_until("the popover closes", lambda: not session.visible_windows("gweibar popover"), 10)
        started = time.monotonic()
        session.watcher_command(f"activate {SCREEN_WIDTH - 1} 12")
        wait_until("the popover opens", lambda: session.visible_windows("gweibar popover"), 10, 0.005)
        latencies.append(time.monotonic() - started)
        popover_fits("opened while the long price is shown")
        session.screenshot("popover-long-price")
        quit_through_popover(session)  # finds the four buttons on the screen and clicks Quit
        run.quit = True
        expect(run.stored_gas() == triple(big), "the long price is not on disk after Quit")
        return latencies, None

    run.phase("Quit while a 100,000-digit price is shown", quit_while_long)


GROUPS = {"stalled": group_stalled, "malformed": group_malformed}


def main():
    parser = e2e_arguments(__doc__)
    parser.add_argument("--api-port", type=int, default=API_PORT, help="the API port compiled into that build")
    parser.add_argument("group", choices=sorted(GROUPS))
    args = parser.parse_args()

    if missing := demo_build_missing(args.demo):
        print(missing)
        return 1
    started = time.monotonic()
    run = None
    try:
        with Session(args.demo, args.ca, args.artefacts, api_port=args.api_port) as session:
            run = Run(session, args.artefacts)
            try:
                run.start()
                GROUPS[args.group](run)
                if not run.quit:
                    run.gweibar.check_running()
            except Failure:
                session.screenshot("failure")
                raise
            finally:
                run.stop()
    except Failure as failure:
        print(f"FAILED: {failure}\nscreenshots and logs: {args.artefacts}")
        return 1
    finally:
        if run:
            with open(os.path.join(args.artefacts, "measurements.json"), "w", encoding="utf-8") as f:
                json.dump({"results": run.results, "wall_s": round(time.monotonic() - started, 1)}, f, indent=1)
    print(f"passed in {time.monotonic() - started:.0f} s; logs: {args.artefacts}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
