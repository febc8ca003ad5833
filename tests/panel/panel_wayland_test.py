#!/usr/bin/python3
"""gweibar on GNOME Shell's Wayland mode: headless, with a virtual monitor, as a user's session has it.

    panel_wayland_test.py --gweibar ... --simapi ... --ca-dir ... --artefacts DIR CASE

xwayland: the session offers XWayland, the shell's AppIndicator extension hosts the item. The label is
  read back by OCR and follows a change; Activate at the label opens the popover under it, a second one
  leaves it shown; the network list opens beside its button; a native Wayland window taking the focus
  closes both. The extension must never have dropped the item, even for a while (also in no-x11).
strip: the same session without the AppIndicator extension (no status-item host): the prices show in
  the strip at the top-right corner of the work area, and a click on it opens the popover below it.
no-x11: the shell without XWayland (--no-x11): the program runs on Qt's own Wayland platform, shows the
  prices, and Activate opens the popover (where the compositor puts it) without a crash.

Screenshots come from the shell itself (org.gnome.Shell.Screenshot, to a caller holding the name
org.gnome.Screenshot); every check on the screen is made on their pixels. Needs python3-gi with GTK 4
(run with Debian's python3).
"""

import os
import re
import resource
import subprocess
import sys
import time

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
from gnome_session import (APPINDICATOR, BAR_H, FIRST, SCREEN_H, SCREEN_W, SECOND, Failure,  # noqa: E402
                           Session, log, run_main, tail, wait_for)
from e2e_session import XWindows  # noqa: E402
from gweibar_e2e import POPOVER_BACKGROUND, centre, click, overlaps, popover_buttons  # noqa: E402

NO_OVERVIEW = "gweibar-test-no-overview@gweibar"
WAYLAND_NAME = "gweibar-panel"
POPOVER_COLOUR = "#" + POPOVER_BACKGROUND.hex()
BUDGET_S = 100  # below the ctest timeout, so that teardown always runs


def fmt(box):
    x, y, w, h = box
    return f"{w}x{h}+{x}+{y}"


def near(a, b, tolerance=3):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b))


def union(a, b):
    x0, y0 = min(a[0], b[0]), min(a[1], b[1])
    x1, y1 = max(a[0] + a[2], b[0] + b[2]), max(a[1] + a[3], b[1] + b[3])
    return x0, y0, x1 - x0, y1 - y0


