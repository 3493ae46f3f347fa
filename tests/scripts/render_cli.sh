#!/bin/bash
# The headless renderer from the outside: exit codes, messages, output files,
# formats read by outside decoders, standard output through real pipes.
# Song files are written byte by byte here (never by our own saver), or are
# the demo songs typed into the editor.
# Arguments: BUILD_DIR SOURCE_DIR
set -u
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
RENDER="$BUILD/vorna-render"
VERSION=$(cat "$BUILD/version.txt")  # the version the build gives the programs
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 1

failures=0
passes=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { passes=$((passes + 1)); }

# Runs the renderer; leaves the exit code in $code, output in out.txt / err.txt.
run() {
    "$RENDER" "$@" > out.txt 2> err.txt
    code=$?
}
expect_code() {  # expected description
    if [ "$code" = "$1" ]; then pass; else fail "$2: exit $code, wanted $1 (stderr: $(head -c 300 err.txt))"; fi
}
expect_err() {  # pattern description
    if grep -q -- "$1" err.txt; then pass; else fail "$2: stderr lacks '$1': $(head -c 300 err.txt)"; fi
}
le32() {  # a number as four little-endian bytes
    printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"
}
header() { printf 'VORNADEV\x00\x00\x00\x02'; }

# The song as created at start-up: header, L = 25, then its 25 packed bytes.
fresh_packed() { printf '\x01\x3c\x46\x50\x03\x00\x01\x3e\xff\x01\xff\xff\x00\x01\xff\xff\x00\x01\xff\xff\x00\x01\xff\xff\x00'; }
{ header; le32 25; fresh_packed; } > fresh.vorna
# One note 3 at volume 80 on channel 0, pattern 0, row 0 (47 bytes).
{ header; le32 31; printf '\x01\x3c\x46\x50\x03\x00\x01\x3e\xff\x03\x01\x8f\xfe\x00\x50\x01\xff\xff\x00\x01\xff\xff\x00\x01\xff\xff\x00\x01\xef\xfe\x00'; } > note.vorna
# Note 5 (the noise drum) on channel 6, row 0: 98304 zeros up to its note
# plane, the note, then the 32767 zeros left of the image.
{ header; le32 26; printf '\x01\x3c\x46\x50\x03\x00\x01\x3e\xff\x01\xff\xff\x00\x01\xff\xff\x00\x01\xff\xff\x00\x05\x01\xff\xfe\x00'; } > drum.vorna

[ "$(stat -c %s fresh.vorna)" = 41 ] || fail "hand-made fresh song is not 41 bytes"

# -- help, version, usage errors -------------------------------------------
# --help describes the command line on standard output and succeeds.
run --help
expect_code 0 "--help"
grep -q 'usage: vorna-render \[OPTION\]... SONG' out.txt && grep -q -- '--seed' out.txt && pass || fail "--help text: $(head -c 200 out.txt)"

# --version prints the program name and version.
run --version
expect_code 0 "--version"
[ "$(cat out.txt)" = "vorna-render $VERSION" ] && pass || fail "--version printed '$(cat out.txt)'"

# A wrong command line exits 2 with a message and renders nothing.
for args in "" "--bogus fresh.vorna" "fresh.vorna -o" "fresh.vorna --seed" "fresh.vorna --seed abc" \
            "fresh.vorna --seed -1" "fresh.vorna --seed 4294967296" "fresh.vorna --seed 12x" \
            "--quiet=1 fresh.vorna" "fresh.vorna -o="; do
    # shellcheck disable=SC2086
    run $args
    expect_code 2 "usage error '$args'"
    [ -s err.txt ] && pass || fail "usage error '$args' printed nothing"
    [ -s out.txt ] && fail "usage error '$args' wrote to standard output" || pass
done
[ -e fresh.wav ] && fail "a usage error rendered a file" || pass

# -- files that cannot be read or are refused -------------------------------
# A missing song exits 1 naming the file; no WAV appears.
run missing.vorna
expect_code 1 "missing song"
expect_err 'missing.vorna' "missing song"
[ -e missing.wav ] && fail "missing song produced a WAV" || pass

# A folder in place of the song is not readable.
mkdir folder.vorna
run folder.vorna
expect_code 1 "song is a folder"
expect_err 'folder.vorna' "song is a folder"

