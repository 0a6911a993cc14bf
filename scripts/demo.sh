#!/usr/bin/env bash
# Builds quillmark and runs its main job, a whole-tree run, on a copy of the
# sample ports tree shipped in sample/ports, with the shipped templates. Then
# it publishes the same tree as the README recommends, below an output root
# of its own (www/ports, a link to the current generation) with an address,
# so that the site has its maintainers' pages and a sitemap; it publishes
# twice, a port's version raised in between, so that the feeds have an
# entry. The copy of the tree is made a git repository from a few scripted
# commits first, so that the port pages show their recent commits. What it
# writes, others can read (a desktop user's browser).
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
	# libgit2, which reads the tree's history, found with pkg-config.
	command -v pkg-config >/dev/null || need+=(pkgconf)
	[ -f /usr/include/git2.h ] || need+=(libgit2-dev)
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

# The copy becomes a git repository from a few scripted commits, so that
# the port pages show their recent commits (the tool reads them with
# libgit2); an earlier demo's repository is kept as it is. Without git the
# pages have no commits.
ports_git() { # git in the copy, as the author $who at the day $day
	(cd "$out/ports" && GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=/dev/null \
		GIT_AUTHOR_NAME=$who GIT_AUTHOR_EMAIL=committer@example.org \
		GIT_COMMITTER_NAME=$who GIT_COMMITTER_EMAIL=committer@example.org \
		GIT_AUTHOR_DATE="${day}T12:00:00Z" GIT_COMMITTER_DATE="${day}T12:00:00Z" \
		git "$@" >/dev/null)
}
ports_commit() { # day, author, subject, then the files to add a comment line to
	day=$1 who=$2
	local subject=$3 file
	shift 3
	for file in "$@"; do
		echo "# $subject" >>"$out/ports/$file"
	done
	ports_git add -A
	ports_git commit -q -m "$subject"
}
history_made=
if command -v git >/dev/null && [ ! -e "$out/ports/.git" ]; then
	printf 'README.html\n*.html\n*.js\n*.css\n.quillmark-*\n' >"$out/ports/.gitignore"
	day=2026-06-01 who="Sample Importer"
	ports_git init -q -b main
	ports_commit 2026-06-01 "Sample Importer" "Import the sample ports tree"
	ports_commit 2026-07-14 "Dave Example" "textproc/jq: fix the build with oniguruma 6.9.10" \
		textproc/jq/Makefile
	ports_commit 2026-08-02 "Łukasz Żółtowski" "www/nginx, www/lynx: take maintainership <both>" \
		www/nginx/Makefile www/lynx/Makefile
	ports_commit 2026-09-20 "Ann Example" "misc: the category's comment" misc/Makefile
	ports_commit 2026-10-05 "Dave Example" "textproc/jq: pet portlint" textproc/jq/Makefile
	history_made=yes
fi

# The sample INDEX is INDEX-15; UNAME_r names the release on any system.
export UNAME_r=15.0-RELEASE
commits=https://git.example.org/ports/commit/%s
"$bin" -p "$out/ports" -t "$repo/Templates" -c "$commits"
echo
echo "Done. Open $out/ports/README.html in a browser to see the pages."

# Published as a site: a plain first site, the link, and the runs through
# the link that cron would make. An earlier demo's link is published
# through again.
url=https://ports.example.org/
site=$out/www/ports
publish() {
	"$bin" -q -p "$out/ports" -t "$repo/Templates" -c "$commits" -u "$url" -o "$1"
}
mkdir -p "$out/www"
if [ ! -L "$site" ] && [ ! -e "$site" ]; then
	publish "$site.first"
	ln -s ports.first "$site"
fi
publish "$site"
sed -i 's/^jq-1\.7\.1|/jq-1.8.0|/' "$out/ports/INDEX-15"
if [ -n "$history_made" ]; then
	ports_commit 2026-11-03 "Dave Example" "textproc/jq: update to 1.8.0" \
		textproc/jq/Makefile
fi
publish "$site"
echo
echo "Published as a site for $url in $site, twice, jq updated in between:"
echo "open $site/README.html; the feeds are feed.atom there and in each category's"
echo "and maintainer's folder, the sitemap is sitemap.xml."
