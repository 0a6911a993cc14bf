#!/usr/bin/env bash
# Benchmark of the search of the top-level page on the 35,000-port tree.
#
# Builds a Release quillmark and the tree generator in build-bench (as
# bench/run.sh does, sharing its tree at 1x), makes the pages with the
# shipped templates, and reports:
#   - the size of ports-index.js, raw and gzipped, and per port;
#   - time and peak resident memory of whole-tree runs that change nothing,
#     with the shipped templates and with the same templates without
#     %%SEARCH_INDEX%% and %%SEARCH_WORDS%% (the search box then loads no
#     file), beside the INDEX size;
#   - in headless chromium, opened from disk and served over HTTP from
#     127.0.0.1: the time from the first focus of the box, which starts
#     loading the index, with a key typed at once, to the first results, and
#     the time of each later keystroke (bench/search.js), both up to the
#     results laid out and up to the next frame; medians.
#   - the word index of the descriptions (%%SEARCH_WORDS%%), on a copy of
#     the tree whose descriptions hold words of a real vocabulary
#     (bench/words_corpus.py): its size per port, the file that the median
#     word of the index needs and the largest, the peak memory of a run
#     beside INDEX + 16 MiB + the index files, and in chromium from disk
#     the time from the last keystroke of a word of descriptions to its
#     final results.
#
# Settings, from the environment:
#   BENCH_DIR           scratch directory (default /tmp/quillmark-bench)
#   BENCH_SEED          generator seed (default 1)
#   BENCH_SEARCH_ROUNDS page loads per query (default 5)
#   QUILLMARK_NODE_DIR  the npm packages of .ci/install-deps.sh
#                       (default ~/.cache/quillmark-node)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build="$repo/build-bench"
scratch=${BENCH_DIR:-/tmp/quillmark-bench}
seed=${BENCH_SEED:-1}
rounds=${BENCH_SEARCH_ROUNDS:-5}
. "$repo/tests/pages_lib.sh"
# Queries typed a key at a time: a common prefix, a word of comments, a
# category, a name with a digit, two words.
queries=(python gtk www/ mysql8 "python library")

need chromium node python3 -- puppeteer-core

echo "== build (Release) in $build"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release \
	-DQUILLMARK_BENCH=ON -DQUILLMARK_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target quillmark gen_tree >/dev/null
qm="$build/quillmark"
gen="$build/bench/gen_tree"

mkdir -p "$scratch"
tree="$scratch/tree-1x"
stamp="$tree/.generated"
want="gen_tree $(cksum <"$gen" | cut -d' ' -f1) --scale 1 --seed $seed"
if [ -f "$stamp" ] && [ "$(head -1 "$stamp")" = "$want" ]; then
	gen_line=$(sed -n 2p "$stamp")
else
	rm -rf "$tree"
	gen_line=$("$gen" "$tree" --scale 1 --seed "$seed")
	printf '%s\n%s\n' "$want" "$gen_line" >"$stamp"
fi
echo "tree:        $gen_line"
ports=$(grep -c . "$tree/INDEX-15")
index_bytes=$(stat -c %s "$tree/INDEX-15")

plain="$scratch/templates-search-plain"
rm -rf "$plain"
mkdir -p "$plain"
cp "$repo/Templates/README."* "$plain/"
sed -i 's/%%SEARCH_INDEX%%/ports-index.js/; s/%%SEARCH_WORDS%%/ports-words.js/' "$plain/README.top"

