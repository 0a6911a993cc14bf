#!/usr/bin/env bash
# Benchmark of quillmark's whole-tree run.
#
# Builds a Release quillmark and the bench programs in build-bench, generates
# synthetic ports trees at 1x (35,000 ports), 2x and 4x, and on each tree
# takes turns between the whole-tree run and three floors (programs that do
# nothing but open, write or read the same README files): truncating each
# file and writing it, writing it in place, and reading and comparing it.
# It does so (a) with every page changed by each run, alternating two
# template sets, and (b) with nothing changed, counting the pages whose
# modification time a run changed. Then it prints the median times and
# ratios, CPU times, peak resident memory against the INDEX size, time per
# port, and the instruction count of one run under callgrind.
#
# Settings, all from the environment:
#   BENCH_DIR          scratch directory (default /tmp/quillmark-bench);
#                      its file system is what is measured
#   BENCH_RUNS         paired runs at 1x after the warm-up (default 9)
#   BENCH_SCALED_RUNS  paired runs at the larger scales (default 3)
#   BENCH_SCALES       scales to run (default "1 2 4")
#   BENCH_SEED         generator seed (default 1)
#   BENCH_SYNC         1: sync before every timed run, so that no run pays
#                      for the writeback of the one before it (default 1)
#   BENCH_CALLGRIND    1: count instructions at 1x under callgrind (default 1)
#   BENCH_CLEAN        1: delete the trees afterwards (default 0: keep them)
#   BENCH_QUICK        1: scale 1 only, 3 runs; for trying the plumbing
#   BENCH_LOOKUP       1: also run bench/lookup.sh, one large category listed
#                      in INDEX order and reversed (default 1)
#   BENCH_PORTS        N: trees of N ports instead of 35,000 per scale; for
#                      trying the plumbing on a small tree
#   BENCH_EXTENSIONS   1: at 1x, compare the shipped templates with the same
#                      templates without the port page extensions (default 1)
#   BENCH_EXT_RUNS     paired runs of that comparison (default 5)
#   BENCH_SHIPPED      1: at 1x, the shipped templates against the floor of
#                      the same work, which also reads the INDEX, the
#                      Makefiles and every pkg-descr (default 1)
#   BENCH_SHIPPED_RUNS paired runs of each regime of that comparison
#                      (default 9)
#   BENCH_SITE_FILES   1: that comparison for the shipped templates as they
#                      were at BENCH_BEFORE_REV and as they are, one after
#                      the other, and a summary of both side by side: the
#                      bytes of every file the run writes and the share of
#                      style and script, the ratios to the floor, the peak
#                      resident memory (default: as BENCH_SHIPPED)
#   BENCH_BEFORE_REV   the commit whose Templates/ are the set before
#                      (default 0c44024, the last before the stylesheet and
#                      the script moved to files of their own)
#   BENCH_SITE_ONLY    1: at 1x, that comparison and nothing else
#   BENCH_SAFETY       1: at 1x, the shipped templates against the same
#                      templates without the port status, licence and
#                      vulnerability placeholders, and the cost between them
#                      against reading the files they read (default 1)
#   BENCH_SAFETY_RUNS  paired runs of that comparison (default 5)
#   BENCH_CHOICES      1: at 1x, the cost of the port pages' flavors and
#                      options against the floor of reading the Makefiles
#                      they come from, and the instructions they add
#                      (default 1)
#   BENCH_CHOICES_RUNS paired runs of that comparison (default 7)
#   BENCH_CHOICES_ONLY 1: at 1x, that comparison and nothing else
#   BENCH_NOTES        1: at 1x, the cost that the notes of MOVED, UPDATING
#                      and pkg-message add to a run against the floor of
#                      reading their files (default 1)
#   BENCH_NOTES_RUNS   paired runs of that comparison (default 7)
#   BENCH_NOTES_ONLY   1: at 1x, that comparison and nothing else
#   BENCH_PEOPLE       1: at 1x, with -o through a link and -u, the cost that
#                      the maintainer pages, the feeds and the sitemap add to
#                      a run against the floor of writing the same files, and
#                      a second run with nothing changed (default 1)
#   BENCH_PEOPLE_RUNS  paired runs of that comparison (default 5)
#   BENCH_PEOPLE_ONLY  1: at 1x, that comparison and nothing else
#   BENCH_THREADS      1: at 1x, the shipped templates' comparison with the
#                      floor at -j 1, -j 2 and -j <processors> (when more
#                      than 2), each with the load average before and after,
#                      then the speedups over -j 1, the ratios to the floor
#                      and the peak memory of each (default 1)
#   BENCH_THREADS_ONLY 1: at 1x, that comparison and nothing else
#   BENCH_HISTORY      1: at 1x, a git history of the tree (written with git
#                      fast-import from bench/gen_history.py), the first run
#                      that reads it and a run after 100 more commits, under
#                      callgrind, against the same templates without the
#                      history (default 1; needs git and valgrind)
#   BENCH_HISTORY_COMMITS  the history's commits after the import (default
#                      50000)
#   BENCH_HISTORY_ONLY 1: at 1x, that comparison and nothing else
#
# The trees are kept in the scratch directory and used again by the next run
# with the same seed and the same generator: on a disk-backed file system,
# deleting 140,000 directories can take longer than the whole benchmark.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build-bench"
templates="$repo/Templates"
scratch=${BENCH_DIR:-/tmp/quillmark-bench}
runs=${BENCH_RUNS:-9}
scaled_runs=${BENCH_SCALED_RUNS:-3}
scales=${BENCH_SCALES:-"1 2 4"}
seed=${BENCH_SEED:-1}
do_sync=${BENCH_SYNC:-1}
do_callgrind=${BENCH_CALLGRIND:-1}
clean=${BENCH_CLEAN:-0}
port_count=${BENCH_PORTS:-}
do_extensions=${BENCH_EXTENSIONS:-1}
ext_runs=${BENCH_EXT_RUNS:-5}
do_shipped=${BENCH_SHIPPED:-1}
shipped_runs=${BENCH_SHIPPED_RUNS:-9}
do_safety=${BENCH_SAFETY:-1}
safety_runs=${BENCH_SAFETY_RUNS:-5}
do_notes=${BENCH_NOTES:-1}
do_choices=${BENCH_CHOICES:-1}
choices_runs=${BENCH_CHOICES_RUNS:-7}
choices_only=${BENCH_CHOICES_ONLY:-0}
notes_runs=${BENCH_NOTES_RUNS:-7}
notes_only=${BENCH_NOTES_ONLY:-0}
do_people=${BENCH_PEOPLE:-1}
people_runs=${BENCH_PEOPLE_RUNS:-5}
people_only=${BENCH_PEOPLE_ONLY:-0}
do_threads=${BENCH_THREADS:-1}
threads_only=${BENCH_THREADS_ONLY:-0}
do_history=${BENCH_HISTORY:-1}
history_commits=${BENCH_HISTORY_COMMITS:-50000}
history_only=${BENCH_HISTORY_ONLY:-0}
do_site=${BENCH_SITE_FILES:-$do_shipped}
before_rev=${BENCH_BEFORE_REV:-0c44024}
site_only=${BENCH_SITE_ONLY:-0}
if [ "${BENCH_QUICK:-0}" = 1 ]; then
	runs=${BENCH_RUNS:-3}
	scales=${BENCH_SCALES:-1}
fi
do_lookup=${BENCH_LOOKUP:-1}
if [ "$history_only" = 1 ]; then
	scales=${BENCH_SCALES:-1}
	do_lookup=${BENCH_LOOKUP:-0}
fi
if [ "$site_only" = 1 ] || [ "$threads_only" = 1 ] || [ "$choices_only" = 1 ]; then
	scales=${BENCH_SCALES:-1}
	do_lookup=${BENCH_LOOKUP:-0}
fi

