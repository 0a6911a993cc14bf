#!/usr/bin/env bash
# A build configured with another installation prefix, installed there, finds
# its templates without -t: it makes the same pages of the sample tree as the
# tested build given the shipped templates, and its help text, its -v message
# and its manual page name its own templates directory.
# Usage: prefix_test.sh QUILLMARK_BIN SOURCE_DIR BUILD_DIR
set -euo pipefail
bin=$1
src=$2
build=$3

fail() {
	echo "FAIL: $*" >&2
	exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
templates=$prefix/share/quillmark/Templates
tool=$prefix/bin/quillmark

# The tool alone, unoptimised: the quickest build to make.
generator=$(sed -n 's/^CMAKE_GENERATOR:INTERNAL=//p' "$build/CMakeCache.txt")
{
	cmake -S "$src" -B "$work/build" -G "$generator" -DCMAKE_BUILD_TYPE=Debug \
		-DCMAKE_CXX_FLAGS_DEBUG= -DQUILLMARK_TESTS=OFF -DCMAKE_INSTALL_PREFIX="$prefix" &&
		cmake --build "$work/build" -j2 && cmake --install "$work/build"
} >"$work/log" 2>&1 || fail "build and install with prefix $prefix failed: $(cat "$work/log")"

grep -qxF "               default $templates." <<<"$("$tool" -h)" ||
	fail "the help text does not name $templates: $("$tool" -h)"
sed "s|$templates|/usr/local/share/quillmark/Templates|g" "$prefix/share/man/man1/quillmark.1" |
	cmp -s - "$src/src/cli/quillmark.1" ||
	fail "the installed manual page is not the source's with $templates for the default"

for run in installed tested; do
	cp -R "$src/sample/ports" "$work/ports"
	rc=0
	if [ $run = installed ]; then
		UNAME_r=15.0-RELEASE "$tool" -v -p "$work/ports" >/dev/null 2>"$work/err" || rc=$?
		grep -qxF "Using default templates directory \"$templates\"" "$work/err" ||
			fail "$tool -v does not report its default templates directory: $(cat "$work/err")"
	else
		UNAME_r=15.0-RELEASE "$bin" -q -p "$work/ports" -t "$src/Templates" 2>"$work/err" || rc=$?
	fi
	[ $rc -eq 0 ] || fail "the $run tool exited with status $rc: $(cat "$work/err")"
	mv "$work/ports" "$work/$run"
done
[ -f "$work/installed/README.html" ] || fail "the installed tool wrote no top-level page"
diff -r "$work/tested" "$work/installed" >&2 ||
	fail "the installed tool's pages differ from those made with the shipped templates"
