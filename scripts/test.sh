#!/usr/bin/env bash
# Builds quillmark and passes its tests: a compile check of the FreeBSD build
# (when the FreeBSD header sysroot lies beside the checkout, in
# ../shared/freebsd-sysroot), the normal build with warnings as errors, the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, the
# threads of -j under ThreadSanitizer, the end-to-end tests again with
# direct I/O forced on, and a short run of every fuzz target over its
# corpus.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

bash "$repo/.ci/install-deps.sh"

# Every count goes into the closing line, each with what it counts.
passed=0
counts=()
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
# Adds $1 things passed, told as $2, to the closing line.
count() {
	passed=$((passed + $1))
	counts+=("$1 $2")
}
# Runs ctest on the build directory $1, its output shown as it comes, and
# counts the test program's tests as tests of the build named $2 and the
# scripts, named without the program's Suite.Name dot, apart.
run_ctest() {
	ctest --test-dir "$1" -j"$jobs" --output-on-failure | tee "$logs/ctest"
	local total scripts
	total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$logs/ctest")
	scripts=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: [^. ]+ ' "$logs/ctest" || true)
	count $((${total:-0} - scripts)) "tests of the $2 build"
	[ "$scripts" -eq 0 ] || count "$scripts" scripts
}

# Nothing is linked or run for FreeBSD: every source file is compiled for it,
# warnings as errors, against its headers.
sysroot=$(dirname "$repo")/shared/freebsd-sysroot
if [ -d "$sysroot" ]; then
	echo "== FreeBSD compile check"
	bash "$sysroot/check.sh" "$repo" | tee "$logs/check"
	checked=$(sed -n 's/^\([0-9]*\) passed, 0 failed$/\1/p' "$logs/check")
	count "${checked:-0}" "files compiled for FreeBSD"
else
	echo "== FreeBSD compile check skipped: no $sysroot"
fi

echo "== build and test"
cmake -S "$repo" -B "$repo/build-test" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DQUILLMARK_WERROR=ON >/dev/null
cmake --build "$repo/build-test" -j"$jobs"
run_ctest "$repo/build-test" normal

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S "$repo" -B "$repo/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	-DCMAKE_CXX_COMPILER=clang++ -DQUILLMARK_WERROR=ON -DQUILLMARK_SANITIZE=ON >/dev/null
cmake --build "$repo/build-asan" -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	run_ctest "$repo/build-asan" sanitizer

echo "== the threads of -j under ThreadSanitizer"
cmake -S "$repo" -B "$repo/build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DCMAKE_CXX_COMPILER=clang++ -DQUILLMARK_WERROR=ON -DQUILLMARK_TESTS=OFF \
	-DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build "$repo/build-tsan" -j"$jobs" --target quillmark
bash "$repo/scripts/thread_check.sh" "$repo/build-tsan/quillmark"
count 1 "thread check"

echo "== end-to-end tests with direct I/O, as FreeBSD builds open files"
# Linux refuses unaligned direct I/O, as ZFS on FreeBSD does: every read and
# write here takes the retry without it.
cmake -S "$repo" -B "$repo/build-direct" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DQUILLMARK_WERROR=ON -DQUILLMARK_DIRECT_IO=ON >/dev/null
cmake --build "$repo/build-direct" -j"$jobs"
run_ctest "$repo/build-direct" "direct I/O"

if [ -f "$repo/fuzz/run.sh" ]; then
	echo "== fuzz targets over their corpora"
	bash "$repo/fuzz/run.sh" "${FUZZ_SECONDS:-5}" | tee "$logs/fuzz"
	fuzzed=$(grep -c '^== fuzz_' "$logs/fuzz" || true)
	count "$fuzzed" "fuzz targets"
fi
# One line of counts: the FreeBSD compile check's files, the test program's
# tests in each build (the same tests, run three times), the scripts and
# the fuzz targets, added up; anything failed has stopped the script before.
line=
for c in "${counts[@]}"; do
	line+="${line:+ + }$c"
done
echo "$line: $passed passed, 0 failed"