# == Maintainer pages, feeds and the sitemap ==
# With -o through a link, the shipped templates and -u against the same
# templates without the maintainer pages (README.maintainer and
# README.maintainers left out, %%MAINTAINER_LINK%% back to %%EMAIL%%,
# %%MAINTAINERS_LINK%% left out) and without -u, each through a link of its
# own, the pairs alternating their order. What they add is the median of
# the paired differences; their floor is bench/floor writing the files that
# only the first set's generation holds (every maintainer page, every feed,
# the sitemap), the same number with the same bytes, truncating each.
# Then the shipped set runs again with nothing changed: the maintainer pages
# and the feeds seen through the link must keep their modification times.
# Goals: what they add is at most 1.3 times that floor; no feed and no
# maintainer page rewritten.
people_mtimes() { # site
	find -L "$1/" -type f \( -name '*.html' -o -name '*.atom' -o -name '*.xml' \) \
		-printf '%P %T@\n' | sort
}
compare_people() { # tree
	local tree=$1 i who url=https://ports.example.org/
	local without="$scratch/templates-without-people"
	local pub_m="$scratch/pub-people-m" pub_w="$scratch/pub-people-w"
	local fdir="$scratch/people-floor" list="$raw/people-files.txt"
	rm -rf "$without" "$pub_m" "$pub_w" "$fdir"
	cp -R "$templates" "$without"
	rm -f "$without/README.maintainer" "$without/README.maintainers"
	sed -i -e 's/%%MAINTAINER_LINK%%/%%EMAIL%%/g' -e 's/%%MAINTAINERS_LINK%%//g' \
		"$without"/README.*
	if cmp -s "$without/README.port" "$templates/README.port"; then
		echo "FAILED: the shipped README.port shows no maintainer link to compare" >&2
		exit 1
	fi
	for d in "$pub_m" "$pub_w"; do
		mkdir -p "$d/first"
		ln -s first "$d/site"
	done
	echo
	echo "== maintainer pages, feeds, sitemap: shipped templates and -u vs without, -o through a link"
	echo "maintainers: $(cut -d'|' -f6 "$tree/INDEX-15" | tr 'A-Z' 'a-z' | sort -u | wc -l)" \
		"(ports@FreeBSD.org: $(cut -d'|' -f6 "$tree/INDEX-15" | grep -ci '^ports@freebsd.org$') ports;" \
		"most of one other: $(cut -d'|' -f6 "$tree/INDEX-15" | tr 'A-Z' 'a-z' | grep -v '^ports@freebsd.org$' |
			sort | uniq -c | sort -rn | awk 'NR == 1 { print $1 }'))"
	for who in m w f; do : >"$raw/people-$who.txt"; done
	: >"$raw/people.stderr"
	: >"$raw/people-floor.phases"
	# Each regime's first run makes its previous generation and feeds.
	for who in m w; do
		if [ "$who" = m ]; then
			UNAME_r=15.0-RELEASE "$qm" -q -p "$tree" -t "$templates" -u "$url" \
				-o "$pub_m/site" 2>>"$raw/people.stderr" || true
		else
			UNAME_r=15.0-RELEASE "$qm" -q -p "$tree" -t "$without" \
				-o "$pub_w/site" 2>>"$raw/people.stderr" || true
		fi
	done
	# The floor's files: those that only the shipped set's generation holds.
	comm -23 <(cd -P "$pub_m/site" && find . -type f | sort) \
		<(cd -P "$pub_w/site" && find . -type f | sort) >"$raw/people-rel.txt"
	mkdir -p "$fdir"
	(cd -P "$pub_m/site" && tar -cf - -T "$raw/people-rel.txt") | tar -C "$fdir" -xf -
	sed "s|^\./|$fdir/|" "$raw/people-rel.txt" >"$list"
	"$floor" --snapshot-list "$list" "$raw/people.snap" >/dev/null
	echo "files:       $(wc -l <"$list") only with the maintainer pages and -u" \
		"($(grep -c '\.atom$' "$list") feeds, $(grep -c '\.html$' "$list") pages," \
		"$(grep -c '\.xml$' "$list") sitemap files), $(du -sb "$fdir" | cut -f1) bytes"
	for i in $(seq "$people_runs"); do
		for who in $( ((i % 2)) && echo m w || echo w m); do
			maybe_sync
			if [ "$who" = m ]; then
				UNAME_r=15.0-RELEASE "$measure" -o "$raw/people-m.txt" "$qm" -q -p "$tree" \
					-t "$templates" -u "$url" -o "$pub_m/site" 2>>"$raw/people.stderr" || true
			else
				UNAME_r=15.0-RELEASE "$measure" -o "$raw/people-w.txt" "$qm" -q -p "$tree" \
					-t "$without" -o "$pub_w/site" 2>>"$raw/people.stderr" || true
			fi
			check_status "$raw/people-$who.txt" "quillmark ($who) in the maintainer comparison"
		done
		maybe_sync
		"$measure" -o "$raw/people-f.txt" "$floor" --write -t "$raw/people.snap" \
			2>>"$raw/people-floor.phases"
		printf '  round %d: with %.3f s, without %.3f s, floor %.3f s\n' "$i" \
			"$(values "$raw/people-m.txt" wall | tail -1)" "$(values "$raw/people-w.txt" wall | tail -1)" \
			"$(values "$raw/people-f.txt" wall | tail -1)"
	done
	# Nothing changed since the last run of the shipped set: one more.
	people_mtimes "$pub_m/site" >"$raw/people-before"
	UNAME_r=15.0-RELEASE "$qm" -q -p "$tree" -t "$templates" -u "$url" \
		-o "$pub_m/site" 2>>"$raw/people.stderr" || true
	people_mtimes "$pub_m/site" >"$raw/people-after"
	if [ -s "$raw/people.stderr" ]; then
		echo "FAILED: quillmark wrote to standard error:" >&2
		head -5 "$raw/people.stderr" >&2
		exit 1
	fi
	local maint_dir changed_feeds changed_pages changed_all
	maint_dir=$(sed -n 's|^\./\([^/]*\)/.*\.html$|\1|p' "$raw/people-rel.txt" | sort | uniq -c |
		sort -rn | awk 'NR == 1 { print $2 }')
	changed_all=$(diff "$raw/people-before" "$raw/people-after" | grep -c '^>' || true)
	changed_feeds=$(diff "$raw/people-before" "$raw/people-after" | grep '^>' |
		grep -c '\.atom ' || true)
	changed_pages=$(diff "$raw/people-before" "$raw/people-after" | grep '^>' |
		grep -c "^> $maint_dir/.*\.html " || true)
	local added floor ratio
	added=$(paste <(values "$raw/people-m.txt" wall) <(values "$raw/people-w.txt" wall) |
		awk '{ print $1 - $2 }' | median)
	floor=$(values "$raw/people-f.txt" wall | median)
	ratio=$(calc '%.3f' "$added / $floor")
	echo "medians of $people_runs: with $(values "$raw/people-m.txt" wall | median) s" \
		"(user $(values "$raw/people-m.txt" user | median) s, sys $(values "$raw/people-m.txt" sys | median) s)," \
		"without $(values "$raw/people-w.txt" wall | median) s" \
		"(user $(values "$raw/people-w.txt" user | median) s, sys $(values "$raw/people-w.txt" sys | median) s)," \
		"floor $floor s (user $(values "$raw/people-f.txt" user | median) s, sys $(values "$raw/people-f.txt" sys | median) s)"
	echo "unchanged:   a run with nothing changed: modification times changed through the link:" \
		"$changed_all files, of them $changed_feeds feeds and $changed_pages maintainer pages ($maint_dir/)"
	{
		printf 'maintainer pages, feeds, sitemap added time: %.3f s, median of paired differences; floor %.3f s; ratio %s (goal <= 1.3): %s\n' \
			"$added" "$floor" "$ratio" "$(awk "BEGIN { print ($ratio <= 1.3) ? \"met\" : \"NOT met\" }")"
		printf 'maintainer pages, feeds, nothing changed: %d feeds, %d maintainer pages rewritten (goal 0): %s\n' \
			"$changed_feeds" "$changed_pages" \
			"$( [ "$changed_feeds" -eq 0 ] && [ "$changed_pages" -eq 0 ] && echo met || echo "NOT met")"
	} >"$raw/people-goals.txt"
	cat "$raw/people-goals.txt"
	stage "maintainer pages, feeds and sitemap compared with their floor"
}

echo "== build (Release) in $build"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release \
	-DQUILLMARK_BENCH=ON -DQUILLMARK_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target quillmark gen_tree floor measure notes >/dev/null
qm="$build/quillmark"
gen="$build/bench/gen_tree"
floor="$build/bench/floor"
measure="$build/bench/measure"

mkdir -p "$scratch"
# The shipped templates without the extensions: every placeholder beyond
# the base set left out (the description, the dependents, the sorted
# lists, the search index and the word index that the top page asks for,
# the maintainer pages, the shared stylesheet and script), the dependency
# and maintainer links plain again. The write path is measured with these, as each page
# then costs the tool what it costs the floors, one file; the extensions,
# which read one more file per port, are measured against them on their
# own.
plain="$scratch/templates-plain"
rm -rf "$plain"
mkdir -p "$plain"
for t in README.top README.category README.port; do
	sed -E -e 's/%%(BUILD|RUN)_DEPENDS_LINKS%%/%%\1_DEPENDS%%/g' \
		-e 's/%%(DESCR_TEXT|REQUIRED_BY|PKGNAME|PKGVERSION|ORIGIN)%%//g' \
		-e 's/%%(COMMENT_TEXT|DESCR_HTML|WEBSITE_LINK|ALSO_LISTED)%%//g' \
		-e 's/%%[A-Z]+_(DEPENDS|BY)_LIST%%//g' -e 's/%%SEARCH_INDEX%%//g' \
		-e 's/%%(PORT_STATUS|LICENSE|VULNERABILITIES|VULNERABLE_PAGE|EXPIRING_PAGE)%%//g' \
		-e 's/%%(FLAVORS|OPTIONS)%%//g' \
		-e 's/%%(FORMERLY|UPDATING|PKG_MESSAGE)%%//g' \
		-e 's/%%(SEARCH_WORDS|MAINTAINERS_LINK|STYLESHEET|SCRIPT)%%//g' \
		-e 's/%%MAINTAINER_LINK%%/%%EMAIL%%/g' \
		-e 's/%%(RECENT_COMMITS|LAST_CHANGED)%%//g' \
		"$templates/$t" >"$plain/$t"
done
if cmp -s "$plain/README.port" "$templates/README.port"; then
	echo "FAILED: the shipped README.port uses no extension to compare" >&2
	exit 1
fi

# A second template set, each template differing from the first in one
# line of the same length near its end: a page of the other set has the
# same size, so it is read and compared before it is written, which is the
# most that a changed page can cost.
templates_b="$scratch/templates-b"
rm -rf "$templates_b"
cp -R "$plain" "$templates_b"
for t in "$templates_b"/README.*; do
	sed -i 's|^</html>$|</HTML>|' "$t"
	if cmp -s "$t" "$plain/$(basename "$t")"; then
		echo "FAILED: $t has no line </html> to change" >&2
		exit 1
	fi
done
raw="$scratch/raw"
rm -rf "$raw"
mkdir -p "$raw"
report="$scratch/report.txt"
exec > >(tee "$report")

fstype=$(df -T "$scratch" | awk 'NR == 2 { print $2 }')
echo "== machine"
echo "date:        $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "cpus:        $(nproc) ($(lscpu | sed -n 's/^Model name: *//p' | head -1))"
echo "memory:      $(free -h | awk '/^Mem:/ {print $2}')"
echo "kernel:      $(uname -sr)"
echo "scratch:     $scratch ($fstype, $(df -h "$scratch" | awk 'NR==2 {print $1}'))"
commit=$(git -C "$repo" rev-parse --short HEAD 2>/dev/null || echo unknown)
if ! git -C "$repo" --no-optional-locks diff --quiet HEAD -- src Templates 2>/dev/null; then
	commit="$commit, with uncommitted changes in src/ or Templates/"
fi
echo "tool:        commit $commit"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "settings:    runs $runs at 1x, $scaled_runs at larger scales, scales $scales, seed $seed, sync $do_sync"

# Values of key=... from measure's lines.
values() {
	sed -n "s/.* *\\b$2=\\([^ ]*\\).*/\\1/p" "$1"
}

median() {
	sort -g | awk '{ v[NR] = $1 }
		END {
			if (NR == 0) { print "nan"; exit }
			if (NR % 2) print v[(NR + 1) / 2];
			else print (v[NR / 2] + v[NR / 2 + 1]) / 2
		}'
}

calc() {
	awk "BEGIN { printf \"$1\", $2 }"
}

run_quillmark() { # tree, measure output file[, templates]
	UNAME_r=15.0-RELEASE "$measure" -o "$2" "$qm" -q -p "$1" -t "${3:-$plain}" \
		2>>"$raw/quillmark.stderr"
}

# quillmark with -o: to a plain directory (p) or through a link (l).
run_quillmark_out() { # tree, measure output file, templates, output root
	UNAME_r=15.0-RELEASE "$measure" -o "$2" "$qm" -q -p "$1" -t "$3" -o "$4" \
		2>>"$raw/quillmark.stderr"
}

run_floor() { # snapshot, measure output file[, floor mode]
	"$measure" -o "$2" "$floor" --write -t ${3:-} "$1" 2>>"$raw/floor.phases"
}

# Every README.html below a tree with its modification time, nanoseconds
# included.
mtimes() {
	find "$1" -name README.html -printf '%T@ %p\n' | sort -k2
}

maybe_sync() {
	if [ "$do_sync" = 1 ]; then sync; fi
}

check_status() { # measure output file, label
	if values "$1" status | grep -qv '^0$'; then
		echo "FAILED: $2 exited with status $(values "$1" status | grep -v '^0$' | head -1)" >&2
		exit 1
	fi
}

# The files beside the top page that runs wrote (the top page, the search
# data, the stylesheet and script, ...): every file there newer than the
# generator's stamp, or than the file given. A snapshot takes those it
# knows that are there, so the ones that another template set left are
# removed before the run that a snapshot follows.
beside_top() { # tree[, newer than]
	find "$(cd -P "$1" && pwd)" -maxdepth 1 -type f -newer "${2:-$1/.generated}" ! -name .generated
}

clear_beside_top() { # tree
	beside_top "$1" | xargs -r rm -f
}

