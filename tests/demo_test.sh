#!/usr/bin/env bash
# scripts/demo.sh deletes nothing: it refuses a directory that holds anything
# but an earlier demo's output, writes over an earlier demo's output keeping
# whatever else is there, and without an argument makes a directory of its
# own and says where the top-level page is. Its published site has the
# maintainers' pages, a sitemap and a feed entry, and another user can read
# it.
# Usage: demo_test.sh QUILLMARK_BIN SOURCE_DIR BUILD_DIR
set -euo pipefail
bin=$1
src=$2

fail() {
	echo "FAIL: $*" >&2
	exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work" # another user reads the demo's site below it
mkdir "$work/tmp"
demo() { # the demo's status; its output in $work/out and $work/err
	local rc=0
	# A private umask, as some users have: the site is still for all to read.
	(umask 077 && QUILLMARK_BIN=$bin TMPDIR=$work/tmp bash "$src/scripts/demo.sh" "$@" \
		>"$work/out" 2>"$work/err" </dev/null) || rc=$?
	return $rc
}
want=$((1 + $(grep -c '^SUBDIR += ' "$src/sample/ports/Makefile") +
	$(grep -c . "$src/sample/ports/INDEX-15")))
expect_pages() { # directory the demo wrote into
	local pages
	pages=$(find "$1/ports" -name README.html | wc -l)
	[ "$pages" -eq "$want" ] || fail "the demo wrote $pages README.html files in $1, not $want"
	grep -qxF "Done. Open $1/ports/README.html in a browser to see the pages." "$work/out" ||
		fail "the demo does not name $1/ports/README.html: $(cat "$work/out")"
	local site=$1/www/ports
	[ -L "$site" ] && [ -f "$site/.quillmark-generation" ] ||
		fail "the demo published no site through the link $site"
	grep -qF "open $site/README.html;" "$work/out" ||
		fail "the demo does not name $site/README.html: $(cat "$work/out")"
	local missing
	missing=$(comm -23 <(cd "$1/ports" && find . -name README.html | sort) \
		<(cd "$site/" && find . -name README.html | sort))
	[ -z "$missing" ] || fail "the demo's site lacks pages: $missing"
	[ -f "$site/maintainer/README.html" ] || fail "the published site has no maintainers' page"
	grep -qF "<loc>https://ports.example.org/textproc/jq/README.html</loc>" "$site/sitemap.xml" ||
		fail "the published site's sitemap lacks jq's page"
	for feed in "$site/feed.atom" "$site/textproc/feed.atom"; do
		grep -qF "<title>textproc/jq updated from 1.7.1 to 1.8.0</title>" "$feed" ||
			fail "$feed has no entry for jq's update: $(cat "$feed")"
	done
	# The copy is a git repository whose commits the port pages show.
	grep -qF '<span class="subject">textproc/jq: update to 1.8.0</span> <code><a href="https://git.example.org/ports/commit/' \
		"$site/textproc/jq/README.html" ||
		fail "the published page of jq shows no recent commits: $(cat "$site/textproc/jq/README.html")"
	readable_by_others "$1"
}
# Every directory from / down to the demo's site, and every file of the
# site, can be read by a user who is neither the owner nor in the group;
# as root, such a user reads them all.
readable_by_others() { # the demo's directory
	local dir=$1/www/ports/ closed
	while [ "$dir" != / ]; do
		dir=$(dirname "$dir")
		[ -n "$(find "$dir" -maxdepth 0 -perm -o+x)" ] ||
			fail "another user cannot enter $dir"
	done
	closed=$(find -L "$1/www/ports/" \( -type d ! -perm -o+rx \) -o \( -type f ! -perm -o+r \))
	[ -z "$closed" ] || fail "another user cannot read: $closed"
	if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
		setpriv --reuid=65534 --regid=65534 --clear-groups \
			find "$1/www/ports/" -type f -exec cat {} + >/dev/null 2>"$work/err" ||
			fail "user 65534 cannot read the demo's site: $(cat "$work/err")"
	fi
}

# A directory holding anything else is refused untouched.
mkdir "$work/full"
echo mine >"$work/full/notes"
! demo "$work/full" || fail "the demo took a non-empty directory"
grep -q "is not empty" "$work/err" || fail "the refusal does not say why: $(cat "$work/err")"
[ "$(ls -A "$work/full")" = notes ] && [ "$(cat "$work/full/notes")" = mine ] ||
	fail "the refused directory was changed: $(ls -A "$work/full")"

# A new directory, then the same one again with more in it: the demo's
# pages are made again and nothing else is lost.
demo "$work/new" || fail "the demo into a new directory failed: $(cat "$work/err")"
expect_pages "$work/new"
echo mine >"$work/new/notes"
echo mine >"$work/new/ports/notes"
echo mine >"$work/new/www/notes"
echo mine >"$work/new/www/ports/notes"
rm "$work/new/ports/README.html"
demo "$work/new" || fail "the demo refused its own earlier output: $(cat "$work/err")"
expect_pages "$work/new"
[ "$(cat "$work/new/notes" "$work/new/ports/notes" "$work/new/www/notes" \
	"$work/new/www/ports/notes")" = "mine
mine
mine
mine" ] || fail "writing over an earlier demo lost other files"

# No argument: a new directory of its own below TMPDIR.
demo || fail "the demo without an argument failed: $(cat "$work/err")"
made=$(find "$work/tmp" -mindepth 1 -maxdepth 1)
[ "$(wc -l <<<"$made")" -eq 1 ] && [ -n "$made" ] ||
	fail "the demo without an argument made not one directory in TMPDIR but: $made"
expect_pages "$made"
