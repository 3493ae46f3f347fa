#!/usr/bin/perl
# Renames the uses of the program's state after it was grouped by owning
# thread: each loose global became a field of its owner's struct
# (`currentRow` -> `transport.currentRow`), and the voices' hand-over between
# the audio callback and the export goes through the named routines of
# audio/sequencer.h instead of loads and stores written out by hand.
#
#   perl tools/rename-state.pl [FILE or FOLDER ...]
#
# With no argument it runs over app audio ui song render tools tests bench
# fuzz (those present): the C++ sources, and the texts tools/mutants.py looks
# for in them.
# Safe to run again, and after merging code written against the old names:
# a use already renamed is never matched, so a second run changes nothing.
#
# Only code changes: comments and string literals stay as written. A name
# declared inside a struct or class (a field, a member's local) is left
# alone inside that body; a name declared anywhere else in a file (a local,
# a parameter such as the prompt's `bool& running`) is left alone in the
# whole file. A use of the global left behind that way no longer compiles,
# so nothing changes meaning silently.
use strict;
use warnings;
use File::Find;

# The owner of each former global: the struct instance it now lives in.
my %owner;
$owner{$_} = 'transport' for qw(orderPos currentPattern currentRow tick tickFrame playing muted);
$owner{$_} = 'editor' for qw(octave songName cursorChannel cursorColumn lastChannel copyPattern copyChannel);
$owner{$_} = 'engine' for qw(exporting exportSeen streamActive streamOpen outputLevel);
$owner{$_} = 'mainLoop' for qw(running keyHeld heldKey repeatCount tickMark screen quitByKey);
my $names = join '|', sort keys %owner;

# Words after which a name is used, not declared (`return tick;`).
my %notType = map { $_ => 1 } qw(return case else throw delete new sizeof do co_return co_yield co_await not and or);

