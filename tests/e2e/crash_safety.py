#!/usr/bin/env python3
"""The user defaults file survives a killed program, a read-only and a full config directory.

    crash_safety.py --loadtest build/loadtest --demo build/demo --ca build/demo-ca --artefacts DIR CASE

Runs the load-test build (50 ms refresh, its own API port) against the simulated API, which answers
every gas-price request with new prices. CASE is one of:
  kill      SIGKILL at random moments over 1,000 refresh cycles (50 kills, a restart after each);
            after each kill the file parses and network 1's gas prices are those of the last
            completed save or of a later reply, whole, never a mix or a cut text
  save      SIGKILL at the worst moment, as a save renames its new file into place (strace injects
            it), from the very first save of a new config directory on: the file parses and holds
            the last completed save
  readonly  the config directory read-only: the program keeps running and showing the new prices,
            the file stays as it was, and saving resumes once the directory is writable again
  full      the config directory on a file system with no space left: the same

Root ignores permission bits, so the read-only and the full directory are made where root is denied
too: in a private mount namespace of the program (unshare), the directory is bind-mounted read-only,
or replaced by a tmpfs of 64 KiB filled up. Nothing of it is seen outside that namespace, and it
ends with the program. Without the right to make mount namespaces these two cases are skipped.
"""

import argparse
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_session import Failure, Session, fixed_reply, gas_price_reply, wait_until  # noqa: E402

LOADTEST_PORT = 38444  # compiled into the load-test build
GWEI = 10**9
GAS_PATH = "/api/v1/chains/EVM/1/gas_price"
TOKEN_PATH = "/api/v1/tokens/prices/conditions"
TOKEN_PRICE = "1234.5678"
SKIPPED = 77
KILLS = 50
CYCLES = 1000


def expect(condition, message):
    if not condition:
        raise Failure(message)


class Market:
    """Every gas-price reply with prices of its own; remembers which reply carried which prices."""

    def __init__(self, session):
        self.session = session
        self.queued = 0
        self.index = {}  # gwei triple -> position in the order served

    def prices(self, i):
        # Lengths vary, so that a cut or mixed text could not pass for another reply's.
        low = (10_000 + i) * GWEI + (i % 97) * 10**6
        return str(low), str(20_000 * GWEI + i * 7 * 10**8), str((30_000 + i * 13) * GWEI)

    @staticmethod
    def shown(wei):
        digits = wei.rjust(10, "0")
        fraction = digits[-9:][:4].rstrip("0")
        return digits[:-9].lstrip("0") + ("." + fraction if fraction else "")

    def queue(self, count):
        replies = []
        for i in range(self.queued, self.queued + count):
            wei = self.prices(i)
            self.index[tuple(self.shown(w) for w in wei)] = i
            replies.append(gas_price_reply(*wei))
        self.queued += count
        self.session.script({"path": GAS_PATH, "queue": replies})

    def start(self, count):
        token = {"code": 0, "message": "ok", "data": {"prices": [{
            "chain": {"chain_type": "EVM", "chain_id": "1"},
            "tokens": [{"symbol": "ETH", "address": "", "last_price": TOKEN_PRICE}]}]}}
        self.session.script({"path": TOKEN_PATH, "set": fixed_reply(json.dumps(token))})
        self.queue(count)

    def served(self):
        return sum(1 for r in self.session.requests() if r["path"].split("?")[0] == GAS_PATH)


def saved_lines(process):
    """Network 1's gas prices in each save line the program printed, in order."""
    saves = []
    for line in process.lines():
        if line.startswith("1: save gasPrice:"):
            gas = json.loads(line[len("1: save gasPrice:"):])["gasPriceKey"]
            saves.append((gas["low"], gas["standard"], gas["fast"]))
    return saves


