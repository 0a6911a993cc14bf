#!/usr/bin/env bash
# The search of the top-level page and the filter of the category pages, as
# a visitor uses them in headless chromium (tests/node/search_check.js, over
# the DevTools protocol with puppeteer-core): on the sample tree with ports
# added to misc whose names, origins and comments rank differently for one
# query, whose comments hold quotes, a backslash, markup, U+2028 and
# ISO-8859-1, whose names and comments split into words at separators, and
# 55 more to overflow the fifty results shown. The pages are checked for
# contrast with axe-core in both colour schemes. The pages are
# opened from disk and served over HTTP from 127.0.0.1. The pages with the
# search are valid HTML (tidy and the Nu checker), and a run with templates
# without %%SEARCH_INDEX%% writes no ports-index.js.
# The npm packages come from .ci/install-deps.sh (QUILLMARK_NODE_DIR).
# Usage: search_test.sh QUILLMARK_BIN SOURCE_DIR BUILD_DIR
set -euo pipefail
bin=$1
src=$2
. "$src/tests/pages_lib.sh"
need chromium node java tidy python3 -- puppeteer-core vnu-jar

work=$(mktemp -d)
trap 'stop_server; rm -rf "$work"' EXIT
cp -R "$src/sample/ports" "$work/ports"
top=$work/ports

# add_port DIR NAME-VERSION COMMENT [DESCRIPTION]: a port of misc, at the
# end of its Makefile and of its INDEX lines.
add_port() {
	mkdir "$top/misc/$1"
	printf '%s\n' "${4:-About $2.}" >"$top/misc/$1/pkg-descr"
	echo "    SUBDIR += $1" >>"$work/misc.subdirs"
	printf '%s|/usr/ports/misc/%s|/usr/local|%s|/usr/ports/misc/%s/pkg-descr|x@example.org|misc|||https://example.org/|||\n' \
		"$2" "$1" "$3" "$1" >>"$work/misc.index"
}
: >"$work/misc.index"
: >"$work/misc.subdirs"
add_port quirk quirk-1.0 "$(printf 'Says "hi" \\ </script> <!-- ok -->\342\200\250end')" \
	"$(printf 'About quirk: "hi" \\ </script>scriptword <!-- \342\200\250lineword\n\nWWW: https://example.org/wwwword/')"
add_port quirks-kit quirks-kit-2.0 "Kit of odd things"
add_port py-quirky py311-quirky-0.3 "Odd things for Python"
add_port quirk-tools qk-1.1 "Tools for odd cases"
add_port aa-beta beta-1.0 "$(printf 'Quirk list for caf\351s')"
add_port zz-alpha alpha-1.0 "Database of every quirk"
# Words across separators and in another order, and a near miss.
add_port p5-HTML-Parser p5-HTML-Parser-3.83 "Modules that parse HTML documents"
add_port waypath waypath-2.1 "Offline route-finder for maps"
add_port postfix postfix-3.9.0 "Secure alternative to widely-used mail transfer agent"
# Words of descriptions only: one named in a description, one of a
# description in ISO-8859-1.
add_port pkgconf pkgconf-2.3.0 "Utility to help to configure compiler and linker flags" \
	"$(printf 'pkgconf is a program which helps to configure compiler and linker\nflags for development frameworks. It is compatible with pkg-config.')"
