#!/bin/bash
# Holds the includes to the order the libraries link in: platform <- song <-
# audio <- ui <- app, and the renderer on song and audio alone; the platform
# layer (what differs between POSIX and Windows) includes nothing of ours. A
# file may include the headers of its own layer and of those below it, never
# of one above; SDL belongs to the window, so only ui/ and app/ include it.
# Usage: check-layers.sh [SOURCE_DIR]. Lists each upward include; exit 1 if any.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# Inside app/ the files run one way too. Each file belongs to a module, its
# name without .h or .cpp (keys.h and keys.cpp are "keys"); the modules are
# ranked below, lowest first. A file may include its own module's header and
# the headers of modules on EARLIER lines, never one on its own line or a
# later one. A file of a module not listed is refused: a new file gets its
# line here.
app_order=(
  "command_line config scancode signals loop_state document recovery_places"
  "history recovery_writer"
  "file_commands recovery_startup blocks"
  "keys recovery"
  "main_loop"
  "main"
)

# allowed FILE: the folders FILE may include from, and whether SDL is allowed.
allowed() {
  case $1 in
    platform/*) echo "platform" ;;
    song/*) echo "platform song" ;;
    audio/*) echo "platform song audio" ;;
    ui/*) echo "platform song audio ui SDL" ;;
    app/*) echo "platform song audio ui app SDL" ;;
    render/*) echo "platform song audio render" ;;
    tools/make_splash.cpp) echo "platform song tools" ;;
  esac
}

bad=0
for file in platform/* song/* audio/* ui/* app/* render/* tools/*.cpp tools/*.h; do
  [ -f "$file" ] || continue
  layers=$(allowed "$file")
  [ -n "$layers" ] || continue
  # Quoted includes name their folder ("ui/draw.h"); one without a folder is
  # its neighbour in the same folder. Angle includes are libraries: only SDL's
  # is held to a layer.
  while IFS=: read -r line text; do
    if [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
      target=${BASH_REMATCH[1]}
      target=${target#../}
      [[ $target == */* ]] && folder=${target%%/*} || folder=${file%%/*}
    elif [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<(SDL[^>]*)\> ]]; then
      target=${BASH_REMATCH[1]}
      folder=SDL
    else
      continue
    fi
    if [[ " $layers " != *" $folder "* ]]; then
      echo "$file:$line: includes $target, above its layer (allowed: $layers)"
      bad=1
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done
declare -A rank
for ((i = 0; i < ${#app_order[@]}; i++)); do
  for module in ${app_order[i]}; do rank[$module]=$i; done
done
for file in app/*; do
  [ -f "$file" ] || continue
  module=$(basename "${file%.*}")
  if [ -z "${rank[$module]+set}" ]; then
    echo "$file: module $module has no place in the order inside app/ (app_order in tools/check-layers.sh)"
    bad=1
    continue
  fi
  while IFS=: read -r line text; do
    [[ $text =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]] || continue
    target=${BASH_REMATCH[1]}
    target=${target#../}
    [[ $target == */* ]] || target=app/$target
    [[ $target == app/* ]] || continue
    included=$(basename "${target%.*}")
    [ "$included" = "$module" ] && continue
    if [ -z "${rank[$included]+set}" ] || [ "${rank[$included]}" -ge "${rank[$module]}" ]; then
      echo "$file:$line: includes $target, not below $module in the order inside app/"
      bad=1
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done
[ "$bad" = 0 ] && echo "layers: every include runs downward"
exit "$bad"
