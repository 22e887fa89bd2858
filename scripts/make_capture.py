#!/usr/bin/env python3
"""Writes the console capture that ships with Korvane.

    scripts/make_capture.py [OUTPUT]       (default: data/console_capture.bin)
    scripts/make_capture.py --reports      the reports the service forwards

The capture is a snapshot of a small console's parameters as the console
sends them on its link: Ember messages with line noise in between. Every
message is a root (7F 8F FF FE D9 5C 80 30 80 ... 00 00 00 00) holding one
Set level (context 7, the console's parameter tree) above the levels the
partner names in its command lines:

    C-7 > C-p1 > C-p2 > C-p3 > C-p4 > P-p5 > value at A-3    report p1,p2,p3,p4,p5,value
    C-7 > C-p1 > C-p2 > P-p3 > text at A-3                    report p1,p2,p3,0,0,text

The first Set level is counted but not reported, so the reports carry the
partner's own numbers. The parameters:

    1,ch,4,1,5   fader level of input channel ch (Integer, tenths of a dB)
    1,ch,4,1,6   mute of input channel ch (Integer 0 or 1)
    1,ch,4,1,7   solo of input channel ch (Boolean: no report)
    2,ch,3       name of input channel ch (UTF8String)
    1,20,4,1,5   master fader level
    3,1,2,4,5    name of the main output (UTF8String)

Between the messages: a few bytes of noise, two keep-alive-sized empty
messages (13 octets each), a broken start sequence, and a message that
breaks off with a zero length (the reader drops it and starts over at the
next message). The master level is announced twice in a row; the service
forwards the repeated report once. Sets use definite lengths, except in the
message of channel 3, which uses the indefinite form throughout.

The output depends only on this script: running it again gives the same
octets.
"""

import os
import sys

START = bytes([0x7F, 0x8F, 0xFF, 0xFE, 0xD9, 0x5C, 0x80, 0x30, 0x80])
END = bytes(4)
EMPTY_ROOT = START + END  # 13 octets: the size of a keep-alive

CONTEXT, PRIVATE, APPLICATION = 0x80, 0xC0, 0x40
TAG_VALUE = 3


def length(n):
    """BER length octets as the codec writes them (minimal signed count)."""
    if n < 0x80:
        return bytes([n])
    count = 1
    while not -(1 << (8 * count - 1)) <= n < (1 << (8 * count - 1)):
        count += 1
    return bytes([0x80 | count]) + n.to_bytes(count, "big")


def identifier(cls, number, constructed):
    bits = cls | (0x20 if constructed else 0)
    if number < 31:
        return bytes([bits | number])
    groups = []
    while True:
        groups.insert(0, number & 0x7F)
        number >>= 7
        if not number:
            break
    return bytes([bits | 0x1F] + [g | 0x80 for g in groups[:-1]] + [groups[-1]])


def element(cls, number, inner):
    """An Ember element: its own constructed tag wrapping the universal one."""
    return identifier(cls, number, True) + length(len(inner)) + inner


def set_of(cls, number, children, indefinite=False):
    content = b"".join(children)
    if indefinite:
        return identifier(cls, number, True) + b"\x80\x31\x80" + content + END
    return element(cls, number, b"\x31" + length(len(content)) + content)


def integer(value):
    count = 1
    while not -(1 << (8 * count - 1)) <= value < (1 << (8 * count - 1)):
        count += 1
    content = value.to_bytes(count, "big", signed=True)
    return element(APPLICATION, TAG_VALUE, b"\x02" + length(len(content)) + content)


def boolean(value):
    return element(APPLICATION, TAG_VALUE, b"\x01\x01" + (b"\xFF" if value else b"\x00"))


def text(value):
    content = value.encode("utf-8")
    return element(APPLICATION, TAG_VALUE, b"\x0C" + length(len(content)) + content)


def parameter(number, value):
    return set_of(PRIVATE, number, [value])


def message(path, parameters, indefinite=False):
    """Root > C-7 > C-path... > the parameter containers."""
    inner = list(parameters)
    for number in reversed([7] + list(path)):
        inner = [set_of(CONTEXT, number, inner, indefinite)]
    return START + b"".join(inner) + END


def strip(channel, level, mute, solo=None, indefinite=False):
    parameters = [parameter(5, integer(level)), parameter(6, integer(mute))]
    if solo is not None:
        parameters.append(parameter(7, boolean(solo)))
    return message([1, channel, 4, 1], parameters, indefinite)


def channel_name(channel, name):
    return message([2, channel], [parameter(3, text(name))])


def capture():
    """The capture's octets and the reports the service forwards for them."""
    parts = [
        b"\x00\x00\xFF\x13line noise\r\n",
        EMPTY_ROOT,
        strip(1, 0, 0),
        strip(2, -65, 1),
        b"\x55\xAA\x7F\x8F\xFF\xFE\x00",  # noise, then a start sequence broken off
        strip(3, -120, 0, solo=True, indefinite=True),
        channel_name(1, "Vocal 1"),
        channel_name(2, "Kick In"),
        channel_name(3, "Snare Top"),
        START + b"\xA1\x00",  # zero outer length: the reader drops the message
        message([1, 20, 4, 1], [parameter(5, integer(-30))]),
        message([1, 20, 4, 1], [parameter(5, integer(-30))]),  # announced again
        EMPTY_ROOT,
        message([3, 1, 2, 4], [parameter(5, text("Main out"))]),
        b"\xFF\xFE",
    ]
    reports = [
        "1,1,4,1,5,0",
        "1,1,4,1,6,0",
        "1,2,4,1,5,-65",
        "1,2,4,1,6,1",
        "1,3,4,1,5,-120",
        "1,3,4,1,6,0",
        "2,1,3,0,0,Vocal~1 \n",
        "2,2,3,0,0,Kick~In \n",
        "2,3,3,0,0,Snare~Top \n",
        "1,20,4,1,5,-30",
        "3,1,2,4,5,Main~out \n",
    ]
    return b"".join(parts), reports


def main(argv):
    octets, reports = capture()
    if len(argv) > 1 and argv[1] == "--reports":
        for report in reports:
            print(repr(report)[1:-1])
        return 0
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    output = argv[1] if len(argv) > 1 else os.path.join(root, "data", "console_capture.bin")
    os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
    with open(output, "wb") as f:
        f.write(octets)
    print(f"{output}: {len(octets)} octets, {len(reports)} reports")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
