#!/usr/bin/env bash
# The man pages render without warnings and name every command and option salvora-cli has; the
# bash completion offers the same commands and options, and only .ost/.pst files and folders,
# both on its own and with the bash-completion package's helpers loaded.
#
#   tests/package/docs_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
cli=$build/bin/salvora-cli
pages=$source/packaging
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# What the program itself says it takes.
commands=$("$cli" --help | sed -n '/^commands:/,/^$/s/^  \([a-z]\+\) .*/\1/p')
[ -n "$commands" ] || { echo "FAIL: no commands in salvora-cli --help"; exit 1; }
options_of() { "$cli" help "$1" | sed -n 's/^  \(-h, \)\?--\([a-z-]\+\).*/--\2/p'; }

# --- man pages
if command -v man >/dev/null; then
  version=$(sed -n 's/^project(salvora VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
  for page in salvora salvora-cli; do
    grep -q "^\.TH .* \"Salvora $version\"" "$pages/$page.1" || fail "$page.1 does not give version $version"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=100 man --warnings -l "$pages/$page.1" 2>&1 >/dev/null || true)
    [ -z "$warnings" ] || fail "$page.1 renders with warnings: $warnings"
    text=$(LC_ALL=C.UTF-8 MANWIDTH=100 man -l "$pages/$page.1" 2>/dev/null | col -b)
    for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" "SEE ALSO"; do
      grep -qx "$section" <<<"$text" || fail "$page.1 has no section $section"
    done
  done
  text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$pages/salvora-cli.1" 2>/dev/null | col -b)
  for command in $commands help; do
    grep -qE "^   $command( |$)" <<<"$text" || fail "salvora-cli.1 has no subsection for $command"
  done
  for command in $commands; do
    for option in $(options_of "$command"); do
      grep -qF -- "$option" <<<"$text" || fail "salvora-cli.1 does not name $option of $command"
    done
  done
  for status in 0 1 2 3 4 130; do
    grep -qE "^       $status( |$)" <<<"$text" || fail "salvora-cli.1 does not explain exit status $status"
  done
else
  echo "man not installed: the man pages are not rendered"
fi

# --- bash completion
scratch=$(mktemp -d "${TMPDIR:-/tmp}/salvora-docs-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/files/Mail Folder" && cd "$scratch/files"
touch a.ost B.PST c.pst d.txt notes

# Prints what the completion offers for a command line; the last word is the one completed.
# $1: "plain" (the script alone) or "full" (with bash-completion's helpers), $2: the line.
offered() {
  bash --norc --noprofile -c '
    mode=$1 line=$2 script=$3
    if [ "$mode" = full ]; then source /usr/share/bash-completion/bash_completion; fi
    source "$script"
    read -r -a COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line COMP_POINT=${#line}
    _salvora_cli salvora-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}"
  ' _ "$1" "$2" "$pages/salvora-cli.bash" | sort
}
# $1: mode, $2: the line, $3: the words that must be offered, $4: those that must not ('|' between
# words, since a file name may hold a space).
expect() {
  local got w
  got=$(offered "$1" "$2")
  local IFS='|'
  for w in $3; do grep -qxF -- "$w" <<<"$got" || fail "[$1] '$2' does not offer '$w' (offers: ${got//$'\n'/ })"; done
  for w in ${4:-}; do grep -qxF -- "$w" <<<"$got" && fail "[$1] '$2' offers '$w'"; done
  return 0
}
words() { tr '\n ' '||'; }

modes=(plain)
if [ -f /usr/share/bash-completion/bash_completion ]; then
  modes+=(full)
else
  echo "bash-completion not installed: the completion is checked on its own only"
fi
for mode in "${modes[@]}"; do
  expect "$mode" "salvora-cli " "$(echo $commands help --help --version | words)"
  expect "$mode" "salvora-cli help " "$(echo $commands | words)"
  for command in $commands; do
    expect "$mode" "salvora-cli $command -" "$(options_of "$command" | words)"
  done
  expect "$mode" "salvora-cli convert " "a.ost|B.PST|c.pst|Mail Folder" "d.txt|notes"
  expect "$mode" "salvora-cli verify " "B.PST|c.pst" "a.ost|d.txt"
  expect "$mode" "salvora-cli info Mail" "Mail Folder"
  expect "$mode" "salvora-cli convert a.ost --threads " "1|2"
  expect "$mode" "salvora-cli synth x.pst --format " "23|36"
  expect "$mode" "salvora-cli convert a.ost --format " "pst|mbox|eml|all" "23"
  expect "$mode" "salvora-cli convert a.ost --dest " "Mail Folder" "a.ost"
  # "=" splits words in bash (the value is completed on its own) unless COMP_WORDBREAKS lacks it.
  expect "$mode" "salvora-cli convert --dest =" "Mail Folder" "a.ost"
  expect "$mode" "salvora-cli convert --dest=" "--dest=Mail Folder" "--dest=a.ost"
  expect "$mode" "salvora-cli convert -- " "a.ost" "--dest"
done

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "man pages and completion: checks passed"
