#!/usr/bin/env python3
"""Builds the KT7310 default EEPROM image (32,784 bytes) that the tool carries.

Everything the image holds is described by the tables and small builders below; running the script
writes src/image/default_image.bin, which is committed and compiled into the program. The output is
byte-for-byte reproducible: no clock, no randomness from the system, standard library only.

    python3 tools/imagegen/make_default_image.py [--output PATH]
"""

import argparse
import hashlib
import pathlib
import re
import struct
import sys

IMAGE_SIZE = 0x8010
PROGRAMMED_LENGTH = 0x4010

VENDOR_ID = 0x3B7D
HS_PRODUCT_ID = 0x7310
FS_PRODUCT_ID = 0x7311
DEVICE_RELEASE = 0x0001
FIRMWARE_VERSION = 0x6087

MANUFACTURER = "Sample Audio Maker"
PRODUCT = "KT7310 USB Audio Board"
# String descriptors 1 to 7. 3 to 7 are named by the function and interface descriptors below.
STRINGS = [
    MANUFACTURER,
    PRODUCT,
    "KT7310 Audio",  # 3: audio function and its control interface
    "KT7310 Playback",  # 4: streaming interface 2
    "KT7310 Recording",  # 5: streaming interface 3
    "KT7310 MIDI",  # 6: MIDI function
    "KT7310 Control",  # 7: HID and vendor interfaces
]
STR_AUDIO, STR_PLAYBACK, STR_RECORDING, STR_MIDI, STR_CONTROL = 3, 4, 5, 6, 7

# Header: "KT", chip 0x7310, header layout 1, programmed length, marker. Every byte is nonzero so that a
# cleared header (the programming sequence zeroes it first and writes it last) is never a valid one.
HEADER = b"KT" + struct.pack("<HBHB", 0x7310, 0x01, PROGRAMMED_LENGTH, 0x5A)

UAC2_RATES = [32000, 44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000]
EP2_RATES = [44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000, 384000]
FS_RATES = [32000, 44100, 48000, 88200, 96000]

HID_REPORT_LENGTH = 99


def le16(value):
    return struct.pack("<H", value)


# --- USB descriptors -------------------------------------------------------------------------------

def desc(dtype, body):
    return bytes([2 + len(body), dtype]) + bytes(body)


def device_descriptor(bcd_usb, triple, product_id):
    return desc(0x01, struct.pack("<HBBBBHHHBBBB", bcd_usb, *triple, 64, VENDOR_ID, product_id,
                                  DEVICE_RELEASE, 1, 2, 0, 1))


def qualifier(bcd_usb, triple):
    return desc(0x06, struct.pack("<HBBBBBB", bcd_usb, *triple, 64, 1, 0))


