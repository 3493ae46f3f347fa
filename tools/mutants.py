#!/usr/bin/env python3
"""Breaks one rule at a time, rebuilds, runs the unit suite (and, where a
script is named, that script test) and says which tests caught it: the proof
that the tests keep catching what they are there for.

  tools/mutants.py TREE [NAME ...]

TREE is a checkout to break (a `git worktree add --detach` of the commit to
check; never a tree with work in it): each change is written into its file,
built in TREE/build-mut, tested, then the file is put back. A change whose
text is no longer found is reported as SKIP: update it with the code.
The first eleven are the rules every change must keep; with no NAME all run
(about a minute each)."""
import subprocess, sys, os, time
TREE = sys.argv[1]
BUILD = os.path.join(TREE, 'build-mut')
only = sys.argv[2:]  # names to run; all when empty
# name, file, text, its broken form, what that breaks, a script test that must catch it too (or None)
M = [
 ('wrap', 'app/keys.cpp', 'static int wrap64(int v) { return (v + 64) % 64; }',
  'static int wrap64(int v) { return v < 0 ? 0 : v % 64; }', 'row 0 up stays on 0 instead of wrapping to 63', None),
 ('clamp', 'app/keys.cpp', 'clamp(value, 1, 15)', 'clamp(value, 1, 16)', 'F4 raises the speed to 16', None),
 ('codec-token', 'song/codec.cpp', 'if (run >= 4) {', 'if (run >= 3) {', 'runs of three packed as a run token', None),
 ('header-field', 'song/song_file.cpp', "'V', 'O', 'R', 'N', 'A', 'D', 'E', 'V', 0, 0, 0, 2}", "'V', 'O', 'R', 'N', 'A', 'D', 'E', 'V', 0, 0, 0, 3}", 'song file version word 3', None),
 ('palette-factor', 'ui/palette.cpp', 'scaled(G, 2.67)', 'scaled(G, 2.66)', 'dim text green factor 2.66', None),
 ('trigger-frame', 'audio/sequencer.cpp', 'stretch.rowStart = p.tick == 0 && p.frame == 0;', 'stretch.rowStart = p.tick == 0 && p.frame == 1;', 'live row trigger on the second frame', None),
 ('message-text', 'app/file_commands.cpp', '"\\" SUCCESSFULLY SAVED"', '"\\" SUCCESFULLY SAVED"', 'save message misspelt', None),
 ('cursor-box', 'ui/pattern_view.cpp', "k == 0 ? 19 : 7, 7, palette[cursorColour]", "k == 0 ? 18 : 7, 7, palette[cursorColour]", 'note cursor box one pixel narrow', None),
 ('save-failure', 'song/safe_file.cpp', 'bool ok = !f.failed && flushToDisk(f.file);', 'bool ok = flushToDisk(f.file);', 'a failed write still renamed into place as a success', None),
 ('recovery-step', 'app/recovery_writer.cpp', 'copy.name = job.name;', 'copy.name = "";', 'recovery copy loses the song name', None),
 ('recovery-late', 'app/recovery.h', 'RecoverySnapshotMs = 150;', 'RecoverySnapshotMs = 900;', 'copies taken only every 0.9 s', 'recovery_editor'),
 # the rules of tests that were merged into tables: each still caught
 ('key-table', 'app/keys.cpp', '14, 15, 17, 19,', '14, 15, 17, 18,', 'the / key plays offset 18 instead of 19', None),
 ('order-digit', 'app/keys.cpp', 'first ? (d >= 0 && d <= 3)', 'first ? (d >= 0 && d <= 4)', 'first order digit 4 accepted', None),
 ('order-reselect', 'app/keys.cpp', '    selectSlot(slot);\n}', '}', 'a key in the order list no longer shows the slot pattern', None),
 ('paste-source', 'app/keys.cpp', 'const int source = from < 0 ? c : from;', 'const int source = c;', 'one-channel paste copies the destination channel', None),
 ('copy-all', 'app/keys.cpp', 'editor.copyChannel = editor.cursorChannel;', 'editor.copyChannel = editor.cursorChannel < 0 ? 0 : editor.cursorChannel;', 'F7 on the order list copies channel 0 only', None),
 ('theme-order', 'app/keys.cpp', 'setWord(0, red);', 'setWord(0, green);', 'theme red byte takes the green draw', None),
 ('tab-orders', 'app/keys.cpp', 'if (ctrlHeld()) editor.cursorChannel = editor.lastChannel;', 'editor.cursorChannel = editor.lastChannel;', 'plain Tab leaves the order list', None),
 ('volume-empty', 'app/keys.cpp', 'if (v < VolumeBase) v += VolumeBase;', '', 'second volume digit on an empty volume not offset by 16', None),
 ('prompt-char', 'ui/prompt.cpp', "|| c == '_';", "|| c == '-';", 'prompt keeps - instead of _', None),
 ('prompt-length', 'ui/prompt.cpp', 'typed.size() >= size_t(PromptMaxLength)', 'typed.size() > size_t(PromptMaxLength)', 'prompt takes 33 characters', None),
 ('prompt-ascii', 'ui/prompt.cpp', '(key.unicode & ~0x7F) != 0', '(key.unicode & ~0xFF) != 0', 'prompt takes Latin-1 keys by their low bits', None),
 ('config-default', 'audio/stream.h', 'DefaultBufferFrames = 512;', 'DefaultBufferFrames = 256;', 'default buffer 256 frames', None),
 ('config-driver', 'app/config.cpp', 'return driver.empty() ? "dsound" : driver;', 'return driver.empty() ? "alsa" : driver;', 'default driver alsa', None),
 ('config-scale', 'app/config.cpp', 'if (scale.size() == 1 &&', 'if (scale.size() >= 1 &&', 'scale "2x" read as 2', None),
 ('config-splash', 'app/config.cpp', 'readConfigFlag("video/splashscreen").value_or(true)', 'readConfigFlag("video/splashscreen").value_or(false)', 'splash off by default', None),
 ('draw-clip', 'ui/draw.cpp', 'if (x1 > long(c.x) + c.w) x1 = long(c.x) + c.w;', 'if (x1 > long(c.x) + c.w + 1) x1 = long(c.x) + c.w + 1;', 'fill one pixel past the clip rectangle', None),
 ('text-advance', 'ui/draw.h', 'constexpr int GlyphAdvance = 6;', 'constexpr int GlyphAdvance = 7;', 'characters 7 pixels apart', None),
 ('splash-alpha', 'ui/splash.cpp', 'return int(double(c) * double(0.005f) * 256);', 'return int(double(c) * 0.005 * 256);', 'wave alpha from the double 0.005', None),
 ('splash-floor', 'ui/splash.cpp', 'if (x % 256 != 0 && x < 0) --q;', 'if (x % 256 != 0 && x > 0) --q;', 'blend quotient floored the wrong way', None),
 ('signature-octave', 'ui/parameters.cpp', 'sig.put(uint32_t(editor.octave));', 'sig.put(0);', 'octave left out of the frame signature', None),
 ('signature-column', 'ui/pattern_view.cpp', 'sig.put(uint32_t(editor.cursorColumn));', 'sig.put(0);', 'cursor column left out of the frame signature', None),
 ('signature-section', 'ui/frame.cpp', '    levelMeter.sign(out);\n', '', 'the level meter drawn but left out of the frame signature', None),
 ('signature-full', 'ui/frame.cpp', 'if (a.overflowed || b.overflowed || a.count != b.count)', 'if (a.count != b.count)', 'a signature that lost words still matches', None),
 ('scale-clip', 'ui/scale_frame.cpp', 'const int to = right > window->w ? window->w :', 'const int to = right > window->w ? window->w + 1 :', 'scaled frame written one column past the window', None),
 ('layout-margin', 'ui/scale_frame.cpp', 'fullscreen ? desktopHeight : desktopHeight - WindowMargin;', 'desktopHeight;', 'window layout ignores the title bar', None),
 ('status-fade', 'ui/status.cpp', 'int d = int((1.0f - t) * 256.0f);', 'int d = int((1.0f - t) * 255.0f);', 'message fade over 255 steps', None),
 ('meter', 'ui/level_meter.cpp', 'y = int(472.0 - v);', 'y = int(471.0 - v);', 'level bar one row high', None),
 ('repeat-delay', 'app/main_loop.h', 'constexpr int RepeatDelayTicks = 40;', 'constexpr int RepeatDelayTicks = 39;', 'first repeat after 400 ms', None),
 ('scancode', 'platform/platform_posix.cpp', 'return static_cast<uint8_t>(xKeycode - KeycodeOffset);', 'return static_cast<uint8_t>(xKeycode - KeycodeOffset + 1);', 'scan codes one off', None),
 ('cmdline-dash', 'app/command_line.cpp', 'arg.size() < 2 ||', 'arg.size() < 1 ||', '"-" taken as an option', None),
 ('load-trailing', 'song/song_file.cpp', '(!songBytes && size - PreambleSize != packedLength)', '(false && size - PreambleSize != packedLength)', 'bytes after the packed image accepted', None),
 ('kill-temps', 'song/safe_file.cpp', '    removeStaleTemps(folder);', '    (void)folder;', 'temporary files of killed saves never removed', None),
 ('kill-window', 'platform/platform_posix.cpp', '    if (std::rename(from.c_str(), to.c_str()) != 0) return false;', '    unlink(to.c_str()); usleep(3000);\n    if (std::rename(from.c_str(), to.c_str()) != 0) return false;', 'old file removed before the rename: a kill can leave neither', None),
 ('keep-mode', 'platform/platform_posix.cpp', 'fchmod(fd, old.st_mode & 07777);', 'fchmod(fd, 0644);', 'a save resets the replaced file mode', None),
 ('recovery-kept', 'app/recovery_startup.h', 'RecoveryCopiesKept = 10;', 'RecoveryCopiesKept = 11;', 'eleven copies kept', None),
 ('save-name', 'app/file_commands.cpp', 'std::string name = editor.songName;', 'std::string name = editor.songName.empty() ? editor.songName : editor.songName + "_";', 'F11 saves a named song under another name', None),
 ('prompt-repaint', 'ui/prompt.cpp', '~Repaint() { frameStale = true; }', '~Repaint() {}', 'the main frame not repainted after the prompt', None),
 ('stream-none', 'audio/stream.cpp', 'if (driver == "none") return false;', '', 'driver none treated as an unknown word', None),
 ('quit-key', 'app/keys.cpp', '    mainLoop.running = false;\n}\nstatic void nothing', '}\nstatic void nothing', 'F12 does not end the loop', None),
 ('line-edge', 'ui/draw.cpp', 'if (yb >= s->h) yb = s->h - 1;', 'if (yb >= s->h) yb = s->h;', 'a vertical line runs one row past the surface', None),
 ('glyph-edge', 'ui/draw.cpp', 'if (g[j * 5 + i] && px >= 0 && px < w) putPixel(s, px, py, pixel);', 'if (g[j * 5 + i] && px >= 0 && px <= w) putPixel(s, px, py, pixel);', 'a clipped glyph writes one column past the row', None),
 ('stream-stopped', 'audio/stream.cpp', '"audio: sound stopped: %s\\n"', '"audio: sound lost: %s\\n"', 'server loss reported in other words', None),
 # the effect column
 ('effect-tick-cut', 'audio/effects.cpp', '    case Tremolo: return tick + 1;', '    case Tremolo: return tick + 2;', 'runs cut only at every other tick of a glide, vibrato or tremolo', None),
 ('effect-pitch', 'audio/instruments.cpp', 'std::pow(2.0, sixteenths / 192.0)', 'std::pow(2.0, sixteenths / 191.0)', 'an offset of 192 sixteenths short of an octave', None),
 ('glide-stop', 'audio/effects.cpp', 'fx.offset + fx.glideSpeed < target ? fx.offset + fx.glideSpeed : target', 'fx.offset + fx.glideSpeed', 'an upward glide passes its note', None),
 ('break-row', 'audio/sequencer.cpp', 'paramOf(*cell) < RowsPerPattern ? paramOf(*cell) : RowsPerPattern - 1', 'paramOf(*cell) < RowsPerPattern ? paramOf(*cell) : 0', 'a break beyond row 63 goes to row 0', None),
 ('loop-speed', 'audio/sequencer.cpp', '(slot * RowsPerPattern + row) * 16 + speedCode', '(slot * RowsPerPattern + row) * 16 + 0 * speedCode', 'a loop found at a row begun at another speed', None),
 # saving under a name, files changed on disk, playing without a stream
 ('save-names', 'app/file_commands.cpp', '    editor.songName = name;\n    rememberFileState', '    rememberFileState', 'a save under a typed name leaves the song unnamed', 'e2e_editor'),
 ('changed-on-disk', 'app/document.cpp', 'return now.known && !(now == knownFileState(name));', 'return now.known && false;', 'F11 replaces a file written by someone else unasked', None),
 ('export-unnamed', 'app/file_commands.cpp', 'editor.songName.empty() ? askName("ENTER FILENAME TO EXPORT") : editor.songName;', 'editor.songName;', 'F9 without a name asks nothing', None),
 ('copy-file-state', 'app/recovery.cpp', '        job.file = knownFileState(editor.songName);\n', '', 'a recovery copy forgets the state of its file', 'e2e_editor'),
 ('silent-time', 'audio/sequencer.cpp', '* (SampleRate / 100)', '* (SampleRate / 100 + 1)', 'playing without a stream at 44200 frames a second', None),
 # the composing keys
 ('paste-kind', 'app/blocks.cpp', 'const int field = editor.cursorChannel * 4 + clip.firstKind;', 'const int field = cursorField();', 'a paste starts at the cursor field, whatever its kind', 'blocks_editor'),
 ('interpolate-round', 'app/blocks.cpp', '(twice + n) / (2 * n)', 'twice / (2 * n)', 'interpolated values rounded down', None),
 ('mark-anchor', 'app/blocks.cpp', 'blockVisible() && b.marking && ', 'blockVisible() && ', 'a Shift move after a plain move back goes on from the old anchor', None),
 ('transpose-range', 'app/blocks.cpp', 'to > HighestNote)', 'to > HighestNote + 1)', 'a note transposed to 195', None),
 ('loop-slot', 'audio/sequencer.cpp', 'if (transport.loopPattern &&', 'if (false &&', 'Ctrl+Return plays on through the order list', 'blocks_editor'),
 ('solo-restore', 'app/keys.cpp', 'for (int c = 0; c < ChannelCount; ++c) transport.muted[c] = mutesBeforeSolo[c];', 'for (int c = 0; c < ChannelCount; ++c) transport.muted[c] = false;', 'un-solo unmutes every channel', None),
 ('block-colour', 'ui/palette.cpp', 'packColour(R / 2, G / 2, B / 2)', 'packColour(R, G, B)', 'the block highlight is the background', 'window_pixels'),
]

