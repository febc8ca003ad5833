// Test-only: the headless shell starts in the overview, which hides every window, and callers cannot
// leave it (OverviewActive is read-only). Leaves it once start-up completes, then drops a marker file
// in the runtime directory so that the test knows the desktop is ready.
const { GLib } = imports.gi;
const Main = imports.ui.main;

let startupHandler = 0;

function leaveOverview() {
    Main.overview.hide();
    GLib.file_set_contents(GLib.build_filenamev([GLib.get_user_runtime_dir(), 'gweibar-test-desktop-ready']), '');
}

function init() {
}

function enable() {
    if (!Main.layoutManager._startingUp) {
        leaveOverview();
        return;
    }
    startupHandler = Main.layoutManager.connect('startup-complete', () => {
        Main.layoutManager.disconnect(startupHandler);
        startupHandler = 0;
        leaveOverview();
    });
}

function disable() {
    if (startupHandler)
        Main.layoutManager.disconnect(startupHandler);
    startupHandler = 0;
}
