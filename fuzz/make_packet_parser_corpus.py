#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_packet_parser: single messages, queries and replies, bundles with
and without time tags, nested bundles that inherit or override their time tag, and the near-misses
the bundle decoder must refuse, one datagram per file.
Run from anywhere; it replaces the files in fuzz/corpus/packet_parser/."""
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "packet_parser")

IMMEDIATE = struct.pack(">II", 0, 1)


def field(text):
    raw = text.encode() if isinstance(text, str) else text
    return raw + b"\0" * (4 - len(raw) % 4)


def message(address, tags="", data=b""):
    return field(address) + field("," + tags) + data


def ints(*numbers):
    return b"".join(struct.pack(">i", n) for n in numbers)


def tag(seconds, microseconds):
    """Seconds from 2001-01-01 and whole microseconds."""
    return struct.pack(">II", seconds, microseconds)


def bundle(elements, time_tag=IMMEDIATE, header=b"#bundle\0"):
    out = header + time_tag
    for element in elements:
        out += struct.pack(">I", len(element)) + element
    return out


def nested(depth, inner):
    for _ in range(depth):
        inner = bundle([inner])
    return inner


SWITCH = message("/switch", "i", ints(1))
IS = message("/is")
CONNECTED = message("/connected", "i", ints(1))
LIST = message("/list", "i" * 12, ints(*([26] * 11 + [255])))
LIST2 = message("/list2", "i" * 12, ints(*([26] * 12)))
MIXED = message("/all", "ifsbhdtcrmETFNI[ii]",
                ints(-2) + struct.pack(">f", 1.5) + field("jar")
                + struct.pack(">I", 3) + b"\x01\x02\x03\0"
                + struct.pack(">qd", 5, 0.25) + tag(1, 2) + ints(ord("z"))
                + bytes([1, 2, 3, 4, 0, 0x90, 1, 2]) + struct.pack(">I", 0x12345678)
                + ints(3, 4))
DOC_QUERY = message("/synth/#documentation")
NAMESPACE_QUERY = message("/synth/")
ROOT_QUERY = message("/")
VALUE_QUERY = message("/a/b/#current-value")
TYPE_QUERY = message("/#type-signature")
RETURN_QUERY = message("/a/#return-type-string")
REPLY = message("#reply", "ss", field("/synth/#documentation") + field("a synthesiser"))
ERROR = message("#error", "s", field("/synth/#documentation"))
BAD = field("/b")  # no type-tag string

SEEDS = {
    "message_switch": SWITCH,
    "message_connected": CONNECTED,
    "message_all_types": MIXED,
    "query_documentation": DOC_QUERY,
    "query_namespace": NAMESPACE_QUERY,
    "query_root": ROOT_QUERY,
    "query_current_value": VALUE_QUERY,
    "query_type_signature": TYPE_QUERY,
    "query_return_type": RETURN_QUERY,
    "reply": REPLY,
    "error": ERROR,
    "bundle_empty": bundle([]),
    "bundle_is": bundle([IS]),
    "bundle_scene": bundle([LIST, LIST2]),
    "bundle_zero_tag": bundle([SWITCH], tag(0, 0)),
    "bundle_timed": bundle([SWITCH, IS], tag(10, 250000)),
    "bundle_timed_far": bundle([CONNECTED], tag(0xFFFFFFFF, 999999)),
    "bundle_big_microseconds": bundle([CONNECTED], tag(5, 0xFFFFFFFF)),
    "bundle_queries": bundle([DOC_QUERY, NAMESPACE_QUERY, VALUE_QUERY], tag(3, 0)),
    "bundle_replies": bundle([REPLY, ERROR]),
    "bundle_all_types": bundle([MIXED, MIXED], tag(1, 500000)),
    "nested_inherits": bundle([IS, bundle([SWITCH, CONNECTED]), LIST], tag(1, 500000)),
    "nested_overrides": bundle([bundle([SWITCH], tag(3, 0)), IS], tag(1, 500000)),
    "nested_three": bundle([bundle([bundle([IS], tag(7, 7)), SWITCH]), CONNECTED]),
    "nested_empty_inner": bundle([bundle([]), IS]),
    "nested_sixteen": nested(15, bundle([IS])),
    "nested_seventeen": nested(16, bundle([IS])),
    "hash_b_header": bundle([IS], header=b"#bxxxxy\0"),
    "breaking": bundle([SWITCH, BAD, IS]),
    "breaking_nested": bundle([IS, bundle([SWITCH, BAD, IS]), CONNECTED]),
    "length_zero": bundle([IS]) + struct.pack(">I", 0) + IS,
    "length_negative": bundle([IS]) + struct.pack(">i", -8) + IS,
    "length_too_long": bundle([IS]) + struct.pack(">I", 9) + IS,
    "length_cut_off": bundle([IS]) + b"\0\0",
    "inner_length_too_long": bundle([bundle([IS]) + struct.pack(">I", 12) + IS, SWITCH]),
    "header_only_plus_one": bundle([]) + b"\0",
}

os.makedirs(OUT, exist_ok=True)
for old in os.listdir(OUT):
    os.remove(os.path.join(OUT, old))
for name, data in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as out:
        out.write(data)
print(f"{len(SEEDS)} seeds in {OUT}")
