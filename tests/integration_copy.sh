#!/bin/sh
# Copies a real directory tree with `bqtool copy` and compares the copy with
# the original using `diff -r`; then checks the file count reported by
# `bqtool files` and `bqtool count`, removes the copy with `bqtool delete`,
# and checks the messages and exit codes of a failure and of a usage error.
#
#   sh tests/integration_copy.sh path/to/bqtool
#
# The tree is a bounded part of /usr/share/doc, its first 30 entries in name
# order, reached through links in a scratch directory (bqtool and diff -r
# both follow them), when that part holds only readable files, directories
# and links that resolve (a few hundred files on a usual system); otherwise
# a snapshot of this project's sources (without .git and build directories).
set -eu

bqtool=${1:?usage: integration_copy.sh BQTOOL}
here=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/bqtool-copy.XXXXXX")
trap 'rm -rf "$tmp"' EXIT INT TERM

fail() { echo "integration_copy: FAIL: $*" >&2; exit 1; }

# A tree diff -r and copyDirectory see alike: links followed, no dangling
# link, no special file, everything readable.
clean_tree() {
  [ -d "$1" ] && [ -z "$(find -L "$1" \( -type l -o \( ! -type f ! -type d \) \
                          -o ! -readable \) -print 2>&1 | head -n 1)" ]
}

src=$tmp/src
mkdir "$src"
find /usr/share/doc -mindepth 1 -maxdepth 1 2>/dev/null | LC_ALL=C sort | head -n 30 |
  while IFS= read -r entry; do ln -s "$entry" "$src/"; done
if [ -z "$(ls "$src")" ] || ! clean_tree "$src"; then
  rm -rf "$src" && mkdir "$src"
  (cd "$here" && tar cf - --exclude=.git --exclude='build*' --exclude='cmake-build*' .) |
    (cd "$src" && tar xf -)
fi
expected=$(find -L "$src" -type f | wc -l)
echo "integration_copy: copying $src ($expected files)"

dst=$tmp/out/nested/copy   # parents are created by copyDirectory
"$bqtool" copy "$src" "$dst" || fail "bqtool copy exited $?"
diff -r "$src" "$dst" >"$tmp/diff.txt" 2>&1 || {
  head -n 20 "$tmp/diff.txt" >&2
  fail "copy differs from $src"
}

got=$("$bqtool" files "$dst" | wc -l)
[ "$got" -eq "$expected" ] || fail "bqtool files listed $got of $expected files"
bytes=$(find "$dst" -type f -exec cat {} + | wc -c)
"$bqtool" count "$dst" >"$tmp/count.txt" || fail "bqtool count exited $?"
set -- $(cat "$tmp/count.txt")
[ "$1" -eq "$expected" ] && [ "$3" -eq "$bytes" ] ||
  fail "bqtool count said '$(cat "$tmp/count.txt")', expected $expected files, $bytes bytes"

"$bqtool" delete "$tmp/out" || fail "bqtool delete exited $?"
[ ! -e "$tmp/out" ] || fail "bqtool delete left $tmp/out"

# A failure exits 1 and names both paths and the cause; a missing argument
# exits 2 and shows the command's usage line.
status=0
"$bqtool" copy "$tmp/missing" "$tmp/never" 2>"$tmp/err.txt" || status=$?
[ "$status" -eq 1 ] || fail "copying a missing directory exited $status"
[ "$(cat "$tmp/err.txt")" = "bqtool: cannot copy '$tmp/missing' to '$tmp/never': not a directory, or cannot be listed" ] ||
  fail "missing source reported as '$(cat "$tmp/err.txt")'"
[ ! -e "$tmp/never" ] || fail "failed copy left its target behind"
status=0
"$bqtool" copy "$src" 2>"$tmp/err.txt" || status=$?
[ "$status" -eq 2 ] && [ "$(cat "$tmp/err.txt")" = "bqtool: copy: missing DST
usage: bqtool copy SRC DST" ] || fail "copy without DST exited $status with '$(cat "$tmp/err.txt")'"

echo "integration_copy: OK ($expected files)"
