#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_message_parser: valid messages of every argument type, the
showcase's own traffic, queries, replies and a few near-misses, one datagram per file.
Run from anywhere; it replaces the files in fuzz/corpus/message_parser/."""
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "message_parser")


def field(text):
    raw = text.encode() if isinstance(text, str) else text
    return raw + b"\0" * (4 - len(raw) % 4)


def blob(data):
    return struct.pack(">I", len(data)) + data + b"\0" * (-len(data) % 4)


def message(address, tags="", data=b""):
    return field(address) + field("," + tags) + data


def ints(*numbers):
    return b"".join(struct.pack(">i", n) for n in numbers)


SEEDS = {
    "switch_on": message("/switch", "i", ints(1)),
    "is": message("/is"),
    "connected": message("/connected", "i", ints(1)),
    "list": message("/list", "i" * 12, ints(*([26] * 11 + [255]))),
    "list2": message("/list2", "i" * 12, ints(*([26] * 12))),
    "float": message("/slider", "f", struct.pack(">f", 0.75)),
    "string": message("/scene", "s", field("mortier")),
    "string_upper_s": message("/scene", "S", field("")),
    "unicode": message("/pots/théri", "s", field("chevrette é €")),
    "blob": message("/b", "b", blob(bytes(range(5)))),
    "blob_empty": message("/b", "b", blob(b"")),
    "int64": message("/h", "h", struct.pack(">q", -(2**40))),
    "double": message("/d", "d", struct.pack(">d", 3.5)),
    "timetag": message("/t", "t", struct.pack(">II", 3, 500000)),
    "char": message("/c", "c", ints(ord("A"))),
    "color": message("/r", "r", bytes([255, 127, 0, 255])),
    "midi": message("/m", "m", bytes([1, 0x90, 60, 127])),
    "smpte": message("/e", "E", struct.pack(">I", 0x20108304)),
    "flags": message("/flags", "TFNI"),
    "array": message("/a", "[ii]f", ints(1, 2) + struct.pack(">f", 1.0)),
    "array_nested": message("/a", "[i[s[]]T]", ints(7) + field("x")),
    "array_unbalanced": message("/a", "]i[i", ints(1, 2)),
    "everything": message(
        "/all", "ifsbhdtcrmETFNI[ii]",
        ints(-2) + struct.pack(">f", 1.5) + field("jar") + blob(b"\x01\x02\x03")
        + struct.pack(">qd", 5, 0.25) + struct.pack(">II", 1, 2) + ints(ord("z"))
        + bytes([1, 2, 3, 4, 0, 0x90, 1, 2]) + struct.pack(">I", 0x12345678) + ints(3, 4)),
    "wildcards": message("/jars/*/level[0-9]", "i", ints(3)),
    "no_slash": message("synth", "i", ints(1)),
    "empty_address": message("", "i", ints(1)),
    "query_namespace": message("/synth/"),
    "query_root": message("/"),
    "query_documentation": message("/synth/#documentation"),
    "query_type_signature": message("/#type-signature"),
    "query_current_value": message("/a/b/#current-value"),
    "query_return_type": message("/a/#return-type-string"),
    "query_unknown": message("/synth/#bogus"),
    "reply": message("#reply", "ss", field("/synth") + field("doc")),
    "error": message("#error", "s", field("/synth")),
    "malformed_hash": message("#foo", "i", ints(1)),
    "empty_tags": message("/a"),
    "no_type_tags": field("/a"),
    "truncated_int": message("/a", "i", b"\0\0"),
    "truncated_blob": message("/a", "b", struct.pack(">I", 100) + b"abcd"),
    "string_without_nul": message("/a", "s", b"abcd"),
}

os.makedirs(OUT, exist_ok=True)
for old in os.listdir(OUT):
    os.remove(os.path.join(OUT, old))
for name, data in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as out:
        out.write(data)
print(f"{len(SEEDS)} seeds in {OUT}")
