#!/usr/bin/env python3
"""The expected voice samples of instruments_test.cpp (sample index, value,
pitch and memory after the sample), worked out here from
the voices' formulas in plain Python (doubles, float32 where a value is stored
in a float field), apart from the voices' C++ code. Run it and paste its
output over the tables in instruments_test.cpp when a formula changes.

Notation: n is the sample index since the note-on, T = n + 1, f the float32
pitch, R = 44100. Single-precision constants are used with their exact
float32 values. The low-pass is state = f32(0.9f * state + (1 - 0.9)f * in).
"""
import math
import struct

R = 44100.0


def f32(x):
    return struct.unpack('f', struct.pack('f', x))[0]


S001, S00001 = f32(0.01), f32(0.0001)
SPI, SINVPI = f32(math.pi), f32(1 / math.pi)
S09, S01, S1OF15 = f32(0.9), f32(1 - f32(0.9)), f32(1 / 15)


def pitch(note):
    return f32(27.5 * 2.0 ** (note * (1 / 12)))


def frac(x):
    return x - math.trunc(x)


def pulse(T, rate, threshold):
    return 1.0 if frac((T / (R / rate) + SPI) * SINVPI) > threshold else -1.0


def lowpass(state, x):
    return f32(S09 * state + S01 * x)


def ins0_0(note, state, count):
    f = pitch(note)
    for n in range(count):
        T = n + 1
        W = f32(0.5 * (1 + 0.9 * math.sin(T / (R / (f * S00001)))))
        u = math.trunc(T + 300 * math.sin(T / (R / (f * 0.5))))
        S = 0.3 * math.sin(u / (R / f))
        total = 0.0
        for k in (0.5, 1.0, 2.0, 4.0, 8.0):
            for i in (-1, 0, 1):
                total = f32((0.7 * pulse(T, (1 + S001 * i) * f * k * 0.5, W) + total) + S)
        state = lowpass(state, total * S1OF15)
        yield n, 4 * state * (1 / (1 + 0.0001 * T)), f, state


def ins0_1(note, state, count):
    f = pitch(note)
    step = 0
    for n in range(count):
        T = n + 1
        if n == 0:
            step = 0
        if (n + 1) % 1000 == 0:
            f = f32(f * (0.25 if step == 2 else 2.0))
            step = (step + 1) % 3
        W = 0.5 * (1 + math.sin(T / (R / (f * 0.01))))
        state = lowpass(state, pulse(T, f, W))
        yield n, 1.5 * state * (1 / (1 + 0.0005 * T)), f, state


def ins0_2(note, state, count):
    f = pitch(note)
    for n in range(count):
        T = n + 1
        u1 = math.trunc(T + 100 * math.sin(T / (R / (8 * f))) / (1 + 0.002 * T))
        u2 = math.trunc(T + 100 * math.sin(u1 / (R / (4 * f))) / (1 + 0.001 * T))
        state = lowpass(state, math.sin(u2 / (R / f)))
        yield n, 2 * state * (1 / (1 + 0.0005 * T)), f, state


def ins0_3(note, state, count):
    f = pitch(note)
    for n in range(count):
        T = n + 1
        total = 0.0
        for k in (0.5, 1.0, 2.0, 4.0, 8.0):
            total = f32(total + 2 * pulse(T, f * k, 0.5))
        state = lowpass(state, total)
        yield n, 0.5 * state * (1 / (1 + 0.0005 * T)), f, state


def envelope(T):
    return min(0.001 * T, 1.0) * max(1 - 0.0001 * T, 0.0)


def tone_drum(note, state, count):
    f = pitch(note)
    for n in range(count):
        T = n + 1
        h = math.sin(T / (R / (f / (0.00001 * n + 0.0000001))))
        g = f - 0.01 * n
        b = math.sin(T / (R / g)) if g > 0 else 0.0  # a rate of 0 is sin(0)
        c = (h + 20 * b + state) * 0.5
        state = f32(c)
        yield n, c * envelope(T), f, state


# voice index, its formula, note, state before the note-on, sample indices.
CASES = [
    (0, ins0_0, 40, 0.0, [0, 1, 2, 8, 539, 1000, 2999, 5999]),  # beyond -1 from n = 4
    (1, ins0_1, 30, 0.0, [0, 1, 998, 999, 1000, 1998, 1999, 2998, 2999, 3499]),
    (2, ins0_2, 52, 0.5, [0, 1, 2, 499, 1999, 4999]),  # from the old note's memory
    (3, ins0_3, 45, 0.0, [0, 1, 2, 40, 1000, 4999]),  # about -3.2 at n = 40
    # Tone drum: attack over the first 1000 samples, silent from T = 10000;
    # pitch 523.25, so the falling rate stays positive all through.
    (6, tone_drum, 3 + 12 * 4, 0.0, [0, 1, 998, 999, 5000, 9998, 9999, 11999]),
    # Pitch 65.41: 0.01 n reaches it at n = 6541, and the second sine stops.
    (6, tone_drum, 3 + 12 * 1, 0.0, [0, 6539, 6540, 6541, 6542, 8000]),
]


def main():
    for voice, formula, note, state, picks in CASES:
        last = max(picks) + 1
        rows = [row for row in formula(note, state, last) if row[0] in picks]
        print('    {%d, %d, %rf, {' % (voice, note, state))
        for n, v, f, after in rows:
            print('        {%d, %r, %rf, %rf},' % (n, v, f, after))
        print('    }},')
    print('pitch of note 37: %rf' % pitch(37))


if __name__ == '__main__':
    main()
