#!/usr/bin/env python3
"""A Korvane partner in Python over the C interface (ctypes).

    partner.py [--library PATH] [--service ARG] [--name NAME]

Sends the command 7,1,2,3,4,75, passes the encoded message it gets back to
the service as console data (as a console answering the partner's 1,2,3,4,0,75
would), and sends a keep-alive; prints every event.
"""

import argparse
import ctypes
import ctypes.util
import sys

KIND = {1: "encoded", 2: "report", 3: "keep-alive echoed"}


class Event(ctypes.Structure):
    _fields_ = [("kind", ctypes.c_int), ("octets", ctypes.POINTER(ctypes.c_uint8)),
                ("count", ctypes.c_size_t), ("report", ctypes.c_char_p)]


EVENT_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(Event))


def load(path):
    lib = ctypes.CDLL(path or ctypes.util.find_library("korvane-partner") or "libkorvane-partner.so.1")
    handle = ctypes.c_void_p
    lib.korvane_partner_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int,
                                         ctypes.POINTER(handle)]
    lib.korvane_partner_send_command.argtypes = [handle, ctypes.c_char_p, EVENT_FN, ctypes.c_void_p]
    lib.korvane_partner_send_console.argtypes = [handle, ctypes.POINTER(ctypes.c_uint8),
                                                 ctypes.c_size_t, EVENT_FN, ctypes.c_void_p]
    lib.korvane_partner_send_keepalive.argtypes = [handle, EVENT_FN, ctypes.c_void_p]
    lib.korvane_partner_last_error.argtypes = [handle]
    lib.korvane_partner_last_error.restype = ctypes.c_char_p
    lib.korvane_partner_close.argtypes = [handle]
    return lib


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--library", help="path of libkorvane-partner.so")
    parser.add_argument("--service", help="ARG of the service Korvane_ARG (default: the only one)")
    parser.add_argument("--name", help="the partner's endpoint (default TEST_RX)")
    args = parser.parse_args()
    lib = load(args.library)

    partner = ctypes.c_void_p()
    status = lib.korvane_partner_open(args.name and args.name.encode(),
                                      args.service and args.service.encode(), 5000,
                                      ctypes.byref(partner))
    if status != 0:
        print("partner.py: %s" % lib.korvane_partner_last_error(None).decode(), file=sys.stderr)
        return 2

    encoded = []

    def on_event(_context, event_pointer):
        event = event_pointer.contents
        octets = bytes(event.octets[:event.count])  # valid only during the call: copied
        if event.kind == 2:
            print("report: %r" % event.report.decode())
        else:
            print("%s %d: %s" % (KIND[event.kind], event.count, octets.hex(" ").upper()))
        if event.kind == 1:
            encoded.append(octets)

    callback = EVENT_FN(on_event)  # kept alive while the library may call it
    steps = [lambda: lib.korvane_partner_send_command(partner, b"7,1,2,3,4,75", callback, None),
             lambda: lib.korvane_partner_send_console(
                 partner, (ctypes.c_uint8 * len(encoded[0])).from_buffer_copy(encoded[0]),
                 len(encoded[0]), callback, None),
             lambda: lib.korvane_partner_send_keepalive(partner, callback, None)]
    for step in steps:
        status = step()
        if status != 0:
            print("partner.py: %s" % lib.korvane_partner_last_error(partner).decode(),
                  file=sys.stderr)
            break
    lib.korvane_partner_close(partner)
    return 0 if status == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
