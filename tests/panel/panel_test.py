#!/usr/bin/env python3
"""GNOME Shell's own top bar (its AppIndicator extension) draws gweibar's label.

Starts, all private and on loopback: Xvfb, a stand-in system bus, a session bus, GNOME Shell, the
simulated API with scripted gas prices, then the demo build of gweibar. Reads the label back from
screenshots with tesseract, changes the served prices, and clicks the label to open the popover. The
extension must never have dropped the item, even for a while.
Screenshots and logs stay in the artefact directory.
"""

import os
import resource
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from gnome_session import (APPINDICATOR, BAR_H, FIRST, SCREEN_H, SCREEN_W, SECOND, Failure,  # noqa: E402
                           Session, log, run_main, tail, wait_for)


class X11Session(Session):
    def __init__(self, args):
        super().__init__(args, "x11")

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

    def start_shell(self):
        self.enable_extensions([APPINDICATOR])
        no_core = lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0))  # noqa: E731
        self.start("gnome-shell", ["gnome-shell", "--x11", "--replace", "--sm-disable"],
                                preexec_fn=no_core)
        wait_for("GNOME Shell's StatusNotifierWatcher", self.watcher_present, 60, interval=0.5,
                 alive=self.alive("gnome-shell"))
        log("GNOME Shell runs with its StatusNotifierWatcher")

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

    def start_gweibar(self):
        self.start("gweibar", [self.args.gweibar], env=dict(self.env, QT_QPA_PLATFORM="xcb"))

    # --- the screen ------------------------------------------------------------------------------

    def screenshot(self, name):
        path = os.path.join(self.artefacts, name)
        self.run(["import", "-window", "root", path])
        return path

    def popover_window(self):
        out = self.run(["xdotool", "search", "--onlyvisible", "--name", "gweibar popover"], check=False)
        return out.split()[0] if out.split() else None

    def window_geometry(self, window):
        out = self.run(["xdotool", "getwindowgeometry", "--shell", window])
        values = dict(line.split("=", 1) for line in out.split())
        return tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))


def steps(session, args):
    session.start_x()
    session.start_buses()
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
    session.expect_item_kept()


def main():
    return run_main(__doc__, X11Session, steps, budget=80)


if __name__ == "__main__":
    sys.exit(main())