# X clients through XWayland: what the e2e helpers call.
class WaylandSession(Session, XWindows):
    def __init__(self, args):
        super().__init__(args, "wayland")
        self.env["XDG_CURRENT_DESKTOP"] = "GNOME"
        self.screenshot_bus = None
        self.shell_pid = None

    # --- the shell -------------------------------------------------------------------------------

    def install_no_overview_extension(self):
        version = re.search(r"(\d+)\.", self.run(["gnome-shell", "--version"]))
        if not version:
            raise Failure("gnome-shell --version printed no version")
        directory = os.path.join(self.env["XDG_DATA_HOME"], "gnome-shell", "extensions", NO_OVERVIEW)
        os.makedirs(directory)
        with open(os.path.join(HERE, "no_overview_extension", "extension.js")) as f:
            script = f.read()
        with open(os.path.join(directory, "extension.js"), "w") as f:
            f.write(script)
        with open(os.path.join(directory, "metadata.json"), "w") as f:
            f.write('{"uuid": "%s", "name": "gweibar test: no overview", "description": "Leaves the '
                    'overview", "shell-version": ["%s"]}\n' % (NO_OVERVIEW, version.group(1)))

    def start_shell(self, host, xwayland):
        self.install_no_overview_extension()
        self.enable_extensions(([APPINDICATOR] if host else []) + [NO_OVERVIEW])
        # Banners ("Logged in as a privileged user") would lie over the top of the screen for a while.
        self.run(["gsettings", "set", "org.gnome.desktop.notifications", "show-banners", "false"])
        no_core = lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0))  # noqa: E731
        argv = ["gnome-shell", "--wayland", "--headless", "--virtual-monitor", f"{SCREEN_W}x{SCREEN_H}",
                "--wayland-display", WAYLAND_NAME, "--sm-disable", *([] if xwayland else ["--no-x11"])]
        proc = self.start("gnome-shell", argv, preexec_fn=no_core)
        self.shell_pid = proc.pid
        alive = self.alive("gnome-shell")
        ready = os.path.join(self.runtime, "gweibar-test-desktop-ready")
        wait_for("the shell's start-up (the test extension's marker)", lambda: os.path.exists(ready), 60,
                 interval=0.5, alive=alive)
        self.wait_for_desktop()
        if host:
            wait_for("GNOME Shell's StatusNotifierWatcher", self.watcher_present, 20, interval=0.5,
                     alive=alive)
        self.env["WAYLAND_DISPLAY"] = WAYLAND_NAME
        if xwayland:
            self.find_xwayland()
        log(f"GNOME Shell runs on Wayland, {'with' if xwayland else 'without'} XWayland, "
            f"{'with' if host else 'without'} a StatusNotifierWatcher")

    def wait_for_desktop(self):
        quiet_since = [None]

        def left():
            if self.overview_active():
                quiet_since[0] = None
                return False
            if quiet_since[0] is None:
                quiet_since[0] = time.monotonic()
            return time.monotonic() - quiet_since[0] >= 1.0

        wait_for("the shell to leave the overview", left, 20, interval=0.25, alive=self.alive("gnome-shell"))

    def find_xwayland(self):
        """The X display the shell offers: where a session's DISPLAY and XAUTHORITY would point."""
        logfile = self.alive("gnome-shell")[0][2]
        m = wait_for("the shell's X11 display", lambda: re.search(r"Using public X11 display :(\d+)",
                                                                  tail(logfile, 200)), 10)
        number = m.group(1)
        with open(f"/tmp/.X{number}-lock") as f:
            owner = int(f.read().strip())
        if owner != self.shell_pid:
            raise Failure(f"/tmp/.X{number}-lock belongs to {owner}, not the shell ({self.shell_pid})")
        auth = [name for name in os.listdir(self.runtime) if name.startswith(".mutter-Xwaylandauth.")]
        if len(auth) != 1:
            raise Failure(f"expected one .mutter-Xwaylandauth.* file in the runtime directory, found {auth}")
        self.env["DISPLAY"] = f":{number}"
        self.env["XAUTHORITY"] = os.path.join(self.runtime, auth[0])

    def offers_x(self):
        return "Using public X11 display" in tail(self.alive("gnome-shell")[0][2], 200)

    # --- gweibar ---------------------------------------------------------------------------------

    def start_gweibar(self):
        # As a GNOME Wayland session starts it: its display variables, no QT_QPA_PLATFORM.
        env = {k: v for k, v in self.env.items() if k != "QT_QPA_PLATFORM"}
        return self.start("gweibar", [self.args.gweibar], env=env)

    def qt_platform_plugin(self):
        """The platform plugin the running gweibar loaded: "xcb", "wayland" or None."""
        pid = self.alive("gweibar")[0][0].pid

        def loaded():
            with open(f"/proc/{pid}/maps") as f:
                maps = f.read()
            found = re.findall(r"/platforms/libq(xcb|wayland)[-\w]*\.so", maps)
            return set(found) or None

        found = wait_for("gweibar's Qt platform plugin", loaded, 10, alive=self.alive("gweibar"))
        if len(found) != 1:
            raise Failure(f"gweibar loaded the platform plugins {found}")
        return found.pop()

    def item_service(self):
        out = self.bus_call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames")
        names = re.findall(r'"(org\.kde\.StatusNotifierItem-\d+-\d+)"', out)
        return names[0] if len(names) == 1 else None

    def activate(self, x, y):
        """What the AppIndicator extension calls on a click on the label (no pointer tool reaches it)."""
        service = wait_for("gweibar's StatusNotifierItem on the bus", self.item_service, 10,
                           alive=self.alive("gweibar"))
        self.run(["gdbus", "call", "--session", "--dest", service, "--object-path", "/StatusNotifierItem",
                  "--method", "org.kde.StatusNotifierItem.Activate", str(x), str(y)])

    # --- the screen ------------------------------------------------------------------------------

    def screenshot(self, name):
        if self.screenshot_bus is None:
            # The shell answers Screenshot only to a caller holding one of a few well-known names.
            self.screenshot_bus = Gio.DBusConnection.new_for_address_sync(
                self.env["DBUS_SESSION_BUS_ADDRESS"],
                Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
                None, None)
            reply = self.screenshot_bus.call_sync(
                "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                GLib.Variant("(su)", ("org.gnome.Screenshot", 4)), GLib.VariantType("(u)"),
                Gio.DBusCallFlags.NONE, 5000, None)
            if reply.unpack()[0] != 1:
                raise Failure(f"could not own org.gnome.Screenshot: {reply.unpack()}")
        path = os.path.join(self.artefacts, name)
        try:
            done, _ = self.screenshot_bus.call_sync(
                "org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot", "org.gnome.Shell.Screenshot",
                "Screenshot", GLib.Variant("(bbs)", (False, False, path)), GLib.VariantType("(bs)"),
                Gio.DBusCallFlags.NONE, 20000, None).unpack()
        except GLib.Error as e:
            raise Failure(f"the shell took no screenshot: {e.message}") from None
        if not done:
            raise Failure("the shell took no screenshot")
        return path

    def screen_pixels(self, shot=None):
        """The screen as (width, height, rows of RGB bytes), from a new screenshot or the given one."""
        shot = shot or self.screenshot("popover-buttons.png")
        data = subprocess.run(["convert", shot, "-alpha", "off", "-depth", "8", "rgb:-"], check=True,
                              capture_output=True, timeout=30).stdout
        if len(data) != SCREEN_W * SCREEN_H * 3:
            raise Failure(f"a screenshot of {len(data)} bytes, not {SCREEN_W}x{SCREEN_H} RGB")
        return SCREEN_W, SCREEN_H, [data[y * SCREEN_W * 3:(y + 1) * SCREEN_W * 3] for y in range(SCREEN_H)]

    def colour_box(self, shot, colour=POPOVER_COLOUR, area=(0, BAR_H, SCREEN_W, SCREEN_H)):
        """(x, y, w, h) around the pixels of exactly that colour in the area, and how many there are."""
        x0, y0, x1, y1 = area
        out = self.run(["convert", shot, "-crop", f"{x1 - x0}x{y1 - y0}+{x0}+{y0}", "+repage", "-alpha", "off",
                        "-fill", "black", "+opaque", colour, "-fill", "white", "-opaque", colour,
                        # A black frame, so that a box at the corner of the area is still told from it.
                        "-bordercolor", "black", "-border", "1",
                        "-format", "%[fx:mean*w*h] %@", "info:"])
        m = re.fullmatch(r"(\S+) (\d+)x(\d+)\+(\d+)\+(\d+)", out.strip())
        count = round(float(m.group(1))) if m else 0
        if not count:
            return None, 0
        w, h, x, y = (int(v) for v in m.groups()[1:])
        return (x0 + x - 1, y0 + y - 1, w, h), count

    def changed_box(self, before, after, area):
        """(x, y, w, h) around the pixels that differ between two screenshots in the area; None if none."""
        x0, y0, x1, y1 = area
        crop = ["-crop", f"{x1 - x0}x{y1 - y0}+{x0}+{y0}", "+repage"]
        out = self.run(["convert", "(", before, *crop, ")", "(", after, *crop, ")", "-alpha", "off",
                        "-compose", "difference", "-composite", "-colorspace", "Gray", "-threshold", "0",
                        "-bordercolor", "black", "-border", "1", "-format", "%[fx:maxima] %@", "info:"])
        m = re.fullmatch(r"(\S+) (\d+)x(\d+)\+(\d+)\+(\d+)", out.strip())
        if not m or float(m.group(1)) == 0:
            return None
        w, h, x, y = (int(v) for v in m.groups()[1:])
        return x0 + x - 1, y0 + y - 1, w, h

    def wait_for_popover(self, stem, timeout=10, expected=None):
        """Screenshots until a popover-coloured box shows (and, with `expected`, one near it) that holds
        still over two screenshots; returns the box and the screenshot."""
        seen = [None]

        def shown():
            shot = self.screenshot(f"{stem}.png")
            box, count = self.colour_box(shot)
            settled = box and box == seen[0] and count >= box[2] * box[3] // 2
            seen[0] = box
            if settled and (expected is None or near(box, expected)):
                return box, shot
            return None

        try:
            return wait_for(f"the popover on the screen ({stem}.png)", shown, timeout, interval=0.3,
                            alive=self.alive("gweibar", "gnome-shell"))
        except Failure as e:
            raise Failure(f"{e}; last popover-coloured box {seen[0] and fmt(seen[0])}") from None


