# Another program's window for the desktop tests, and the launcher it stands for.
#
# Shows a window titled "cover" as large as most of the screen. Each line read on stdin is answered
# with "token <id>": what GTK hands a program launched from this window now (an xdg-activation
# token on Wayland, a startup-notification id on X11), tied to the person's last input in it.
import sys

import gi

gi.require_version('Gtk', '4.0')
from gi.repository import Gio, GLib, Gtk  # noqa: E402

window = Gtk.Window(title='cover')
window.set_default_size(1700, 1000)
window.present()
loop = GLib.MainLoop()


def answer(channel, condition):
    if not sys.stdin.readline():
        loop.quit()
        return False
    app = Gio.AppInfo.create_from_commandline('lorvane', 'Lorvane', Gio.AppInfoCreateFlags.SUPPORTS_STARTUP_NOTIFICATION)
    print('token', window.get_display().get_app_launch_context().get_startup_notify_id(app, []), flush=True)
    return True


GLib.io_add_watch(GLib.IOChannel.unix_new(0), GLib.IO_IN | GLib.IO_HUP, answer)
loop.run()
