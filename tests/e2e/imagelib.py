"""Upgrade images and typed packets as the box reads them.

An image is the partitions' data followed by a 64 KiB block that begins
with the 776-byte header (little-endian): magic 0x27051956, model (64),
version (32), MAC (32), serial number (64), ten partition entries of
name (32), file offset, length, flash address and CRC-32 (u32 each),
96 reserved bytes, and the CRC-32 of the 772 bytes before it."""

import random
import struct
import zlib

MAGIC = 0x27051956
MODEL = b"PZR-T4900"
HEAD_BLOCK = 0x10000
PARTS = 10


def build(parts):
    """parts: [(name, data, flash_addr)]; returns the image bytes."""
    body, entries = b"", b""
    for name, data, addr in parts:
        entries += struct.pack("<32sIIII", name.encode(), len(body), len(data), addr,
                               zlib.crc32(data))
        body += data
    entries += b"\0" * 48 * (PARTS - len(parts))
    head = struct.pack("<I64s32s32s64s", MAGIC, MODEL, b"V1.0.0", b"", b"") + entries + b"\0" * 96
    head += struct.pack("<I", zlib.crc32(head))
    assert len(head) == 776
    return body + head + b"\0" * (HEAD_BLOCK - len(head))


def data(size, seed):
    return random.Random(seed).randbytes(size)


def upgrade_packets(image, chunk):
    """The image as typed packets of the upgrade: '$', type 1, length,
    then mark 0xEFFE, flag, number and the chunk."""
    out = []
    count = (len(image) + chunk - 1) // chunk
    for n in range(count):
        flag = 0 if n == 0 else 0x80 if n == count - 1 else 0x20
        payload = struct.pack(">HBH", 0xEFFE, flag, n) + image[n * chunk:(n + 1) * chunk]
        out.append(b"$" + struct.pack(">BH", 1, len(payload)) + payload)
    return out


ACK_OK = b"$\x81\x00\x01\x00"
ACK_REFUSED = b"$\x81\x00\x01\x01"