# Files the editor's loader refuses are refused here too, with exit 1.
{ printf 'VORNADEV\x00\x00\x00\x03'; le32 25; fresh_packed; } > version3.vorna
: > empty.vorna
head -c 30 fresh.vorna > cut.vorna
{ header; le32 26; fresh_packed; } > longword.vorna                          # length word says one more
{ header; le32 9; printf '\x01\x3c\x46\x50\x03\x00\x01\x3e\xff'; } > short.vorna  # unpacks to 68 bytes
{ header; le32 26; fresh_packed; printf '\x00'; } > toolong.vorna              # unpacks to one byte too many
for bad in version3 empty cut longword short toolong; do
    run "$bad.vorna"
    expect_code 1 "damaged song $bad"
    expect_err "$bad.vorna" "damaged song $bad"
    [ -e "$bad.wav" ] && fail "damaged song $bad produced a WAV" || pass
done

# Random bytes behind a valid header and length word never crash the renderer.
for i in $(seq 1 25); do
    n=$((RANDOM % 400 + 1))
    { header; le32 $n; head -c $n /dev/urandom; } > random.vorna
    run random.vorna -o random.wav --quiet
    [ "$code" -le 1 ] && pass || fail "random song $i: exit $code"
done

# -- rendering ---------------------------------------------------------------
# The fresh song: one pattern at speed 3 is 192000 frames, D = 384000, the
# size field says 384036, every sample is silence; default name: .wav for .vorna.
run fresh.vorna
expect_code 0 "fresh song"
if [ -f fresh.wav ]; then
    [ "$(stat -c %s fresh.wav)" = 384044 ] && pass || fail "fresh.wav is $(stat -c %s fresh.wav) bytes"
    cmp -s <(head -c 8 fresh.wav) <(printf 'RIFF'; le32 384036) && pass || fail "fresh.wav RIFF size field"
    cmp -s <(head -c 44 fresh.wav | tail -c 8) <(printf 'data'; le32 384000) && pass || fail "fresh.wav data size field"
    cmp -s <(tail -c +45 fresh.wav) <(head -c 384000 /dev/zero) && pass || fail "fresh.wav is not silent"
else
    fail "fresh.vorna rendered no fresh.wav"
fi
# The summary names the frames; standard error stays empty when it is no terminal.
grep -q '192000 frames' out.txt && pass || fail "summary: $(cat out.txt)"
[ -s err.txt ] && fail "non-terminal standard error got output: $(head -c 200 err.txt)" || pass

# On a terminal a progress bar runs on standard error up to 100%.
if command -v script > /dev/null; then
    script -qc "'$RENDER' fresh.vorna -o tty.wav" /dev/null > tty.txt 2>&1
    grep -q '100.0%' tty.txt && pass || fail "no progress bar on a terminal: $(head -c 200 tty.txt)"
fi

# A name without ".vorna" is completed, -o picks the output, --quiet says nothing.
run fresh -o named.wav --quiet
expect_code 0 "name without extension"
[ -s out.txt ] && fail "--quiet printed: $(cat out.txt)" || pass
cmp -s named.wav fresh.wav && pass || fail "fresh -o named.wav differs from fresh.wav"

# A song in another folder writes its WAV beside it.
mkdir -p sub
cp note.vorna sub/note.vorna
run sub/note.vorna --quiet
expect_code 0 "song in a folder"
[ -f sub/note.wav ] && pass || fail "sub/note.vorna did not write sub/note.wav"

# A note at full volume is heard in the file.
run note.vorna --quiet
expect_code 0 "one-note song"
if cmp -s <(tail -c +45 note.wav) <(head -c 384000 /dev/zero); then fail "note.wav is silent"; else pass; fi

# The same song twice gives the same file; the seed changes the noise drum.
run drum.vorna -o drum1.wav --quiet
expect_code 0 "drum song"
run drum.vorna -o drum2.wav --quiet
cmp -s drum1.wav drum2.wav && pass || fail "two renders with the default seed differ"
if cmp -s <(tail -c +45 drum1.wav) <(head -c 384000 /dev/zero); then fail "drum song is silent"; else pass; fi
run drum.vorna -o drum7.wav --seed=7 --quiet
expect_code 0 "drum song, seed 7"
run drum.vorna -o drum7b.wav --seed 7 --quiet
cmp -s drum7.wav drum7b.wav && pass || fail "two renders with seed 7 differ"
cmp -s drum1.wav drum7.wav && fail "seed 7 renders the same noise as the default seed" || pass