# Fails unless the files beside the top page in the snapshot are those that
# the runs since the marker wrote, all of them and no other: the floor
# writes what the run wrote.
check_beside_top() { # tree, snapshot, label, marker touched before the runs
	local top differ
	top=$(cd -P "$1" && pwd)
	differ=$(comm -3 <(beside_top "$1" "$4" | sort) \
		<("$floor" --sizes "$2" | cut -d' ' -f4- | awk -v top="$top/" \
			'index($0, top) == 1 && index(substr($0, length(top) + 1), "/") == 0' | sort))
	if [ -n "$differ" ]; then
		echo "FAILED: the floor's snapshot of $3 differs from the files the run wrote beside the top page" \
			"(first column: written, not in the snapshot; second: in the snapshot, not written):" >&2
		echo "$differ" >&2
		exit 1
	fi
}

# == Port page extensions ==
# The shipped templates against the same templates without the extension
# placeholders: the description text left out, the dependency lists plain
# again, the dependents left out. Pairs alternate their order as the floor
# pairs do. Goals: the shipped templates take at most 1.5 times as long,
# and their peak resident set stays within the INDEX size plus 16 MiB.
run_with_templates() { # tree, templates, measure output file
	UNAME_r=15.0-RELEASE "$measure" -o "$3" "$qm" -q -p "$1" -t "$2" \
		2>>"$raw/extensions.stderr"
}

compare_extensions() { # tree, INDEX bytes
	local tree=$1 index_bytes=$2 i who regime
	# Each set has a twin that differs in its last line, as for the floors,
	# so that a run can change every page of its own set.
	local shipped_b="$scratch/templates-shipped-b"
	rm -rf "$shipped_b"
	cp -R "$templates" "$shipped_b"
	sed -i 's|^</html>$|</HTML>|' "$shipped_b"/README.*
	echo
	echo "== port page extensions: shipped templates vs the same without them"
	for regime in a b; do
		for who in e p; do : >"$raw/ext-$regime-$who.txt"; done
	done
	: >"$raw/extensions.stderr"
	# (b) nothing changes: each set is run once unmeasured, so that the
	# measured run finds its own pages. (a) every page changes: then the
	# set's twin is run.
	for i in $(seq "$ext_runs"); do
		for who in $( ((i % 2)) && echo e p || echo p e); do
			local set=$plain twin=$templates_b
			if [ "$who" = e ]; then set=$templates twin=$shipped_b; fi
			run_with_templates "$tree" "$set" "$raw/ext-prime.txt" || true
			maybe_sync
			run_with_templates "$tree" "$set" "$raw/ext-b-$who.txt" || true
			maybe_sync
			run_with_templates "$tree" "$twin" "$raw/ext-a-$who.txt" || true
			check_status "$raw/ext-a-$who.txt" "quillmark ($who)"
		done
		printf '  round %d: unchanged: shipped %.3f s, without %.3f s; every page changes: shipped %.3f s, without %.3f s\n' "$i" \
			"$(values "$raw/ext-b-e.txt" wall | tail -1)" "$(values "$raw/ext-b-p.txt" wall | tail -1)" \
			"$(values "$raw/ext-a-e.txt" wall | tail -1)" "$(values "$raw/ext-a-p.txt" wall | tail -1)"
	done
	if [ -s "$raw/extensions.stderr" ]; then
		echo "FAILED: quillmark wrote to standard error:" >&2
		head -5 "$raw/extensions.stderr" >&2
		exit 1
	fi
	local ratio_a ratio_b erss prss limit
	ratio_a=$(paste <(values "$raw/ext-a-e.txt" wall) <(values "$raw/ext-a-p.txt" wall) |
		awk '{ print $1 / $2 }' | median)
	ratio_b=$(paste <(values "$raw/ext-b-e.txt" wall) <(values "$raw/ext-b-p.txt" wall) |
		awk '{ print $1 / $2 }' | median)
	erss=$(cat "$raw"/ext-[ab]-e.txt | values /dev/stdin maxrss_kib | sort -n | tail -1)
	prss=$(cat "$raw"/ext-[ab]-p.txt | values /dev/stdin maxrss_kib | sort -n | tail -1)
	limit=$((index_bytes / 1024 + 16384))
	for regime in a b; do
		echo "($regime) medians of $ext_runs: shipped $(values "$raw/ext-$regime-e.txt" wall | median) s" \
			"(user $(values "$raw/ext-$regime-e.txt" user | median) s, sys $(values "$raw/ext-$regime-e.txt" sys | median) s)," \
			"without $(values "$raw/ext-$regime-p.txt" wall | median) s" \
			"(user $(values "$raw/ext-$regime-p.txt" user | median) s, sys $(values "$raw/ext-$regime-p.txt" sys | median) s)"
	done
	echo "pages:       shipped $(find "$tree" -name README.html -printf '%s\n' | awk '{ s += $1 } END { printf "%.1f MB", s / 1e6 }') of README.html"
	echo "peak rss:    shipped $erss KiB, without $prss KiB; INDEX $index_bytes bytes;" \
		"limit INDEX + 16 MiB = $limit KiB"
	{
		printf 'extensions time:       every page changes %.3f, nothing changes %.3f, medians of paired ratios (goal <= 1.50): %s, %s\n' \
			"$ratio_a" "$ratio_b" \
			"$(awk "BEGIN { print ($ratio_a <= 1.5) ? \"met\" : \"NOT met\" }")" \
			"$(awk "BEGIN { print ($ratio_b <= 1.5) ? \"met\" : \"NOT met\" }")"
		printf 'extensions peak rss:   %d KiB of %d KiB allowed: %s\n' "$erss" "$limit" \
			"$( [ "$erss" -le "$limit" ] && echo met || echo "NOT met")"
	} >"$raw/extensions-goals.txt"
	stage "extensions compared"
}

# == Shipped templates against the floor of the same work ==
# The templates as shipped (Templates/), with every port page extension and
# the search data file, against `floor --inputs`: a program that reads what
# a run reads (the top-level Makefile, the INDEX, each category's Makefile
# and each port's pkg-descr, the way the tool reads them) and writes or
# compares the files that the run writes, with the bytes of a reference run
# of the same templates. The tool's page building is all that the floor
# leaves out. (a) Every page changes: the shipped set and its twin, which
# differs in its last line at the same length, alternate, and the floor
# overwrites each page in place with the other set's bytes. (b) Nothing
# changes: each program re-runs over the set on disk, the floor reading and
# comparing each page. The pairs alternate their order. Goals: at most 1.3
# times the floor in (a) and 1.5 times in (b) (medians of the paired
# ratios); peak resident memory at most the INDEX size + 16 MiB, and + the
# search data file's size.
# Another template set can be measured the same way under a tag of its own,
# which names its raw files; the figures that compare_site sets side by side
# go to TAG-figures.txt.
# bench_jobs, when set, is the -j count of the runs.
run_shipped() { # tree, templates, measure output file[, tag]
	UNAME_r=15.0-RELEASE "$measure" -o "$3" "$qm" -q ${bench_jobs:+-j "$bench_jobs"} -p "$1" -t "$2" \
		2>>"$raw/${4:-shipped}.stderr"
}

run_shipped_floor() { # tree, snapshot, measure output file, floor mode[, tag]
	"$measure" -o "$3" "$floor" --write -t "$4" --inputs "$1" "$2" \
		2>>"$raw/${5:-shipped}-floor.phases"
}

# Bytes of a snapshot's files, as key-value lines: every file, the README
# pages, the <style> and <script> elements in them all, the stylesheets and
# scripts of their own (.css, and .js but the search data), the search data
# (ports-index.js and the word index).
site_bytes() { # snapshot
	"$floor" --sizes "$1" | awk '
		{ n = split($4, part, "/"); name = part[n];
		  files++; bytes += $1; inline_style += $2; inline_script += $3 }
		name == "README.html" { readmes++; readme_bytes += $1 }
		name ~ /\.css$/ { css += $1 }
		name ~ /^ports-(index|words)[-0-9]*\.js$/ { data += $1; next }
		name ~ /\.js$/ { js += $1 }
		END {
			printf "site_files %d\nsite_bytes %d\nreadme_files %d\nreadme_bytes %d\n", files, bytes, readmes, readme_bytes;
			printf "inline_style %d\ninline_script %d\ncss_files %d\njs_files %d\nsearch_data %d\n", inline_style, inline_script, css, js, data
		}'
}