add_port patissier patissier-1.0 "Recipes" "$(printf 'Recettes de p\342tisserie fran\347aise.')"
# Words enough for two word files: vocabaaa to vocabcfr, and one of the
# second file alone.
add_port lexicon lexicon-1.0 "Word list" "$(python3 -c '
import string, textwrap
l = string.ascii_lowercase
print(textwrap.fill(" ".join("vocab" + l[i // 676] + l[i // 26 % 26] + l[i % 26] for i in range(1500)), 72))')"
add_port glossary glossary-1.0 "Terms" "Vocabzzz."
for i in $(seq -w 0 54); do
	add_port "bulk$i" "bulk$i-1.$i" "Filler port number $i"
done
{
	grep -v '^\.include' "$top/misc/Makefile"
	cat "$work/misc.subdirs"
	echo '.include <bsd.port.subdir.mk>'
} >"$work/Makefile" && mv "$work/Makefile" "$top/misc/Makefile"
# The new lines go after the last line of misc.
last_misc=$(grep -n '|misc|' "$top/INDEX-15" | tail -1 | cut -d: -f1)
sed -i "${last_misc}r $work/misc.index" "$top/INDEX-15"

UNAME_r=15.0-RELEASE "$bin" -q -p "$top" -t "$src/Templates" 2>"$work/run.err" ||
	fail "whole-tree run exited with status $?: $(cat "$work/run.err")"
[ ! -s "$work/run.err" ] || fail "whole-tree run wrote to standard error: $(cat "$work/run.err")"
[ -f "$top/ports-index.js" ] || fail "no ports-index.js beside the top-level README.html"
[ -f "$top/ports-words.js" ] || fail "no ports-words.js beside the top-level README.html"

# The word files: UTF-8 JavaScript that only adds its words, whatever the
# descriptions hold; the trailing WWW: line is not read.
for f in "$top"/ports-words*.js; do
	iconv -f UTF-8 -t UTF-8 "$f" >/dev/null || fail "$f is not UTF-8"
	! grep -q '</' "$f" || fail "$f holds </"
done
node -e '
const fs = require("fs"), vm = require("vm"), dir = process.argv[1];
const box = {window: {}};
vm.runInNewContext(fs.readFileSync(dir + "/ports-words.js", "utf8"), box);
const starts = box.window.quillmarkWords.starts.split(" ");
starts.forEach((_, n) =>
	vm.runInNewContext(fs.readFileSync(dir + "/ports-words-" + n + ".js", "utf8"), box));
const all = box.window.quillmarkWordFiles.map((f) => f[1]).join("");
for (const w of ["scriptword", "lineword", "p\u00e2tisserie", "fran\u00e7aise", "config"])
	if (!all.includes(w)) { console.log("word missing: " + w); process.exit(1); }
if (all.includes("wwwword")) { console.log("a word of the WWW: line"); process.exit(1); }
if (box.window.quillmarkWordFiles.length !== starts.length) { console.log("files and starts differ"); process.exit(1); }
' "$top" || fail "the word files do not hold the words of the descriptions"

# The shipped templates without the placeholder: no file, and the same pages
# but for the script's URL.
cp -R "$top" "$work/saved"
mkdir "$work/plain"
cp "$src/Templates/"* "$work/plain/"
sed -i 's/%%SEARCH_INDEX%%/ports-index.js/' "$work/plain/README.top"
rm "$top/ports-index.js"
UNAME_r=15.0-RELEASE "$bin" -q -p "$top" -t "$work/plain" ||
	fail "run without %%SEARCH_INDEX%% exited with status $?"
[ ! -e "$top/ports-index.js" ] || fail "ports-index.js written without %%SEARCH_INDEX%%"
diff -r -x ports-index.js "$work/saved" "$top" >&2 ||
	fail "the pages differ with and without %%SEARCH_INDEX%%"
UNAME_r=15.0-RELEASE "$bin" -q -p "$top" -t "$src/Templates" ||
	fail "second whole-tree run exited with status $?"
cmp "$work/saved/ports-index.js" "$top/ports-index.js" ||
	fail "ports-index.js differs from one run to the next"
rm -rf "$work/saved"

# Valid HTML (misc holds bytes that are not UTF-8, which its page shows as
# they are).
for page in "$top/README.html" "$top/www/README.html"; do
	tidy_status=0
	tidy -errors -q "$page" >"$work/tidy.out" 2>&1 || tidy_status=$?
	[ $tidy_status -lt 2 ] || fail "tidy finds errors in $page: $(cat "$work/tidy.out")"
done
java -jar "$node_dir/node_modules/vnu-jar/build/dist/vnu.jar" --errors-only \
	"$top/README.html" "$top/www/README.html" >"$work/vnu.out" 2>&1 ||
	fail "the Nu checker finds errors: $(cat "$work/vnu.out")"

serve "$work" "$work/http.log"

mkdir "$work/profile"
NODE_PATH="$node_dir/node_modules" timeout 120 node "$src/tests/node/search_check.js" \
	"$work/profile" "file://$top" "http://127.0.0.1:$port/ports"