# -- output that cannot be written -----------------------------------------
# A missing folder: exit 1, named in the message.
run fresh.vorna -o nowhere/out.wav
expect_code 1 "output in a missing folder"
expect_err 'nowhere/out.wav' "output in a missing folder"
# A folder in the way of the output leaves it as it was.
mkdir taken.wav
run fresh.vorna -o taken.wav
expect_code 1 "output is a folder"
[ -d taken.wav ] && [ -z "$(ls -A taken.wav)" ] && pass || fail "folder in the way was changed"

# -- formats, stems, standard output, facts, several songs ---------------------
for tool in flac oggdec sox xargs; do
    command -v $tool > /dev/null || { fail "missing $tool (tools/install-deps.sh installs it)"; }
done
cp "$SRC/songs/first_steps.vorna" "$SRC/songs/eight_voices.vorna" .
# Samples of a WAV file (the bytes after its 44-byte header).
data() { tail -c +45 "$1"; }

# The default is the 16-bit WAV; the extension picks FLAC and Ogg.
run first_steps.vorna eight_voices --quiet
expect_code 0 "two demo songs"
run first_steps.vorna -o first.flac --quiet
expect_code 0 "FLAC by extension"
run first_steps.vorna -o first.ogg --quiet
expect_code 0 "Ogg by extension"
# An outside decoder gets exactly the 16-bit samples back from the FLAC file.
flac -s -d -f -o first_flac.wav first.flac && cmp -s <(data first_flac.wav) <(data first_steps.wav) && pass ||
    fail "flac -d does not give the 16-bit samples"
# 4 slots x 64 rows x 3 ticks x 1000 frames, also after Ogg Vorbis.
oggdec -Q -o first_ogg.wav first.ogg && [ "$(soxi -s first_ogg.wav)" = 768000 ] && pass ||
    fail "oggdec: $(soxi -s first_ogg.wav 2>&1)"
run first_steps -f wav24 -o first24.wav --quiet
expect_code 0 "24-bit WAV"
[ "$(soxi -b first24.wav 2> /dev/null)" = 24 ] && [ "$(soxi -s first24.wav 2> /dev/null)" = 768000 ] && pass ||
    fail "sox does not read a 24-bit file of 768000 frames"
run first_steps --format wav32f --quiet
expect_code 0 "float WAV beside the song"
[ "$(soxi -e first_steps.wav 2> /dev/null)" = "Floating Point PCM" ] && [ "$(soxi -b first_steps.wav 2> /dev/null)" = 32 ] && pass || fail "float WAV: $(soxi first_steps.wav 2>&1 | head -c 300)"
run first_steps.vorna --quiet
expect_code 0 "16-bit WAV again"

# Standard output through real pipes: the 16-bit WAV is the file byte for byte,
# FLAC decodes to its samples, Ogg and the 24-bit WAV are read whole.
"$RENDER" first_steps -o - --quiet | cat > piped.wav
cmp -s piped.wav first_steps.wav && pass || fail "-o - does not give the 16-bit WAV"
"$RENDER" first_steps -o - -f flac --quiet | flac -s -d -f -o piped_flac.wav - 2> flac.err &&
    cmp -s <(data piped_flac.wav) <(data first_steps.wav) && pass || fail "piped FLAC: $(head -c 300 flac.err)"
"$RENDER" first_steps -o - -f ogg --quiet | oggdec -Q -o piped_ogg.wav - && [ "$(soxi -s piped_ogg.wav)" = 768000 ] &&
    pass || fail "piped Ogg"
"$RENDER" first_steps -o - -f wav24 --quiet | sox -t wav - piped24.wav 2> /dev/null &&
    [ "$(soxi -s piped24.wav)" = 768000 ] && pass || fail "piped 24-bit WAV"
# With the sound on standard output the summary goes to standard error.
"$RENDER" first_steps -o - -f flac > /dev/null 2> summary.txt
grep -q '768000 frames' summary.txt && pass || fail "summary with -o -: $(cat summary.txt)"

