#!/usr/bin/env bash
# The install rules put the tool, its templates and its manual page where
# the tool and man(1) look for them, and the installed tool makes the pages
# of the sample tree from the installed templates.
# Usage: install_test.sh QUILLMARK_BIN SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$2
build=$3
prefix=/usr/local

fail() {
	echo "FAIL: $*" >&2
	exit 1
}

work=$(mktemp -d)
cleanup() { rm -rf "$work"; }
trap cleanup EXIT

stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
	fail "cmake --install into $stage failed: $(cat "$work/install.log")"

status=0
expect_file() { # staged path, source file it must equal (or none)
	if [ ! -f "$stage$1" ]; then
		echo "FAIL: $1 is not installed" >&2
		status=1
	elif [ -n "${2:-}" ] && ! cmp -s "$2" "$stage$1"; then
		echo "FAIL: $1 differs from $2" >&2
		status=1
	fi
}
expect_file "$prefix/bin/quillmark"
[ -x "$stage$prefix/bin/quillmark" ] || fail "$prefix/bin/quillmark is not executable"
for file in "$src"/Templates/*; do
	expect_file "$prefix/share/quillmark/Templates/${file##*/}" "$file"
done
expect_file "$prefix/share/man/man1/quillmark.1" "$src/src/cli/quillmark.1"
[ $status -eq 0 ] || exit $status

# The FreeBSD port lists exactly what the install puts below the prefix, its
# manual pages as the ports framework installs them (gzipped), and packages
# the version that the tool reports.
port=$src/packaging/freebsd
listed=$(sed 's|^%%DATADIR%%/|share/quillmark/|' "$port/pkg-plist" | sort)
staged=$(cd "$stage$prefix" && find . ! -type d | sed 's|^\./||; s|^share/man/man[1-9]/.*|&.gz|' | sort)
[ "$listed" = "$staged" ] || fail "packaging/freebsd/pkg-plist (<) and the install (>) differ:
$(diff <(echo "$listed") <(echo "$staged"))"
version=$(sed -n 's/^DISTVERSION=[[:space:]]*//p' "$port/Makefile")
[ "$("$stage$prefix/bin/quillmark" -V)" = "quillmark version $version" ] ||
	fail "the port's DISTVERSION $version is not the version of the tool"
long=$(cd "$port" && for f in *; do expand "$f" | awk -v f="$f" 'length > 80 { print f ":" FNR }'; done)
[ -z "$long" ] || fail "lines of the port over 80 columns: $long"

