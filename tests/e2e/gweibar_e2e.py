#!/usr/bin/env python3
"""End-to-end checks of the real program (demo build) on a private X display and session bus.

    gweibar_e2e.py --demo build/demo --ca build/demo-ca --artefacts DIR CASE

CASE is one of: label, popover, network, outside, strip. Each ends the program with its Quit button
and expects a normal exit. Screenshots and every process's output are kept in DIR.
"""

import json
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_session import (demo_build_missing, e2e_arguments, SCREEN_HEIGHT, SCREEN_WIDTH, Failure,  # noqa: E402
                         Session, wait_until)

GWEI = 10**9
ROW_HEIGHT = 21  # the network list's rows
LIST_ROWS = 6
# Colours of the price popover's buttons and background in its interface file.
BUTTON_BACKGROUND = bytes.fromhex("34373d")
POPOVER_BACKGROUND = bytes.fromhex("1f2125")


def wei(gwei_text):
    whole, _, fraction = gwei_text.partition(".")
    return str(int(whole) * GWEI + int((fraction + "0" * 9)[:9]))


def label_line(prices):
    return "label " + " | ".join(prices)


def expect(condition, message):
    if not condition:
        raise Failure(message)


def gas_request_chains(requests):
    """Chain id of each request (gas-price GET or token-price POST), in arrival order."""
    chains = []
    for r in requests:
        parts = r["path"].split("?")[0].split("/")
        if r["method"] == "GET" and parts[-1] == "gas_price":
            chains.append(("gas", parts[-2]))
        elif r["method"] == "POST":
            try:
                chains.append(("token", json.loads(r["body"])["conditions"][0]["chain_id"]))
            except (ValueError, KeyError, IndexError, TypeError):
                chains.append(("token", None))
    return chains


def colour_runs(row, x0, x1, colour, minimum=8):
    """[start, end) spans of at least `minimum` pixels of `colour` on one screen row between x0 and x1."""
    runs, start = [], None
    for x in range(x0, x1 + 1):
        hit = x < x1 and row[x * 3:x * 3 + 3] == colour
        if hit and start is None:
            start = x
        elif not hit and start is not None:
            if x - start >= minimum:
                runs.append((start, x))
            start = None
    return runs


def popover_buttons(session, popover):
    """Screen rectangles (x, y, w, h) of the price popover's bottom row of buttons, left to right.

    Found by colour, so that the test follows the interface file's layout instead of restating it."""
    session.xdotool("mousemove", "0", str(SCREEN_HEIGHT - 1))  # no hover colour on any button
    time.sleep(0.2)
    x, y, w, h = session.geometry(popover)
    width, height, rows = session.screen_pixels()
    # Only what is on the screen can be clicked.
    left, right = max(x, 0), min(x + w, width)
    lines = [yy for yy in range(max(y, 0), min(y + h, height))
             if colour_runs(rows[yy], left, right, BUTTON_BACKGROUND)]
    expect(lines, "no buttons drawn in the price popover")
    # The lowest band of button rows; its third line lies between the rounded corners and the text.
    bottom = lines[-1]
    top = bottom
    while top - 1 in lines:
        top -= 1
    runs = colour_runs(rows[top + 2], left, right, BUTTON_BACKGROUND)
    return [(x0 - 1, top - 1, x1 - x0 + 2, bottom - top + 3) for x0, x1 in runs]


def centre(rect):
    x, y, w, h = rect
    return x + w // 2, y + h // 2


def overlaps(a, b):
    ax, ay, aw, ah = a
    bx, by, bw, bh = b
    return ax < bx + bw and bx < ax + aw and ay < by + bh and by < ay + ah


def click(session, point, count=1):
    session.xdotool("mousemove", str(point[0]), str(point[1]))
    time.sleep(0.1)
    session.xdotool("click", "--repeat", str(count), "--delay", "80", "1")


def start_with_watcher(session, prices):
    session.serve_gas_prices(*(wei(p) for p in prices))
    watcher = session.start_watcher()
    gweibar = session.start_gweibar()
    wait_until(f"label {' | '.join(prices)}",
               lambda: gweibar.check_running() or label_line(prices) in watcher.lines(), 15)
    return watcher, gweibar


