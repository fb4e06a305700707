#!/usr/bin/env python3
"""Seeds of faxr_net_fuzz: short fax exchanges in the fuzz target's input form.

Run from the repository root: python3 tests/fuzz/tools/faxr_net_seeds.py
"""
import os
import struct

OUT = os.path.join(os.path.dirname(__file__), '..', 'faxr_net_fuzz')
EVENTS = [0x1151, 0x11DC, 0x11D5, 0x11D8, 0x11D4, 0x11DD, 0x11DB, 0x11DE, 0x0DD4,
          0x0DCF, 0x0DCE, 0x0DC9, 0x0DC1, 0x0DC5, 0x0D42]
STATES = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16, 17, 18, 19, 20, 21, 22, 23, 34, 35, 48, 49]


def packet(code, stamp, octets=None, bits=None):
    payload = b''
    if octets is not None:
        octets = bytes(octets)
        if len(octets) % 2:
            octets += b'\0'
        words = [(octets[i] << 8) | octets[i + 1] for i in range(0, len(octets), 2)]
        count = len(octets) * 8 if bits is None else bits
        payload = struct.pack('<H', count) + b''.join(struct.pack('<H', w) for w in words)
    return bytes([0, code]) + struct.pack('<H', stamp) + bytes([len(payload), len(payload), 1]) + payload


def event(code, op1=0, op2=0):
    return bytes([2, EVENTS.index(code)]) + struct.pack('<HH', op1, op2)


def data_event(code, raw):
    return bytes([2, EVENTS.index(code), len(raw)]) + bytes(raw)


def state(s, flags=0, rate=10):
    return bytes([3, STATES.index(s), flags, rate])


def frames(n):
    return bytes([4, n - 1])


def hdlc_bits(frame_octets, flags=8):
    bits = []
    for _ in range(flags):
        bits += [0, 1, 1, 1, 1, 1, 1, 0]
    raw = [(o >> (7 - b)) & 1 for o in frame_octets for b in range(8)]
    crc = 0xFFFF
    for b in raw:
        fb = ((crc >> 15) ^ b) & 1
        crc = (crc << 1) & 0xFFFF
        if fb:
            crc ^= 0x1021
    fcs = ~crc & 0xFFFF
    raw += [(fcs >> (15 - i)) & 1 for i in range(16)]
    ones = 0
    for b in raw:
        bits.append(b)
        ones = ones + 1 if b else 0
        if ones == 5:
            bits.append(0)
            ones = 0
    bits += [0, 1, 1, 1, 1, 1, 1, 0]
    return bits


def v21_blocks(bits):
    out = b''
    for i in range(0, len(bits), 8):
        chunk = bits[i:i + 8]
        w = sum(b << k for k, b in enumerate(chunk))
        out += data_event(0x0D42, struct.pack('<HH', len(chunk), w)) + frames(1)
    return out


def write(name, body, mode=0):
    with open(os.path.join(OUT, name), 'wb') as f:
        f.write(bytes([mode]) + body)


os.makedirs(OUT, exist_ok=True)
dis = [0xFF, 0xC8, 0x01, 0x04, 0x3E, 0x00, 0x81]
write('net_dis_to_line', packet(3, 1) + packet(18, 2, [0xFF, 0xC8]) + packet(18, 3, dis[2:]) + packet(20, 4) +
      b''.join(event(0x0DC1, 8) + frames(1) for _ in range(60)))
write('line_dis_to_net', v21_blocks(hdlc_bits(dis)))
page = packet(16, 1) + frames(8)
for i in range(12):
    page += packet(32, 2 + i, [0xFF, 0xF0, 0x00, 0x10] * 10) + event(0x11DD, 288) + frames(1)
page += packet(63, 40) + b''.join(event(0x11DD, 288) + frames(1) for _ in range(10)) + event(0x11D8) + frames(8)
write('net_page_non_ecm', page)
ecm = packet(16, 1) + frames(8) + state(20, 2, 10)
for i in range(4):
    ecm += packet(42, 2 + 2 * i, [0xFF, 0xC0, 0x60, i] + list(range(60))) + packet(52 if i == 2 else 62, 3 + 2 * i)
    ecm += event(0x11DD, 288) + frames(2)
ecm += packet(64, 20) + event(0x11D8) + frames(8)
write('net_page_ecm', ecm)
rx = state(35, 0, 4) + event(0x11DC, 0)
for i in range(8):
    rx += data_event(0x1151, struct.pack('<H', 192) + bytes(range(i, i + 24))) + frames(1)
rx += event(0x11D5) + frames(2)
write('line_page_to_net', rx)
write('cng_ced_silence', event(0x0DCF, 1) + frames(2) + packet(2, 1) + frames(200) + packet(1, 2) + frames(255), 3)
