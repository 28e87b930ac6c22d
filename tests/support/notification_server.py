#!/usr/bin/python3
"""A notification server for tests: owns org.freedesktop.Notifications on the bus given as the
first argument and appends every Notify call as one JSON line to the file given second. With
"silent" as the third argument it never answers GetServerInformation. Prints "ready" to standard
error once it owns the name."""

import json
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

INTERFACE = "org.freedesktop.Notifications"


class Server(dbus.service.Object):
    def __init__(self, bus, record, answers):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.record = record
        self.answers = answers
        self.last_id = 0

    @dbus.service.method(INTERFACE, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app_name, replaces_id, app_icon, summary, body, actions, hints, timeout):
        self.last_id += 1
        call = {
            "app_name": str(app_name),
            "replaces_id": int(replaces_id),
            "app_icon": str(app_icon),
            "summary": str(summary),
            "body": str(body),
            "actions": [str(a) for a in actions],
            "hints": {str(k): str(v) for k, v in hints.items()},
            "expire_timeout": int(timeout),
        }
        with open(self.record, "a", encoding="utf-8") as out:
            out.write(json.dumps(call) + "\n")
        return self.last_id

    @dbus.service.method(INTERFACE, in_signature="", out_signature="ssss",
                         async_callbacks=("reply", "error"))
    def GetServerInformation(self, reply, error):
        if self.answers:
            reply("meterly-test-server", "meterly", "1.0", "1.2")

    @dbus.service.method(INTERFACE, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method(INTERFACE, in_signature="u", out_signature="")
    def CloseNotification(self, notification_id):
        pass


def main():
    address, record, mode = sys.argv[1:4]
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(address)
    server = Server(bus, record, mode == "answer")
    name = dbus.service.BusName(INTERFACE, bus, do_not_queue=True)
    print("ready", file=sys.stderr, flush=True)
    GLib.MainLoop().run()
    del server, name


if __name__ == "__main__":
    main()
