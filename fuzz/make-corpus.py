#!/usr/bin/env python3
"""Writes the small seed corpus of each fuzz target into corpus/<target>/.

The seeds are valid traffic in the shapes the program meets (so the fuzzer
starts from deep inside the parsers) and a few near misses. Run it again after
changing an input layout; the files are committed."""
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes(data))


def data_block(dev, number, count, payload):
    m = [0xF0, dev, 0x01, (number >> 7) & 0x7F, number & 0x7F, (count >> 7) & 0x7F, count & 0x7F, 0x01]
    pairs = [0] * 512
    for k, b in enumerate(payload):
        pairs[2 * k] = (b >> 7) & 1
        pairs[2 * k + 1] = b & 0x7F
    return m + pairs + [0xF7, 0, 0, 0]


def pieces(stream, size):
    out = []
    for i in range(0, len(stream), size):
        chunk = stream[i:i + size]
        out += [len(chunk)] + chunk
    return out


def length_prefixed(messages):
    out = []
    for m in messages:
        out += [len(m)] + m
    return out


rng = random.Random(6)

# Reassembly: byte 0 bit 0 picks id 0x03, bit 1 malformed first replies; then
# length-prefixed pieces.
payload1 = [rng.randrange(256) for _ in range(256)]
payload2 = [rng.randrange(256) for _ in range(256)]
upload = data_block(3, 1, 2, payload1) + data_block(3, 2, 2, payload2)
# The stream port's cut: ten pieces of 48 bytes and one of 44 per message.
write("fuzz_sysex_reassembly", "upload_48_byte_pieces", [1] + pieces(upload, 48))
write("fuzz_sysex_reassembly", "upload_200_byte_pieces_malformed_first", [3] + pieces(upload, 200))
write("fuzz_sysex_reassembly", "version_request_split", [1] + length_prefixed([[0xF0, 3], [0x15, 0xF7]]))
write("fuzz_sysex_reassembly", "solune_short_last_block",
      [0] + pieces([0xF0, 2, 0x15, 0xF7] + data_block(2, 1, 1, payload1[:40]), 48))
write("fuzz_sysex_reassembly", "errors", [1] + length_prefixed([
    [0x12, 0x34], [0xF0, 3, 0xF0], [0xF0, 0xF7], [0xF0, 3, 0x80, 0xF7], [0xF0, 3, 0x42, 0xF7],
    [0xF0, 2, 0x15, 0xF7]]) + pieces(data_block(3, 2, 2, payload2), 100))
