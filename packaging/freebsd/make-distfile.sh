#!/bin/sh
# Makes the port's distfile from the checkout's HEAD, as a release would
# publish it, and the distinfo that matches it: quillmark-VERSION.tar.gz,
# VERSION being the project version in CMakeLists.txt, every file below
# quillmark-VERSION/ as the port's WRKSRC expects. Changes not committed are
# not in it. distinfo is made here rather than kept in the repository, since
# it changes with every commit.
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

distdir=${1:-${DISTDIR:-${PORTSDIR:-/usr/ports}/distfiles}}
distinfo=${2:-$here/distinfo}
name=quillmark-$version.tar.gz
mkdir -p "$distdir"
git -C "$repo" archive --format=tar.gz --prefix="quillmark-$version/" \
	-o "$distdir/$name" HEAD

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
