#!/usr/bin/env python3
"""Breaks one rule at a time, rebuilds, runs the unit suite (and, where a
script is named, that script test) and says which tests caught it: the proof
that the tests keep catching what they are there for.

  tools/mutants.py TREE [NAME ...]

TREE is a checkout to break (a `git worktree add --detach` of the commit to
check; never a tree with work in it): each change is written into its file,
built in TREE/build-mut, tested, then the file is put back. A change whose
text is no longer found is reported as SKIP: update it with the code."""
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
 ('save-failure', 'song/safe_file.cpp', 'bool ok = !f.failed && std::fflush(f.file) == 0', 'bool ok = std::fflush(f.file) == 0', 'a failed write still renamed into place as a success', None),
 ('recovery-step', 'app/recovery.cpp', 'copy.name = job.name;', 'copy.name = "";', 'recovery copy loses the song name', None),
 ('recovery-late', 'app/recovery.h', 'RecoverySnapshotMs = 150;', 'RecoverySnapshotMs = 900;', 'copies taken only every 0.9 s', 'recovery_editor'),
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
