#!/usr/bin/env python3
"""A Korvane partner in Python with the package korvane (python/).

    partner.py [--library PATH] [--service ARG] [--name NAME]

Sends the command 7,1,2,3,4,75, passes the encoded message it gets back to
the service as console data (as a console answering the partner's 1,2,3,4,0,75
would), and sends a keep-alive; prints every event. --library names the
partner library (else KORVANE_PARTNER_LIBRARY, else the installed one).
"""

import argparse
import os
import sys

import korvane

LABEL = {"encoded": "encoded", "keepalive": "keep-alive echoed"}


def show(events):
    for event in events:
        if event.kind == "report":
            print("report: %r" % event.report)
        else:
            print("%s %d: %s" % (LABEL[event.kind], len(event.octets), event.octets.hex(" ").upper()))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--library", help="path of libkorvane-partner.so")
    parser.add_argument("--service", help="ARG of the service Korvane_ARG (default: the only one)")
    parser.add_argument("--name", help="the partner's endpoint (default TEST_RX)")
    args = parser.parse_args()
    if args.library:
        os.environ["KORVANE_PARTNER_LIBRARY"] = args.library
    try:
        with korvane.Partner(service=args.service, name=args.name) as partner:
            print("service: %s, library %s" % (partner.service, korvane.version()))
            encoded = partner.send_command("7,1,2,3,4,75")
            show(encoded)
            show(partner.send_console(encoded[0].octets))
            show(partner.send_keepalive())
    except korvane.PartnerError as error:
        print("partner.py: %s" % error, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
