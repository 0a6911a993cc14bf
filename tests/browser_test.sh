#!/usr/bin/env bash
# The pages of a whole-tree run below an output root (with the maintainer
# pages), as a browser sees them: starting from the
# top-level README.html, every link is followed down to the category and
# port pages and back up; every target exists, every page reached has a
# title, and every page written (the README.html files and the pages of the
# vulnerable and expiring ports beside the top) is reached, the port
# statuses and vulnerabilities of the sample showing where its Makefiles and
# database put them. tidy then finds no error
# in any of them. Then the tree is served over HTTP below a URL path unlike
# its file-system path, as a mirror would publish it: every page reached
# from the top renders, and every link on it that stays on the server
# answers 200. Every page is valid HTML for tidy and the Nu checker. Then
# tests/node/page_check.js looks at each page at a phone's and a desktop's
# width, from disk and over HTTP: the descriptions, dependency lists and
# install commands of the port pages, and Lighthouse's accessibility score
# of the top, a category, a port page with banners and vulnerabilities,
# the page of vulnerable ports, a port page with UPDATING notes and a
# pkg-message, the page of a moved port, the index of the maintainers and
# a maintainer's page, and best practices and SEO of the first three. Every
# page links the site's stylesheet, and the top, category and port pages its
# script, both written beside the top as the templates directory has them;
# over HTTP both are fetched. No page view over HTTP asks
# for anything that the server does not have (such as a favicon).
# The npm packages come from .ci/install-deps.sh (QUILLMARK_NODE_DIR).
# Usage: browser_test.sh QUILLMARK_BIN SOURCE_DIR BUILD_DIR
set -euo pipefail
bin=$1
src=$2
. "$src/tests/pages_lib.sh"
need chromium node java tidy python3 -- puppeteer-core lighthouse vnu-jar

work=$(mktemp -d)
trap 'stop_server; rm -rf "$work"' EXIT
# The pages go below an output root, which also gets the maintainer pages.
cp -R "$src/sample/ports" "$work/tree"
top=$work/ports

UNAME_r=15.0-RELEASE "$bin" -q -p "$work/tree" -t "$src/Templates" -o "$top" 2>"$work/run.err" ||
	fail "whole-tree run exited with status $?: $(cat "$work/run.err")"
[ ! -s "$work/run.err" ] || fail "whole-tree run wrote to standard error: $(cat "$work/run.err")"

# Every origin that MOVED names and the tree no longer has gets the page
# that says where the port went; nothing links to those pages, so the walks
# start there too, and each leads up to the top.
moved_pages=()
declare -A is_moved=()
while IFS='|' read -r from _; do
	[[ -z $from || $from == '#'* ]] && continue
	from=${from%%@*}
	[ ! -e "$work/tree/$from" ] || continue
	[ -f "$top/$from/README.html" ] || fail "no page where $from was"
	moved_pages+=("$top/$from/README.html")
	is_moved[$top/$from/README.html]=1
