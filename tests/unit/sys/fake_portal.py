#!/usr/bin/env python3
"""A desktop portal with only a save-file chooser, on the session bus, for the dialog tests.

usage: fake_portal.py MODE RECORD_FILE

MODE says how SaveFile answers:
  choose             Response 0 with a file URI and the second of the offered filters as the one
                     left chosen, sent on the request object before the reply
  cancel             Response 1, likewise
  other-handle       replies with a request object of its own choosing and answers there later
  no-chooser         fails the call as an unknown method
  exit-before-reply  leaves the bus without replying
  exit-after-reply   replies, then leaves the bus without a Response

The call's arguments are written to RECORD_FILE, one "key=value" a line. RECORD_FILE.ready is
created once the portal's name is owned.
"""
import sys

import dbus
import dbus.lowlevel
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

NAME = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
CHOSEN_URI = "file:///tmp/x%20y/take.wav"


def plain(value):
    if isinstance(value, (dbus.Array, list)):
        return [plain(v) for v in value]
    if isinstance(value, (dbus.Struct, tuple)):
        return tuple(plain(v) for v in value)
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (dbus.UInt32, dbus.Int32)):
        return int(value)
    if isinstance(value, dbus.String):
        return str(value)
    return value


class Portal(dbus.service.Object):
    def __init__(self, bus, mode, record, loop):
        super().__init__(bus, PATH)
        self.bus, self.mode, self.record, self.loop = bus, mode, record, loop
        self.filters = []

    def respond(self, handle, code):
        results = {"uris": dbus.Array([CHOSEN_URI], signature="s")} if code == 0 else {}
        if code == 0 and self.mode == "choose" and len(self.filters) > 1:
            results["current_filter"] = self.filters[1]
        signal = dbus.lowlevel.SignalMessage(handle, "org.freedesktop.portal.Request", "Response")
        signal.append(dbus.UInt32(code), dbus.Dictionary(results, signature="sv"))
        self.bus.send_message(signal)

    def leave(self):
        GLib.timeout_add(200, self.loop.quit)

    @dbus.service.method("org.freedesktop.portal.FileChooser", in_signature="ssa{sv}",
                         out_signature="o", sender_keyword="sender",
                         async_callbacks=("reply", "fail"))
    def SaveFile(self, parent_window, title, options, sender, reply, fail):
        filters = options.get("filters")
        self.filters = list(filters or [])
        modal = options.get("modal")
        with open(self.record, "w") as out:
            out.write(f"parent_window={parent_window}\n")
            out.write(f"title={title}\n")
            out.write(f"options={','.join(sorted(options.keys()))}\n")
            out.write(f"modal={type(modal).__name__}:{plain(modal)}\n")
            out.write(f"filters={getattr(filters, 'signature', None)}:{plain(filters)}\n")
        handle = "%s/request/%s/%s" % (PATH, sender[1:].replace(".", "_"),
                                       options.get("handle_token", ""))
        if self.mode in ("choose", "cancel"):
            self.respond(handle, 0 if self.mode == "choose" else 1)
            reply(handle)
        elif self.mode == "other-handle":
            handle = PATH + "/request/elsewhere/t1"
            reply(handle)
            GLib.timeout_add(300, lambda: self.respond(handle, 0))
        elif self.mode == "no-chooser":
            fail(dbus.exceptions.DBusException(
                "No such method", name="org.freedesktop.DBus.Error.UnknownMethod"))
        elif self.mode == "exit-before-reply":
            self.leave()
        elif self.mode == "exit-after-reply":
            reply(handle)
            self.leave()


def main():
    mode, record = sys.argv[1], sys.argv[2]
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    loop = GLib.MainLoop()
    portal = Portal(bus, mode, record, loop)
    name = dbus.service.BusName(NAME, bus, do_not_queue=True)
    open(record + ".ready", "w").close()
    loop.run()
    del name, portal


if __name__ == "__main__":
    main()