def read_defaults(path):
    """(raw bytes, parsed document) of the defaults file; (None, None) when there is none."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return None, None
    try:
        document = json.loads(data)
    except ValueError as error:
        raise Failure(f"the defaults file does not parse ({error}); {len(data)} bytes: {data[:300]!r}")
    expect(isinstance(document, dict), f"the defaults file holds no object: {data[:300]!r}")
    return data, document


def gas_of(document):
    gas = (document.get("1") or {}).get("gasPriceKey")
    expect(isinstance(gas, dict) and set(gas) == {"low", "standard", "fast"},
           f"network 1's gas prices are no whole dictionary: {gas}")
    return gas["low"], gas["standard"], gas["fast"]


# -- kill ---------------------------------------------------------------------------------------------


def case_kill(session, rng):
    market = Market(session)
    market.start(CYCLES + 600)
    path = session.defaults_path()
    directory = os.path.dirname(path)
    last = None  # network 1's prices after the previous kill
    last_index = -1
    cycles = 0
    early_kills = 0
    kept = []
    kill = -1
    while kill + 1 < KILLS or cycles < CYCLES:
        kill += 1
        if market.queued - market.served() < 200:
            market.queue(400)
        before = market.served()
        gweibar = session.start_gweibar(name=f"gweibar-{kill:02d}")
        if rng.random() < 0.15:
            # Any moment from the start on, first refreshes and their saves included.
            time.sleep(rng.uniform(0.0, 0.8))
            early_kills += 1
        else:
            target = before + rng.randint(5, 40)
            wait_until("refreshes", lambda: gweibar.check_running() or market.served() >= target, 30, 0.01)
            time.sleep(rng.uniform(0.0, 0.05))  # anywhere within a refresh cycle
        gweibar.popen.send_signal(signal.SIGKILL)
        gweibar.popen.wait(10)
        expect(gweibar.popen.returncode == -signal.SIGKILL,
               f"run {kill} ended with {gweibar.popen.returncode} before it was killed")
        session.stop_process(gweibar)
        served = market.served()
        cycles += served - before

        data, document = read_defaults(path)
        saves = saved_lines(gweibar)
        if data is None:
            expect(last is None and not saves, f"after kill {kill}: the defaults file is gone")
            continue
        stored = gas_of(document)
        expect(stored == ("", "", "") or stored in market.index,
               f"after kill {kill}: network 1 holds prices no reply carried: {stored}")
        index = market.index.get(stored, -1)
        # The last save the program reported finished before the kill, or one begun after it.
        previous = saves[-1] if saves else (last or ("", "", ""))
        previous_index = market.index.get(previous, -1) if previous else -1
        expect(stored == previous or previous_index < index < served,
               f"after kill {kill}: network 1 holds {stored} (reply {index}); the last completed save "
               f"was {previous} (reply {previous_index}), {served} replies served")
        expect(index >= last_index, f"after kill {kill}: prices went back from reply {last_index} to {index}")
        expect(document["1"].get("tokenPriceKey") in ("", TOKEN_PRICE),
               f"after kill {kill}: token price {document['1'].get('tokenPriceKey')!r}")
        for chain in ("56", "137", "250", "66", "128"):
            expect(document.get(chain) in (None, {"gasPriceKey": {"low": "", "standard": "", "fast": ""},
                                                 "tokenPriceKey": "", "sysTime": ""}),
                   f"after kill {kill}: network {chain}'s record {document.get(chain)}")
        kept.append(stored == previous)
        last, last_index = stored, index

    leftovers = sorted(os.listdir(directory))
    corrupt = [name for name in leftovers if ".corrupt-" in name]
    expect(not corrupt, f"the program found its own file unreadable after a kill: {corrupt}")
    print(f"{kill + 1} kills ({early_kills} in the first 0.8 s of a run) over {cycles} refresh cycles; "
          f"after {kept.count(True)} the last completed save was kept, after {kept.count(False)} the save "
          f"under way had finished; files left in the directory: {leftovers}", flush=True)


# -- kill inside a save ------------------------------------------------------------------------------


def case_save(session, rng):
    if shutil.which("strace") is None:
        print("SKIPPED: strace is missing (scripts/install-deps installs it)")
        return SKIPPED
    market = Market(session)
    market.start(400)
    path = session.defaults_path()
    last = ("", "", "")
    for run in range(12):
        # The first runs die in their first saves, the later ones in any of their first six.
        renames = 1 if run < 2 else rng.randint(1, 6)
        gweibar = session.start_gweibar(wrapper=[
            "strace", "-f", "-qq", "-o", "/dev/null", "-e", "trace=rename,renameat,renameat2",
            "-e", f"inject=rename,renameat,renameat2:signal=SIGKILL:when={renames}"], name=f"gweibar-{run:02d}")
        wait_until("the program killed in a save", lambda: gweibar.popen.poll() is not None, 30)
        session.stop_process(gweibar)
        saves = saved_lines(gweibar)
        data, document = read_defaults(path)
        expected = saves[-1] if saves else last
        if data is None:
            expect(expected == ("", "", ""), f"run {run}: the defaults file is gone")
            continue
        stored = gas_of(document) if "1" in document else ("", "", "")
        expect(stored == expected, f"run {run}, killed at rename {renames}: network 1 holds {stored}, the "
                                   f"last completed save was {expected}")
        last = stored
    print(f"12 runs killed in a save; files left: {sorted(os.listdir(os.path.dirname(path)))}", flush=True)
    return 0


# -- read-only and full -------------------------------------------------------------------------------


def namespace_prefix():
    """The unshare options that give a private mount namespace here, or None."""
    probe_dir = tempfile.mkdtemp(prefix="gweibar-mount-probe-")
    try:
        for options in (["--mount"], ["--user", "--map-root-user", "--mount"]):
            prefix = ["unshare", *options, "--propagation", "private"]
            probe = subprocess.run([*prefix, "sh", "-c", 'mount -t tmpfs -o size=64k probe "$0" && '
                                    'mount --bind "$0" "$0" && mount -o remount,bind,ro "$0"', probe_dir],
                                   capture_output=True, timeout=30)
            if probe.returncode == 0:
                return prefix
        return None
    finally:
        os.rmdir(probe_dir)


READ_ONLY = 'd=$1; shift; mount --bind "$d" "$d" && mount -o remount,bind,ro "$d" && exec "$@"'
# The old file is copied in from `stash`; then a filler file takes every free byte.
FULL = ('d=$1; stash=$2; shift 2; mount -t tmpfs -o size=64k,mode=0700 gweibar-full "$d" && '
        'cp -p "$stash"/* "$d"/ && { cat /dev/zero > "$d/filler" 2>/dev/null; test -s "$d/filler"; } && '
        'exec "$@"')


def case_unwritable(session, full):
    prefix = namespace_prefix()
    if prefix is None:
        print("SKIPPED: no private mount namespace can be made here (unshare --mount)")
        return SKIPPED
    market = Market(session)
    market.start(3000)
    path = session.defaults_path()
    directory = os.path.dirname(path)
    watcher = session.start_watcher()

    # A file the program wrote, holding prices it showed.
    first = session.start_gweibar(name="gweibar-first")
    wait_until("a save", lambda: first.check_running() or saved_lines(first), 15)
    first.popen.send_signal(signal.SIGKILL)
    first.popen.wait(10)
    session.stop_process(first)
    # A lock the killed writer held is a case of its own (the program removes it before a save); left
    # here, its removal would free the page it takes on the full disk, and saves would go through.
    for leftover in (path + ".lock", path + ".lock.rmlock"):
        if os.path.exists(leftover):
            os.remove(leftover)
    original, document = read_defaults(path)
    before = gas_of(document)
    names_before = sorted(os.listdir(directory))

    if full:
        stash = os.path.join(session.tmp, "stash")
        shutil.copytree(directory, stash)
        wrapper = [*prefix, "sh", "-c", FULL, "sh", directory, stash]
    else:
        wrapper = [*prefix, "sh", "-c", READ_ONLY, "sh", directory]
    gweibar = session.start_gweibar(wrapper=wrapper)
    pid = gweibar.popen.pid
    # Seen through the program's own mount namespace.
    inside = f"/proc/{pid}/root{path}"
    wait_until("the program running in its namespace",
               lambda: gweibar.check_running() or os.path.realpath(f"/proc/{pid}/exe").endswith("/gweibar"),
               15, 0.01)

    def labels():
        return [line[len("label "):] for line in watcher.lines() if line.startswith("label ")]

    start_labels = len(labels())
    served_at_start = market.served()
    time.sleep(4.0)
    gweibar.check_running()
    served = market.served() - served_at_start
    shown = labels()[start_labels:]
    expect(served >= 20, f"only {served} gas-price replies in 4 s")
    shown_prices = [tuple(label.split(" | ")) for label in shown]
    fresh = [p for p in shown_prices if market.index.get(p, -1) > market.index.get(before, -1)]
    expect(len(set(fresh)) >= served // 2,
           f"{served} replies, but only {len(set(fresh))} new prices on the label")
    with open(inside, "rb") as f:
        expect(f.read() == original, "the defaults file changed although it could not be written")
    # Each failing save still makes its lock file for a moment: only files that stay count.
    deadline = time.monotonic() + 2
    while True:
        names_inside = sorted(n for n in os.listdir(os.path.dirname(inside)) if n != "filler")
        if names_inside == names_before or time.monotonic() > deadline:
            break
        time.sleep(0.01)
    expect(names_inside == names_before, f"files in the directory: {names_inside}, before: {names_before}")
    if not full:
        with open(path, "rb") as f:
            expect(f.read() == original, "the defaults file changed outside the namespace")
    errors = os.path.getsize(gweibar.stderr_path)
    print(f"{'full' if full else 'read-only'} directory: {served} replies in 4 s, {len(set(fresh))} new "
          f"prices shown, the file unchanged ({len(original)} bytes), {errors} bytes on stderr", flush=True)

    # Writable again: the next save goes through.
    if full:
        os.remove(os.path.dirname(inside) + "/filler")
    else:
        subprocess.run(["nsenter", "-t", str(pid), "-m", *(["-U"] if "--user" in prefix else []),
                        "mount", "-o", "remount,bind,rw", directory], check=True, timeout=30)
    wait_until("a save once the directory takes writes again",
               lambda: gweibar.check_running() or read_defaults(inside)[0] != original, 10)
    _, document = read_defaults(inside)
    expect(gas_of(document) in market.index, f"after the directory recovered: {gas_of(document)}")
    gweibar.check_running()
    return 0


CASES = {"kill": case_kill, "save": case_save, "readonly": lambda s, _rng: case_unwritable(s, False),
         "full": lambda s, _rng: case_unwritable(s, True)}


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--loadtest", required=True, help="build tree of the load-test configuration")
    parser.add_argument("--demo", required=True, help="build tree of the demo configuration (test watcher)")
    parser.add_argument("--ca", required=True, help="directory with the demo server certificate")
    parser.add_argument("--artefacts", required=True, help="where logs go")
    parser.add_argument("--api-port", type=int, default=LOADTEST_PORT, help="the API port of that build")
    parser.add_argument("--seed", type=int, default=None, help="random seed (default: from the clock)")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()

    for tool in (os.path.join(args.loadtest, "menubar/gweibar"),
                 os.path.join(args.loadtest, "tools/simapi/gweibar-simapi"),
                 os.path.join(args.demo, "tools/sniwatcher/gweibar-sniwatcher")):
        if not os.access(tool, os.X_OK):
            print(f"missing {tool}: build the load-test and demo configurations first (make demo)")
            return 1
    seed = args.seed if args.seed is not None else int(time.time())
    print(f"seed {seed}", flush=True)
    started = time.monotonic()
    try:
        with Session(args.demo, args.ca, args.artefacts, api_port=args.api_port,
                     program_dir=args.loadtest) as session:
            code = CASES[args.case](session, random.Random(seed))
    except Failure as failure:
        print(f"FAILED (seed {seed}): {failure}\nlogs: {args.artefacts}")
        return 1
    if code:
        return code
    print(f"passed in {time.monotonic() - started:.0f} s; logs: {args.artefacts}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
