# Another program's window over the app, with the keyboard: the launcher a person starts the app
# from. Each line read on stdin is answered with "token <id>", what GTK hands a program launched
# from this window now (an xdg-activation token on Wayland, a startup id on X11), tied to the
# person's last key in it.
import sys

import gi

gi.require_version('Gtk', '4.0')
from gi.repository import Gio, GLib, Gtk  # noqa: E402

window = Gtk.Window(title='cover')
window.set_default_size(1700, 1000)
window.present()


def answer(*_):
    sys.stdin.readline()
    app = Gio.AppInfo.create_from_commandline('lorvane', None, Gio.AppInfoCreateFlags.SUPPORTS_STARTUP_NOTIFICATION)
    print('token', window.get_display().get_app_launch_context().get_startup_notify_id(app, []), flush=True)
    return True


GLib.io_add_watch(GLib.IOChannel.unix_new(0), GLib.IO_IN, answer)
GLib.MainLoop().run()
