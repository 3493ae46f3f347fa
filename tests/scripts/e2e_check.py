#!/usr/bin/env python3
"""Checks what the editor wrote, read back independently of its own code.

  e2e_check.py song FILE.vorna [--speed N] [--orders A,B,..] [--theme R,G,B | --theme-random]
                               [--cell CH,PAT,ROW,NOTE,VOL,EFF,PARAM ...]
      The file's header, its packed image (unpacked here from the format's
      description), and the whole song: every cell not listed must be empty,
      every order slot after the listed ones must be 255.
  e2e_check.py wav FILE.wav --frames N
      The 44-byte header of a 16-bit mono 44100 Hz file of N frames.
"""
import argparse
import struct
import sys

IMAGE_SIZE = 131140        # theme, speed, 64 orders, 8 channel blocks
CHANNEL_BLOCK = 16384      # four planes of 4096 cells
PLANE = 4096


def unpack(packed):
    """The run-length code: byte 0 is the escape byte E; E,k (k<=2) is k+1 E's;
    E,k,v (3<=k<=127) and E,h,l,v (h>=128) are runs of v."""
    out = bytearray()
    if not packed:
        return out
    esc = packed[0]
    i = 1
    while i < len(packed):
        c = packed[i]
        i += 1
        if c != esc:
            out.append(c)
            continue
        k = packed[i]
        i += 1
        if k <= 2:
            out += bytes([esc]) * (k + 1)
            continue
        if k >= 128:
            k = (k - 128) * 256 + packed[i]
            i += 1
        v = packed[i]
        i += 1
        out += bytes([v]) * (k + 1)
    return out


def fail(msg):
    print('FAIL: ' + msg)
    sys.exit(1)


def check_song(args):
    data = open(args.file, 'rb').read()
    if data[:12] != b'VORNADEV\x00\x00\x00\x02':
        fail('bad header %r' % data[:12])
    (length,) = struct.unpack('<I', data[12:16])
    if len(data) != 16 + length:
        fail('file is %d bytes, header says %d + 16' % (len(data), length))
    image = unpack(data[16:])
    if len(image) != IMAGE_SIZE:
        fail('image unpacks to %d bytes' % len(image))
    red, green, blue, speed = image[0], image[1], image[2], image[3]
    if args.theme:
        want = tuple(int(v) for v in args.theme.split(','))
        if (red, green, blue) != want:
            fail('theme %r, expected %r' % ((red, green, blue), want))
    if args.theme_random:
        if not all(30 <= v <= 149 for v in (red, green, blue)) or (red, green, blue) == (60, 70, 80):
            fail('theme %r is not a random theme' % ((red, green, blue),))
    if args.speed is not None and speed != args.speed:
        fail('speed %d, expected %d' % (speed, args.speed))
    orders = list(image[4:68])
    want_orders = [int(v) for v in args.orders.split(',')] if args.orders else [0]
    want_orders += [255] * (64 - len(want_orders))
    if orders != want_orders:
        fail('orders %r, expected %r' % (orders[:8], want_orders[:8]))
    want = {}
    for wanted in args.cell or []:
        ch, pat, row, note, vol, eff, par = (int(v, 0) for v in wanted.split(','))
        want[(ch, pat, row)] = (note, vol, eff, par)
    for ch in range(8):
        base = 68 + CHANNEL_BLOCK * ch
        for index in range(PLANE):
            got = tuple(image[base + PLANE * f + index] for f in range(4))
            key = (ch, index // 64, index % 64)
            expected = want.get(key, (0, 0, 0, 0))
            if got != expected:
                fail('cell channel %d pattern %d row %d is %r, expected %r' % (key + (got, expected)))
    print('ok: %s' % args.file)


def check_wav(args):
    data = open(args.file, 'rb').read()
    if len(data) < 44:
        fail('%s is only %d bytes' % (args.file, len(data)))
    (riff, riff_size, wave_fmt, fmt_size, tag, channels, rate, byte_rate, align, bits,
     data_id, data_size) = struct.unpack('<4sI8sIHHIIHH4sI', data[:44])
    frames = args.frames
    checks = [
        (riff == b'RIFF', 'RIFF id'), (wave_fmt == b'WAVEfmt ', 'WAVEfmt id'),
        (fmt_size == 16, 'fmt size'), (tag == 1, 'PCM tag'), (channels == 1, 'mono'),
        (rate == 44100, 'rate'), (byte_rate == 88200, 'byte rate'), (align == 2, 'block align'),
        (bits == 16, 'bits'), (data_id == b'data', 'data id'),
        (data_size == 2 * frames, 'data size %d for %d frames' % (data_size, frames)),
        (riff_size == 36 + data_size, 'RIFF size %d' % riff_size),
        (len(data) == 44 + data_size, 'file length %d' % len(data)),
    ]
    for ok, what in checks:
        if not ok:
            fail('%s: %s' % (args.file, what))
    print('ok: %s' % args.file)


def main():
    p = argparse.ArgumentParser()
    sub = p.add_subparsers(dest='kind', required=True)
    s = sub.add_parser('song')
    s.add_argument('file')
    s.add_argument('--speed', type=int)
    s.add_argument('--orders')
    s.add_argument('--theme')
    s.add_argument('--theme-random', action='store_true')
    s.add_argument('--cell', action='append')
    w = sub.add_parser('wav')
    w.add_argument('file')
    w.add_argument('--frames', type=int, required=True)
    args = p.parse_args()
    (check_song if args.kind == 'song' else check_wav)(args)


if __name__ == '__main__':
    main()