# Stems: eight files named after the song, or after a pattern with %c.
run first_steps --stems --quiet
expect_code 0 "stems"
for c in 1 2 3 4 5 6 7 8; do [ "$(soxi -s first_steps.ch$c.wav 2> /dev/null)" = 768000 ] || fail "stem $c"; done && pass
run first_steps --stems -o 'parts/%c.flac' --quiet
expect_code 1 "stems into a missing folder"
[ -e parts ] && fail "stems into a missing folder left something" || pass
mkdir parts
run first_steps --stems -o 'parts/%c.flac' --quiet
expect_code 0 "stems with a pattern"
[ "$(ls parts | tr '\n' ' ')" = "1.flac 2.flac 3.flac 4.flac 5.flac 6.flac 7.flac 8.flac " ] && pass || fail "stem names: $(ls parts)"

# Facts without rendering: hand-counted from the songs as typed.
rm -f first_steps.wav
run --info first_steps eight_voices.vorna
expect_code 0 "--info"
[ -e first_steps.wav ] && fail "--info rendered a file" || pass
grep -q '^  speed: *3 ticks per row$' out.txt && grep -q '^  slots played: *4: 00 00 01 00$' out.txt &&
    grep -q '^  length: *768000 frames, 0:17.41$' out.txt && grep -q '^  channels playing: *1 2 3 7 8$' out.txt &&
    pass || fail "--info of first_steps: $(cat out.txt)"
# eight_voices: speed 4, 5 slots, pattern 01 (slots 1 and 3) broken off after row 47:
# (3 x 64 + 2 x 48) x 4 x 1000 frames = 26.12 s.
grep -q '^  length: *1152000 frames, 0:26.12$' out.txt && grep -q '^  channels playing: *1 2 3 4 5 6 7 8$' out.txt &&
    pass || fail "--info of eight_voices: $(cat out.txt)"

# Several songs: each as if rendered alone; the exit status is the worst.
run eight_voices -o alone.wav --quiet
run first_steps eight_voices --quiet
cmp -s alone.wav eight_voices.wav && pass || fail "the second song of a call differs from the song rendered alone"
rm -f first_steps.wav eight_voices.wav
run first_steps missing eight_voices --quiet
expect_code 1 "a missing song among others"
[ -f first_steps.wav ] && [ -f eight_voices.wav ] && pass || fail "the songs around a missing one were not written"
# The batch of the README: every song in parallel.
rm -f first_steps.wav eight_voices.wav
printf '%s\n' first_steps.vorna eight_voices.vorna | xargs -P 2 -n 1 "$RENDER" --quiet && [ -f first_steps.wav ] &&
    cmp -s alone.wav eight_voices.wav && pass || fail "xargs -P batch"

# Wrong command lines: one line on standard error, exit 2, nothing written.
rm -f first_steps.wav first_steps.flac out.flac
for args in "first_steps --format mp3" "first_steps -f" "first_steps --stems -o -" "first_steps --stems -o x.wav" \
            "first_steps --stems -o x%%c.wav" \
            "first_steps eight_voices -o out.flac" "--info first_steps -o x.wav" "--info --stems first_steps" \
            "first_steps --stems=1" "first_steps --format"; do
    # shellcheck disable=SC2086
    run $args
    expect_code 2 "usage error '$args'"
    [ "$(wc -l < err.txt)" = 1 ] && pass || fail "usage error '$args' is not one line: $(cat err.txt)"
    [ -s out.txt ] && fail "usage error '$args' wrote to standard output" || pass
done
ls first_steps.wav first_steps.flac out.flac x.wav 2> /dev/null && fail "a usage error wrote a file" || pass

# -- targets that are not replaced, and how a replaced one stays ------------
# The song itself as output, however it is spelled: refused, the song unchanged.
cp fresh.vorna self.vorna
ln -s self.vorna alias.wav
ln self.vorna hard.wav
for out in self.vorna ./self.vorna "$WORK/self.vorna" sub/../self.vorna alias.wav hard.wav; do
    run self.vorna -o "$out" --quiet
    expect_code 1 "output '$out' is the song"
    expect_err 'song being rendered' "output '$out' is the song"
    cmp -s self.vorna fresh.vorna && pass || fail "output '$out' changed the song"
