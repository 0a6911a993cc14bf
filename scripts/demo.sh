#!/usr/bin/env bash
# Builds quillmark and runs its main job, a whole-tree run, on a copy of the
# sample ports tree shipped in sample/ports, with the shipped templates. Then
# it publishes the same tree as the README recommends, below an output root
# of its own (www/ports, a link to the current generation) with an address,
# so that the site has its maintainers' pages and a sitemap; it publishes
# twice, a port's version raised in between, so that the feeds have an
# entry. What it writes, others can read (a desktop user's browser).
# Usage: scripts/demo.sh [DIR]
#
# It deletes nothing. Without DIR the copy goes into a new directory of its
# own, made with mktemp below $TMPDIR (or /tmp). DIR is used when it does not
# exist or is empty; when it holds an earlier demo's output (the marker file
# below, which every demo leaves) it is written over; any other DIR is
# refused before anything is built or written.
#
# Environment: QUILLMARK_BIN, a quillmark binary to run instead of building
# one (nothing is then built or installed).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
marker=.quillmark-demo

refuse() {
	echo "demo.sh: $*" >&2
	echo "Give a directory that does not exist or is empty, or none (a new one is then made)." >&2
	exit 1
}

out=
if [ $# -gt 1 ]; then
	echo "usage: $0 [DIR]" >&2
	exit 2
elif [ $# -eq 1 ]; then
	out=$1
	[ -n "$out" ] || refuse "the directory name is empty."
	if [ -L "$out" ] || [ -e "$out" ]; then
		[ -d "$out" ] || refuse "$out exists and is not a directory."
		entries=$(ls -A -- "$out") || refuse "$out cannot be read."
		if [ -f "$out/$marker" ] && [ ! -L "$out/$marker" ]; then
			echo "$out holds an earlier demo's output ($marker): writing over it, deleting nothing."
		elif [ -n "$entries" ]; then
			refuse "$out is not empty and holds no earlier demo's output (no $marker file): it is left as it is."
		fi
	fi
fi

bin=${QUILLMARK_BIN:-}
if [ -z "$bin" ]; then
	need=()
	command -v cmake >/dev/null || need+=(cmake)
	command -v g++ >/dev/null || need+=(g++)
	command -v make >/dev/null || need+=(make)
	# expat, the XML parser the tool is built with.
	[ -f /usr/include/expat.h ] || need+=(libexpat1-dev)
	if [ ${#need[@]} -gt 0 ]; then
		if [ "$(id -u)" -ne 0 ]; then
			echo "demo.sh: missing ${need[*]}; run this script as root to install them" >&2
			exit 1
		fi
		echo "Installing ${need[*]}..."
		export DEBIAN_FRONTEND=noninteractive
		apt-get update -qq
		apt-get install -y -qq "${need[@]}" >/dev/null
	fi

	build="$repo/build-demo"
	cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLMARK_TESTS=OFF >/dev/null
	cmake --build "$build" -j"$(nproc)" >/dev/null
	bin=$build/quillmark
fi

umask 022
if [ -z "$out" ]; then
	out=$(mktemp -d "${TMPDIR:-/tmp}/quillmark-demo.XXXXXX")
	echo "Writing the demo into a new directory, $out"
else
	mkdir -p -- "$out"
	out=$(cd -- "$out" && pwd)
fi
chmod go+rx "$out" # mktemp makes it private
if [ ! -L "$out/$marker" ] && [ ! -e "$out/$marker" ]; then
	echo "This directory holds the output of quillmark's scripts/demo.sh, which may write over it again." \
		>"$out/$marker"
fi
mkdir -p "$out/ports"
cp -R "$repo/sample/ports/." "$out/ports/"

# The sample INDEX is INDEX-15; UNAME_r names the release on any system.
export UNAME_r=15.0-RELEASE
"$bin" -p "$out/ports" -t "$repo/Templates"
echo
echo "Done. Open $out/ports/README.html in a browser to see the pages."

# Published as a site: a plain first site, the link, and the runs through
# the link that cron would make. An earlier demo's link is published
# through again.
url=https://ports.example.org/
site=$out/www/ports
publish() {
	"$bin" -q -p "$out/ports" -t "$repo/Templates" -u "$url" -o "$1"
}
mkdir -p "$out/www"
if [ ! -L "$site" ] && [ ! -e "$site" ]; then
	publish "$site.first"
	ln -s ports.first "$site"
fi
publish "$site"
sed -i 's/^jq-1\.7\.1|/jq-1.8.0|/' "$out/ports/INDEX-15"
publish "$site"
echo
echo "Published as a site for $url in $site, twice, jq updated in between:"
echo "open $site/README.html; the feeds are feed.atom there and in each category's"
echo "and maintainer's folder, the sitemap is sitemap.xml."
