#!/usr/bin/env python3
"""Writes a console message whose root holds one Set of N Integer children.

Each child has its own context-specific tag (1 to N) and holds its number as
an Integer. The message is well formed; only its width is extreme, which is
what it is for: timing `korvane decode` on a hostile message.

    scripts/make_wide_set.py 600000 /tmp/wide.bin
    time build/release/korvane decode /tmp/wide.bin
"""
import sys

ROOT_START = bytes([0x7F, 0x8F, 0xFF, 0xFE, 0xD9, 0x5C, 0x80, 0x30, 0x80])
ROOT_END = bytes(4)


def identifier(class_bits, number):
    """Constructed identifier octets of a tag."""
    if number < 31:
        return bytes([class_bits | 0x20 | number])
    groups = []
    while True:
        groups.append(number & 0x7F)
        number >>= 7
        if not number:
            break
    groups.reverse()
    return bytes([class_bits | 0x20 | 0x1F] + [g | 0x80 for g in groups[:-1]] + [groups[-1]])


def length(count):
    if count < 0x80:
        return bytes([count])
    octets = count.to_bytes((count.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(octets)]) + octets


def integer(value):
    size = 1
    while not -(1 << (8 * size - 1)) <= value < (1 << (8 * size - 1)):
        size += 1
    return value.to_bytes(size, "big", signed=True)


def element(class_bits, number, universal, content):
    inner = bytes([universal]) + length(len(content)) + content
    return identifier(class_bits, number) + length(len(inner)) + inner


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_wide_set.py CHILDREN OUTPUT")
    children = int(sys.argv[1])
    body = b"".join(element(0x80, i, 0x02, integer(i)) for i in range(1, children + 1))
    message = ROOT_START + element(0x80, 1, 0x31, body) + ROOT_END
    with open(sys.argv[2], "wb") as out:
        out.write(message)


if __name__ == "__main__":
    main()