compare_shipped() { # tree, INDEX bytes[, templates, tag, title]
	local tree=$1 index_bytes=$2 i who phase want
	local tag=${4:-shipped} title=${5:-shipped templates}
	local set_a=${3:-$templates} set_b="$scratch/templates-$tag-floor-b"
	local snap_s="$scratch/snap-$tag"
	rm -rf "$set_b"
	cp -R "$set_a" "$set_b"
	sed -i 's|^</html>$|</HTML>|' "$set_b"/README.*
	for t in "$set_b"/README.*; do
		if cmp -s "$t" "$set_a/$(basename "$t")"; then
			echo "FAILED: $t has no line </html> to change" >&2
			exit 1
		fi
	done
	echo
	echo "== $title vs the floor of the same work (inputs and every pkg-descr read)"
	: >"$raw/$tag.stderr"
	: >"$raw/$tag-floor.phases"
	# Reference runs: one per set, each snapshot taken after its run, with
	# the files beside the top page that other sets left removed first.
	local ref="$raw/$tag-ref.txt"
	: >"$ref"
	touch "$raw/$tag.mark"
	sleep 0.01
	clear_beside_top "$tree"
	run_shipped "$tree" "$set_a" "$ref" "$tag" || true
	check_status "$ref" "the run with the $title"
	"$floor" --snapshot "$tree" "$snap_s-a" >/dev/null
	check_beside_top "$tree" "$snap_s-a" "the $title" "$raw/$tag.mark"
	run_shipped "$tree" "$set_b" "$ref" "$tag" || true
	check_status "$ref" "the run with the twin of the $title"
	"$floor" --snapshot "$tree" "$snap_s-b" >/dev/null
	check_beside_top "$tree" "$snap_s-b" "the twin of the $title" "$raw/$tag.mark"
	if [ -s "$raw/$tag.stderr" ]; then
		echo "FAILED: quillmark wrote to standard error:" >&2
		head -5 "$raw/$tag.stderr" >&2
		exit 1
	fi
	local search_file="$tree/ports-index.js" search_bytes=0
	[ -f "$search_file" ] && search_bytes=$(stat -c %s "$search_file")
	echo "pages:       $(find "$tree" -name README.html -printf '%s\n' | awk '{ s += $1; n++ } END { printf "%d README.html, %.1f MB", n, s / 1e6 }');" \
		"search data $search_bytes bytes;" \
		"pkg-descr $(find "$tree" -name pkg-descr -printf '%s\n' | awk '{ s += $1; n++ } END { printf "%d files, %.1f MB", n, s / 1e6 }')"
	site_bytes "$snap_s-a" >"$raw/$tag-figures.txt"
	echo "site:        $(awk '{ v[$1] = $2 } END {
		printf "%d files, %d bytes: README.html %d; <style> %d, <script> %d; .css files %d, .js files %d, search data %d",
			v["site_files"], v["site_bytes"], v["readme_bytes"], v["inline_style"], v["inline_script"],
			v["css_files"], v["js_files"], v["search_data"] }' "$raw/$tag-figures.txt")" \
		"($(beside_top "$tree" "$raw/$tag.mark" | sed -e 's|.*/||' -e 's/^ports-words-[0-9]*\.js$/ports-words-N.js/' |
			grep -vx README.html | sort | uniq -c | awk '{ printf "%s%s", (NR > 1 ? ", " : ""), $2 ($1 > 1 ? " (" $1 ")" : "") }'))"
	local on_disk=b
	for phase in a b; do
		for who in q f; do : >"$raw/$tag-$phase-$who.txt"; done
		for i in $(seq "$shipped_runs"); do
			for who in $( ((i % 2)) && echo q f || echo f q); do
				want=$on_disk
				if [ "$phase" = a ]; then
					want=$([ "$on_disk" = a ] && echo b || echo a)
				fi
				local out="$raw/$tag-$phase-$who.txt" tset=$set_a
				[ "$want" = b ] && tset=$set_b
				maybe_sync
				if [ "$who" = q ]; then
					run_shipped "$tree" "$tset" "$out" "$tag" || true
				elif [ "$phase" = a ]; then
					run_shipped_floor "$tree" "$snap_s-$want" "$out" --overwrite "$tag"
				else
					run_shipped_floor "$tree" "$snap_s-$want" "$out" --compare "$tag"
				fi
				check_status "$out" "$who in phase $phase of the $title"
				on_disk=$want
			done
			printf '  %s round %d: quillmark %.3f s, floor of the same work %.3f s\n' "$phase" "$i" \
				"$(values "$raw/$tag-$phase-q.txt" wall | tail -1)" \
				"$(values "$raw/$tag-$phase-f.txt" wall | tail -1)"
		done
	done
	if [ -s "$raw/$tag.stderr" ]; then
		echo "FAILED: quillmark wrote to standard error:" >&2
		head -5 "$raw/$tag.stderr" >&2
		exit 1
	fi
	local ratio_a ratio_b rss limit limit_search
	ratio_a=$(paste <(values "$raw/$tag-a-q.txt" wall) <(values "$raw/$tag-a-f.txt" wall) |
		awk '{ print $1 / $2 }' | median)
	ratio_b=$(paste <(values "$raw/$tag-b-q.txt" wall) <(values "$raw/$tag-b-f.txt" wall) |
		awk '{ print $1 / $2 }' | median)
	for phase in a b; do
		local label="every page changes" floor_label="overwrite"
		[ "$phase" = b ] && label="nothing changes" floor_label="compare"
		echo "($phase) $label, medians of $shipped_runs:" \
			"quillmark $(values "$raw/$tag-$phase-q.txt" wall | median) s" \
			"(user $(values "$raw/$tag-$phase-q.txt" user | median) s, sys $(values "$raw/$tag-$phase-q.txt" sys | median) s);" \
			"floor ($floor_label) $(values "$raw/$tag-$phase-f.txt" wall | median) s" \
			"(user $(values "$raw/$tag-$phase-f.txt" user | median) s, sys $(values "$raw/$tag-$phase-f.txt" sys | median) s)"
		echo "             paired ratios: $(paste <(values "$raw/$tag-$phase-q.txt" wall) \
			<(values "$raw/$tag-$phase-f.txt" wall) | awk '{ printf "%.3f ", $1 / $2 }')"
	done
	echo "             floor's own split (median of its runs): descriptions and Makefiles" \
		"$(sed -n 's/.*and [0-9]* descriptions \([0-9.]*\) s.*/\1/p' "$raw/$tag-floor.phases" | median) s," \
		"pages $(sed -n 's/.*, pages \([0-9.]*\) s.*/\1/p' "$raw/$tag-floor.phases" | median) s"
	rss=$(cat "$raw/$tag"-[ab]-q.txt | values /dev/stdin maxrss_kib | sort -n | tail -1)
	limit=$((index_bytes / 1024 + 16384))
	limit_search=$(((index_bytes + search_bytes) / 1024 + 16384))
	echo "peak rss:    quillmark $rss KiB; INDEX $index_bytes bytes, search data $search_bytes bytes"
	{
		printf '%s vs floor of the same work, median of %d paired ratios:\n' "$title" "$shipped_runs"
		printf '  (a) every page changes: %.3f (goal <= 1.3): %s\n' "$ratio_a" \
			"$(awk "BEGIN { print ($ratio_a <= 1.3) ? \"met\" : \"NOT met\" }")"
		printf '  (b) nothing changes:    %.3f (goal <= 1.5): %s\n' "$ratio_b" \
			"$(awk "BEGIN { print ($ratio_b <= 1.5) ? \"met\" : \"NOT met\" }")"
		printf '  peak rss %d KiB; INDEX + 16 MiB = %d KiB: %s; INDEX + 16 MiB + search data = %d KiB: %s\n' \
			"$rss" "$limit" "$( [ "$rss" -le "$limit" ] && echo met || echo "NOT met")" \
			"$limit_search" "$( [ "$rss" -le "$limit_search" ] && echo met || echo "NOT met")"
	} >"$raw/$tag-goals.txt"
	cat "$raw/$tag-goals.txt"
	printf 'ratio_a %s\nratio_b %s\nrss %s\n' "$ratio_a" "$ratio_b" "$rss" >>"$raw/$tag-figures.txt"
	rm -f "$snap_s-a" "$snap_s-b"
	stage "$title compared with their floor"
}

# == The shipped templates on several threads ==
# compare_shipped at -j 1, at -j 2 and at -j <online processors> when they
# are more than 2, one after the other, with the load average before and
# after each (a loaded machine shows smaller speedups, and a floor that
# suffers more from load shows smaller ratios). Then, side by side: the
# speedup of each count over -j 1 (medians of wall time, every page changed
# and nothing changed), its ratios to the floor of the same work, and its
# peak resident memory and what each thread beyond the first added.
compare_threads() { # tree, INDEX bytes
	local tree=$1 index_bytes=$2 cpus n counts="1 2" loads=()
	cpus=$(getconf _NPROCESSORS_ONLN)
	[ "$cpus" -gt 2 ] && counts="$counts $cpus"
	for n in $counts; do
		local before after
		before=$(cut -d' ' -f1-3 /proc/loadavg)
		bench_jobs=$n compare_shipped "$tree" "$index_bytes" "$templates" \
			"threads-$n" "shipped templates at -j $n"
		after=$(cut -d' ' -f1-3 /proc/loadavg)
		loads+=("$n: load before $before, after $after")
	done
	echo
	echo "== threads: the shipped templates at -j $(echo "$counts" | sed 's/ /, /g') on $cpus online processors"
	printf '%s\n' "${loads[@]}" | sed 's/^/load:        -j /'
	local base_a base_b rss1
	base_a=$(values "$raw/threads-1-a-q.txt" wall | median)
	base_b=$(values "$raw/threads-1-b-q.txt" wall | median)
	rss1=$(sed -n 's/^rss //p' "$raw/threads-1-figures.txt")
	for n in $counts; do
		local wall_a wall_b ra rb rss
		wall_a=$(values "$raw/threads-$n-a-q.txt" wall | median)
		wall_b=$(values "$raw/threads-$n-b-q.txt" wall | median)
		ra=$(sed -n 's/^ratio_a //p' "$raw/threads-$n-figures.txt")
		rb=$(sed -n 's/^ratio_b //p' "$raw/threads-$n-figures.txt")
		rss=$(sed -n 's/^rss //p' "$raw/threads-$n-figures.txt")
		printf -- '-j %-3s (a) %.3f s, speedup %.2f, wall %.2fx of -j 1, %.3f of the floor;' \
			"$n" "$wall_a" "$(calc '%f' "$base_a / $wall_a")" "$(calc '%f' "$wall_a / $base_a")" "$ra"
		printf ' (b) %.3f s, speedup %.2f, %.3f of the floor; peak rss %d KiB' \
			"$wall_b" "$(calc '%f' "$base_b / $wall_b")" "$rb" "$rss"
		if [ "$n" -gt 1 ]; then
			printf ' (%+d KiB a thread beyond the first)' "$(( (rss - rss1) / (n - 1) ))"
		fi
		echo
	done
	if [ -n "${base_a:-}" ]; then
		local two
		two=$(calc '%.3f' "$(values "$raw/threads-2-a-q.txt" wall | median) / $base_a")
		echo "goal:        -j 2 with every page changed at most 0.65 of -j 1's wall time: $two," \
			"$(awk "BEGIN { print ($two <= 0.65) ? \"met\" : \"NOT met\" }")"
	fi
	stage "threads compared"
}

# == The site's files: the shipped templates before and after ==
# The shipped templates as they were at BENCH_BEFORE_REV, when each page
# carried its own <style> and <script>, and as they are, measured one after
# the other by compare_shipped, each against the floor of its own work (the
# bytes its own reference run wrote, the files beside the top page
# included). Then the two side by side: the bytes of every file the run
# writes and how much of them is style and script, the ratios to the floor,
# the peak resident memory.
compare_site() { # tree, INDEX bytes
	local tree=$1 index_bytes=$2 before="$scratch/templates-before" tags=""
	rm -rf "$before"
	echo
	if git -C "$repo" cat-file -e "$before_rev^{commit}" 2>/dev/null; then
		mkdir -p "$before"
		git -C "$repo" archive "$before_rev" Templates | tar -x -C "$before" --strip-components=1
		if diff -rq "$before" "$templates" >/dev/null; then
			echo "site files:  the templates are as they were at $before_rev"
		fi
		compare_shipped "$tree" "$index_bytes" "$before" shipped-before \
			"shipped templates as at $before_rev"
		tags="shipped-before"
	else
		echo "site files:  commit $before_rev is not in this repository: the templates before are not measured"
	fi
	compare_shipped "$tree" "$index_bytes" "$templates" shipped "shipped templates"
	tags="$tags shipped"
	local files=""
	for t in $tags; do files="$files $raw/$t-figures.txt"; done
	# shellcheck disable=SC2086
	awk -v rev="$before_rev" -v runs="$shipped_runs" '
		FNR == 1 { n++ }
		{ v[n, $1] = $2 }
		function row(label, key, fmt,   i, line) {
			line = sprintf("  %-32s", label);
			for (i = 1; i <= n; i++)
				line = line sprintf("%18s", sprintf(fmt, v[i, key]));
			print line
		}
		function part(label, a, b,   i, line, x) {
			line = sprintf("  %-32s", label);
			for (i = 1; i <= n; i++) {
				x = v[i, a] + v[i, b];
				line = line sprintf("%18s", sprintf("%d %4.1f%%", x, 100 * x / v[i, "site_bytes"]))
			}
			print line
		}
		END {
			printf "site files, the shipped templates %s:\n  %-32s", n == 2 ? "before and after" : "(nothing before to compare)", "";
			if (n == 2) printf "%18s%18s\n", "at " rev, "now"; else printf "%18s\n", "now";
			row("files the run writes", "site_files", "%d");
			row("bytes of them all", "site_bytes", "%d");
			row("  README.html", "readme_bytes", "%d");
			part("  style (<style>, .css)", "inline_style", "css_files");
			part("  script (<script>, .js)", "inline_script", "js_files");
			row("  search data", "search_data", "%d");
			row("(a) every page changes / floor", "ratio_a", "%.3f");
			row("(b) nothing changes / floor", "ratio_b", "%.3f");
			row("peak rss, KiB", "rss", "%d");
			if (n == 2)
				printf "  site bytes after / before: %.3f; ratios: medians of %d paired runs each\n",
				    v[2, "site_bytes"] / v[1, "site_bytes"], runs
		}' $files >"$raw/site-summary.txt"
	echo
	cat "$raw/site-summary.txt"
	stage "site files before and after compared"
}