def expect(condition, message):
    if not condition:
        raise Failure(message)


def start_program(session, prices):
    session.start_simapi()
    session.serve(prices)
    session.start_gweibar()


def case_xwayland(session, args):
    session.start_shell(host=True, xwayland=True)
    start_program(session, FIRST[0])
    session.expect_label(FIRST[1], "1-label", 25)
    plugin = session.qt_platform_plugin()
    log(f"gweibar runs on Qt's {plugin} platform")
    expect(plugin == "xcb", f"gweibar chose Qt's {plugin} platform, not xcb through XWayland")
    session.serve(SECOND[0])  # the next refresh comes within 5 s
    session.expect_label(SECOND[1], "2-label-changed", 15)
    before = os.path.join(args.artefacts, "2-label-changed.png")
    expect(session.colour_box(before)[0] is None, "a popover shows before any Activate")

    # Activate at the label, as the extension does on a click there.
    x, y, w, h = session.label_text_box(before)
    x, y = x + w // 2, y + h // 2
    session.activate(x, y)
    popover, shot = session.wait_for_popover("3-popover")
    px, py, pw, ph = popover
    log(f"Activate({x}, {y}) opened the popover at {fmt(popover)} on the screen (3-popover.png)")
    expect(0 <= px and px + pw <= SCREEN_W and py + ph <= SCREEN_H, "the popover is not wholly on screen")
    # Under the label: right-aligned with the click, at the top of the work area below the bar.
    expect(abs(px + pw - (x + 1)) <= 3 and BAR_H <= py <= BAR_H + 4,
           f"the popover at {fmt(popover)} is not under the label at ({x}, {y})")
    windows = session.visible_windows("gweibar popover")
    expect(len(windows) == 1, f"{len(windows)} popover windows after one Activate")
    window = windows[0]
    log(f"XWayland has the popover window at {fmt(session.geometry(window))}")
    expect(near(session.geometry(window), popover), "the popover is not drawn where its X window is")

    session.activate(x, y)
    time.sleep(1.0)
    again, _ = session.wait_for_popover("4-second-activate", expected=popover)
    expect(session.visible_windows("gweibar popover") == [window], "a second Activate changed the popover")
    log(f"a second Activate leaves it shown at {fmt(again)} (4-second-activate.png)")

    # The network list, beside its button: clicks on our own X windows reach them through XWayland.
    buttons = popover_buttons(session, window)
    expect(len(buttons) == 4, f"expected the four buttons Web, Network, Close list, Quit; found {buttons}")
    network_button = buttons[1]
    click(session, centre(network_button))
    lists = wait_for("the network list", lambda: [w for w in session.visible_windows("gweibar popover")
                                                  if w != window], 10, alive=session.alive("gweibar"))
    choice = session.geometry(lists[0])
    session.xdotool("mousemove", "0", str(SCREEN_H - 1))  # no hover colour in the screenshot
    both, _ = session.wait_for_popover("5-network-list", expected=union(popover, choice))
    log(f"the network list opened at {fmt(choice)} beside its button at {fmt(network_button)}; "
        f"popover-coloured area {fmt(both)} (5-network-list.png)")
    cx, cy, cw, ch = choice
    bx, by, bw, bh = network_button
    expect(not overlaps(choice, network_button) and cx >= bx + bw - 1 and cy <= by + bh // 2 <= cy + ch,
           f"the network list {fmt(choice)} is not beside its button {fmt(network_button)}")
    expect(cx >= 0 and cy >= 0 and cx + cw <= SCREEN_W and cy + ch <= SCREEN_H,
           f"the network list {fmt(choice)} leaves the screen")

    # Another program takes the focus: a native Wayland window.
    taker = session.start("focus-taker", ["/usr/bin/python3", os.path.join(HERE, "focus_taker.py")],
                          env=dict(session.env, GDK_BACKEND="wayland"))
    taker_log = session.alive("focus-taker")[0][2]
    wait_for("the other program's window to take the focus", lambda: "active" in tail(taker_log), 15,
             alive=session.alive("focus-taker", "gnome-shell"))

    def closed():
        shot = session.screenshot("6-focus-elsewhere.png")
        return session.colour_box(shot)[0] is None and not session.visible_windows("gweibar popover")

    wait_for("the popover and its list to close", closed, 10, interval=0.3, alive=session.alive("gweibar"))
    log("another program's window took the focus; the popover and its list closed (6-focus-elsewhere.png)")
    taker.terminate()

    session.activate(x, y)
    reopened, _ = session.wait_for_popover("7-reopened", expected=popover)
    expect(len(session.visible_windows("gweibar popover")) == 1, "the network list came back with the popover")
    log(f"Activate opens it again at {fmt(reopened)}, without the list (7-reopened.png)")
    session.expect_item_kept()


