#!/usr/bin/env python3
"""Encrypts download addresses into the "fileUrl" form that game information
files carry: a 6-character prefix, then base64 of the TEA-encrypted UTF-8
address (zero-padded to 8-byte blocks), keyed with the game id followed by the
hall's 16-character key tail. Used by the demo catalogue and to make test
vectors independently of the hall's own decoder.

    tools/fileurl.py GAMEID URL
"""
import base64
import struct
import sys

KEY_TAIL = b"Zv#Ostrelle@2009"
PREFIX = "ZVURL1"
DELTA = 0x9E3779B9
MASK = 0xFFFFFFFF


def tea_encrypt_block(v0, v1, k):
    total = 0
    for _ in range(32):
        total = (total + DELTA) & MASK
        v0 = (v0 + ((((v1 << 4) & MASK) + k[0]) ^ (v1 + total) ^ ((v1 >> 5) + k[1]))) & MASK
        v1 = (v1 + ((((v0 << 4) & MASK) + k[2]) ^ (v0 + total) ^ ((v0 >> 5) + k[3]))) & MASK
    return v0, v1


def encrypt_file_url(game_id: str, url: str) -> str:
    key = (game_id.encode("ascii") + KEY_TAIL)[:16]
    k = struct.unpack("<4I", key)
    data = url.encode("utf-8")
    data += b"\0" * (-len(data) % 8)
    out = bytearray()
    for i in range(0, len(data), 8):
        v0, v1 = struct.unpack("<2I", data[i:i + 8])
        out += struct.pack("<2I", *tea_encrypt_block(v0, v1, k))
    return PREFIX + base64.b64encode(bytes(out)).decode("ascii")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    print(encrypt_file_url(sys.argv[1], sys.argv[2]))
