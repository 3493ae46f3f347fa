#!/usr/bin/env python3
"""Checks what the editor wrote, read back independently of its own code:
song files and recovery copies through READER, the song-json program of the
build folder (tests/support/song_json.cpp), which decodes them with the
tests' own reader of the format.

  e2e_check.py --reader READER KIND ...
  e2e_check.py song FILE.vorna [--speed N] [--orders A,B,..] [--theme R,G,B | --theme-random]
                               [--cell CH,PAT,ROW,NOTE,VOL,EFF,PARAM ...]
      The file's header, its packed image, and the whole song: every cell
      not listed must be empty, every order slot after the listed ones must
      be 255.
  e2e_check.py notes FILE.vorna
      Prints the order list without its trailing empty slots ("orders 255,1") and
      every note of the song, one "pattern row channel note" line each.
  e2e_check.py wav FILE.wav --frames N
      The 44-byte header of a 16-bit mono 44100 Hz file of N frames.
  e2e_check.py recovery FOLDER [--base COPY] [--log LOG --killed-at T] [--all]
                               [--name NAME] [--file SONG.vorna] [--speed N] [--cell ...]
      The newest recovery copy in FOLDER/.vorna-recovery (by the time in its
      trailer): a song file, then "VORNAREC", version 1 or 2, the 64-bit time,
      (version 2) the state of the song's file, the name and the working
      folder (must be FOLDER). With --file the copy must be version 2 and
      remember SONG.vorna as it is on disk now (size, modification time to
      the nanosecond, device, inode). Its song must be COPY's
      song (a copy or a song file; else the empty song) with the note changes of LOG ("time channel
      row note" lines, pattern 0): every change made half a second or more
      before T is in it, later ones may be; with --all every change is.
      --speed and --cell give further values the song must hold. Prints the
      copy's path; "none" when there is none, which is right only when no
      change had to be in it.
"""
import argparse
import glob
import json
import os
import struct
import subprocess
import sys

IMAGE_SIZE = 131140        # theme, speed, 64 orders, 8 channel blocks
CHANNEL_BLOCK = 16384      # four planes of 4096 cells
PLANE = 4096
READER = None              # the song-json program, from --reader


def read_songs(paths):
    """Each file as the reader decodes it: a dict with its path, image
    (bytes), size, length and recovery trailer; a file that is no song file
    fails."""
    if not paths:
        return []
    out = subprocess.run([READER] + list(paths), stdout=subprocess.PIPE, check=False)
    found = [json.loads(line) for line in out.stdout.decode().splitlines()]
    if out.returncode != 0 or len(found) != len(paths):
        fail('%s could not read %r' % (READER, paths))
    for path, song in zip(paths, found):
        if 'error' in song:
            fail('%s: %s' % (path, song['error']))
        song['file'] = path
        song['image'] = bytearray.fromhex(song['image'])
        if song['copy']:
            for text in ('name', 'folder'):
                song['copy'][text] = bytes.fromhex(song['copy'][text]).decode()
    return found


def read_copy(song, plain_song_too=False):
    """A recovery copy: the song image, then the trailer's time, name and folder."""
    if plain_song_too and song['size'] == 16 + song['length']:
        return song['image'], 0, '', ''
    if song['copy_error']:
        fail('%s: %s' % (song['file'], song['copy_error']))
    if not song['copy']:
        fail('%s: no trailer' % song['file'])
    copy = song['copy']
    return song['image'], copy['written'], copy['name'], copy['folder']


def note_at(channel, row):
    return 68 + 16384 * channel + row  # note plane, pattern 0


def fail(msg):
    print('FAIL: ' + msg)
    sys.exit(1)


def check_song(args):
    song = read_songs([args.file])[0]
    if song['size'] != 16 + song['length']:
        fail('file is %d bytes, header says %d + 16' % (song['size'], song['length']))
    image = song['image']
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


def print_notes(args):
    image = read_songs([args.file])[0]['image']
    orders = list(image[4:68])
    while orders and orders[-1] == 255:
        orders.pop()
    print('orders ' + ','.join(str(v) for v in orders))
    for ch in range(8):
        base = 68 + CHANNEL_BLOCK * ch
        for index in range(PLANE):
            if image[base + index]:
                print('%d %d %d %d' % (index // 64, index % 64, ch, image[base + index]))


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
    for song in read_songs(glob.glob(os.path.join(folder, '.vorna-recovery', '*.recovery'))):
        copies.append((read_copy(song)[1], song['file'], song))
    base = read_copy(read_songs([args.base])[0], True)[0] if args.base else empty_image()
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
    _, path, newest = max(copies, key=lambda c: c[:2])
    image, _, name, belongs = read_copy(newest)
    if belongs != folder:
        fail('%s belongs to %r, not %r' % (path, belongs, folder))
    if args.name is not None and name != args.name:
        fail('%s names the song %r, expected %r' % (path, name, args.name))
    if args.file:
        st = os.stat(args.file)
        want_state = {'size': st.st_size, 'seconds': st.st_mtime_ns // 10**9,
                      'nanoseconds': st.st_mtime_ns % 10**9, 'device': st.st_dev, 'inode': st.st_ino}
        if newest['copy']['version'] != 2 or newest['copy']['file'] != want_state:
            fail('%s remembers its file as %r (version %d), but %s is %r'
                 % (path, newest['copy']['file'], newest['copy']['version'], args.file, want_state))
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
    global READER
    p = argparse.ArgumentParser()
    p.add_argument('--reader', required=True)
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
    r.add_argument('--file')
    r.add_argument('--speed', type=int)
    r.add_argument('--cell', action='append')
    n = sub.add_parser('notes')
    n.add_argument('file')
    w = sub.add_parser('wav')
    w.add_argument('file')
    w.add_argument('--frames', type=int, required=True)
    args = p.parse_args()
    READER = args.reader
    {'song': check_song, 'notes': print_notes, 'wav': check_wav, 'recovery': check_recovery}[args.kind](args)


if __name__ == '__main__':
    main()