median() { sort -n | awk '{a[NR]=$1} END {if (NR) print (NR % 2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

# run TEMPLATES: one whole-tree run; prints "SECONDS KILOBYTES".
run() {
	sync
	/usr/bin/time -f '%e %M' -o "$scratch/time.out" \
		env UNAME_r=15.0-RELEASE "$qm" -q -p "$tree" -t "$1"
	cat "$scratch/time.out"
}

echo "== whole-tree runs"
run "$repo/Templates" >/dev/null # every page as these templates make it
: >"$scratch/search.runs"
: >"$scratch/plain.runs"
for _ in 1 2 3; do
	run "$repo/Templates" >>"$scratch/search.runs"
	run "$plain" >>"$scratch/plain.runs"
done
run "$repo/Templates" >/dev/null
index_js=$(stat -c %s "$tree/ports-index.js")
gzip9=$(gzip -9c "$tree/ports-index.js" | wc -c)
gzip6=$(gzip -6c "$tree/ports-index.js" | wc -c)

echo "== chromium"
work=$(mktemp -d)
trap 'stop_server; rm -rf "$work"' EXIT
serve "$tree" "$work/http.log"
for where in file http; do
	url="file://$tree/README.html"
	[ $where = file ] || url="http://127.0.0.1:$port/README.html"
	mkdir "$work/profile-$where"
	NODE_PATH="$node_dir/node_modules" node "$repo/bench/search.js" \
		"$work/profile-$where" "$url" "$rounds" "${queries[@]}" >"$work/$where.times"
done

echo
echo "== results ($ports ports, INDEX $index_bytes bytes)"
printf 'ports-index.js:  %d bytes raw (%.1f per port), %d gzip -9, %d gzip -6\n' \
	"$index_js" "$(awk -v a="$index_js" -v b="$ports" 'BEGIN {print a / b}')" "$gzip9" "$gzip6"
printf 'whole-tree run, nothing changed, median of 3: %s s with the search, %s s without\n' \
	"$(cut -d' ' -f1 "$scratch/search.runs" | median)" "$(cut -d' ' -f1 "$scratch/plain.runs" | median)"
search_kb=$(cut -d' ' -f2 "$scratch/search.runs" | sort -n | tail -1)
plain_kb=$(cut -d' ' -f2 "$scratch/plain.runs" | sort -n | tail -1)
printf 'peak resident memory: %d KiB with the search, %d KiB without; INDEX + 16 MiB + index: %d KiB\n' \
	"$search_kb" "$plain_kb" $(((index_bytes + 16 * 1048576 + index_js) / 1024))
for where in file http; do
	for kind in first next; do
		f="$work/$where.times"
		n=$(grep -c "^$kind " "$f" || true)
		printf '%-5s %-5s keystroke, median of %3d: %6.1f ms laid out, %6.1f ms to the next frame\n' \
			"$where" "$kind" "$n" \
			"$(grep "^$kind " "$f" | cut -d' ' -f2 | median)" \
			"$(grep "^$kind " "$f" | cut -d' ' -f3 | median)"
	done
done

echo
echo "== the word index, descriptions of a real vocabulary"
words_tree="$scratch/tree-words"
want_words="$want words $(cksum <"$repo/bench/words_corpus.py" | cut -d' ' -f1)"
if [ -f "$words_tree/.generated" ] && [ "$(head -1 "$words_tree/.generated")" = "$want_words" ]; then
	word_queries=$(sed -n 2p "$words_tree/.generated")
else
	rm -rf "$words_tree"
	# Hard links for what the run only reads; the pages are its own.
	cp -al "$tree" "$words_tree"
	find "$words_tree" \( -name README.html -o -name 'ports-*.js' \) -delete
	word_queries=$(python3 "$repo/bench/words_corpus.py" "$words_tree" "$words_tree/INDEX-15" "$seed")
	printf '%s\n%s\n' "$want_words" "$word_queries" >"$words_tree/.generated"
fi
run_words() {
	sync
	/usr/bin/time -f '%e %M' -o "$scratch/time.out" \
		env UNAME_r=15.0-RELEASE "$qm" -q -p "$words_tree" -t "$repo/Templates"
	cat "$scratch/time.out"
}
# Files of an index of another build do not count.
rm -f "$words_tree"/ports-words*.js
run_words >/dev/null
: >"$scratch/words.runs"
for _ in 1 2 3; do
	run_words >>"$scratch/words.runs"
done
word_bytes=$(cat "$words_tree"/ports-words*.js | wc -c)
index_files=$(stat -c %s "$words_tree/ports-index.js")
read -r word_files median_file largest_file < <(node -e '
const fs = require("fs"), vm = require("vm"), dir = process.argv[1];
const box = {window: {}};
vm.runInNewContext(fs.readFileSync(dir + "/ports-words.js", "utf8"), box);
const sizes = [];
let largest = 0;
const starts = box.window.quillmarkWords.starts.split(" ");
for (let n = 0; n < starts.length; n++) {
	const name = dir + "/ports-words-" + n + ".js";
	const size = fs.statSync(name).size;
	largest = Math.max(largest, size);
	box.window.quillmarkWordFiles = [];
	vm.runInNewContext(fs.readFileSync(name, "utf8"), box);
	const words = box.window.quillmarkWordFiles[0][1].match(/[a-z0-9\u0080-\uffff]+/g) || [];
	words.forEach(() => sizes.push(size));
}
sizes.sort((a, b) => a - b);
console.log(starts.length, sizes[Math.floor(sizes.length / 2)] || 0, largest);
' "$words_tree")
mkdir "$work/profile-words"
# Words of descriptions of falling frequency typed alone, then one after a
# name.
NODE_PATH="$node_dir/node_modules" node "$repo/bench/search.js" \
	"$work/profile-words" "file://$words_tree/README.html" "$rounds" \
	$word_queries "python $(echo "$word_queries" | cut -d' ' -f2)" >"$work/words.times"
words_kb=$(cut -d' ' -f2 "$scratch/words.runs" | sort -n | tail -1)
printf 'word index:      %d bytes in %d files (%.1f per port); the median word'"'"'s file %d bytes, the largest %d\n' \
	"$word_bytes" "$((word_files + 1))" "$(awk -v a="$word_bytes" -v b="$ports" 'BEGIN {print a / b}')" \
	"$median_file" "$largest_file"
printf 'whole-tree run with the word index, nothing changed, median of 3: %s s; peak %d KiB; INDEX + 16 MiB + index files: %d KiB\n' \
	"$(cut -d' ' -f1 "$scratch/words.runs" | median)" "$words_kb" \
	$(((index_bytes + 16 * 1048576 + index_files + word_bytes) / 1024))
printf 'file  last keystroke of a word of descriptions to its final results, median of %d: %.1f ms (queries: %s)\n' \
	"$(grep -c '^final ' "$work/words.times")" "$(grep '^final ' "$work/words.times" | cut -d' ' -f2 | median)" "$word_queries"
