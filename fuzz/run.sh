#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each one over every seed of its
# corpus in fuzz/corpus/<target>/ and then for N seconds more (the argument,
# 10 by default), working on a scratch copy of that corpus so the run does
# not grow the repository's corpus. Exits non-zero when any target crashes,
# leaks or fails one of its checks; the inputs that did are kept below the
# build directory in fuzz-artifacts/<target>/.
#
# Environment: QUILLMARK_FUZZ_BUILD_DIR (default: build-fuzz in the
# repository), CXX (default: clang++, or clang++-14). It takes about a
# minute with 8 seconds per target, build included.
set -euo pipefail

seconds=${1:-10}
case $seconds in
'' | *[!0-9]*)
	echo "usage: $0 [seconds-per-target]" >&2
	exit 2
	;;
esac

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${QUILLMARK_FUZZ_BUILD_DIR:-$repo/build-fuzz}
cxx=${CXX:-}
if [ -z "$cxx" ]; then
	for c in clang++ clang++-14; do
		if command -v "$c" >/dev/null; then
			cxx=$c
			break
		fi
	done
fi
if [ -z "$cxx" ]; then
	echo "$0: no clang++ found (set CXX)" >&2
	exit 2
fi
generator=()
if command -v ninja >/dev/null && [ ! -f "$build/CMakeCache.txt" ]; then
	generator=(-G Ninja)
fi

targets=(fuzz_index fuzz_template fuzz_top_makefile fuzz_category_makefile
	fuzz_description fuzz_version fuzz_port_status fuzz_vuxml)
targets+=(fuzz_pkg_message fuzz_affects)
start=$(date +%s)

cmake -S "$repo" -B "$build" "${generator[@]}" -DCMAKE_CXX_COMPILER="$cxx" \
	-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMARK_FUZZ=ON \
	-DQUILLMARK_TESTS=OFF >/dev/null
cmake --build "$build" --target fuzz_targets -j2
built=$(date +%s)
echo "built in $((built - start)) s"

# The scratch corpora and the small trees the targets write go to memory
# where it can be had, and all of it goes when the script ends, also the
# trees of a target that crashed before it could remove its own.
tmp=${TMPDIR:-/tmp}
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
	tmp=/dev/shm
fi
scratch=$(mktemp -d "$tmp/quillmark-fuzz-run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export QUILLMARK_FUZZ_TMPDIR=$scratch/trees
mkdir "$QUILLMARK_FUZZ_TMPDIR"

failed=()
for target in "${targets[@]}"; do
	bin=$build/fuzz/$target
	seeds=$repo/fuzz/corpus/$target
	corpus=$scratch/$target/corpus
	artifacts=$build/fuzz-artifacts/$target
	mkdir -p "$corpus" "$artifacts"
	# The tool's own messages are not wanted; libFuzzer's reports and the
	# targets' failed checks still reach standard error.
	flags=(-close_fd_mask=3 -max_len=16384 -timeout=30 -rss_limit_mb=4096
		-artifact_prefix="$artifacts/")

	# libFuzzer runs every seed first, then mutates for the time given.
	if [ -d "$seeds" ]; then
		find "$seeds" -type f -exec cp {} "$corpus/" \;
	fi
	echo "== $target: $(ls "$corpus" | wc -l) seeds, then ${seconds} s"
	# -max_total_time=0 would mean no limit: 0 seconds runs the seeds only.
	if [ "$seconds" -gt 0 ]; then
		limit=(-max_total_time="$seconds")
	else
		limit=(-runs=0)
	fi
	if ! "$bin" "${flags[@]}" "${limit[@]}" \
		-print_final_stats=1 "$corpus" >"$scratch/$target.log" 2>&1; then
		tail -n 60 "$scratch/$target.log"
		failed+=("$target")
		continue
	fi
	grep -E '^stat::number_of_executed_units|^Done' "$scratch/$target.log" || true
done

echo "fuzzing took $(($(date +%s) - start)) s in all"
if [ ${#failed[@]} -gt 0 ]; then
	echo "FAILED: ${failed[*]}" >&2
	exit 1
fi
echo "all fuzz targets passed"