def configuration(dtype, interfaces, attributes, max_power_ma, body):
    total = 9 + len(body)
    return desc(dtype, struct.pack("<HBBBBB", total, interfaces, 1, 0, attributes, max_power_ma // 2)) + body


def interface(number, alternate, endpoints, cls, subclass, protocol, string):
    return desc(0x04, [number, alternate, endpoints, cls, subclass, protocol, string])


def endpoint(address, attributes, size, interval):
    return desc(0x05, struct.pack("<BBHB", address, attributes, size, interval))


def audio_endpoint(address, attributes, size, interval, refresh=0, synch=0):
    # Audio Class 1.0 and MIDI 1.0 endpoints carry two more bytes.
    return desc(0x05, struct.pack("<BBHBBB", address, attributes, size, interval, refresh, synch))


def association(first, count, cls, subclass, protocol, string):
    return desc(0x0B, [first, count, cls, subclass, protocol, string])


def cs_interface(subtype, body):
    return desc(0x24, bytes([subtype]) + bytes(body))


def cs_endpoint(body):
    return desc(0x25, body)


def hid_interface(interval):
    hid = desc(0x21, struct.pack("<HBBBH", 0x0111, 0, 1, 0x22, HID_REPORT_LENGTH))
    return interface(0, 0, 1, 0x03, 0, 0, STR_CONTROL) + hid + endpoint(0x81, 0x03, 32, interval)


# Audio Class 2.0 (high speed).

def uac2_control():
    clock = cs_interface(0x0A, [0x10, 0x03, 0x07, 0, 0])
    source = cs_interface(0x02, [0x01] + list(struct.pack("<HBBBIBHB", 0x0101, 0, 0x10, 2, 0x3, 0, 0, 0)))
    feature = cs_interface(0x06, [0x02, 0x01] + list(struct.pack("<III", 0x0F, 0, 0)) + [0])
    speaker = cs_interface(0x03, [0x03] + list(struct.pack("<HBBBHB", 0x0301, 0, 0x02, 0x10, 0, 0)))
    units = clock + source + feature + speaker
    header = cs_interface(0x01, struct.pack("<HBHB", 0x0200, 0x01, 9 + len(units), 0))
    return interface(1, 0, 0, 0x01, 0x01, 0x20, STR_AUDIO) + header + units


def uac2_stream(number, alternate, terminal, ep_address, formats, subslot, bits, packet, feedback, string):
    endpoints = 2 if feedback else 1
    data = (interface(number, alternate, endpoints, 0x01, 0x02, 0x20, string) +
            cs_interface(0x01, [terminal, 0, 0x01] + list(struct.pack("<IBIB", formats, 2, 0x3, 0))) +
            cs_interface(0x02, [0x01, subslot, bits]) + endpoint(ep_address, 0x05, packet, 1) +
            cs_endpoint([0x01, 0, 0, 0, 0, 0]))
    if feedback:
        data += endpoint(0x84, 0x11, 4, 4)
    return data


PCM, RAW = 0x00000001, 0x80000000


def hs_playback(alternate, formats, subslot, bits, packet):
    return uac2_stream(2, alternate, 0x01, 0x03, formats, subslot, bits, packet, True, STR_PLAYBACK)


def hs_recording(alternate, formats, subslot, bits, packet):
    return uac2_stream(3, alternate, 0x05, 0x82, formats, subslot, bits, packet, False, STR_RECORDING)


# MIDI 1.0 function: one embedded and one external jack each way, one cable per bulk endpoint.

def midi_function(bulk_size):
    control = interface(4, 0, 0, 0x01, 0x01, 0, STR_MIDI) + cs_interface(0x01, struct.pack("<HHBB", 0x0100, 9, 1, 5))
    jacks = (cs_interface(0x02, [0x01, 0x01, 0]) + cs_interface(0x02, [0x02, 0x02, 0]) +
             cs_interface(0x03, [0x01, 0x03, 1, 0x02, 1, 0]) + cs_interface(0x03, [0x02, 0x04, 1, 0x01, 1, 0]))
    streaming = (interface(5, 0, 2, 0x01, 0x03, 0, STR_MIDI) +
                 cs_interface(0x01, struct.pack("<HH", 0x0100, 7 + len(jacks))) + jacks +
                 endpoint(0x0A, 0x02, bulk_size, 0) + cs_endpoint([0x01, 1, 0x01]) +
                 endpoint(0x89, 0x02, bulk_size, 0) + cs_endpoint([0x01, 1, 0x03]))
    return association(4, 2, 0x01, 0x03, 0, STR_MIDI) + control + streaming


def vendor_interface(bulk_size, interval):
    return (interface(6, 0, 3, 0xFF, 0xF0, 0, STR_CONTROL) + endpoint(0x06, 0x02, bulk_size, 0) +
            endpoint(0x85, 0x02, bulk_size, 0) + endpoint(0x87, 0x03, 64, interval))


def high_speed_set():
    config = (hid_interface(4) + association(1, 2, 0x01, 0x00, 0x20, STR_AUDIO) + uac2_control() +
              interface(2, 0, 0, 0x01, 0x02, 0x20, STR_PLAYBACK) +
              hs_playback(1, PCM, 2, 16, 104) + hs_playback(2, PCM, 3, 24, 156) + hs_playback(3, PCM, 4, 32, 208))
    further = (hs_playback(4, RAW, 4, 32, 208) + hs_playback(5, PCM, 4, 24, 208) +
               interface(3, 0, 0, 0x01, 0x02, 0x20, STR_RECORDING) +
               hs_recording(1, PCM, 2, 16, 104) + hs_recording(2, PCM, 3, 24, 156) +
               hs_recording(3, PCM, 4, 32, 208) + hs_recording(4, RAW, 4, 32, 208) +
               midi_function(512) + vendor_interface(512, 4))
    parts = [
        (device_descriptor(0x0200, (0xEF, 0x02, 0x01), HS_PRODUCT_ID), 18),
        (qualifier(0x0200, (0xEF, 0x02, 0x01)), 10),
        (qualifier(0x0110, (0x00, 0x00, 0x00)), 10),
        (configuration(0x02, 3, 0xC0, 0, config), 283),
        (further, 425),
        (configuration(0x07, 1, 0x80, 500, hid_interface(1)), 34),
    ]
    return join_checked(parts)


# Audio Class 1.0 (full speed).

def uac1_control():
    source = cs_interface(0x02, [0x01] + list(struct.pack("<HBBHBB", 0x0101, 0, 2, 0x0003, 0, 0)))
    feature = cs_interface(0x06, [0x02, 0x01, 1, 0x03, 0x00, 0x00, 0])
    speaker = cs_interface(0x03, [0x03] + list(struct.pack("<HBBB", 0x0301, 0, 0x02, 0)))
    units = source + feature + speaker
    header = cs_interface(0x01, struct.pack("<HHBB", 0x0100, 9 + len(units), 1, 2))
    return interface(1, 0, 0, 0x01, 0x01, 0, STR_AUDIO) + header + units


def uac1_stream(number, alternate, terminal, ep_address, subframe, bits, packet, rates, feedback, string):
    rate_bytes = b"".join(struct.pack("<I", rate)[:3] for rate in rates)
    data = (interface(number, alternate, 2 if feedback else 1, 0x01, 0x02, 0, string) +
            cs_interface(0x01, [terminal, 1] + list(le16(0x0001))) +
            cs_interface(0x02, bytes([0x01, 2, subframe, bits, len(rates)]) + rate_bytes) +
            audio_endpoint(ep_address, 0x05, packet, 1, 0, 0x84 if feedback else 0) +
            cs_endpoint([0x01, 0x01, 0, 0, 0]))
    if feedback:
        data += audio_endpoint(0x84, 0x11, 3, 1, 5, 0)
    return data


def fs_playback(alternate, subframe, bits, packet):
    return uac1_stream(2, alternate, 0x01, 0x03, subframe, bits, packet, FS_RATES, True, STR_PLAYBACK)


def fs_recording(alternate, subframe, bits, packet, rates=FS_RATES):
    return uac1_stream(3, alternate, 0x05, 0x82, subframe, bits, packet, rates, False, STR_RECORDING)


def full_speed_set():
    config = (hid_interface(1) + uac1_control() + interface(2, 0, 0, 0x01, 0x02, 0, STR_PLAYBACK) +
              fs_playback(1, 2, 16, 388) + fs_playback(2, 3, 24, 582) + fs_playback(3, 4, 32, 776))
    further = (fs_playback(4, 4, 24, 776) + interface(3, 0, 0, 0x01, 0x02, 0, STR_RECORDING) +
               fs_recording(1, 2, 16, 388) + fs_recording(2, 3, 24, 582) + fs_recording(3, 4, 32, 776) +
               fs_recording(4, 4, 24, 776, FS_RATES[1:]) + midi_function(64) + vendor_interface(64, 1))
    parts = [
        (device_descriptor(0x0110, (0x00, 0x00, 0x00), FS_PRODUCT_ID), 18),
        (configuration(0x02, 3, 0xC0, 0, config), 284),
        (further, 416),
    ]
    return join_checked(parts)


def string_descriptors():
    slots = [desc(0x03, le16(0x0409))]
    for text in STRINGS:
        encoded = text.encode("utf-16-le")
        assert len(encoded) <= 76, text
        slots.append(desc(0x03, encoded.ljust(76, b"\0")))
    return b"".join(slots)


def hid_report_descriptor():
    """Consumer page, one application collection, no report IDs: 31 input bytes, eight one-bit
    inputs, 16 output bytes; every field has usage 0."""
    one_bit_input = bytes([0x09, 0x00, 0x75, 0x01, 0x95, 0x01, 0x81, 0x02])
    data = (bytes([0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01]) +
            bytes([0x09, 0x00, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 31, 0x81, 0x02]) +
            bytes([0x25, 0x01]) + one_bit_input * 8 +
            bytes([0x09, 0x00, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 16, 0x91, 0x02]) +
            bytes([0xC0]))
    assert len(data) == HID_REPORT_LENGTH
    return data


# --- Tag records ---------------------------------------------------------------------------------

def sum16(data):
    return sum(data) & 0xFFFF


def firmware_info_record():
    words = [0x7310, 0x0002, PROGRAMMED_LENGTH, VENDOR_ID, HS_PRODUCT_ID, FS_PRODUCT_ID, DEVICE_RELEASE,
             FIRMWARE_VERSION]
    # Build date 2026-12-07 and build number, then the eight words and a sum over all of it.
    record = bytes([7, 12]) + le16(2026) + le16(0x0012) + struct.pack("<8H", *words)
    return record + le16(sum16(record))


def cid_record():
    return b"." + b"KT7310-0001" + bytes(2)


def rate_block(count, rates):
    assert len(rates) == 9
    first = rates[0]
    block = struct.pack("<HHIII", count, 0, first, first, 0) + le16(count)
    block += b"".join(struct.pack("<III", rate, rate, 0) for rate in rates)
    assert len(block) == 126
    return block


def level_tables():
    # Four 68-step curves from 0 to 255: linear, square, cube and fourth power.
    steps = 68
    tables = b""
    for power in range(1, 5):
        top = (steps - 1) ** power
        tables += bytes((255 * k ** power + top // 2) // top for k in range(steps))
    return tables


def volume_record():
    # Range in 1/256 dB (minimum -127 dB, maximum 0 dB, step 1 dB), default -12 dB, then 62 attenuation
    # steps of 2 dB.
    words = [-127 * 256, 0, 256, -12 * 256] + [-2 * k * 256 for k in range(62)]
    return struct.pack("<66h", *words)


def iap_record():
    return (le16(0x0100) + PRODUCT.encode("ascii").ljust(48, b"\0") +
            MANUFACTURER.encode("ascii").ljust(32, b"\0") + Xorshift(0x1A9F0003).take(80))


# --- 8051 code -----------------------------------------------------------------------------------

class Xorshift:
    """xorshift32: the image must not change with the Python version, so no `random` here."""

    def __init__(self, seed):
        self.state = seed or 1

    def next(self):
        x = self.state
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        self.state = x
        return x

    def below(self, n):
        return self.next() % n

    def take(self, n):
        return bytes(self.next() & 0xFF for _ in range(n))


# Common instructions: opcode and operand kinds (d direct, i immediate, b bit, r relative, c call).
INSTRUCTIONS = [
    (0x74, "i"), (0xE5, "d"), (0xF5, "d"), (0x75, "di"), (0x85, "dd"), (0xE0, ""), (0xF0, ""),
    (0xA3, ""), (0x04, ""), (0x14, ""), (0x24, "i"), (0x34, "i"), (0x94, "i"), (0x54, "i"),
    (0x44, "i"), (0x64, "i"), (0xC3, ""), (0xD3, ""), (0xC2, "b"), (0xD2, "b"), (0x60, "r"),
    (0x70, "r"), (0x40, "r"), (0x50, "r"), (0x80, "r"), (0xB4, "ir"), (0xC0, "d"), (0xD0, "d"),
    (0x93, ""), (0xC4, ""), (0x23, ""), (0x03, ""), (0x33, ""), (0x13, ""), (0xE4, ""),
    (0x90, "ii"), (0x12, "c"), (0x30, "br"), (0x20, "br"), (0xE6, ""), (0xF6, ""),
] + [(0xE8 + n, "") for n in range(8)] + [(0xF8 + n, "") for n in range(8)] + \
    [(0x78 + n, "i") for n in range(8)] + [(0xD8 + n, "r") for n in range(8)]

RET, RETI, LJMP = 0x22, 0x32, 0x02


class CodeWriter:
    """Emits plausible 8051 routines at a given code address; calls go to routines already written."""

    def __init__(self, rng):
        self.rng = rng
        self.routines = []

    def operand(self, kind):
        rng = self.rng
        if kind == "d":
            return [0x30 + rng.below(0x50) if rng.below(3) else 0x80 + rng.below(0x80)]
        if kind == "b":
            return [rng.below(0x80)]
        if kind == "r":
            return [(rng.below(40) - 20) & 0xFF]
        return [rng.next() & 0xFF]

    def instruction(self):
        opcode, kinds = INSTRUCTIONS[self.rng.below(len(INSTRUCTIONS))]
        if kinds == "c":
            if not self.routines:
                return [0xE4]
            target = self.routines[self.rng.below(len(self.routines))]
            return [opcode, target >> 8, target & 0xFF]
        out = [opcode]
        for kind in kinds:
            out += self.operand(kind)
        return out

    def routine(self, address, room):
        """One routine of at most `room` bytes ending in RET; never leaves fewer than 4 bytes of room."""
        self.routines.append(address)
        wanted = min(room, 12 + self.rng.below(60))
        if room - wanted < 4:
            wanted = room
        out = []
        while True:
            inst = self.instruction()
            if len(out) + len(inst) + 1 > wanted:
                break
            out += inst
        # Top up with one-byte accumulator operations so the routine ends exactly where it should.
        while len(out) < wanted - 1:
            out.append((0x04, 0x14, 0x23, 0x03, 0xC4)[self.rng.below(5)])
        return bytes(out + [RET])

    def fill(self, address, size):
        out = b""
        while len(out) < size:
            out += self.routine(address + len(out), size - len(out))
        return out


def code_part_one(size):
    writer = CodeWriter(Xorshift(0x07310001))
    main = 0x0080
    # Start-up: stack pointer, clear internal RAM, interrupts off, then call the first routine for ever.
    body_start = main + 17
    startup = bytes([0x75, 0x81, 0x60, 0x78, 0x7F, 0xE4, 0xF6, 0xD8, 0xFD, 0x75, 0xA8, 0x00,
                     0x12, body_start >> 8, body_start & 0xFF, 0x80, 0xFB])
    body = writer.fill(body_start, size - body_start)
    code = bytes([LJMP, main >> 8, main & 0xFF])
    for n in range(10):
        # Interrupt vectors every 8 bytes from 0x03: the used ones jump to a routine, the others return.
        if n % 3 == 2:
            slot = bytes([RETI])
        else:
            handler = writer.routines[1 + 7 * n]
            slot = bytes([LJMP, handler >> 8, handler & 0xFF])
        code += slot.ljust(8, b"\xFF")
    code = code.ljust(main, b"\xFF") + startup + body
    assert len(code) == size
    return code


def crc8_table():
    table = []
    for byte in range(256):
        crc = byte
        for _ in range(8):
            crc = ((crc << 1) ^ 0x07) & 0xFF if crc & 0x80 else (crc << 1) & 0xFF
        table.append(crc)
    return bytes(table)


def crc16_table():
    table = b""
    for byte in range(256):
        crc = byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) & 0xFFFF if crc & 0x8000 else (crc << 1) & 0xFFFF
        table += struct.pack(">H", crc)
    return table


def code_part_two(address, size):
    writer = CodeWriter(Xorshift(0x07310002))
    pieces = []

    def at():
        return address + sum(len(p) for p in pieces)

    pieces.append(writer.fill(at(), 2400))
    pieces.append(bytes(32))
    pieces.append(crc8_table())
    pieces.append(writer.fill(at(), 2000))
    pieces.append(bytes(48))
    pieces.append(crc16_table())
    pieces.append(writer.fill(at(), 1500))
    pieces.append(bytes(96))
    pieces.append(writer.fill(at(), size - sum(len(p) for p in pieces)))
    return b"".join(pieces)


# --- Layout --------------------------------------------------------------------------------------

def join_checked(parts):
    out = b""
    for data, size in parts:
        assert len(data) == size, (len(data), size)
        out += data
    return out


RUN_00_0F = bytes(range(0x00, 0x10))
RUN_10_1F = bytes(range(0x10, 0x20))


def tag_area(code_digest):
    ep3 = b"".join(rate_block(count, UAC2_RATES) for count in (7, 9, 9)) + level_tables()
    # (bytes in front of the tag, tag, record, tag offset, record size)
    tags = [
        (b"", "KTFwLTag", firmware_info_record(), 4613, 24),
        (b"", "KTCIdTag", cid_record(), 4645, 14),
        (RUN_00_0F, "KTHsDTag", high_speed_set(), 4683, 780),
        (RUN_00_0F, "KTFsDTag", full_speed_set(), 5487, 718),
        (RUN_00_0F, "KTStrTag", string_descriptors(), 6229, 550),
        (RUN_00_0F, "KTHIDTag", hid_report_descriptor(), 6803, 99),
        (RUN_00_0F, "KTEp2Tag", rate_block(8, EP2_RATES), 6926, 126),
        (RUN_00_0F, "KTEp3Tag", ep3, 7076, 650),
        (b"", "KTVolTag", volume_record(), 7734, 132),
        (RUN_00_0F, "KTCurTag", bytes(8), 7890, 8),
        (b"", "KTiAPTag", iap_record(), 7906, 162),
        (RUN_00_0F, "KTVfyTag", code_digest, 8092, 16),
    ]
    area = b""
    for before, name, record, offset, size in tags:
        area += before
        assert 4613 + len(area) == offset, (name, 4613 + len(area), offset)
        assert len(record) == size, (name, len(record), size)
        area += name.encode("ascii") + record
    return area + RUN_10_1F + RUN_00_0F


def build_image():
    code_one = code_part_one(4600)
    code_two = code_part_two(8148 - 8, 7803)
    # The value after the verify tag is a digest of the controller's code.
    digest = hashlib.sha256(code_one + code_two).digest()[:16]
    body = join_checked([
        (HEADER, 8),
        (code_one, 4600),
        (bytes(5), 5),
        (tag_area(digest), 3535),
        (code_two, 7803),
        (bytes(441), 441),
    ])
    # Trailer: 16-bit sum of bytes 8 to 16,391, then the high-speed product and vendor IDs.
    trailer = le16(sum16(body[8:])) + le16(HS_PRODUCT_ID) + le16(VENDOR_ID) + bytes(2)
    image = body + trailer + bytes(IMAGE_SIZE - PROGRAMMED_LENGTH)
    check_image(image)
    return image


def check_image(image):
    assert len(image) == IMAGE_SIZE
    assert all(HEADER) and image[8] == LJMP
    tags = [(m.start(), m.group()) for m in re.finditer(rb"KT...Tag", image, re.DOTALL)]
    names = [name for _, name in tags]
    assert len(tags) == 12 and len(set(names)) == 12, tags
    assert image[4641:4643] == le16(FIRMWARE_VERSION)
    last_nonzero = max(i for i, b in enumerate(image) if b)
    assert last_nonzero == 16397, last_nonzero


def main():
    default_output = pathlib.Path(__file__).resolve().parents[2] / "src" / "image" / "default_image.bin"
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--output", type=pathlib.Path, default=default_output)
    args = parser.parse_args()
    args.output.write_bytes(build_image())
    return 0


if __name__ == "__main__":
    sys.exit(main())