# == Port status, licence and vulnerabilities ==
# What these placeholders add to a whole run: the shipped templates against
# the same templates without %%PORT_STATUS%%, %%LICENSE%%, %%FLAVORS%%,
# %%OPTIONS%% (which come from the same Makefiles), %%VULNERABILITIES%% and
# the top page's links to the pages of vulnerable
# and expiring ports, each set primed once so that its measured run finds
# its own pages (nothing changes). The floor is what the added work cannot
# do without: bench/treedata reading the vulnerability database once and
# every port's Makefile with the tool's readers. Pairs alternate their
# order. Goals: the median of the paired ratios of the added time to the
# floor at most 1.3; the shipped run's peak resident set within the INDEX
# size + the database's size + 16 MiB.
compare_safety() { # tree, INDEX bytes
	local tree=$1 index_bytes=$2 i who
	local without="$scratch/templates-no-safety"
	cmake --build "$build" -j2 --target treedata >/dev/null
	rm -rf "$without"
	cp -R "$templates" "$without"
	sed -E -i 's/%%(PORT_STATUS|LICENSE|VULNERABILITIES|VULNERABLE_PAGE|EXPIRING_PAGE|FLAVORS|OPTIONS)%%//g' \
		"$without"/README.*
	if cmp -s "$without/README.port" "$templates/README.port"; then
		echo "FAILED: the shipped README.port shows no port status to compare" >&2
		exit 1
	fi
	local vuxml_bytes
	vuxml_bytes=$(find "$tree/security/vuxml" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
	echo
	echo "== port status, licence and vulnerabilities: shipped templates vs the same without them"
	for who in s w t; do : >"$raw/safety-$who.txt"; done
	: >"$raw/safety.stderr"
	: >"$raw/safety-treedata.txt"
	for i in $(seq "$safety_runs"); do
		for who in $( ((i % 2)) && echo s w t || echo t w s); do
			if [ "$who" = t ]; then
				maybe_sync
				"$measure" -o "$raw/safety-t.txt" "$build/bench/treedata" "$tree" \
					>>"$raw/safety-treedata.txt" 2>>"$raw/safety.stderr" || true
				continue
			fi
			local set=$templates
			[ "$who" = w ] && set=$without
			run_with_templates "$tree" "$set" "$raw/safety-prime.txt" 2>>"$raw/safety.stderr" || true
			maybe_sync
			run_with_templates "$tree" "$set" "$raw/safety-$who.txt" 2>>"$raw/safety.stderr" || true
			check_status "$raw/safety-$who.txt" "quillmark ($who)"
		done
		printf '  round %d: shipped %.3f s, without %.3f s; treedata: %s\n' "$i" \
			"$(values "$raw/safety-s.txt" wall | tail -1)" "$(values "$raw/safety-w.txt" wall | tail -1)" \
			"$(tail -1 "$raw/safety-treedata.txt")"
	done
	if [ -s "$raw/safety.stderr" ]; then
		echo "FAILED: a run wrote to standard error:" >&2
		head -5 "$raw/safety.stderr" >&2
		exit 1
	fi
	# The floor of each round in seconds: the database and the Makefiles.
	local floors ratio cpu_ratio srss wrss limit
	floors=$(sed -n 's/^vuxml_ms=\([0-9.]*\) .* makefiles_ms=\([0-9.]*\) .*/\1 \2/p' \
		"$raw/safety-treedata.txt" | awk '{ print ($1 + $2) / 1000 }')
	ratio=$(paste <(values "$raw/safety-s.txt" wall) <(values "$raw/safety-w.txt" wall) <(echo "$floors") |
		awk '{ print ($1 - $2) / $3 }' | median)
	cpu_ratio=$(paste <(values "$raw/safety-s.txt" user) <(values "$raw/safety-s.txt" sys) \
		<(values "$raw/safety-w.txt" user) <(values "$raw/safety-w.txt" sys) \
		<(values "$raw/safety-t.txt" user) <(values "$raw/safety-t.txt" sys) |
		awk '{ print ($1 + $2 - $3 - $4) / ($5 + $6) }' | median)
	srss=$(values "$raw/safety-s.txt" maxrss_kib | sort -n | tail -1)
	wrss=$(values "$raw/safety-w.txt" maxrss_kib | sort -n | tail -1)
	limit=$(((index_bytes + vuxml_bytes) / 1024 + 16384))
	echo "medians of $safety_runs: shipped $(values "$raw/safety-s.txt" wall | median) s" \
		"(user $(values "$raw/safety-s.txt" user | median) s, sys $(values "$raw/safety-s.txt" sys | median) s)," \
		"without $(values "$raw/safety-w.txt" wall | median) s" \
		"(user $(values "$raw/safety-w.txt" user | median) s, sys $(values "$raw/safety-w.txt" sys | median) s)," \
		"floor $(echo "$floors" | median) s"
	echo "             (the floor: $(tail -1 "$raw/safety-treedata.txt"))"
	echo "peak rss:    shipped $srss KiB, without $wrss KiB; INDEX $index_bytes bytes, vuxml $vuxml_bytes bytes"
	{
		printf 'port status and vulnerabilities: added time / floor, median of %d paired ratios: %.3f (goal <= 1.3): %s; of CPU time %.3f\n' \
			"$safety_runs" "$ratio" "$(awk "BEGIN { print ($ratio <= 1.3) ? \"met\" : \"NOT met\" }")" "$cpu_ratio"
		printf 'port status and vulnerabilities peak rss: %d KiB; INDEX + vuxml + 16 MiB = %d KiB: %s\n' \
			"$srss" "$limit" "$( [ "$srss" -le "$limit" ] && echo met || echo "NOT met")"
	} >"$raw/safety-goals.txt"
	cat "$raw/safety-goals.txt"
	stage "port status and vulnerabilities compared"
}

# == Flavors and options ==
# What %%FLAVORS%% and %%OPTIONS%% add to a whole run when they are all
# that reads the Makefiles: the shipped templates without the other
# placeholders that read them (%%PORT_STATUS%%, %%LICENSE%%, the link to the
# page of expiring ports) against the same without the two as well, each
# set primed once so that its measured run finds its own pages. The added
# work is reading every port's Makefile, parsing it and filling the two;
# its floor is reading the same Makefiles alone through the tool's reader
# (bench/treedata's read_ms, and its processor time read_cpu_ms). Pairs
# alternate their order. Then callgrind
# counts the instructions of one run of each set, and of the shipped set
# with and without the two (the Makefiles read for the status already):
# what the flavors and options cost beyond the status.
# Goal: the median of the paired ratios of the added CPU time (user + sys)
# to the floor at most 1.3.
compare_choices() { # tree
	local tree=$1 i who
	local with="$scratch/templates-choices" without="$scratch/templates-no-choices"
	local shipped_without="$scratch/templates-shipped-no-choices"
	cmake --build "$build" -j2 --target treedata >/dev/null
	rm -rf "$with" "$without" "$shipped_without"
	cp -R "$templates" "$with"
	sed -E -i 's/%%(PORT_STATUS|LICENSE|EXPIRING_PAGE)%%//g' "$with"/README.*
	cp -R "$with" "$without"
	sed -E -i 's/%%(FLAVORS|OPTIONS)%%//g' "$without"/README.*
	cp -R "$templates" "$shipped_without"
	sed -E -i 's/%%(FLAVORS|OPTIONS)%%//g' "$shipped_without"/README.*
	if cmp -s "$without/README.port" "$with/README.port"; then
		echo "FAILED: the shipped README.port shows no flavors or options to compare" >&2
		exit 1
	fi
	echo
	echo "== flavors and options: the only Makefile placeholders vs none"
	for who in c w t; do : >"$raw/choices-$who.txt"; done
	: >"$raw/choices.stderr"
	: >"$raw/choices-treedata.txt"
	for i in $(seq "$choices_runs"); do
		for who in $( ((i % 2)) && echo c w t || echo t w c); do
			maybe_sync
			if [ "$who" = t ]; then
				"$measure" -o "$raw/choices-t.txt" "$build/bench/treedata" "$tree" \
					>>"$raw/choices-treedata.txt" 2>>"$raw/choices.stderr" || true
				continue
			fi
			local set=$with
			[ "$who" = w ] && set=$without
			UNAME_r=15.0-RELEASE "$qm" -q -p "$tree" -t "$set" 2>>"$raw/choices.stderr" || true
			maybe_sync
			UNAME_r=15.0-RELEASE "$measure" -o "$raw/choices-$who.txt" "$qm" -q -p "$tree" \
				-t "$set" 2>>"$raw/choices.stderr" || true
			check_status "$raw/choices-$who.txt" "quillmark ($who) in the flavors comparison"
		done
		printf '  round %d: with %.3f s (cpu %.3f s), without %.3f s (cpu %.3f s); treedata: %s\n' "$i" \
			"$(values "$raw/choices-c.txt" wall | tail -1)" \
			"$(paste <(values "$raw/choices-c.txt" user) <(values "$raw/choices-c.txt" sys) | tail -1 | awk '{ print $1 + $2 }')" \
			"$(values "$raw/choices-w.txt" wall | tail -1)" \
			"$(paste <(values "$raw/choices-w.txt" user) <(values "$raw/choices-w.txt" sys) | tail -1 | awk '{ print $1 + $2 }')" \
			"$(tail -1 "$raw/choices-treedata.txt")"
	done
	if [ -s "$raw/choices.stderr" ]; then
		echo "FAILED: a run wrote to standard error:" >&2
		head -5 "$raw/choices.stderr" >&2
		exit 1
	fi
	local floors cpu_floors cpu_ratio wall_ratio
	floors=$(sed -n 's/.* read_ms=\([0-9.]*\) .*/\1/p' "$raw/choices-treedata.txt" |
		awk '{ print $1 / 1000 }')
	cpu_floors=$(sed -n 's/.* read_cpu_ms=\([0-9.]*\) .*/\1/p' "$raw/choices-treedata.txt" |
		awk '{ print $1 / 1000 }')
	cpu_ratio=$(paste <(values "$raw/choices-c.txt" user) <(values "$raw/choices-c.txt" sys) \
		<(values "$raw/choices-w.txt" user) <(values "$raw/choices-w.txt" sys) <(echo "$cpu_floors") |
		awk '{ print ($1 + $2 - $3 - $4) / $5 }' | median)
	wall_ratio=$(paste <(values "$raw/choices-c.txt" wall) <(values "$raw/choices-w.txt" wall) \
		<(echo "$floors") | awk '{ print ($1 - $2) / $3 }' | median)
	echo "medians of $choices_runs: with $(values "$raw/choices-c.txt" wall | median) s" \
		"(user $(values "$raw/choices-c.txt" user | median) s, sys $(values "$raw/choices-c.txt" sys | median) s)," \
		"without $(values "$raw/choices-w.txt" wall | median) s" \
		"(user $(values "$raw/choices-w.txt" user | median) s, sys $(values "$raw/choices-w.txt" sys | median) s)," \
		"floor (reading the Makefiles) $(echo "$floors" | median) s (cpu $(echo "$cpu_floors" | median) s)"
	echo "             (treedata: $(tail -1 "$raw/choices-treedata.txt"))"
	local ir_line=""
	if [ "$do_callgrind" = 1 ] && command -v valgrind >/dev/null; then
		local set ir name
		declare -A irs
		for name in with without shipped shipped_without; do
			case $name in
			with) set=$with ;;
			without) set=$without ;;
			shipped) set=$templates ;;
			shipped_without) set=$shipped_without ;;
			esac
			UNAME_r=15.0-RELEASE valgrind --tool=callgrind \
				--callgrind-out-file="$scratch/callgrind-choices.out" "$qm" -q -p "$tree" \
				-t "$set" 2>"$raw/callgrind-choices.log"
			ir=$(sed -n 's/^summary: *\([0-9]*\).*/\1/p' "$scratch/callgrind-choices.out" | head -1)
			[ -n "$ir" ] || ir=$(sed -n 's/^totals: *\([0-9]*\).*/\1/p' "$scratch/callgrind-choices.out" | head -1)
			irs[$name]=$ir
		done
		local ports
		ports=$(grep -c . "$tree/INDEX-15")
		echo "callgrind:   only flavors and options read the Makefiles ${irs[with]} Ir, none ${irs[without]} Ir:" \
			"$(calc '%.0f' "(${irs[with]} - ${irs[without]}) / $ports") per port added"
		echo "             shipped ${irs[shipped]} Ir, shipped without flavors and options ${irs[shipped_without]} Ir:" \
			"$(calc '%.0f' "(${irs[shipped]} - ${irs[shipped_without]}) / $ports") per port beyond the status" \
			"($(calc '%.2f' "100 * (${irs[shipped]} - ${irs[shipped_without]}) / ${irs[shipped_without]}")% of the run)"
		ir_line=$(printf 'flavors and options instructions: %s per port with the Makefile read for them alone, %s per port beyond the status' \
			"$(calc '%.0f' "(${irs[with]} - ${irs[without]}) / $ports")" \
			"$(calc '%.0f' "(${irs[shipped]} - ${irs[shipped_without]}) / $ports")")
	fi
	{
		printf 'flavors and options: added CPU time / CPU time of reading the Makefiles, median of %d paired ratios: %.3f (goal <= 1.3): %s; of wall time %.3f\n' \
			"$choices_runs" "$cpu_ratio" "$(awk "BEGIN { print ($cpu_ratio <= 1.3) ? \"met\" : \"NOT met\" }")" "$wall_ratio"
		[ -z "$ir_line" ] || echo "$ir_line"
	} >"$raw/choices-goals.txt"
	cat "$raw/choices-goals.txt"
	stage "flavors and options compared with their floor"
}

