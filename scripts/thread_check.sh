#!/usr/bin/env bash
# The threads of -j under ThreadSanitizer: the tool built with it ($1) makes
# the sample tree's site on 4 threads, in place and published through a link
# with -u, twice (a first run and one with nothing changed); any data race
# ends a run with status 66 and fails the check. The in-place pages and the
# messages must be those of a run on one thread.
set -euo pipefail
tool=$1
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export UNAME_r=15.0-RELEASE
export TSAN_OPTIONS="halt_on_error=1 exitcode=66"

fail() {
	echo "thread_check: $*" >&2
	exit 1
}

for j in 1 4; do
	cp -R "$repo/sample/ports" "$work/tree-$j"
	for round in 1 2; do
		"$tool" -v -v -v -j "$j" -p "$work/tree-$j" -t "$repo/Templates" \
			>"$work/out-$j" 2>&1 || fail "-j $j in place, run $round: status $?: $(tail -20 "$work/out-$j")"
	done
	sed -i "s|$work/tree-$j|TREE|g" "$work/out-$j"
	mkdir -p "$work/www-$j/first"
	ln -s first "$work/www-$j/ports"
	for round in 1 2; do
		"$tool" -q -j "$j" -p "$work/tree-$j" -t "$repo/Templates" \
			-u https://ports.example.org/ -o "$work/www-$j/ports" \
			>"$work/pub-$j" 2>&1 || fail "-j $j published, run $round: status $?: $(tail -20 "$work/pub-$j")"
		[ ! -s "$work/pub-$j" ] || fail "-j $j published, run $round, said: $(head -20 "$work/pub-$j")"
	done
done
diff -r "$work/tree-1" "$work/tree-4" >/dev/null || fail "the pages made on 4 threads differ from those made on 1"
cmp -s "$work/out-1" "$work/out-4" || fail "the messages on 4 threads differ: $(diff "$work/out-1" "$work/out-4" | head -10)"
echo "thread check: no data race at -j 4; pages and messages as at -j 1"