def only_popover(session, what):
    windows = session.visible_windows("gweibar popover")
    expect(len(windows) == 1, f"{what}: expected one popover window, found {len(windows)}")
    return windows[0]


def quit_through_popover(session):
    """Ends gweibar with the price popover's Quit button and expects a normal exit.

    Not with a signal: the program does not handle SIGTERM, and only a normal exit lets LeakSanitizer
    check for leaks (in the asan tree's sanitizer build)."""
    gweibar = session.gweibar
    gweibar.check_running()
    if not session.visible_windows("gweibar popover"):
        if session.watcher:
            session.watcher_command(f"activate {SCREEN_WIDTH - 1} 12")
        else:
            strip = session.visible_windows("gweibar")
            expect(len(strip) == 1, f"{len(strip)} strip windows")
            click(session, centre(session.geometry(strip[0])))

    def one_popover():
        windows = session.visible_windows("gweibar popover")
        return windows[0] if len(windows) == 1 else None

    popover = wait_until("one price popover", one_popover, 10)
    time.sleep(0.5)
    buttons = popover_buttons(session, popover)
    expect(len(buttons) == 4, f"expected the four buttons Web, Network, Close list, Quit; found {buttons}")
    click(session, centre(buttons[3]))
    wait_until("gweibar exits after Quit", lambda: gweibar.popen.poll() is not None, 30)
    code = gweibar.popen.returncode
    expect(code == 0, f"gweibar exited with {code} after Quit; stderr ends:\n{gweibar.stderr_tail()}")


# -- cases ------------------------------------------------------------------------------------------


def case_label(session):
    """The panel label shows the served prices within 2 s of start, and follows a change."""
    first = ("12", "13.5", "15")
    session.serve_gas_prices(*(wei(p) for p in first))
    watcher = session.start_watcher()
    gweibar = session.start_gweibar()
    wait_until("the served prices on the label within 2 s of start",
               lambda: label_line(first) in watcher.lines(), 2.0 - (time.monotonic() - gweibar.started))
    print(f"label shown {time.monotonic() - gweibar.started:.2f} s after start")
    expect(any(line.startswith("registered ") for line in watcher.lines()), "the item never registered")
    expect(session.visible_windows("gweibar") == [], "the strip window shows although a panel host runs")

    # Sub-gwei digits beyond the fourth are cut, not rounded.
    second = ("20.123456789", "21", "30.5")
    shown = ("20.1234", "21", "30.5")
    session.serve_gas_prices(*(wei(p) for p in second))
    wait_until("the label follows the changed prices", lambda: label_line(shown) in watcher.lines(), 15)
    labels = [line for line in watcher.lines() if line.startswith("label ")]
    expect(labels.index(label_line(shown)) > labels.index(label_line(first)),
           f"labels out of order: {labels}")

    def stored():
        record = (session.defaults() or {}).get("1", {}).get("gasPriceKey", {})
        return (record.get("low"), record.get("standard"), record.get("fast")) == shown

    wait_until("the changed prices stored for network 1", stored, 5)
    requests = session.requests()
    expect(requests and all(r["tls"] and r["token_verified"] for r in requests),
           "a request went without TLS or with a token the server refused")
    expect({chain for _, chain in gas_request_chains(requests)} == {"1"},
           f"requests for other networks than 1: {gas_request_chains(requests)}")
    gweibar.check_running()


