#!/usr/bin/env bash
# Benchmark of the port lookup: one large category whose Makefile lists its
# ports in INDEX order, and the same category listed in reverse order.
#
# Generates a tree with one category, "big", of LOOKUP_PORTS ports whose INDEX
# lines are about as long as real ones (some 440 bytes), and two versions of
# its Makefile. With each version in turn it runs
#	UNAME_r=15.0-RELEASE quillmark -q -p TREE -t Templates big
# (the category README and the README of every port) LOOKUP_RUNS times under
# bench/measure, after one warm-up run, and prints the median user and system
# CPU time of each order. Every run must exit 0 and write nothing on standard
# error.
#
# Run as root, quillmark takes a real-time priority. On a machine shared with
# others the runs here go without it (setpriv drops CAP_SYS_NICE), so that a
# slow build cannot hold a CPU; the CPU time that is measured is the same.
#
# Settings, all from the environment:
#   BENCH_DIR     scratch directory (default /tmp/quillmark-bench)
#   LOOKUP_PORTS  ports in the category (default 20000)
#   LOOKUP_RUNS   measured runs per order (default 5)
#   LOOKUP_ORDERS the orders to run (default "in-order reversed")
#   LOOKUP_QM     the quillmark to measure (default: a Release build in
#                 build-bench, made here)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build-bench"
scratch=${BENCH_DIR:-/tmp/quillmark-bench}
ports=${LOOKUP_PORTS:-20000}
runs=${LOOKUP_RUNS:-5}
orders=${LOOKUP_ORDERS:-in-order reversed}
tree="$scratch/lookup-$ports"
raw="$scratch/lookup-raw"

echo "== lookup: one category of $ports ports, in INDEX order and reversed"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release \
	-DQUILLMARK_BENCH=ON -DQUILLMARK_TESTS=OFF >/dev/null
targets="measure"
[ -n "${LOOKUP_QM:-}" ] || targets="quillmark measure"
# shellcheck disable=SC2086 # two target names
cmake --build "$build" -j2 --target $targets >/dev/null
qm=${LOOKUP_QM:-$build/quillmark}
measure="$build/bench/measure"
echo "tool:        $qm"

# The tree is kept for the next run with the same number of ports and the
# same version of this script.
want="lookup.sh $(cksum <"$0" | cut -d' ' -f1) $ports"
if [ ! -f "$tree/.generated" ] || [ "$(cat "$tree/.generated")" != "$want" ]; then
	rm -rf "$tree"
	mkdir -p "$tree/big"
	printf 'SUBDIR += big\n' >"$tree/Makefile"
	# Names port00001 and up sort as their numbers do, so the INDEX is
	# in port order as the ports framework writes it.
	awk -v n="$ports" 'BEGIN {
		deps = "gettext-runtime-0.22.5 libiconv-1.17_1 pkgconf-2.3.0,1 " \
		    "gmake-4.4.1 perl5-5.36.3_2 python311-3.11.11 " \
		    "libxml2-2.11.9 glib-2.80.5,2"
		for (i = 1; i <= n; i++) {
			p = sprintf("port%05d", i)
			printf "%s-1.%d|/usr/ports/big/%s|/usr/local|", p, i % 7, p
			printf "Tool number %d for the lookup benchmark|", i
			printf "/usr/ports/big/%s/pkg-descr|", p
			printf "someone%d@example.org|big devel|%s|%s|", i % 97, deps, deps
			printf "https://www.example.org/%s/||||\n", p
		}
	}' >"$tree/INDEX-15"
	awk -v n="$ports" 'BEGIN {
		printf "    COMMENT = One very large category\n\n"
		for (i = 1; i <= n; i++)
			printf "    SUBDIR += port%05d\n", i
	}' >"$tree/big/Makefile.in-order"
	{
		printf '    COMMENT = One very large category\n\n'
		grep '^    SUBDIR' "$tree/big/Makefile.in-order" | tac
	} >"$tree/big/Makefile.reversed"
	(cd "$tree/big" && seq -f 'port%05g' 1 "$ports" | xargs mkdir)
	echo "$want" >"$tree/.generated"
fi
echo "tree:        $tree, INDEX-15 $(stat -c %s "$tree/INDEX-15") bytes"

run_tool() { # measure output file
	local drop=()
	if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
		drop=(setpriv --bounding-set -sys_nice)
	fi
	UNAME_r=15.0-RELEASE "${drop[@]}" "$measure" -o "$1" "$qm" -q \
		-p "$tree" -t "$repo/Templates" big 2>>"$raw/stderr"
}

median() {
	sort -g | awk '{ v[NR] = $1 }
		END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

rm -rf "$raw"
mkdir -p "$raw"
: >"$raw/stderr"
for order in $orders; do
	cp "$tree/big/Makefile.$order" "$tree/big/Makefile"
	out="$raw/$order.txt"
	run_tool "$raw/warm-$order.txt" || true
	for _ in $(seq "$runs"); do
		run_tool "$out" || true
	done
	if grep -qv 'status=0$' "$raw/warm-$order.txt" "$out" || [ -s "$raw/stderr" ]; then
		echo "FAILED: a run with the $order Makefile failed:" >&2
		head -5 "$raw/stderr" "$out" >&2
		exit 1
	fi
	user=$(sed -n 's/.* user=\([^ ]*\).*/\1/p' "$out" | median)
	sys=$(sed -n 's/.* sys=\([^ ]*\).*/\1/p' "$out" | median)
	wall=$(sed -n 's/^wall=\([^ ]*\).*/\1/p' "$out" | median)
	printf '%-12s user %.3f s, sys %.3f s, cpu %.3f s, wall %.3f s (medians of %d)\n' \
		"$order:" "$user" "$sys" "$(awk "BEGIN { print $user + $sys }")" "$wall" "$runs"
done