def run(cmd, **kw):
    return subprocess.run(cmd, cwd=kw.get('cwd', TREE), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)

subprocess.run(['cmake', '-S', TREE, '-B', BUILD, '-DCMAKE_BUILD_TYPE=RelWithDebInfo', '-DVORNA_BENCH=OFF'], stdout=subprocess.DEVNULL, check=True)
# The unbroken tree first: a suite or script that fails already proves nothing.
chosen = [m for m in M if not only or m[0] in only]
if run(['cmake', '--build', BUILD, '-j2']).returncode != 0:
    sys.exit('the unbroken tree does not build')
if run(['./vorna_tests', '--gtest_brief=1'], cwd=BUILD).returncode != 0:
    sys.exit('the unit suite fails on the unbroken tree')
for script in sorted({m[5] for m in chosen if m[5]}):
    if run(['bash', os.path.join(TREE, 'tests/scripts', script + '.sh'), BUILD, TREE]).returncode != 0:
        sys.exit('script %s fails on the unbroken tree' % script)
for name, path, old, new, what, script in chosen:
    full = os.path.join(TREE, path)
    src = open(full).read()
    if src.count(old) != 1:
        print('%-15s SKIP: pattern found %d times in %s' % (name, src.count(old), path)); continue
    open(full, 'w').write(src.replace(old, new))
    try:
        t0 = time.time()
        b = run(['cmake', '--build', BUILD, '-j2'])
        if b.returncode != 0:
            print('%-15s BUILD FAILED' % name); print(b.stdout[-2000:]); continue
        r = run(['./vorna_tests', '--gtest_brief=1'], cwd=BUILD)
        failed = [l.split('] ')[1].split(' (')[0] for l in r.stdout.splitlines() if l.startswith('[  FAILED  ]') and '] ' in l and 'tests, listed' not in l]
        verdict = 'CAUGHT by %d unit tests: %s' % (len(failed), ', '.join(failed[:4])) if r.returncode != 0 else 'unit suite PASSED'
        if r.returncode == 0 and script:
            s = run(['bash', os.path.join(TREE, 'tests/scripts', script + '.sh'), BUILD, TREE])
            said = [l for l in s.stdout.splitlines() if 'FAIL' in l.upper()][:1]
            verdict += '; script %s %s' % (script, ('CAUGHT: ' + said[0].strip()[:160]) if s.returncode else 'passed')
        print('%-15s %s (%s) [%.0f s]' % (name, verdict, what, time.time() - t0), flush=True)
    finally:
        open(full, 'w').write(src)
run(['cmake', '--build', BUILD, '-j2'])
