#!/usr/bin/env python3
"""Checks what the editor wrote, read back independently of its own code.

  e2e_check.py song FILE.vorna [--speed N] [--orders A,B,..] [--theme R,G,B | --theme-random]
                               [--cell CH,PAT,ROW,NOTE,VOL,EFF,PARAM ...]
      The file's header, its packed image (unpacked here from the format's
      description), and the whole song: every cell not listed must be empty,
      every order slot after the listed ones must be 255.
  e2e_check.py wav FILE.wav --frames N
      The 44-byte header of a 16-bit mono 44100 Hz file of N frames.
  e2e_check.py recovery FOLDER [--base COPY] [--log LOG --killed-at T] [--all]
                               [--name NAME] [--speed N] [--cell ...]
      The newest recovery copy in FOLDER/.vorna-recovery (by the time in its
      trailer): a song file, then "VORNAREC", version 1, the 64-bit time, the
      name and the working folder (must be FOLDER). Its song must be COPY's
      song (a copy or a song file; else the empty song) with the note changes of LOG ("time channel
      row note" lines, pattern 0): every change made half a second or more
      before T is in it, later ones may be; with --all every change is.
      --speed and --cell give further values the song must hold. Prints the
      copy's path; "none" when there is none, which is right only when no
      change had to be in it.
"""
import glob
import os
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


def read_song(data):
    """Header, length word and packed image; returns the image and the bytes used."""
    if data[:12] != b'VORNADEV\x00\x00\x00\x02':
        fail('bad header %r' % data[:12])
    (length,) = struct.unpack('<I', data[12:16])
    if len(data) < 16 + length:
        fail('file is %d bytes, header says %d + 16' % (len(data), length))
    image = unpack(data[16:16 + length])
    if len(image) != IMAGE_SIZE:
        fail('image unpacks to %d bytes' % len(image))
    return image, 16 + length


def read_copy(path, plain_song_too=False):
    """A recovery copy: the song image, then the trailer's time, name and folder."""
    data = open(path, 'rb').read()
    image, used = read_song(data)
    trailer = data[used:]
    if plain_song_too and not trailer:
        return image, 0, '', ''

    if trailer[:8] != b'VORNAREC' or struct.unpack('<I', trailer[8:12])[0] != 1:
        fail('%s: bad trailer %r' % (path, trailer[:12]))
    (written,) = struct.unpack('<Q', trailer[12:20])
    texts, i = [], 20
    for _ in range(2):
        (n,) = struct.unpack('<I', trailer[i:i + 4])
        texts.append(trailer[i + 4:i + 4 + n].decode())
        i += 4 + n
    if i != len(trailer):
        fail('%s: %d bytes after the trailer' % (path, len(trailer) - i))
    return image, written, texts[0], texts[1]


def note_at(channel, row):
    return 68 + 16384 * channel + row  # note plane, pattern 0


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


def empty_image():
    image = bytearray(IMAGE_SIZE)
    image[0:4] = bytes([60, 70, 80, 3])
    image[4:68] = bytes([0] + [255] * 63)
    return image


def check_recovery(args):
    folder = os.path.realpath(args.folder)
    copies = []
    for path in glob.glob(os.path.join(folder, '.vorna-recovery', '*.recovery')):
        copies.append((read_copy(path)[1], path))
    base = read_copy(args.base, True)[0] if args.base else empty_image()
    if args.speed is not None:
        base[3] = args.speed
    # Per note cell: the value it must hold at least, and the values it may hold.
    changes = {}
    if args.log:
        for line in open(args.log):
            t, ch, row, note = line.split()
            changes.setdefault((int(ch), int(row)), []).append((float(t), int(note)))
    must_change = False
    allowed = {}
    for cell, history in changes.items():
        history.sort()
        offset = note_at(*cell)
        old = [v for t, v in history if args.all or t <= args.killed_at - 0.5]
        value = old[-1] if old else base[offset]
        must_change |= value != base[offset]
        allowed[offset] = {value} | {v for t, v in history if not args.all and t > args.killed_at - 0.5}
    if not copies:
        if must_change or args.cell:
            fail('no recovery copy in %s, but changes had to be kept' % folder)
        print('none')
        return
    path = max(copies)[1]
    image, _, name, belongs = read_copy(path)
    if belongs != folder:
        fail('%s belongs to %r, not %r' % (path, belongs, folder))
    if args.name is not None and name != args.name:
        fail('%s names the song %r, expected %r' % (path, name, args.name))
    want = {}
    for wanted in args.cell or []:
        ch, pat, row, note, vol, eff, par = (int(v, 0) for v in wanted.split(','))
        for f, v in enumerate((note, vol, eff, par)):
            want[68 + 16384 * ch + 4096 * f + 64 * pat + row] = {v}
    for i in range(IMAGE_SIZE):
        ok = want.get(i, allowed.get(i, {base[i]}))
        if image[i] not in ok:
            fail('%s: byte %d (channel %d, row %d) is %d, expected one of %r'
                 % (path, i, (i - 68) // 16384, (i - 68) % 64, image[i], sorted(ok)))
    print(path)


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
    r = sub.add_parser('recovery')
    r.add_argument('folder')
    r.add_argument('--base')
    r.add_argument('--log')
    r.add_argument('--killed-at', type=float, default=0.0)
    r.add_argument('--all', action='store_true')
    r.add_argument('--name')
    r.add_argument('--speed', type=int)
    r.add_argument('--cell', action='append')
    w = sub.add_parser('wav')
    w.add_argument('file')
    w.add_argument('--frames', type=int, required=True)
    args = p.parse_args()
    {'song': check_song, 'wav': check_wav, 'recovery': check_recovery}[args.kind](args)


if __name__ == '__main__':
    main()