# The voices' hand-overs, once written out as loads and stores with their
# ordering: now the named routines whose comments state it.
sub handOvers {
    my ($text) = @_;
    my $bare = qr/(?<![.\w>:])/;  # the old global itself, not engine's field the routines use
    $text =~ s{${bare}exportSeen\.value\.load\(std::memory_order_acquire\)}{callbackHasLetGo()}g;
    $text =~ s{${bare}exporting\.value\.store\(false,\s*std::memory_order_release\);(?:[ \t]*// hands the voices back to the callback)?}
              {handVoicesBackToCallback();}g;
    $text =~ s{${bare}exportSeen = false;\s*${bare}exporting = true;}{askCallbackForVoices();}g;
    return $text;
}

# The text with comments, string and character literals blanked out (same
# length, line breaks kept), so positions in it are positions in the text.
sub codeOnly {
    my ($text) = @_;
    my $code = '';
    while ($text =~ m{\G(//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|'(?:\\.|[^'\\\n])*'|[^/"']+|.)}gs) {
        my $piece = $1;
        $piece =~ tr/\n/ /c if $piece =~ m{^(?://|/\*|"|')} && length($piece) > 1;
        $code .= $piece;
    }
    return $code;
}

# The bodies of structs, classes and unions: [start, end) offsets, the
# names declared inside (filled in later), and whether the body is plain
# data: no base, no routine, no class built on it, not a test fixture. Only
# a plain body's fields are certain to be reached through `.` or `->` alone.
sub bodies {
    my ($code) = @_;
    my @bodies;
    while ($code =~ /\b(?:struct|class|union)\b([^;{}()]*)\{/g) {
        my ($head, $start) = ($1, pos($code));
        my ($depth, $i) = (1, $start);
        while ($depth > 0 && $i < length $code) {
            my $c = substr($code, $i++, 1);
            $depth += $c eq '{' ? 1 : $c eq '}' ? -1 : 0;
        }
        my ($name) = $head =~ /(\w+)\s*$/;
        my $plain = $head !~ /:/ && substr($code, $start, $i - $start) !~ /\(/ &&
                    !(defined $name && $code =~ /:\s*(?:(?:public|protected|private)\s+)?\Q$name\E\b|\bTEST_F\(\s*\Q$name\E\b/);
        push @bodies, [$start, $i, {}, $plain];
        pos($code) = $start;
    }
    return \@bodies;
}

sub inside {
    my ($bodies, $at) = @_;
    return grep { $_->[0] <= $at && $at < $_->[1] } @$bodies;
}

# Where the file declares names of its own: a map for the whole file, and
# one per plain struct body (filled into $bodies). A name declared in any
# other body (a fixture's field, a routine's local) is the whole file's.
sub declarations {
    my ($code, $bodies) = @_;
    my %file;
    my $declare = sub {
        my ($name, $at) = @_;
        my @in = inside($bodies, $at);
        if (@in && !grep { !$_->[3] } @in) {
            $_->[2]{$name} = 1 for @in;
        } else {
            $file{$name} = 1;
        }
    };
    my $notMember = qr/(?!\s*(?:\.|->|::))/;
    # `Type name`, and a routine of that name (`void tick()`).
    while ($code =~ /(\w+)\s+($names)\b$notMember/g) {
        $declare->($2, $-[2]) unless $notType{$1};
    }
    # `Type& name`, `Type* name`, `Type*& name`, `Template<...> name`, `Type (&name)[n]`.
    while ($code =~ /(?:[\w>*][&*]|(?<!-)[\w>]>)\s*($names)\b$notMember|\(&\s*($names)\)\s*\[/g) {
        $declare->($1 // $2, defined $1 ? $-[1] : $-[2]);
    }
    # A later name of a list: `Type a = 1, name = 2;`, `int32_t slot, row, tick;`.
    while ($code =~ /^[ \t]*(?:const\s+)?[A-Za-z_][\w:<>]*[&*]?\s+\w+\b[^;\n(){}]*,\s*($names)\b(?=\s*[,;=\[{])/mg) {
        $declare->($1, $-[1]);
    }
    return \%file;
}

sub renameText {
    my ($text, $fileOwn) = @_;
    $text = handOvers($text);
    my $code = codeOnly($text);
    my $bodies = bodies($code);
    my $own = declarations($code, $bodies);
    $own = { %$own, %$fileOwn } if $fileOwn;
    my @at;
    while ($code =~ /(?<![.\w>:])\b($names)\b(?!\s*\()/g) {
        my ($name, $start) = ($1, $-[1]);
        next if $own->{$name} || grep { $_->[2]{$name} } inside($bodies, $start);
        push @at, [$start, $name];
    }
    for (reverse @at) {
        my ($start, $name) = @$_;
        substr($text, $start, length $name) = "$owner{$name}.$name";
    }
    return $text;
}

sub slurp {
    my ($file) = @_;
    open my $in, '<', $file or die "$file: $!\n";
    local $/;
    my $text = <$in>;
    return $text;
}

sub spew {
    my ($file, $text) = @_;
    open my $out, '>', $file or die "$file: $!\n";
    print $out $text;
    close $out or die "$file: $!\n";
}

# The names a file keeps for itself throughout.
sub fileOwn {
    my ($file) = @_;
    return {} unless -f $file;
    my $code = codeOnly(slurp($file));
    return declarations($code, bodies($code));
}

# A Python string literal's text, and back.
sub pyDecode {
    my ($body) = @_;
    $body =~ s{\\(.)}{ $1 eq 'n' ? "\n" : $1 eq 't' ? "\t" : $1 }ge;
    return $body;
}
sub pyEncode {
    my ($text, $quote) = @_;
    $text =~ s{\\}{\\\\}g;
    $text =~ s{\Q$quote\E}{\\$quote}g;
    $text =~ s{\n}{\\n}g;
    $text =~ s{\t}{\\t}g;
    return $text;
}

# tools/mutants.py: the text each mutation looks for, and its broken form,
# follow the code of the file they are looked for in.
sub renameMutants {
    my ($text, $root) = @_;
    my $str = qr{'(?:\\.|[^'\\])*'|"(?:\\.|[^"\\])*"};
    $text =~ s{(\(\s*$str\s*,\s*)($str)(\s*,\s*)($str)(\s*,\s*)($str)}{
        my ($head, $fileLit, $sep1, $old, $sep2, $new) = ($1, $2, $3, $4, $5, $6);
        my $own = fileOwn("$root/" . pyDecode(substr($fileLit, 1, -1)));
        my @fixed = map {
            my $quote = substr($_, 0, 1);
            my $body = pyDecode(substr($_, 1, -1));
            my $renamed = renameText($body, $own);
            $renamed eq $body ? $_ : $quote . pyEncode($renamed, $quote) . $quote;
        } ($old, $new);
        "$head$fileLit$sep1$fixed[0]$sep2$fixed[1]";
    }ge;
    return $text;
}

(my $root = $0) =~ s{/?tools/[^/]*$}{};
$root = '.' if $root eq '';
my @args = @ARGV ? @ARGV : grep { -d } map { "$root/$_" } qw(app audio ui song render tools tests bench fuzz);
my @files;
find({ no_chdir => 1, wanted => sub {
    if (-d $_ && m{/(?:build[^/]*|\.git)$}) { $File::Find::prune = 1; return; }
    push @files, $_ if -f $_ && (/\.(?:cpp|h|inc)$/ || m{(?:^|/)mutants\.py$});
} }, @args);

for my $file (sort @files) {
    my $text = slurp($file);
    my $renamed = $file =~ /mutants\.py$/ ? renameMutants($text, $root) : renameText($text);
    if ($renamed ne $text) {
        spew($file, $renamed);
        print STDERR "renamed: $file\n";
    }
    if ($file !~ /mutants\.py$/) {
        my @kept = sort keys %{ fileOwn($file) };
        print STDERR "keeps its own @kept: $file\n" if @kept;
    }
}