# == Notes: MOVED, UPDATING, pkg-message ==
# The shipped templates against the same templates without %%FORMERLY%%,
# %%UPDATING%%, %%PKG_MESSAGE%% and README.moved, in the same run of the
# script, with nothing changed (each set is run once unmeasured first, so
# the measured run finds its own pages). What the notes add is the median
# of the paired differences; their floor is bench/notes, which reads and
# parses MOVED and UPDATING once and reads every port's pkg-message, alone
# (the time of those steps, which it measures itself).
# Goal: what they add is at most 1.3 times that floor.
compare_notes() { # tree
	local tree=$1 i who
	local without="$scratch/templates-without-notes"
	rm -rf "$without"
	cp -R "$templates" "$without"
	rm -f "$without/README.moved"
	sed -i -E 's/%%(FORMERLY|UPDATING|PKG_MESSAGE)%%//g' "$without"/README.*
	if cmp -s "$without/README.port" "$templates/README.port"; then
		echo "FAILED: the shipped README.port shows no notes to compare" >&2
		exit 1
	fi
	echo
	echo "== notes (MOVED, UPDATING, pkg-message): shipped templates vs the same without them"
	echo "files:       MOVED $(wc -l <"$tree/MOVED") lines, UPDATING $(wc -l <"$tree/UPDATING") lines," \
		"$(find "$tree" -name pkg-message | wc -l) pkg-message files"
	for who in n w f; do : >"$raw/notes-$who.txt"; done
	: >"$raw/notes.stderr"
	: >"$raw/notes-floor.txt"
	for i in $(seq "$notes_runs"); do
		for who in $( ((i % 2)) && echo n w || echo w n); do
			local set=$without
			[ "$who" = n ] && set=$templates
			UNAME_r=15.0-RELEASE "$qm" -q -p "$tree" -t "$set" 2>>"$raw/notes.stderr" || true
			maybe_sync
			UNAME_r=15.0-RELEASE "$measure" -o "$raw/notes-$who.txt" "$qm" -q -p "$tree" \
				-t "$set" 2>>"$raw/notes.stderr" || true
			check_status "$raw/notes-$who.txt" "quillmark ($who) in the notes comparison"
		done
		maybe_sync
		"$measure" -o "$raw/notes-f.txt" "$build/bench/notes" "$tree" >>"$raw/notes-floor.txt"
		printf '  round %d: with notes %.3f s, without %.3f s, floor %.3f s\n' "$i" \
			"$(values "$raw/notes-n.txt" wall | tail -1)" "$(values "$raw/notes-w.txt" wall | tail -1)" \
			"$(values "$raw/notes-f.txt" wall | tail -1)"
	done
	if [ -s "$raw/notes.stderr" ]; then
		echo "FAILED: quillmark wrote to standard error:" >&2
		head -5 "$raw/notes.stderr" >&2
		exit 1
	fi
	local added floor ratio
	added=$(paste <(values "$raw/notes-n.txt" wall) <(values "$raw/notes-w.txt" wall) |
		awk '{ print $1 - $2 }' | median)
	# The floor is the time of its steps, without its start and its load
	# of the INDEX, which the run does anyway.
	floor=$(calc '%.6f' "$(values "$raw/notes-floor.txt" total_ms | median) / 1000")
	ratio=$(calc '%.3f' "$added / $floor")
	echo "medians of $notes_runs: with notes $(values "$raw/notes-n.txt" wall | median) s" \
		"(user $(values "$raw/notes-n.txt" user | median) s, sys $(values "$raw/notes-n.txt" sys | median) s)," \
		"without $(values "$raw/notes-w.txt" wall | median) s" \
		"(user $(values "$raw/notes-w.txt" user | median) s, sys $(values "$raw/notes-w.txt" sys | median) s)"
	echo "floor:       $floor s (the process $(values "$raw/notes-f.txt" wall | median) s); its own split (median): MOVED" \
		"$(values "$raw/notes-floor.txt" moved_ms | median) ms, UPDATING" \
		"$(values "$raw/notes-floor.txt" updating_ms | median) ms, pkg-message" \
		"$(values "$raw/notes-floor.txt" messages_ms | median) ms"
	# The pages as the shipped templates leave them, to count.
	UNAME_r=15.0-RELEASE "$qm" -q -p "$tree" -t "$templates" 2>>"$raw/notes.stderr" || true
	echo "pages:       $(grep -rl --include=README.html 'class="updating"' "$tree" | wc -l) with UPDATING notes," \
		"$(grep -rl --include=README.html '<dt>Formerly</dt>' "$tree" | wc -l) with a Formerly line," \
		"$(grep -rl --include=README.html 'class="pkg-message"' "$tree" | wc -l) with a pkg-message"
	printf 'notes added time:      %.3f s, median of paired differences; floor %.3f s; ratio %s (goal <= 1.3): %s\n' \
		"$added" "$floor" "$ratio" "$(awk "BEGIN { print ($ratio <= 1.3) ? \"met\" : \"NOT met\" }")" \
		>"$raw/notes-goals.txt"
	cat "$raw/notes-goals.txt"
	stage "notes compared with their floor"
}

# == The tree's git history ==
# A bare repository beside the tree, written by git fast-import from
# bench/gen_history.py: a commit that imports a Makefile of every port and
# category, then BENCH_HISTORY_COMMITS commits over 330 days (one port each,
# some three, some a category's Makefile only), kept for the next benchmark
# with the same INDEX, seed and generator. For this comparison only, the
# tree's top holds a .git file naming it. First the shipped templates run
# without a record: the whole first reading of the history, within the
# bounds. Then 100 commits more, and under callgrind a run with the
# shipped templates, which reads only those (-v says how many), against a
# run with the same templates without %%RECENT_COMMITS%% and
# %%LAST_CHANGED%%. Goals: the first run within 10 s of CPU time (user and
# system, one core); the later run's added instructions at most 5% of its
# own.
compare_history() { # tree
	local tree=$1 gitdir="$scratch/history-${scale}x.git"
	local without="$scratch/templates-without-history"
	rm -rf "$without"
	cp -R "$templates" "$without"
	sed -i -E 's/%%(RECENT_COMMITS|LAST_CHANGED)%%//g' "$without"/README.*
	if cmp -s "$without/README.port" "$templates/README.port"; then
		echo "FAILED: the shipped README.port shows no recent commits to compare" >&2
		exit 1
	fi
	echo
	echo "== history (git): the first reading, and 100 commits more under callgrind"
	if ! command -v git >/dev/null || ! command -v python3 >/dev/null; then
		echo "history:     git or python3 is not installed"
		return
	fi
	local g=(git --git-dir="$gitdir")
	local want
	want="gen_history $(cksum <"$repo/bench/gen_history.py" | cut -d' ' -f1) $history_commits $seed $(cksum <"$tree/INDEX-15" | cut -d' ' -f1)"
	if [ -f "$gitdir/bench-stamp" ] && [ "$(head -1 "$gitdir/bench-stamp")" = "$want" ]; then
		stage "history kept from an earlier run"
	else
		rm -rf "$gitdir"
		"${g[@]}" init -q --bare -b main
		local t0=$SECONDS
		python3 "$repo/bench/gen_history.py" "$tree/INDEX-15" "$history_commits" "$seed" |
			"${g[@]}" fast-import --quiet
		printf '%s\n%s\n' "$want" "$("${g[@]}" rev-parse main)" >"$gitdir/bench-stamp"
		stage "history written by git fast-import in $((SECONDS - t0)) s"
	fi
	# Every comparison begins at the generated head.
	"${g[@]}" update-ref refs/heads/main "$(sed -n 2p "$gitdir/bench-stamp")"
	echo "history:     $("${g[@]}" rev-list --count main) commits," \
		"$(du -sh "$gitdir" | cut -f1) in $gitdir"
	echo "gitdir: $gitdir" >"$tree/.git"
	rm -f "$tree/.quillmark-history"
	: >"$raw/history.stderr"
	maybe_sync
	UNAME_r=15.0-RELEASE "$measure" -o "$raw/history-first.txt" "$qm" -v -p "$tree" \
		-t "$templates" >/dev/null 2>"$raw/history-first.err" || true
	check_status "$raw/history-first.txt" "the first run that reads the history"
	local read_line
	read_line=$(grep '^Reading the history' "$raw/history-first.err" || true)
	local pages_with
	pages_with=$(grep -rl --include=README.html 'class="commits"' "$tree" | wc -l)
	UNAME_r=15.0-RELEASE "$measure" -o "$raw/history-none.txt" "$qm" -q -p "$tree" \
		-t "$without" 2>>"$raw/history.stderr" || true
	check_status "$raw/history-none.txt" "the run without the history"
	local cpu
	cpu=$(calc '%.2f' "$(values "$raw/history-first.txt" user) + $(values "$raw/history-first.txt" sys)")
	echo "first run:   $(cat "$raw/history-first.txt")"
	echo "             $read_line"
	echo "             $(grep -c . "$tree/.quillmark-history") lines of record," \
		"$pages_with port pages with commits"
	echo "without:     $(cat "$raw/history-none.txt")"

	python3 "$repo/bench/gen_history.py" "$tree/INDEX-15" 100 "$seed" --append \
		--end 1780086400 | "${g[@]}" fast-import --quiet
	local ratio="nan" ir_with="" ir_without="" ir_again="" later_line=""
	if command -v valgrind >/dev/null; then
		# with: 100 new commits; again: none (the same templates, the
		# record of the run before); without: no history placeholders.
		for who in with again without; do
			local set=$templates
			[ "$who" = without ] && set=$without
			UNAME_r=15.0-RELEASE valgrind --tool=callgrind \
				--callgrind-out-file="$scratch/history-$who.out" "$qm" -v -p "$tree" \
				-t "$set" >/dev/null 2>"$raw/history-$who.log" || true
		done
		ir_with=$(sed -n 's/^summary: *\([0-9]*\).*/\1/p' "$scratch/history-with.out" | head -1)
		ir_without=$(sed -n 's/^summary: *\([0-9]*\).*/\1/p' "$scratch/history-without.out" | head -1)
		ir_again=$(sed -n 's/^summary: *\([0-9]*\).*/\1/p' "$scratch/history-again.out" | head -1)
		later_line=$(grep '^Reading the history' "$raw/history-with.log" || true)
		ratio=$(calc '%.2f' "100 * ($ir_with - $ir_without) / $ir_with")
		echo "later run:   $later_line"
		echo "callgrind:   with the history $ir_with Ir, without $ir_without Ir," \
			"added $((ir_with - ir_without)) Ir ($ratio%)"
		echo "             the same run with no new commit $ir_again Ir: the 100 commits" \
			"add $((ir_with - ir_again)) Ir ($(calc '%.2f' "100 * ($ir_with - $ir_again) / $ir_with")%)"
	else
		echo "callgrind:   valgrind is not installed (apt-get install valgrind)"
	fi
	rm -f "$tree/.git" "$tree/.quillmark-history"
	"${g[@]}" update-ref refs/heads/main "$(sed -n 2p "$gitdir/bench-stamp")"
	{
		printf 'history first run:     %s s of CPU (wall %s s) for %s commits (goal <= 10 s): %s\n' \
			"$cpu" "$(values "$raw/history-first.txt" wall)" "$history_commits" \
			"$(awk "BEGIN { print ($cpu <= 10) ? \"met\" : \"NOT met\" }")"
		local met="NOT met"
		if [ "$ratio" != nan ] && [ "$later_line" = "Reading the history: 100 commits since the last run" ] &&
			awk "BEGIN { exit !($ratio <= 5) }"; then
			met=met
		fi
		printf 'history later run:     %s; added instructions %s%% (goal <= 5%%): %s\n' \
			"${later_line:-not measured}" "$ratio" "$met"
	} >"$raw/history-goals.txt"
	cat "$raw/history-goals.txt"
	stage "history compared"
}