done
[ -L alias.wav ] && pass || fail "the link to the song is no longer a link"

# A device, a FIFO or a write-protected file as output: refused at once, left as it was.
mkfifo out.fifo
timeout 10 "$RENDER" fresh.vorna -o out.fifo --quiet > out.txt 2> err.txt; code=$?
expect_code 1 "output is a FIFO"
expect_err 'not a regular file' "output is a FIFO"
[ -p out.fifo ] && pass || fail "the FIFO is no longer one"
timeout 10 "$RENDER" fresh.vorna -o /dev/null --quiet > out.txt 2> err.txt; code=$?
expect_code 1 "output is a device"
[ -c /dev/null ] && pass || fail "/dev/null is no longer a device"
printf 'old' > locked.wav
chmod 444 locked.wav
run fresh.vorna -o locked.wav --quiet
expect_code 1 "write-protected output"
expect_err 'write-protected' "write-protected output"
[ "$(cat locked.wav)" = old ] && pass || fail "write-protected output was replaced"

# A FIFO or a device in place of the song: refused at once.
mkfifo pipe.vorna
timeout 10 "$RENDER" pipe.vorna --quiet > out.txt 2> err.txt; code=$?
expect_code 1 "song is a FIFO"
ln -s /dev/zero zero.vorna
timeout 10 "$RENDER" zero.vorna --quiet > out.txt 2> err.txt; code=$?
expect_code 1 "song is a device"

# An output that is another song of the same call, through a link or a second
# name, is refused like the song's own file: that song stays as it was and is
# still rendered itself.
cp fresh.vorna one.vorna
for way in symlink hardlink stem; do
    cp note.vorna other.vorna
    rm -f one.wav one.ch3.wav other.wav other.ch*.wav
    case $way in
        symlink) ln -s other.vorna one.wav; flags=--quiet ;;
        hardlink) ln other.vorna one.wav; flags=--quiet ;;
        stem) ln -s other.vorna one.ch3.wav; flags="--stems --quiet" ;;
    esac
    # shellcheck disable=SC2086
    run one other $flags
    expect_code 1 "output of one is the song other ($way)"
    expect_err 'refusing to write "one.*other.vorna' "output of one is the song other ($way)"
    cmp -s other.vorna note.vorna && pass || fail "$way: the song other.vorna was overwritten"
    [ -f other.wav ] || [ -f other.ch1.wav ] && pass || fail "$way: the song other was not rendered"
done

# The output's extension picks the format in any case, never a WAV in disguise.
for ext in FLAC Flac OGG Oga; do
    run fresh.vorna -o "case.$ext" --quiet
    expect_code 0 "-o case.$ext"
    case $ext in [Ff]*) magic=fLaC ;; *) magic=OggS ;; esac
    [ "$(head -c 4 "case.$ext")" = $magic ] && pass || fail "-o case.$ext is not $magic: $(head -c 4 "case.$ext")"
done

# In a stem name "%%" is one "%"; a song whose own name holds "%c" keeps it.
mkdir -p pct
run fresh.vorna --stems -o 'pct/100%%_%c.wav' --quiet
expect_code 0 "stems named with %%"
[ "$(ls pct | tr '\n' ' ')" = "100%_1.wav 100%_2.wav 100%_3.wav 100%_4.wav 100%_5.wav 100%_6.wav 100%_7.wav 100%_8.wav " ] &&
    pass || fail "stems named with %%: $(ls pct | tr '\n' ' ')"
cp fresh.vorna 'odd%c.vorna'
run 'odd%c' --stems --quiet
expect_code 0 "stems of a song named odd%c"
[ -f 'odd%c.ch1.wav' ] && [ -f 'odd%c.ch8.wav' ] && pass || fail "stems of odd%c: $(ls odd*)"

# Sound is not sent to a terminal: one line on standard error, exit 2, nothing shown.
if command -v script > /dev/null; then
    script -qec "'$RENDER' fresh.vorna -o - 2> tty_err.txt" /dev/null > tty_out.txt; code=$?
    [ "$code" = 2 ] && pass || fail "-o - onto a terminal: exit $code"
    [ "$(wc -l < tty_err.txt)" = 1 ] && grep -q 'terminal' tty_err.txt && pass ||
        fail "-o - onto a terminal said: $(head -c 300 tty_err.txt)"
    [ -s tty_out.txt ] && fail "-o - onto a terminal wrote $(stat -c %s tty_out.txt) bytes there" || pass
