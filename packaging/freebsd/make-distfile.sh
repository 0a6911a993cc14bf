#!/bin/sh
# Makes the port's distfile from the checkout's HEAD, as a release would
# publish it, and the distinfo that matches it: quillmark-VERSION.tar.gz,
# VERSION being the project version in CMakeLists.txt, every file below
# quillmark-VERSION/ as the port's WRKSRC expects. Changes not committed are
# not in it. distinfo is made here rather than kept in the repository, since
# it changes with every commit. It refuses while the port's MASTER_SITES,
# MAINTAINER or WWW is left at example.org.
# Usage: make-distfile.sh [DISTDIR [DISTINFO]]
#   DISTDIR   where the distfile goes (default: $DISTDIR, else
#             $PORTSDIR/distfiles, else /usr/ports/distfiles)
#   DISTINFO  the distinfo file to write (default: distinfo beside this
#             script, among the port's files)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)

version=$(sed -n 's/^project(quillmark VERSION \([0-9][0-9.]*\).*/\1/p' \
	"$repo/CMakeLists.txt")
if [ -z "$version" ]; then
	echo "make-distfile.sh: no project version in $repo/CMakeLists.txt" >&2
	exit 1
fi
portversion=$(sed -n 's/^DISTVERSION=[[:space:]]*//p' "$here/Makefile")
if [ "$portversion" != "$version" ]; then
	echo "make-distfile.sh: the port's DISTVERSION $portversion is not" \
		"the project version $version" >&2
	exit 1
fi

# Until a first release the port's download site, maintainer and home page
# stand at example.org, which reaches nobody: a distfile made so would ship
# a port that no one can fetch or write to.
placeholders=$(sed -E -n \
	's/^(MASTER_SITES|MAINTAINER|WWW)=.*example\.(org|com|net).*/\1/p' \
	"$here/Makefile" | tr '\n' ',' | sed 's/,$//; s/,/, /g')
if [ -n "$placeholders" ]; then
	echo "make-distfile.sh: $here/Makefile: $placeholders still at" \
		"example.org; set MASTER_SITES to where the distfile is" \
		"published, MAINTAINER to the maintainer's address and WWW" \
		"to the project's home page: no distfile was made" >&2
	exit 1
fi

distdir=${1:-${DISTDIR:-${PORTSDIR:-/usr/ports}/distfiles}}
distinfo=${2:-$here/distinfo}
name=quillmark-$version.tar.gz
command -v git >/dev/null 2>&1 || {
	echo "make-distfile.sh: git is needed to archive HEAD" >&2
	exit 1
}
mkdir -p "$distdir"
distdir=$(cd "$distdir" && pwd) # git runs in the checkout, not here
# The archive is made under a temporary name and renamed only once git has
# written it whole: a refused or failed archive leaves no distfile behind,
# neither a new empty one nor a cut one over an older good one.
partial=$distdir/.$name.partial.$$
trap 'rm -f "$partial" "$partial.err"' EXIT
trap 'exit 1' HUP INT TERM
if ! git -C "$repo" archive --format=tar.gz --prefix="quillmark-$version/" \
	-o "$partial" HEAD 2>"$partial.err"; then
	cat "$partial.err" >&2
	if grep -q 'dubious ownership' "$partial.err"; then
		echo "make-distfile.sh: git refuses a checkout owned by" \
			"another user; as that user, or after" \
			"git config --global --add safe.directory" \
			"$repo, run this again" >&2
	fi
	rm -f "$partial.err"
	echo "make-distfile.sh: git archive failed; no distfile was made" >&2
	exit 1
fi
rm -f "$partial.err"
mv -f "$partial" "$distdir/$name"

if command -v sha256 >/dev/null 2>&1; then
	sum=$(sha256 -q "$distdir/$name") # FreeBSD
else
	sum=$(sha256sum "$distdir/$name" | cut -d ' ' -f 1)
fi
size=$(wc -c <"$distdir/$name" | tr -d ' ')
{
	echo "TIMESTAMP = $(date +%s)"
	echo "SHA256 ($name) = $sum"
	echo "SIZE ($name) = $size"
} >"$distinfo"
echo "Made $distdir/$name from $(git -C "$repo" rev-parse --short HEAD)" \
	"and $distinfo."