summary="$raw/summary.txt"
: >"$summary"
gen_sum=$(cksum <"$gen" | cut -d' ' -f1)
started=$SECONDS
stage() {
	echo "             [$((SECONDS - started)) s] $1"
}

for scale in $scales; do
	tree="$scratch/tree-${scale}x${port_count:+-${port_count}p}"
	snap="$scratch/snap-${scale}x"
	n=$runs
	[ "$scale" = 1 ] || n=$scaled_runs

	echo
	echo "== scale ${scale}x"
	# A tree is generated again only when the generator or the seed changed.
	stamp="$tree/.generated"
	gen_args=(--scale "$scale" --seed "$seed")
	if [ -n "$port_count" ]; then
		gen_args+=(--ports "$((port_count * scale))")
	fi
	want="gen_tree $gen_sum ${gen_args[*]}"
	if [ -f "$stamp" ] && [ "$(head -1 "$stamp")" = "$want" ]; then
		gen_line=$(sed -n 2p "$stamp")
		stage "tree kept from an earlier run"
	else
		rm -rf "$tree"
		gen_line=$("$gen" "$tree" "${gen_args[@]}")
		printf '%s\n%s\n' "$want" "$gen_line" >"$stamp"
		stage "tree generated"
	fi
	echo "tree:        $gen_line"
	ports=$(echo "$gen_line" | sed -n 's/.*: \([0-9]*\) ports.*/\1/p')
	cats=$(echo "$gen_line" | sed -n 's/.* \([0-9]*\) categories.*/\1/p')
	index_bytes=$(stat -c %s "$tree/INDEX-15")
	if [ "$notes_only" = 1 ]; then
		[ "$scale" = 1 ] && compare_notes "$tree"
		continue
	fi
	if [ "$people_only" = 1 ]; then
		[ "$scale" = 1 ] && compare_people "$tree"
		continue
	fi
	if [ "$history_only" = 1 ]; then
		[ "$scale" = 1 ] && compare_history "$tree"
		continue
	fi
	if [ "$site_only" = 1 ]; then
		[ "$scale" = 1 ] && compare_site "$tree" "$index_bytes"
		continue
	fi
	if [ "$threads_only" = 1 ]; then
		[ "$scale" = 1 ] && compare_threads "$tree" "$index_bytes"
		continue
	fi
	if [ "$choices_only" = 1 ]; then
		[ "$scale" = 1 ] && compare_choices "$tree"
		continue
	fi

	# The first run writes the README files, and must be clean: exit status
	# 0, nothing on standard error, one README per port and category and
	# the top one, each written by this run.
	: >"$raw/quillmark.stderr"
	find "$tree" -name README.html -delete
	clear_beside_top "$tree"
	first="$raw/first-${scale}x.txt"
	maybe_sync
	touch "$raw/before-first"
	sleep 0.01
	run_quillmark "$tree" "$first" || true
	check_status "$first" "first whole-tree run at ${scale}x"
	if [ -s "$raw/quillmark.stderr" ]; then
		echo "FAILED: the first run at ${scale}x wrote to standard error:" >&2
		head -5 "$raw/quillmark.stderr" >&2
		exit 1
	fi
	written=$(find "$tree" -name README.html -newer "$raw/before-first" | wc -l)
	expected=$((ports + cats + 1))
	if [ "$written" -ne "$expected" ]; then
		echo "FAILED: $written README.html files written, $expected expected" >&2
		exit 1
	fi
	echo "first run:   $(cat "$first")"
	echo "             exit status 0, no standard error, $written README files written"
	"$floor" --snapshot "$tree" "$snap" >/dev/null
	check_beside_top "$tree" "$snap" "the first run at ${scale}x" "$raw/before-first"
	stage "snapshot taken"

	# The second template set differs from the first in one line of each
	# template, so that switching sets changes every page. Its snapshot is
	# taken after a run with it; the tree then holds set B.
	"$floor" --snapshot "$tree" "$snap-a" >/dev/null
	run_quillmark "$tree" "$raw/switch-${scale}x.txt" "$templates_b" || true
	check_status "$raw/switch-${scale}x.txt" "the run with the second template set at ${scale}x"
	"$floor" --snapshot "$tree" "$snap-b" >/dev/null
	on_disk=b
	stage "snapshots of both template sets taken"

	# The -o cases keep their own pages: a plain directory that already
	# holds a whole site, and a link with two generations beside it, both
	# holding set B as the tree does.
	outdir="$scratch/out-${scale}x"
	pubdir="$scratch/pub-${scale}x"
	rm -rf "$outdir" "$pubdir"
	mkdir -p "$pubdir/first"
	ln -s first "$pubdir/site"
	run_quillmark_out "$tree" "$raw/prime.txt" "$templates_b" "$outdir" || true
	check_status "$raw/prime.txt" "the first run with -o to a directory at ${scale}x"
	for _ in 1 2; do
		run_quillmark_out "$tree" "$raw/prime.txt" "$templates_b" "$pubdir/site" || true
		check_status "$raw/prime.txt" "a first run with -o through a link at ${scale}x"
	done
	on_p=b
	on_l=b
	stage "-o directory and link primed"

	# (a) Every page changes: each writing run writes the set that is not
	# on disk. (b) Nothing changes: each run writes the set on disk. In
	# each round the four programs take turns in a rotating order, so that
	# a drift of the disk's speed or an after-effect of the previous run
	# weighs on all alike. The compare floor only reads.
	for phase in a b; do
		for who in q t o c p l; do : >"$raw/$phase-$who-${scale}x.txt"; done
		: >"$raw/$phase-mtimes-${scale}x.txt"
		: >"$raw/$phase-mtimes-l-${scale}x.txt"
		for i in $(seq "$n"); do
			order="q t o c p l"
			for _ in $(seq $((i % 6))); do
				order="${order#* } ${order%% *}"
			done
			for who in $order; do
				have=$on_disk
				[ "$who" = p ] && have=$on_p
				[ "$who" = l ] && have=$on_l
				want=$have
				if [ "$phase" = a ] && [ "$who" != c ]; then
					want=$([ "$have" = a ] && echo b || echo a)
				fi
				tset=$plain
				[ "$want" = b ] && tset=$templates_b
				out="$raw/$phase-$who-${scale}x.txt"
				maybe_sync
				case $who in
				q)
					[ "$phase" = b ] && mtimes "$tree" >"$raw/mtimes-before"
					tset=$plain
					[ "$want" = b ] && tset=$templates_b
					run_quillmark "$tree" "$out" "$tset" || true
					if [ "$phase" = b ]; then
						mtimes "$tree" >"$raw/mtimes-after"
						diff "$raw/mtimes-before" "$raw/mtimes-after" |
							grep -c '^>' >>"$raw/$phase-mtimes-${scale}x.txt" || true
					fi ;;
				t) run_floor "$snap-$want" "$out" ;;
				o) run_floor "$snap-$want" "$out" --overwrite ;;
				c) run_floor "$snap-$want" "$out" --compare ;;
				p) run_quillmark_out "$tree" "$out" "$tset" "$outdir" || true ;;
				l)
					[ "$phase" = b ] && mtimes "$pubdir/site/" >"$raw/mtimes-before"
					run_quillmark_out "$tree" "$out" "$tset" "$pubdir/site" || true
					if [ "$phase" = b ]; then
						mtimes "$pubdir/site/" >"$raw/mtimes-after"
						diff <(sed "s|$pubdir/site/||" "$raw/mtimes-before") \
							<(sed "s|$pubdir/site/||" "$raw/mtimes-after") |
							grep -c '^>' >>"$raw/$phase-mtimes-l-${scale}x.txt" || true
					fi ;;
				esac
				check_status "$out" "$who in phase $phase at ${scale}x"
				case $who in
				p) on_p=$want ;;
				l) on_l=$want ;;
				*) on_disk=$want ;;
				esac
			done
			printf '  %s round %d: quillmark %.3f s, -o dir %.3f s, -o link %.3f s, floors: truncate %.3f s, overwrite %.3f s, compare %.3f s\n' \
				"$phase" "$i" "$(values "$raw/$phase-q-${scale}x.txt" wall | tail -1)" \
				"$(values "$raw/$phase-p-${scale}x.txt" wall | tail -1)" \
				"$(values "$raw/$phase-l-${scale}x.txt" wall | tail -1)" \
				"$(values "$raw/$phase-t-${scale}x.txt" wall | tail -1)" \
				"$(values "$raw/$phase-o-${scale}x.txt" wall | tail -1)" \
				"$(values "$raw/$phase-c-${scale}x.txt" wall | tail -1)"
		done
	done
	stage "rounds done"
	if [ -s "$raw/quillmark.stderr" ]; then
		echo "FAILED: quillmark wrote to standard error at ${scale}x" >&2
		exit 1
	fi

	# Medians of quillmark's time over each floor's, paired by round.
	ratio_to() { # phase, floor letter[, who: q by default]
		paste <(values "$raw/$1-${3:-q}-${scale}x.txt" wall) <(values "$raw/$1-$2-${scale}x.txt" wall) |
			awk '{ print $1 / $2 }' | median
	}
	for phase in a b; do
		label="every page changes"
		[ "$phase" = b ] && label="nothing changes  "
		echo "($phase) $label: medians of $n: quillmark $(values "$raw/$phase-q-${scale}x.txt" wall | median) s;" \
			"floors: truncate $(values "$raw/$phase-t-${scale}x.txt" wall | median) s," \
			"overwrite $(values "$raw/$phase-o-${scale}x.txt" wall | median) s," \
			"compare $(values "$raw/$phase-c-${scale}x.txt" wall | median) s"
		echo "             quillmark over floor, median of paired ratios:" \
			"truncate $(calc '%.3f' "$(ratio_to "$phase" t)")," \
			"overwrite $(calc '%.3f' "$(ratio_to "$phase" o)")," \
			"compare $(calc '%.3f' "$(ratio_to "$phase" c)")"
		echo "             cpu: quillmark user $(values "$raw/$phase-q-${scale}x.txt" user | median) s," \
			"sys $(values "$raw/$phase-q-${scale}x.txt" sys | median) s;" \
			"voluntary context switches $(values "$raw/$phase-q-${scale}x.txt" nvcsw | median)"
	done
	changed=$(awk '{ s += $1 } END { print s + 0 }' "$raw/b-mtimes-${scale}x.txt")
	echo "unchanged:   README.html files whose modification time changed in the $n runs of (b): $changed"
	for phase in a b; do
		echo "($phase) -o: medians of $n: to a directory $(values "$raw/$phase-p-${scale}x.txt" wall | median) s" \
			"(user $(values "$raw/$phase-p-${scale}x.txt" user | median), sys $(values "$raw/$phase-p-${scale}x.txt" sys | median))," \
			"through a link $(values "$raw/$phase-l-${scale}x.txt" wall | median) s" \
			"(user $(values "$raw/$phase-l-${scale}x.txt" user | median), sys $(values "$raw/$phase-l-${scale}x.txt" sys | median))"
		echo "             median of paired ratios: directory over overwrite floor $(calc '%.3f' "$(ratio_to "$phase" o p)")," \
			"over compare floor $(calc '%.3f' "$(ratio_to "$phase" c p)");" \
			"link over in-place run $(calc '%.3f' "$(ratio_to "$phase" q l)")"
	done
	changed_l=$(awk '{ s += $1 } END { print s + 0 }' "$raw/b-mtimes-l-${scale}x.txt")
	echo "unchanged:   pages seen through the link whose modification time changed in the $n runs of (b): $changed_l"
	echo "-o goals:    (a) directory/overwrite $(calc '%.3f' "$(ratio_to a o p)") (<= 1.3)," \
		"(b) directory/compare $(calc '%.3f' "$(ratio_to b c p)") (<= 1.5)," \
		"link/in-place (a) $(calc '%.3f' "$(ratio_to a q l)") (b) $(calc '%.3f' "$(ratio_to b q l)") (<= 1.5)," \
		"mtimes changed through the link in (b): $changed_l" >>"$raw/publish-goals-${scale}x.txt"

	q="$raw/a-q-${scale}x.txt"
	qw=$(values "$q" wall | median)
	qu=$(values "$q" user | median)
	qs=$(values "$q" sys | median)
	fw=$(values "$raw/a-t-${scale}x.txt" wall | median)
	rss=$(cat "$raw"/[ab]-q-"${scale}"x.txt | values /dev/stdin maxrss_kib | sort -n | tail -1)
	rss_limit=$((index_bytes / 1024 + 8192))
	us_port=$(calc '%.1f' "$qw * 1e6 / $ports")
	cpu_port=$(calc '%.1f' "($qu + $qs) * 1e6 / $ports")
	floor_us_port=$(calc '%.1f' "$fw * 1e6 / $ports")
	echo "peak rss:    quillmark $rss KiB; INDEX $index_bytes bytes;" \
		"limit INDEX + 8 MiB = $rss_limit KiB; headroom $((rss_limit - rss)) KiB"
	echo "per port:    (a) wall $us_port us, cpu $cpu_port us (truncate floor wall $floor_us_port us)"
	echo "$scale $ports $(ratio_to a o) $(ratio_to b c) $changed $rss $rss_limit $us_port $cpu_port $floor_us_port $(ratio_to a t)" >>"$summary"

	if [ "$scale" = 1 ] && [ "$do_callgrind" = 1 ]; then
		if command -v valgrind >/dev/null; then
			cg="$scratch/callgrind.out"
			maybe_sync
			UNAME_r=15.0-RELEASE valgrind --tool=callgrind \
				--callgrind-out-file="$cg" "$qm" -q -p "$tree" \
				-t "$templates" 2>"$raw/callgrind.log"
			ir=$(sed -n 's/^summary: *\([0-9]*\).*/\1/p' "$cg" | head -1)
			[ -n "$ir" ] || ir=$(sed -n 's/^totals: *\([0-9]*\).*/\1/p' "$cg" | head -1)
			echo "callgrind:   $ir instructions (Ir), $(calc '%.0f' "$ir / $ports") per port"
			descr_bytes=$(find "$tree" -name pkg-descr -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
			pages=$(find "$tree" -name README.html | wc -l)
			echo "             $(calc '%.0f' "$ir / $pages") per page ($pages pages);" \
				"$(calc '%.1f' "$ir / ($descr_bytes > 0 ? $descr_bytes : 1)") per description byte ($descr_bytes bytes), the whole run's"
			if grep -q 'unhandled .*syscall: 437' "$raw/callgrind.log"; then
				echo "             (valgrind does not know openat2, syscall 437: the count" \
					"includes the tool's fallback for systems without it)"
			fi
			callgrind_annotate "$cg" >"$scratch/callgrind-annotate.txt" 2>/dev/null || true
			echo "             hottest functions (full list in $scratch/callgrind-annotate.txt):"
			# Lines "Ir (pct)  file:function [object]" after the totals.
			sed -n '/PROGRAM TOTALS/,$ s/^ *\([0-9,][0-9,]*\) *( *\([0-9.]*%\)) *\(.*\)$/\1 \2 \3/p' \
				"$scratch/callgrind-annotate.txt" | sed '1d; s/ \[[^]]*\]$//; s/ [^ :]*:/ /' |
				head -10 | awk '{ ir = $1; pct = $2; $1 = $2 = ""; sub(/^ +/, "");
					printf "             %14s %7s  %s\n", ir, pct, $0 }'
			echo "ir $ir $ports" >>"$summary"
			stage "callgrind done"
		else
			echo "callgrind:   valgrind is not installed (apt-get install valgrind)"
		fi
	fi

	if [ "$scale" = 1 ] && [ "$do_extensions" = 1 ]; then
		compare_extensions "$tree" "$index_bytes"
	fi
	if [ "$scale" = 1 ] && [ "$do_site" = 1 ]; then
		compare_site "$tree" "$index_bytes"
	elif [ "$scale" = 1 ] && [ "$do_shipped" = 1 ]; then
		compare_shipped "$tree" "$index_bytes"
	fi
	if [ "$scale" = 1 ] && [ "$do_threads" = 1 ]; then
		compare_threads "$tree" "$index_bytes"
	fi
	if [ "$scale" = 1 ] && [ "$do_safety" = 1 ]; then
		compare_safety "$tree" "$index_bytes"
	fi
	if [ "$scale" = 1 ] && [ "$do_choices" = 1 ]; then
		compare_choices "$tree"
	fi
	if [ "$scale" = 1 ] && [ "$do_notes" = 1 ]; then
		compare_notes "$tree"
	fi
	if [ "$scale" = 1 ] && [ "$do_people" = 1 ]; then
		compare_people "$tree"
	fi
	if [ "$scale" = 1 ] && [ "$do_history" = 1 ]; then
		compare_history "$tree"
	fi

	rm -f "$snap" "$snap-a" "$snap-b"
	if [ "$clean" = 1 ]; then
		rm -rf "$tree"
	fi
