#!/usr/bin/env bash
# The pages of a whole-tree run, as a browser sees them: starting from the
# top-level README.html, every link is followed down to the category and
# port pages and back up; every target exists, every page reached has a
# title, and every README.html written is reached. tidy then finds no error
# in any of them.
# Usage: browser_test.sh QUILLMARK_BIN SOURCE_DIR BUILD_DIR
set -euo pipefail
bin=$1
src=$2

fail() {
	echo "FAIL: $*" >&2
	exit 1
}

command -v chromium >/dev/null || fail "chromium is not installed (run .ci/install-deps.sh)"
command -v tidy >/dev/null || fail "tidy is not installed (run .ci/install-deps.sh)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$src/sample/ports" "$work/ports"
top=$work/ports

UNAME_r=15.0-RELEASE "$bin" -q -p "$top" -t "$src/Templates" 2>"$work/run.err" ||
	fail "whole-tree run exited with status $?: $(cat "$work/run.err")"
[ ! -s "$work/run.err" ] || fail "whole-tree run wrote to standard error: $(cat "$work/run.err")"

# Writes the DOM of the page at path $1, as headless chromium renders it, to
# $2. Each call has a profile of its own, so that calls can run side by side.
dump_page() {
	local profile
	profile=$(mktemp -d "$work/profile.XXXXXX")
	timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic \
		--no-first-run --disable-background-networking \
		--disable-component-update --disable-sync \
		--user-data-dir="$profile" --dump-dom "file://$1" >"$2" 2>"$2.err" ||
		echo "chromium exited with status $?" >>"$2.err"
	rm -rf "$profile"
}
export -f dump_page
export work

mkdir "$work/dom"
# The dump of a page: its path below the top with "/" turned into "%".
dom_of() {
	local rel=${1#"$top"/}
	echo "$work/dom/${rel//\//%}"
}

# A page takes chromium a second or two, mostly at start-up: the pages of
# one level of the tree are rendered side by side.
jobs=$(($(nproc) + 1))
declare -A seen=()
frontier=("$top/README.html")
seen[$top/README.html]=1
status=0
while [ ${#frontier[@]} -gt 0 ]; do
	for page in "${frontier[@]}"; do
		printf '%s\0%s\0' "$page" "$(dom_of "$page")"
	done | xargs -0 -n 2 -P "$jobs" bash -c 'dump_page "$1" "$2"' _ || true

	next=()
	for page in "${frontier[@]}"; do
		dom=$(dom_of "$page")
		if ! grep -q '<html' "$dom"; then
			fail "chromium rendered nothing for $page: $(tail -n 5 "$dom.err")"
		fi
		title=$(tr '\n' ' ' <"$dom" | sed -n 's:.*<title>\([^<]*\)</title>.*:\1:p')
		if [ -z "${title//[[:space:]]/}" ]; then
			echo "FAIL: $page has no title" >&2
			status=1
		fi

		dir=$(dirname "$page")
		links=()
		while IFS= read -r href; do
			href=${href//&amp;/&}
			case $href in
			'' | '#'*) continue ;;
			file://*) href=${href#file://} ;;
			[a-zA-Z]*:*) continue ;; # web and mail addresses
			esac
			href=${href%%#*}
			case $href in
			/*) target=$href ;;
			*) target=$dir/$href ;;
			esac
			links+=("$(realpath -m "$target")")
		done < <(grep -o 'href="[^"]*"' "$dom" | sed 's/^href="//; s/"$//')

		for target in "${links[@]}"; do
			if [ ! -e "$target" ]; then
				echo "FAIL: $page links to $target, which does not exist" >&2
				status=1
			elif [[ $target == */README.html && -z ${seen[$target]:-} ]]; then
				seen[$target]=1
				next+=("$target")
			fi
		done

		# Every page below the top leads back up to its parent's page.
		if [ "$page" != "$top/README.html" ]; then
			up=$(dirname "$dir")/README.html
			printf '%s\n' "${links[@]}" | grep -qxF "$up" || {
				echo "FAIL: $page has no link up to $up" >&2
				status=1
			}
		fi
	done
	frontier=("${next[@]}")
done

# Every page written is reached from the top.
written=0
while IFS= read -r page; do
	written=$((written + 1))
	[ -n "${seen[$page]:-}" ] || {
		echo "FAIL: $page is not reached by any link from the top" >&2
		status=1
	}
	tidy_status=0
	tidy -errors -q "$page" >"$work/tidy.out" 2>&1 || tidy_status=$?
	if [ $tidy_status -ge 2 ]; then
		echo "FAIL: tidy finds errors in $page:" >&2
		cat "$work/tidy.out" >&2
		status=1
	elif [ -s "$work/tidy.out" ]; then
		echo "tidy warns about $page:" >&2
		cat "$work/tidy.out" >&2
	fi
done < <(find "$top" -name README.html)
# The top, one page per category and one per INDEX line.
categories=$(grep -c '^SUBDIR += ' "$top/Makefile")
ports=$(grep -c . "$top"/INDEX-15)
[ $written -eq $((1 + categories + ports)) ] ||
	fail "the run wrote $written README.html files, not 1 + $categories + $ports"
[ ${#seen[@]} -eq $written ] || {
	echo "FAIL: ${#seen[@]} pages reached, $written written" >&2
	status=1
}
exit $status
