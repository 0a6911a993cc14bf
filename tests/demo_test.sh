#!/usr/bin/env bash
# scripts/demo.sh deletes nothing: it refuses a directory that holds anything
# but an earlier demo's output, writes over an earlier demo's output keeping
# whatever else is there, and without an argument makes a directory of its
# own and says where the top-level page is.
# Usage: demo_test.sh QUILLMARK_BIN SOURCE_DIR BUILD_DIR
set -euo pipefail
bin=$1
src=$2

fail() {
	echo "FAIL: $*" >&2
	exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/tmp"
demo() { # the demo's status; its output in $work/out and $work/err
	local rc=0
	QUILLMARK_BIN=$bin TMPDIR=$work/tmp bash "$src/scripts/demo.sh" "$@" \
		>"$work/out" 2>"$work/err" </dev/null || rc=$?
	return $rc
}
want=$((1 + $(grep -c '^SUBDIR += ' "$src/sample/ports/Makefile") +
	$(grep -c . "$src/sample/ports/INDEX-15")))
expect_pages() { # directory the demo wrote into
	local pages
	pages=$(find "$1/ports" -name README.html | wc -l)
	[ "$pages" -eq "$want" ] || fail "the demo wrote $pages README.html files in $1, not $want"
	grep -qxF "Done. Open $1/ports/README.html in a browser to see the pages." "$work/out" ||
		fail "the demo does not name $1/ports/README.html: $(cat "$work/out")"
}

# A directory holding anything else is refused untouched.
mkdir "$work/full"
echo mine >"$work/full/notes"
! demo "$work/full" || fail "the demo took a non-empty directory"
grep -q "is not empty" "$work/err" || fail "the refusal does not say why: $(cat "$work/err")"
[ "$(ls -A "$work/full")" = notes ] && [ "$(cat "$work/full/notes")" = mine ] ||
	fail "the refused directory was changed: $(ls -A "$work/full")"

# A new directory, then the same one again with more in it: the demo's
# pages are made again and nothing else is lost.
demo "$work/new" || fail "the demo into a new directory failed: $(cat "$work/err")"
expect_pages "$work/new"
echo mine >"$work/new/notes"
echo mine >"$work/new/ports/notes"
rm "$work/new/ports/README.html"
demo "$work/new" || fail "the demo refused its own earlier output: $(cat "$work/err")"
expect_pages "$work/new"
[ "$(cat "$work/new/notes" "$work/new/ports/notes")" = "mine
mine" ] || fail "writing over an earlier demo lost other files"

# No argument: a new directory of its own below TMPDIR.
demo || fail "the demo without an argument failed: $(cat "$work/err")"
made=$(find "$work/tmp" -mindepth 1 -maxdepth 1)
[ "$(wc -l <<<"$made")" -eq 1 ] && [ -n "$made" ] ||
	fail "the demo without an argument made not one directory in TMPDIR but: $made"
expect_pages "$made"