def case_strip(session, args):
    session.start_shell(host=False, xwayland=True)
    desktop = session.screenshot("0-desktop.png")
    start_program(session, FIRST[0])
    expect(session.qt_platform_plugin() == "xcb", "gweibar did not choose xcb through XWayland")
    right_top = (SCREEN_W // 2 + 200, BAR_H, SCREEN_W, SCREEN_H // 2)
    seen = [None]

    def strip_shown():
        shot = session.screenshot("1-strip.png")
        changed = session.changed_box(desktop, shot, right_top)
        if not changed:
            return None
        # The strip's own ground, not the shadow the compositor draws around it.
        x, y, w, h = changed
        ground = session.run(["convert", shot, "-alpha", "off", "-format", f"#%[hex:p{{{x + w - 1},{y}}}]",
                              "info:"])
        box, count = session.colour_box(shot, ground, (x, y, x + w, y + h))
        settled = box and box == seen[0] and count >= box[2] * box[3] // 2
        seen[0] = box
        return settled and (box, shot)

    strip, _ = wait_for("the strip on the screen", strip_shown, 15, interval=0.5,
                        alive=session.alive("gweibar", "gnome-shell"))
    expect(not session.watcher_present(), "a StatusNotifierWatcher appeared")
    sx, sy, sw, sh = strip
    log(f"with no host the strip shows at {fmt(strip)} (1-strip.png)")
    # The top-right corner of the work area: the shell's bar keeps the top of the screen.
    expect(sx + sw == SCREEN_W and sy == BAR_H, f"the strip at {fmt(strip)} is not at the top-right corner")
    readings = []

    def reads_prices():
        shot = session.screenshot("2-strip-text.png")
        text = session.ocr(shot, strip, "2-strip-text", negate=False, pad=0)
        readings.append(text)
        return text.replace(" ", "") == FIRST[1].replace(" ", "")

    try:
        wait_for(f"the strip to read '{FIRST[1]}'", reads_prices, 15, interval=0.5,
                 alive=session.alive("gweibar"))
    except Failure as e:
        raise Failure(f"{e}; OCR read {readings}") from None
    log(f"the strip reads '{FIRST[1]}'")

    click(session, centre(strip))
    popover, _ = session.wait_for_popover("3-strip-popover")
    px, py, pw, ph = popover
    log(f"a click on the strip opened the popover at {fmt(popover)} (3-strip-popover.png)")
    expect(py >= sy + sh - 1 and px >= 0 and px + pw <= SCREEN_W and py + ph <= SCREEN_H,
           f"the popover at {fmt(popover)} is not below the strip at {fmt(strip)}")


def case_no_x11(session, args):
    session.start_shell(host=True, xwayland=False)
    expect(not session.offers_x() and "DISPLAY" not in session.env, "the shell offers an X display")
    start_program(session, FIRST[0])
    session.expect_label(FIRST[1], "1-label", 25)
    plugin = session.qt_platform_plugin()
    log(f"without XWayland gweibar runs on Qt's {plugin} platform")
    expect(plugin == "wayland", f"gweibar runs on Qt's {plugin} platform without XWayland")
    x, y, w, h = session.label_text_box(os.path.join(args.artefacts, "1-label.png"))
    x, y = x + w // 2, y + h // 2
    session.activate(x, y)
    popover, _ = session.wait_for_popover("2-popover")
    log(f"Activate({x}, {y}) opened the popover at {fmt(popover)}, where the compositor put it (2-popover.png)")
    session.activate(x, y)
    time.sleep(2.0)
    session.wait_for_popover("3-second-activate")
    session.expect_label(FIRST[1], "4-label-still", 10)
    for proc, name, logfile in session.alive("gweibar"):
        expect(proc.poll() is None, f"{name} exited ({proc.returncode}):\n{tail(logfile)}")
    session.expect_item_kept()


CASES = {"xwayland": case_xwayland, "strip": case_strip, "no-x11": case_no_x11}


def main():
    def steps(session, args):
        session.start_buses()
        CASES[args.case](session, args)

    return run_main(__doc__, WaylandSession, steps, budget=BUDGET_S,
                    add_arguments=lambda parser: parser.add_argument("case", choices=sorted(CASES)))


if __name__ == "__main__":
    sys.exit(main())