done

if [ "$do_lookup" = 1 ]; then
	echo
	BENCH_DIR="$scratch" bash "$repo/bench/lookup.sh"
fi

echo
echo "== goals"
awk -v scales="$scales" '
	$1 == "ir" { ir = $2; irports = $3; next }
	{ over[$1] = $3; cmp[$1] = $4; changed[$1] = $5; rss[$1] = $6; lim[$1] = $7;
	  wall[$1] = $8; cpu[$1] = $9; fl[$1] = $10; trunc[$1] = $11 }
	END {
		ns = split(scales, order, " ");
		for (i = 1; i <= ns; i++) {
			s = order[i];
			if (!(s in rss))
				continue;
			printf "at %sx: (a) every page changes: %.3f of the overwrite floor (goal <= 1.3): %s; %.3f of the truncate floor\n",
			    s, over[s], over[s] <= 1.3 ? "met" : "NOT met", trunc[s];
			printf "       (b) nothing changes: %.3f of the compare floor (goal <= 1.5): %s; %d modification times changed (goal 0): %s\n",
			    cmp[s], cmp[s] <= 1.5 ? "met" : "NOT met", changed[s], changed[s] == 0 ? "met" : "NOT met";
			printf "       peak rss %d KiB of %d KiB allowed: %s\n",
			    rss[s], lim[s], rss[s] <= lim[s] ? "met" : "NOT met";
		}
		if ((1 in wall) && (4 in wall)) {
			d = wall[4] / wall[1] - 1; c = cpu[4] / cpu[1] - 1;
			printf "per port 4x vs 1x:     wall %+.1f%%, cpu %+.1f%% (goal within 10%%): %s\n",
			    100 * d, 100 * c, (d <= 0.10 && d >= -0.10) ? "met" : "NOT met";
			printf "                       (the truncate floor per port: %+.1f%%)\n",
			    100 * (fl[4] / fl[1] - 1);
		}
		if (ir != "")
			printf "instructions per port: %.0f\n", ir / irports;
	}' "$summary"
cat "$raw/extensions-goals.txt" 2>/dev/null || true
cat "$raw"/publish-goals-*.txt 2>/dev/null || true
cat "$raw/shipped-goals.txt" 2>/dev/null || true
cat "$raw/site-summary.txt" 2>/dev/null || true
cat "$raw/safety-goals.txt" 2>/dev/null || true
cat "$raw/choices-goals.txt" 2>/dev/null || true
cat "$raw/notes-goals.txt" 2>/dev/null || true
cat "$raw/people-goals.txt" 2>/dev/null || true
echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"
echo "elapsed:     $((SECONDS - started)) s"
if [ "$clean" != 1 ]; then
	echo "trees:       kept in $scratch for the next run (BENCH_CLEAN=1 deletes them)"
fi
echo "report:      $report"