else
    echo "skipped: -o - onto a terminal (no script command)"
fi

# What goes to standard output (help, version, facts, summary) and cannot be
# written there is a failure: exit 1 and a line on standard error.
for args in "--help" "--version" "--info fresh.vorna" "--info fresh.vorna note.vorna" "fresh.vorna -o full.wav"; do
    # shellcheck disable=SC2086
    "$RENDER" $args > /dev/full 2> err.txt; code=$?
    expect_code 1 "'$args' into a full standard output"
    expect_err 'cannot write to standard output' "'$args' into a full standard output"
done

# A replaced output keeps its permission bits; through a link the file it points to is replaced.
printf 'old' > private.wav
chmod 600 private.wav
run fresh.vorna -o private.wav --quiet
expect_code 0 "0600 output"
[ "$(stat -c %a private.wav)" = 600 ] && pass || fail "0600 output became $(stat -c %a private.wav)"
mkdir -p real
ln -s real/take.wav link.wav
run fresh.vorna -o link.wav --quiet
expect_code 0 "output through a link"
[ -L link.wav ] && cmp -s real/take.wav fresh.wav && pass || fail "the link was replaced, or its file not written"

# A file-size limit is a failed write (exit 1, old file kept), not a killed process.
printf 'old' > small.wav
(ulimit -f 10; exec "$RENDER" fresh.vorna -o small.wav --quiet) > out.txt 2> err.txt; code=$?
expect_code 1 "file-size limit"
[ "$(cat small.wav)" = old ] && pass || fail "the file-size limit left a changed file"

# A long render (64 slots at speed 15, a note on every channel) ended by a signal removes its
# temporary file; one killed outright leaves it, and the next render into the folder removes it.
long_packed() {
    printf '\x01\x3c\x46\x50\x0f\x01\x3f\x00'           # theme, speed 15, 64 order slots of pattern 0
    for c in 0 1 2 3 4 5 6 7; do printf '\x27\x01\xbf\xfe\x00'; done  # note 39, then 16383 zeros
}
{ header; le32 48; long_packed; } > long.vorna
temps() { ls -A | grep -c '^\.vorna-tmp-'; }
for sig in TERM HUP KILL; do
    "$RENDER" long.vorna -o long.wav --quiet > out.txt 2> err.txt &
    pid=$!
    for _ in $(seq 200); do [ "$(temps)" -gt 0 ] && break; sleep 0.05; done
    [ "$(temps)" -gt 0 ] || fail "SIG$sig: no temporary file seen while rendering"
    kill -$sig $pid
    { wait $pid; } 2> /dev/null; code=$?
    [ "$code" -gt 128 ] && pass || fail "SIG$sig: exit $code, not ended by the signal"
    [ -e long.wav ] && fail "SIG$sig: an interrupted render wrote long.wav" || pass
    if [ $sig = KILL ]; then
        [ "$(temps)" = 1 ] && pass || fail "SIGKILL left $(temps) temporary files"
        run fresh.vorna -o after.wav --quiet
    fi
    [ "$(temps)" = 0 ] && pass || fail "SIG$sig: $(temps) temporary files left"
done
# With several songs each renders in a child: a quit signal to the program reaches it, and
# the program ends by the same signal without starting the next song.
rm -f long.wav fresh.wav
"$RENDER" long.vorna fresh.vorna --quiet > out.txt 2> err.txt &
pid=$!
for _ in $(seq 200); do [ "$(temps)" -gt 0 ] && break; sleep 0.05; done
kill -TERM $pid
{ wait $pid; } 2> /dev/null; code=$?
[ "$code" = 143 ] && pass || fail "several songs, SIGTERM: exit $code"
sleep 0.2
[ "$(temps)" = 0 ] && [ ! -e long.wav ] && [ ! -e fresh.wav ] && pass ||
    fail "several songs, SIGTERM: $(temps) temporary files, $(ls long.wav fresh.wav 2> /dev/null)"

echo "render_cli: $passes passed, $failures failed"
[ "$failures" = 0 ]