# The port's script makes the distfile of HEAD's files, below the WRKSRC the
# port expects and holding its LICENSE_FILE, and the distinfo that matches
# it. A source tree that is not a git checkout has no HEAD to make it from.
# While the port's download site, maintainer or home page is left at
# example.org it refuses, leaving nothing; it is tried in clones of HEAD
# whose port has them filled in.
fill_in() { # checkout
	sed -i -E 's/example\.(org|com|net)/quillmark.test/' "$1/packaging/freebsd/Makefile"
}
if git -C "$src" rev-parse -q --verify HEAD >/dev/null 2>&1; then
	left=$(sed -E -n 's/^(MASTER_SITES|MAINTAINER|WWW)=.*example\.(org|com|net).*/\1/p' "$port/Makefile" |
		paste -s -d ' ')
	rc=0
	sh "$port/make-distfile.sh" "$work/distfiles" "$work/distinfo" >"$work/dist.log" 2>&1 || rc=$?
	if [ -n "$left" ]; then
		[ $rc -eq 1 ] && [ ! -e "$work/distfiles" ] && [ ! -e "$work/distinfo" ] ||
			fail "make-distfile.sh with $left at example.org: status $rc, made: $(ls "$work"/dist*)"
		[ "$(cat "$work/dist.log")" = "make-distfile.sh: $(cd "$port" && pwd)/Makefile: ${left// /, } still at example.org; set MASTER_SITES to where the distfile is published, MAINTAINER to the maintainer's address and WWW to the project's home page: no distfile was made" ] ||
			fail "make-distfile.sh does not say what to fill in: $(cat "$work/dist.log")"
		git clone -q "$src" "$work/ours" 2>"$work/dist.log" ||
			fail "git clone of $src failed: $(cat "$work/dist.log")"
		[ "$(git -C "$work/ours" rev-parse HEAD)" = "$(git -C "$src" rev-parse HEAD)" ] ||
			fail "the clone of $src is not at its HEAD"
		fill_in "$work/ours"
		rc=0
		sh "$work/ours/packaging/freebsd/make-distfile.sh" "$work/distfiles" "$work/distinfo" \
			>"$work/dist.log" 2>&1 || rc=$?
	fi
	[ $rc -eq 0 ] || fail "make-distfile.sh failed: $(cat "$work/dist.log")"
	distfile=quillmark-$version.tar.gz
	[ -f "$work/distfiles/$distfile" ] || fail "make-distfile.sh made no $distfile"
	sum=$(sha256sum "$work/distfiles/$distfile" | cut -d ' ' -f 1)
	size=$(stat -c %s "$work/distfiles/$distfile")
	[ "$(sed 's/^TIMESTAMP = [0-9]*$/TIMESTAMP/' "$work/distinfo")" = "TIMESTAMP
SHA256 ($distfile) = $sum
SIZE ($distfile) = $size" ] || fail "the distinfo does not match $distfile: $(cat "$work/distinfo")"
	archived=$(tar -tzf "$work/distfiles/$distfile" | grep -v '/$' | sort)
	committed=$(git -C "$src" ls-tree -r --name-only HEAD | sed "s|^|quillmark-$version/|" | sort)
	[ "$archived" = "$committed" ] || fail "$distfile (<) does not hold HEAD's files (>):
$(diff <(echo "$archived") <(echo "$committed"))"
	license=$(sed -n 's|^LICENSE_FILE=[[:space:]]*${WRKSRC}/||p' "$port/Makefile")
	grep -qxF "quillmark-$version/$license" <<<"$archived" ||
		fail "the port's LICENSE_FILE ${license:-(none)} is not in $distfile"

	# In a checkout owned by another user git refuses to archive: the script
	# leaves no distfile, not even an empty one, and names the remedy.
	if [ "$(id -u)" -eq 0 ] && git clone -q "$src" "$work/theirs" 2>/dev/null &&
		fill_in "$work/theirs" && chown -R 65534 "$work/theirs"; then
		rc=0
		sh "$work/theirs/packaging/freebsd/make-distfile.sh" "$work/refused" \
			"$work/refused.distinfo" >"$work/dist.log" 2>&1 || rc=$?
		if [ $rc -eq 0 ]; then
			echo "git archives a checkout of another user here (safe.directory?):" \
				"skipping the check of a refused archive" >&2
		else
			[ -z "$(ls -A "$work/refused")" ] && [ ! -e "$work/refused.distinfo" ] ||
				fail "a refused archive left: $(ls -A "$work/refused" "$work/refused.distinfo" 2>&1)"
			grep -q "^make-distfile.sh: .*safe.directory $work/theirs" "$work/dist.log" ||
				fail "no safe.directory remedy for a checkout of another user: $(cat "$work/dist.log")"
		fi
	fi
fi

# Runs the tool at $1 on a fresh copy of the sample tree, with the further
# options that follow, checks that it made every page quietly, and keeps the
# tree in $work/$2. Every run uses the same path, so that their pages compare.
run_on_sample() {
	local tool=$1 keep=$2
	shift 2
	local tree=$work/ports
	cp -R "$src/sample/ports" "$tree"
	local rc=0
	UNAME_r=15.0-RELEASE "$tool" -q -p "$tree" "$@" >"$work/out" 2>"$work/err" || rc=$?
	[ $rc -eq 0 ] || fail "$tool $* exited with status $rc: $(cat "$work/err")"
	[ ! -s "$work/out" ] && [ ! -s "$work/err" ] ||
		fail "$tool -q printed: $(cat "$work/out" "$work/err")"
	local pages want
	pages=$(find "$tree" -name README.html | wc -l)
	want=$((1 + $(grep -c '^SUBDIR += ' "$tree/Makefile") + $(grep -c . "$tree"/INDEX-15)))
	[ "$pages" -eq "$want" ] || fail "$tool wrote $pages README.html files, not $want"
	mv "$tree" "$work/$keep"
}

run_on_sample "$stage$prefix/bin/quillmark" staged \
	-t "$stage$prefix/share/quillmark/Templates"

# With no -t the tool reads its templates from the installation prefix. That
# holds only for a real install there, made here only by root and only where
# no quillmark is installed: everything it adds is taken away afterwards.
[ "$(id -u)" -eq 0 ] && [ ! -e "$prefix/share/quillmark" ] || exit 0
command -v flock >/dev/null || exit 0
exec 9>/tmp/quillmark-install-test.lock
flock 9 # two test runs must not install and remove under each other

installed=()
while IFS= read -r -d '' file; do
	installed+=("${file#"$stage"}")
done < <(find "$stage" ! -type d -print0)
for file in "${installed[@]}"; do
	if [ -e "$file" ] || [ -L "$file" ]; then
		echo "$file exists: skipping the check of a real install" >&2
		exit 0
	fi
done
new_dirs=()
while IFS= read -r dir; do
	dir=${dir#"$stage"}
	if [ -n "$dir" ] && [ ! -d "$dir" ]; then
		new_dirs+=("$dir")
	fi
done < <(find "$stage" -type d | sort -r) # deepest first

uninstall() {
	rm -f "${installed[@]}"
	local dir
	for dir in "${new_dirs[@]}"; do
		rmdir "$dir" 2>/dev/null || true
	done
	cleanup
}
trap uninstall EXIT

cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
	fail "cmake --install to $prefix failed: $(cat "$work/install.log")"
run_on_sample "$prefix/bin/quillmark" real
diff -r "$work/staged" "$work/real" >&2 ||
	fail "the pages made with the default templates differ from those made with -t"