done <"$work/tree/MOVED"
[ ${#moved_pages[@]} -eq 6 ] || fail "${#moved_pages[@]} pages of moved ports, not 6"
moved_rel=$(printf '%s\n' "${moved_pages[@]#"$top"/}" | paste -sd,)

# Writes the DOM of each page, as headless chromium renders it, to a file:
# arguments URL FILE [URL FILE]..., all rendered by one start of the browser
# (which is most of the time a page takes). What went wrong with a page is
# in FILE.err, and with the browser in $work/dump.log.
dump_pages() {
	local profile
	profile=$(mktemp -d "$work/profile.XXXXXX")
	timeout 120 python3 "$src/tests/browser_dump.py" "$profile" "$@" 2>>"$work/dump.log" || {
		local failed=$?
		tail -n 3 "$profile/chromium.log" >>"$work/dump.log" 2>/dev/null
		echo "the browser run exited with status $failed" >>"$work/dump.log"
	}
	rm -rf "$profile"
}

# What a page that rendered nothing leaves to say why.
why_not_rendered() {
	cat "$1.err" "$work/dump.log" 2>/dev/null | tail -n 5
}

mkdir "$work/dom"
# The dump of a page: its path below the top with "/" turned into "%".
dom_of() {
	local rel=${1#"$top"/}
	echo "$work/dom/${rel//\//%}"
}

declare -A seen=()
frontier=("$top/README.html" "${moved_pages[@]}")
seen[$top/README.html]=1
for page in "${moved_pages[@]}"; do seen[$page]=1; done
status=0
while [ ${#frontier[@]} -gt 0 ]; do
	dumps=()
	for page in "${frontier[@]}"; do
		dumps+=("file://$page" "$(dom_of "$page")")
	done
	dump_pages "${dumps[@]}"

	next=()
	for page in "${frontier[@]}"; do
		dom=$(dom_of "$page")
		if ! grep -qs '<html' "$dom"; then
			fail "chromium rendered nothing for $page: $(why_not_rendered "$dom")"
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
			elif [[ $target == *.html && -z ${seen[$target]:-} ]]; then
				seen[$target]=1
				next+=("$target")
			fi
		done

		# Every page below the top leads back up to its parent's page, and
		# the pages beside the top page lead to it.
		if [ "$page" != "$top/README.html" ]; then
			up=$(dirname "$dir")/README.html
			[[ $page == */README.html ]] || up=$dir/README.html
			[ -z "${is_moved[$page]:-}" ] || up=$top/README.html
			printf '%s\n' "${links[@]}" | grep -qxF "$up" || {
				echo "FAIL: $page has no link up to $up" >&2
				status=1
			}
		fi
	done
	frontier=("${next[@]}")
done

# Every page written is reached from the top.
# (tidy does not know the attribute that keeps a page from showing before
# its script has run.)
tidy_knows_not='proprietary attribute "blocking"'
written=0
scripts=0
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
	elif grep -v "$tidy_knows_not" "$work/tidy.out" >"$work/tidy.warn"; then
		echo "tidy warns about $page:" >&2
		cat "$work/tidy.warn" >&2
	fi

	# The site's stylesheet, and on the pages with a search, a filter or
	# copy buttons its script, beside the top page.
	sheets=$(grep -c '^<link rel="stylesheet" href="[^"]*">$' "$page" || true)
	stylesheet=$(sed -n 's/^<link rel="stylesheet" href="\([^"]*\)">$/\1/p' "$page")
	[ "$sheets" = 1 ] && [ "$(realpath -m "$(dirname "$page")/$stylesheet")" = "$top/site.css" ] || {
		echo "FAIL: $page links the stylesheet \"$stylesheet\" $sheets times, not site.css once" >&2
		status=1
	}
	script=$(sed -n 's/^<script src="\([^"]*\)"[^>]*><\/script>$/\1/p' "$page")
	if [ -n "$script" ]; then
		scripts=$((scripts + 1))
		[ "$(realpath -m "$(dirname "$page")/$script")" = "$top/site.js" ] || {
			echo "FAIL: $page loads the script $script, not site.js" >&2
			status=1
		}
	fi
done < <(find "$top" -name '*.html')
find "$top" -name '*.html' -exec java -jar "$node_dir/node_modules/vnu-jar/build/dist/vnu.jar" \
	--errors-only {} + >"$work/vnu.out" 2>&1 || {
	echo "FAIL: the Nu checker finds errors:" >&2
	cat "$work/vnu.out" >&2
	status=1
}
# The top, one page per category and one per INDEX line, the two pages of
# the ports at risk beside the top, the pages of moved ports, the index of
# the maintainers and one page per maintainer (addresses in any case are
# one).
categories=$(grep -c '^SUBDIR += ' "$work/tree/Makefile")
ports=$(grep -c . "$work/tree"/INDEX-15)
maintainers=$(cut -d'|' -f6 "$work/tree"/INDEX-15 | tr 'A-Z' 'a-z' | sort -u | wc -l)
[ $written -eq $((3 + categories + ports + ${#moved_pages[@]} + 1 + maintainers)) ] ||
	fail "the run wrote $written pages, not 3 + $categories + $ports + ${#moved_pages[@]} + 1 + $maintainers"
[ $scripts -eq $((1 + categories + ports)) ] ||
	fail "$scripts pages load the script, not 1 + $categories + $ports"
for file in site.css site.js; do
	cmp "$src/Templates/$file" "$top/$file" || fail "$top/$file is not the templates' $file"
done

# The sample's port statuses and vulnerabilities as the browser shows them:
# every kind of banner, a port page's vulnerabilities, and the two pages
# listing what the sample's Makefiles and database say.
expect_dom() { # FILE-BELOW-TOP COUNT PATTERN
	local got
	got=$({ grep -o "$3" "$(dom_of "$top/$1")" || true; } | wc -l)
	[ "$got" -eq "$2" ] || {
		echo "FAIL: $1 shows $got of \"$3\", not $2" >&2
		status=1
	}
}
expect_dom www/py-django42/README.html 1 'class="status forbidden"'
expect_dom www/py-django42/README.html 1 'class="status expiring"'
expect_dom www/py-django42/README.html 2 'CVE-2026-9990[23]'
expect_dom www/lynx/README.html 1 'class="status broken"'
expect_dom misc/py-tqdm/README.html 1 'class="status ignored"'
expect_dom misc/figlet/README.html 1 'class="status deprecated"'
expect_dom misc/mc/README.html 0 'class="status'
expect_dom textproc/libxml2/README.html 0 'class="vulnerabilities"'
expect_dom www/firefox/README.html 1 '<dt>License</dt>'
expect_dom devel/git/README.html 3 '<li><code>[a-z]*</code>'
expect_dom www/nginx/README.html 8 '<tr><td><code>'
expect_dom misc/mc/README.html 1 'scope="rowgroup"'
expect_dom textproc/jq/README.html 0 'class="options"'
expect_dom vulnerable.html 4 '<span class="origin">'
expect_dom expiring.html 3 '<span class="origin">'
# The vulnerable ports in the order of the date their newest entry was
# entered, which each entry shows first, its discovery after it where that
# differs (in the sample it always does).
expect_dom vulnerable.html 4 '(entered <time datetime="[0-9-]*">[0-9-]*</time>, discovered <time'
entered=$(grep -o '(entered <time datetime="[0-9-]*"' "$(dom_of "$top/vulnerable.html")" | cut -d'"' -f2)
[ "$entered" = "$(sort -r <<<"$entered")" ] && [ "$(wc -l <<<"$entered")" -eq 4 ] ||
	fail "the vulnerable ports are not in the order of their entries' dates: $(echo $entered)"
# Without feeds (no -u, no link) no page links one.
for page in README.html www/README.html maintainer/alice@example.com/README.html; do
	expect_dom "$page" 0 'feed\.atom'
done

[ ${#seen[@]} -eq $written ] || {
	echo "FAIL: ${#seen[@]} pages reached, $written written" >&2
	status=1
}

# Published through a link with the site's address, the run writes the
# feeds, and the top page, a category's and a maintainer's link their own:
# in the head for feed readers and in the page for visitors.
mkdir "$work/pub.first"
ln -s pub.first "$work/pub"
UNAME_r=15.0-RELEASE "$bin" -q -p "$work/tree" -t "$src/Templates" -o "$work/pub" \
	-u https://ports.example.org/ 2>"$work/pub.err" ||
	fail "publishing run exited with status $?: $(cat "$work/pub.err")"
feed_pages=(README.html www/README.html maintainer/alice@example.com/README.html)
dumps=()
for page in "${feed_pages[@]}"; do
	dumps+=("file://$work/pub/$page" "$work/pub-${page//\//%}")
done
dump_pages "${dumps[@]}"
for page in "${feed_pages[@]}"; do
	dom=$work/pub-${page//\//%}
	grep -qs '<html' "$dom" || fail "chromium rendered nothing for $work/pub/$page: $(why_not_rendered "$dom")"
	head=$(sed -n '/<head>/,/<\/head>/p' "$dom" | grep -c '<link rel="alternate" type="application/atom+xml" title="FreeBSD ports: changes[^"]*" href="feed.atom">' || true)
	shown=$(sed -n '/<main>/,/<\/main>/p' "$dom" | grep -c '<p class="feed"><a href="feed.atom" type="application/atom+xml">Changes to ' || true)
	[ "$head" = 1 ] && [ "$shown" = 1 ] ||
		fail "$page of a run with feeds links its feed $head times in its head and $shown in its main part, not once each"
	[ -s "$(dirname "$work/pub/$page")/feed.atom" ] || fail "$page links a feed.atom that is not there"
done

# Over HTTP: a copy of the generated tree is served as /mirror/ports/ by a
# server on a free port of the loopback address.
mkdir -p "$work/http/mirror"
cp -R "$top" "$work/http/mirror/ports"
# The server's robots.txt, which Lighthouse's SEO audits read.
printf 'User-agent: *\nAllow: /\n' >"$work/http/robots.txt"
serve "$work/http" "$work/http.log"
base=http://127.0.0.1:$port/mirror/ports

# Reads lines "page-URL dump-file" and prints "status page target" for every
# link of each page that stays on the server, resolved against the page's
# URL and requested once.
check_links() {
	python3 -c '
import html, re, sys, urllib.error, urllib.parse, urllib.request
answers = {}
for entry in sys.stdin.read().splitlines():
    page, dump = entry.split(" ", 1)
    text = open(dump, encoding="utf-8", errors="replace").read()
    for href in re.findall(r"href=\"([^\"]*)\"", text):
        href = html.unescape(href).split("#")[0]
        if href == "" or re.match(r"[a-zA-Z][a-zA-Z0-9+.-]*:", href):
            continue
        target = urllib.parse.urljoin(page, href)
        if target not in answers:
            try:
                with urllib.request.urlopen(target, timeout=10) as reply:
                    answers[target] = reply.status
            except urllib.error.HTTPError as error:
                answers[target] = error.code
            except OSError as error:
                answers[target] = "unreachable"
        print(answers[target], page, target)
'
}

mkdir "$work/http-dom"
declare -A served=()
frontier=("$base/README.html")
served[$base/README.html]=1
for page in "${moved_pages[@]}"; do
	frontier+=("$base/${page#"$top"/}")
	served[$base/${page#"$top"/}]=1
done
while [ ${#frontier[@]} -gt 0 ]; do
	dumps=()
	for url in "${frontier[@]}"; do
		rel=${url#"$base"/}
		dumps+=("$url" "$work/http-dom/${rel//\//%}")
	done
	dump_pages "${dumps[@]}"

	pages=()
	for url in "${frontier[@]}"; do
		rel=${url#"$base"/}
		dom=$work/http-dom/${rel//\//%}
		grep -qs '<html' "$dom" ||
			fail "chromium rendered nothing for $url: $(why_not_rendered "$dom")"
		grep -q '<title>[^<]*[^<[:space:]]' "$dom" || {
			echo "FAIL: $url has no title" >&2
			status=1
		}
		pages+=("$url $dom")
	done
	next=()
	while read -r answer page target; do
		if [ "$answer" != 200 ]; then
			echo "FAIL: $page links to $target, which answers $answer" >&2
			status=1
		elif [[ $target == *.html && -z ${served[$target]:-} ]]; then
			served[$target]=1
			next+=("$target")
		fi
	done < <(printf '%s\n' "${pages[@]}" | check_links)
	frontier=("${next[@]}")
done
[ ${#served[@]} -eq $written ] || {
	echo "FAIL: ${#served[@]} pages reached over HTTP, $written written" >&2
	status=1
}

# Each page as a visitor looks at it, from disk and over HTTP.
# Of the maintainer pages, all alike, the index and one page suffice here.
pages=()
for page in "${!seen[@]}"; do
	rel=${page#"$top"/}
	case $rel in
	maintainer/README.html | maintainer/alice@example.com/README.html) ;;
	maintainer/*) continue ;;
	esac
	pages+=("$rel")
done
mkdir "$work/profile"
CHROME_PATH=$(command -v chromium) NODE_PATH="$node_dir/node_modules" \
	MOVED_PAGES=$moved_rel timeout 600 \
	node "$src/tests/node/page_check.js" "$work/profile" "file://$top" "$base" \
	README.html,www/README.html,www/py-django42/README.html,vulnerable.html,www/nginx/README.html,devel/make-gnu/README.html,maintainer/README.html,maintainer/alice@example.com/README.html \
	"${pages[@]}" || status=1

# Every request of those page views found what it asked for, the
# stylesheet and the script among them.
if grep -E '" [0-9]{3} ' "$work/http.log" | grep -vE '" (200|304) '; then
	echo "FAIL: requests above answered with an error" >&2
	status=1
fi
for file in site.css site.js; do
	grep -qE "\"GET /mirror/ports/$file HTTP/[0-9.]+\" 200 " "$work/http.log" || {
		echo "FAIL: no page view over HTTP fetched $file" >&2
		status=1
	}
done
exit $status