def case_popover(session):
    """Activate on the panel item opens the price popover at the given point; a second one leaves it shown."""
    watcher, gweibar = start_with_watcher(session, ("12", "13.5", "15"))
    expect(session.visible_windows("gweibar popover") == [], "a popover shows before any activation")
    session.screenshot("label-only")

    anchor = (1250, 12)
    session.watcher_command(f"activate {anchor[0]} {anchor[1]}")
    wait_until("the item answers Activate", lambda: "activated" in watcher.lines(), 10)
    popover = wait_until("the price popover appears", lambda: session.visible_windows("gweibar popover"), 10)
    expect(len(popover) == 1, f"{len(popover)} popover windows after one activation")
    x, y, w, h = session.geometry(popover[0])
    # Below the clicked point, right-aligned with it.
    expect(abs(x + w - (anchor[0] + 1)) <= 2 and abs(y - (anchor[1] + 1)) <= 2,
           f"popover at {(x, y, w, h)}, not below {anchor}")
    time.sleep(0.5)  # let it paint
    session.screenshot("popover")
    _, _, rows = session.screen_pixels()
    expect(rows[y + h // 2][(x + 2) * 3:(x + 3) * 3] == POPOVER_BACKGROUND, "the popover is not drawn dark")

    session.watcher_command(f"activate {anchor[0]} {anchor[1]}")
    wait_until("the second Activate answered", lambda: watcher.lines().count("activated") == 2, 10)
    time.sleep(0.5)
    expect(only_popover(session, "after a second activation") == popover[0], "the popover window changed")
    gweibar.check_running()


def open_popover_at_right_edge(session):
    """Activates the item at the screen's right edge, as a panel item at the far right would; returns the
    popover window and its four buttons."""
    session.watcher_command(f"activate {SCREEN_WIDTH - 1} 12")
    popover = wait_until("the price popover appears",
                         lambda: session.visible_windows("gweibar popover"), 10)[0]
    time.sleep(0.5)
    buttons = popover_buttons(session, popover)
    expect(len(buttons) == 4, f"expected the four buttons Web, Network, Close list, Quit; found {buttons}")
    return popover, buttons


def case_network(session):
    """A double click on "Polygon" stores 137, prints the name and moves the requests to chain 137."""
    session.serve_gas_prices(wei("12"), wei("13.5"), wei("15"), chain="1")
    session.serve_gas_prices(wei("30"), wei("40"), wei("60.5"), chain="137")
    watcher = session.start_watcher()
    gweibar = session.start_gweibar()
    wait_until("Ethereum prices on the label",
               lambda: label_line(("12", "13.5", "15")) in watcher.lines(), 15)

    popover, buttons = open_popover_at_right_edge(session)
    network_button = buttons[1]
    click(session, centre(network_button))
    windows = wait_until("the network list appears",
                         lambda: [w for w in session.visible_windows("gweibar popover") if w != popover], 10)
    choice = session.geometry(windows[0])
    time.sleep(0.5)
    session.screenshot("network-list")
    expect(not overlaps(choice, network_button),
           f"the network list {choice} covers its button {network_button}")
    x, y, w, h = choice
    expect(x >= 0 and y >= 0 and x + w <= SCREEN_WIDTH and y + h <= SCREEN_HEIGHT,
           f"the network list {choice} leaves the screen")

    # Choose right after a refresh has asked for its gas prices, so that no refresh for network 1 is
    # under way when the choice is made.
    def gas_requests():
        return sum(1 for kind, _ in gas_request_chains(session.requests()) if kind == "gas")

    before = gas_requests()
    wait_until("a refresh", lambda: gas_requests() > before, 10)
    time.sleep(0.3)
    chosen_at = len(session.requests())
    list_top = y + (h - LIST_ROWS * ROW_HEIGHT) // 2  # the list sits centred in its popover
    click(session, (x + w // 2, list_top + 2 * ROW_HEIGHT + ROW_HEIGHT // 2), count=2)

    wait_until('"Polygon" printed', lambda: "Polygon" in gweibar.lines(), 10)
    wait_until('"137" stored under selectedKey',
               lambda: (session.defaults() or {}).get("selectedKey") == "137", 10)
    wait_until("the network list closes",
               lambda: windows[0] not in session.visible_windows("gweibar popover"), 10)
    # The choice must not close the price popover: it closes only on a click outside the application.
    deadline = time.monotonic() + 1.5
    while time.monotonic() < deadline:
        expect(session.visible_windows("gweibar popover") == [popover],
               "the price popover closed after the choice of a network")
        time.sleep(0.1)
    wait_until("Polygon prices on the label",
               lambda: label_line(("30", "40", "60.5")) in watcher.lines(), 10)
    session.screenshot("after-choice")

    # The next requests, the timer's ones included, are for chain 137 only.
    def timer_refresh_for_137():
        chains = gas_request_chains(session.requests()[chosen_at:])
        return chains.count(("gas", "137")) >= 2 and chains

    chains = wait_until("a timer refresh for chain 137", timer_refresh_for_137, 15)
    expect(chains[0][1] == "137" and {chain for _, chain in chains} == {"137"},
           f"requests after the choice: {chains}")
    gweibar.check_running()


def case_outside(session):
    """Focus moving to another window (a click into another application) closes the popover and its list."""
    _, gweibar = start_with_watcher(session, ("12", "13.5", "15"))
    _, buttons = open_popover_at_right_edge(session)
    click(session, centre(buttons[1]))
    wait_until("the network list appears", lambda: len(session.visible_windows("gweibar popover")) == 2, 10)

    # Without a window manager nothing moves the focus on a click; do what one does.
    root = session.xdotool("search", "--maxdepth", "0", "--name", "")
    expect(root, "no root window")
    session.xdotool("windowfocus", "--sync", root[0])
    wait_until("the price popover and its network list close",
               lambda: session.visible_windows("gweibar popover") == [], 10)
    session.screenshot("closed")

    session.watcher_command(f"activate {SCREEN_WIDTH - 1} 12")
    wait_until("Activate opens the price popover again",
               lambda: len(session.visible_windows("gweibar popover")) == 1, 10)
    time.sleep(0.5)
    expect(len(session.visible_windows("gweibar popover")) == 1, "the network list came back with it")
    gweibar.check_running()


def case_strip(session):
    """Without a panel host the title shows in a strip window at the top-right; a click opens the popover."""
    session.serve_gas_prices(wei("1"), wei("2"), wei("3"))
    gweibar = session.start_gweibar()  # no watcher on the bus
    strip = wait_until("the strip window appears", lambda: session.visible_windows("gweibar"), 10)
    expect(len(strip) == 1, f"{len(strip)} strip windows")
    strip = strip[0]

    def strip_geometry():
        gweibar.check_running()
        return session.geometry(strip)

    x, y, w, h = strip_geometry()
    expect(x + w == SCREEN_WIDTH and y == 0, f"strip at {(x, y, w, h)}, not at the top-right corner")
    # Its width follows the title: wider prices make a wider strip.
    time.sleep(1.0)
    narrow = strip_geometry()[2]
    session.serve_gas_prices(wei("1234567.1234"), wei("2345678.1234"), wei("3456789.1234"))
    wait_until("the strip widens with the longer title", lambda: strip_geometry()[2] > narrow + 40, 15)
    x, y, w, h = strip_geometry()
    expect(x + w == SCREEN_WIDTH and y == 0, f"widened strip at {(x, y, w, h)}, not at the top-right corner")
    session.screenshot("strip")

    click(session, (x + w // 2, y + h // 2))
    popover = wait_until("a click on the strip opens the popover",
                         lambda: session.visible_windows("gweibar popover"), 10)
    px, py, pw, ph = session.geometry(popover[0])
    expect(py >= y + h and px >= 0 and px + pw <= SCREEN_WIDTH,
           f"popover at {(px, py, pw, ph)}, not below the strip")
    time.sleep(0.5)
    session.screenshot("strip-popover")
    gweibar.check_running()


CASES = {"label": case_label, "popover": case_popover, "network": case_network, "outside": case_outside,
         "strip": case_strip}


def main():
    parser = e2e_arguments(__doc__)
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()

    if missing := demo_build_missing(args.demo):
        print(missing)
        return 1
    try:
        with Session(args.demo, args.ca, args.artefacts) as session:
            try:
                CASES[args.case](session)
                quit_through_popover(session)
            except Failure:
                session.screenshot("failure")
                raise
    except Failure as failure:
        print(f"FAILED: {failure}\nscreenshots and logs: {args.artefacts}")
        return 1
    print(f"passed; screenshots and logs: {args.artefacts}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
