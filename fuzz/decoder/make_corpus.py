#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_decoder into fuzz/corpus/.

Each seed follows the fuzzer's input layout: a response-type byte, an
angle-offset byte, then chunks each preceded by a two-byte control word
(size - 1 in the low 9 bits, bit 9 = drain the queue afterwards).
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "corpus")


def crc8_table():
    table = []
    for i in range(256):
        crc = i
        for _ in range(8):
            crc = ((crc << 1) ^ 0x4D) & 0xFF if crc & 0x80 else (crc << 1) & 0xFF
        table.append(crc)
    return table


TABLE = crc8_table()


def crc8(data):
    crc = 0
    for b in data:
        crc = TABLE[crc ^ b]
    return crc


def crc32_words(data):
    crc = 0xFFFFFFFF
    for i in range(0, len(data), 4):
        word = int.from_bytes(data[i:i + 4], "little")
        crc ^= word
        for _ in range(32):
            crc = ((crc << 1) ^ 0x04C11DB7) & 0xFFFFFFFF if crc & 0x80000000 else (crc << 1) & 0xFFFFFFFF
    return crc


def packet(start, end, stamp, base=500, speed=3600):
    body = struct.pack("<BBHH", 0x54, 0x2C, speed, start)
    for k in range(12):
        body += struct.pack("<HB", base + 10 * k, 100 + k)
    body += struct.pack("<HH", end, stamp)
    return body + bytes([crc8(body)])


def chunks(stream, sizes, drain_every=0):
    out = b""
    at = 0
    i = 0
    while at < len(stream):
        size = sizes[i % len(sizes)]
        part = stream[at:at + size]
        word = (len(part) - 1) | (0x200 if drain_every and (i + 1) % drain_every == 0 else 0)
        out += struct.pack("<H", word) + part
        at += size
        i += 1
    return out


def seed(name, stream, sizes, response_type=0, offset=0, drain_every=1):
    data = bytes([response_type, offset & 0xFF]) + chunks(stream, sizes, drain_every)
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def main():
    os.makedirs(OUT, exist_ok=True)
    sweep = b"".join(packet((i * 1100) % 36000, (i * 1100 + 1000) % 36000, i * 7) for i in range(34))
    seed("sweep_512", sweep, [512], drain_every=2)
    seed("split_20_20_7", packet(35000, 1000, 1), [20, 20, 7])
    seed("wrap_offset", packet(0, 1100, 2) + packet(34900, 35900, 3), [47], offset=-2)
    bad = bytearray(packet(1000, 2100, 4))
    bad[10] ^= 1
    seed("crc_error", bytes(bad) + packet(2100, 3200, 5), [94])
    seed("acks", bytes([0x4F, 0x4B, 0x55, 0xAB, 0x0A, 0x42, 0x5A, 0x55, 0xAB, 0x0A, 0x42, 0x00]), [3, 5])
    frame = bytearray([0x5A, 0x08, 0xB0, 0x07])
    frame += struct.pack("<I", crc32_words(bytes(frame)))
    seed("response_crc32", bytes(frame) + packet(100, 1200, 6), [8, 47])
    summed = bytearray([0x5A, 0x06, 0x11, 0x20, 0x30])
    summed.append(sum(summed) & 0xFF)
    seed("response_sum", bytes(summed) + packet(100, 1200, 7), [6, 47], response_type=0x11)
    seed("garbage_then_packet", bytes([0x00, 0x54, 0x00, 0x4F, 0x5A, 0x03, 0x5A, 0xC8]) + packet(0, 1100, 8),
         [1, 2, 64])


if __name__ == "__main__":
    main()
