#!/usr/bin/env python3
"""Writes the socket_record seeds into fuzz/corpus/socket_record/.

Each seed is one byte that sets how the stream is split (see
socket_record_fuzzer.cpp), then back-to-back 8296-byte score records as a
client sends them: a 100-byte name, 8192 bytes of 1024 doubles or 16 texts
of 512 bytes, and n_args, all little-endian.
"""
import os
import struct

RECORD_BYTES = 8296
TEXT_COMMANDS = {"rtinput", "rtoutput", "set_option", "bus_config", "load"}


def record(name, *args, n_args=None, raw_name=None):
    head = raw_name if raw_name is not None else name.encode().ljust(100, b"\0")
    if name in TEXT_COMMANDS:
        data = b"".join(a.encode().ljust(512, b"\0") for a in args).ljust(8192, b"\0")
    else:
        data = struct.pack("<%dd" % len(args), *args).ljust(8192, b"\0")
    count = len(args) if n_args is None else n_args
    out = head + data + struct.pack("<i", count)
    assert len(out) == RECORD_BYTES
    return out


SEEDS = {
    "pan-session": (0, [record("load", "PAN"), record("rtinput", "sounds/voice.wav"),
                        record("set_option", "sr=44100"),
                        record("gen", 1, 7, 64, 0, 1, 1), record("PAN", 0, 0, 0.01, 0.5, 0, 0, 0.5)]),
    "split-records": (3, [record("load", "PAN"), record("load", "DUMP"),
                          record("DUMP", 0, 0.01, 1, 2, 3)]),
    "texts": (0, [record("rtoutput", "out.wav", "16"), record("bus_config", "PAN", "in0", "out0"),
                  record("set_option", "block=1", "control_rate=100000000", "seed=7")]),
    "functions": (1, [record("load", "scoremath"), record("gaussrand", 0.5, 0.1),
                      record("prob", 0, 0.5, 1, 1)]),
    "legacy-note": (0, [record("load", "gravy"), record("set_option", "sr=44100"),
                        record("rtinput", "sounds/voice.wav"), record("gen", 1, 20, 64, 2),
                        record("gravy", 0, 0, 0.05, 0.01, 0.5, 1, 0.01, 0, 0.5)]),
    "malformed-name": (0, [record("x", 1.0, raw_name=b"X" * 100)]),
    "malformed-count": (0, [record("PAN", 0, 1, n_args=-1), record("PAN", n_args=1025)]),
    "unterminated-text": (0, [b"rtinput".ljust(100, b"\0") + b"a" * 8192 + struct.pack("<i", 1)]),
    "cut-short": (0, [record("load", "PAN")[:4000]]),
    "unknown": (0, [record("NOSUCH", 1, 2), record("gen", 1, 7, 1e12, 0, 1, 1), record("gen", 1.5, 7, 8)]),
}


def main():
    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "socket_record")
    os.makedirs(folder, exist_ok=True)
    for name, (split, records) in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(bytes([split]) + b"".join(records))


if __name__ == "__main__":
    main()
