#!/usr/bin/python3
"""A small native Wayland window (GTK 4) that takes the focus when it appears: another program.

Prints "active" once the compositor has given it the focus (a headless shell has no keyboard, so
GTK's own is-active never turns true: the toplevel's focused state is what tells)."""

import gi

gi.require_version("Gdk", "4.0")
gi.require_version("Gtk", "4.0")
from gi.repository import Gdk, Gtk  # noqa: E402


def realized(window):
    surface = window.get_surface()

    def state_changed(*_):
        if surface.get_state() & Gdk.ToplevelState.FOCUSED:
            print("active", flush=True)

    surface.connect("notify::state", state_changed)


def activate(app):
    window = Gtk.ApplicationWindow(application=app, title="gweibar focus taker")
    window.set_default_size(160, 90)
    window.connect("realize", realized)
    window.present()


app = Gtk.Application()
app.connect("activate", activate)
app.run([])
