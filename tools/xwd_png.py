#!/usr/bin/env python3
"""Converts an XWD screen dump (as Xvfb keeps its screen with -fbdir) to PNG.

Usage: xwd_png.py SCREEN.xwd OUT.png [X Y W H]
Only the 24/32-bit TrueColor dumps that Xvfb writes are handled.
"""
import struct
import sys
import zlib


def read_xwd(path):
    data = open(path, 'rb').read()
    # 25 big-endian 32-bit header fields, then the window name up to header_size.
    fields = struct.unpack('>25I', data[:100])
    (header_size, _version, _fmt, _depth, width, height, _xoff, byte_order,
     _unit, _bit_order, _pad, bpp, line, _vclass, rmask, gmask, bmask,
     _bits_rgb, _cmap_entries, ncolors) = fields[:20]
    if bpp != 32:
        raise SystemExit('only 32 bits per pixel dumps are handled, got %d' % bpp)
    start = header_size + 12 * ncolors  # 12-byte colour entries follow the header
    order = '<' if byte_order == 0 else '>'  # 0 = LSBFirst
    def shift(mask):
        s = 0
        while mask and not mask & 1:
            mask >>= 1
            s += 1
        return s
    rs, gs, bs = shift(rmask), shift(gmask), shift(bmask)
    rows = []
    for y in range(height):
        pixels = struct.unpack_from(order + '%dI' % width, data, start + y * line)
        row = bytearray(3 * width)
        for x, p in enumerate(pixels):
            row[3 * x] = (p & rmask) >> rs
            row[3 * x + 1] = (p & gmask) >> gs
            row[3 * x + 2] = (p & bmask) >> bs
        rows.append(bytes(row))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return (struct.pack('>I', len(body)) + kind + body +
                struct.pack('>I', zlib.crc32(kind + body) & 0xFFFFFFFF))
    raw = b''.join(b'\x00' + r for r in rows)  # filter type 0 on every row
    png = b'\x89PNG\r\n\x1a\n'
    png += chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))  # 8-bit RGB
    png += chunk(b'IDAT', zlib.compress(raw, 9))
    png += chunk(b'IEND', b'')
    open(path, 'wb').write(png)


def main():
    if len(sys.argv) not in (3, 7):
        raise SystemExit(__doc__)
    width, height, rows = read_xwd(sys.argv[1])
    if len(sys.argv) == 7:
        x, y, w, h = (int(v) for v in sys.argv[3:7])
        rows = [r[3 * x:3 * (x + w)] for r in rows[y:y + h]]
        width, height = w, h
    write_png(sys.argv[2], width, height, rows)


if __name__ == '__main__':
    main()
