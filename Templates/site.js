// The script of the site's pages: the search of the top page, the filter of
// a category page and the copy buttons of a port page. Each part starts only
// on a page that has its elements; the pages show everything they hold
// without it, and the search and the filter stay hidden until it runs.
(function () {
"use strict";

// The list of a top or category page, one line per entry ("NAME: COMMENT"),
// becomes a list of entries, each with its link and the rest of its line.
function wrapList(div) {
	var walk = document.createTreeWalker(div, NodeFilter.SHOW_ELEMENT | NodeFilter.SHOW_TEXT);
	var items = [], item = null, node;
	while ((node = walk.nextNode())) {
		if (node.nodeName === "A" && node.hasAttribute("href")) {
			item = {a: node, rest: ""};
			items.push(item);
		} else if (node.nodeType === 3 && item && !item.a.contains(node)) {
			item.rest += node.data;
		}
	}
	var ul = document.createElement("ul");
	items.forEach(function (it) {
		it.li = document.createElement("li");
		it.name = it.a.textContent;
		it.rest = it.rest.replace(/\s+$/, "");
		it.n = it.name.toLowerCase();
		it.r = it.rest.toLowerCase();
		it.li.append(it.a, it.rest);
		ul.appendChild(it.li);
	});
	div.textContent = "";
	div.appendChild(ul);
	return items;
}

function query() {
	return new URLSearchParams(location.search).get("q") || "";
}

// The query of input, answered by run, with the keys that move through
// links() (the entries shown in list) and the address that keeps it: a new
// query is a new history entry, typing on changes it in place. Changing the
// address costs some milliseconds, so it waits for a pause in the typing,
// or for a result to be chosen. Returns the function that keeps the address
// up to date at once.
function follow(input, list, links, run) {
	var pending = null, timer = 0;
	function flush() {
		clearTimeout(timer);
		if (pending === null) return;
		var q = pending;
		pending = null;
		var url = new URL(location.href);
		if (q) url.searchParams.set("q", q); else url.searchParams.delete("q");
		if (url.href === location.href) return;
		try {
			history[q && !query() ? "pushState" : "replaceState"](null, "", url.href);
		} catch {
			// Some browsers refuse to change the address of a file.
		}
	}
	function keep(q) {
		clearTimeout(timer);
		timer = setTimeout(flush, 400);
		pending = q;
	}

	function clear() {
		input.value = "";
		run();
		keep("");
		input.focus();
	}

	input.addEventListener("input", function () { run(); keep(input.value.trim()); });
	input.addEventListener("keydown", function (e) {
		var all = links();
		if (e.key === "ArrowDown" && all.length) {
			e.preventDefault();
			all[0].focus();
		} else if (e.key === "Enter" && all.length) {
			e.preventDefault();
			flush();
			location.href = all[0].href;
		} else if (e.key === "Escape") {
			e.preventDefault();
			clear();
		}
	});
	list.addEventListener("keydown", function (e) {
		var all = links(), at = all.indexOf(document.activeElement);
		if (at < 0) return;
		if (e.key === "ArrowDown") {
			e.preventDefault();
			if (at + 1 < all.length) all[at + 1].focus();
		} else if (e.key === "ArrowUp") {
			e.preventDefault();
			(at > 0 ? all[at - 1] : input).focus();
		} else if (e.key === "Escape") {
			e.preventDefault();
			clear();
		} else if (e.key.length === 1 && !e.ctrlKey && !e.metaKey && !e.altKey) {
			input.focus(); // the key is typed into the box
		}
	});
	list.addEventListener("click", flush, true);
	list.addEventListener("keydown", flush, true);
	window.addEventListener("pagehide", flush);
	window.addEventListener("popstate", function () {
		clearTimeout(timer);
		pending = null;
		input.value = query();
		run();
	});
}

// Shows box and answers the query that the address brings.
function start(box, input, run) {
	box.hidden = false;
	if (query()) {
		input.value = query();
		run();
	}
}

// The search of the top page over every port: their names, origins and
// comments from the index file that the box's data-index names, loaded on
// the first focus or query, and the words of their descriptions from the
// files that data-words names, loaded as queries need them.
function topSearch(box) {
	var shown = 50;
	var input = document.getElementById("q");
	var status = document.getElementById("status");
	var results = document.getElementById("results");
	var ports = null, loading = false;
	var last = null, lastQuery = "", lastKind = "", shownQuery = "";
	var words = null, wordFiles = {}, described = {};

	// Every place where one of terms (the longest first) stands in text.
	function marked(parent, tag, cls, text, lower, terms) {
		var el = document.createElement(tag);
		if (cls) el.className = cls;
		if (lower.length !== text.length) terms = [];
		var from = 0, i = 0;
		while (i < text.length && terms.length) {
			var length = 0;
			for (var k = 0; k < terms.length && !length; k++)
				if (lower.startsWith(terms[k], i)) length = terms[k].length;
			if (!length) { i++; continue; }
			var m = document.createElement("mark");
			m.textContent = text.substr(i, length);
			el.append(text.slice(from, i), m);
			i += length;
			from = i;
		}
		el.append(text.slice(from));
		parent.appendChild(el);
	}

	// Words are split at blanks and at the separators of names and origins.
	var separators = /[\s\-_./]+/;
	function wordsOf(text) {
		return text.split(separators).filter(function (w) { return w; });
	}

	function parse() {
		var data = window.quillmarkPorts, list = data && data.ports || [];
		var category = "", maintainer = "";
		ports = [];
		for (var i = 0; i < list.length; i++) {
			var f = list[i].split("|");
			if (f.length < 7) continue;
			if (f[2]) category = f[2];
			if (f[4]) maintainer = f[4];
			var origin = category + "/" + (f[3] || f[0]);
			var comment = f.slice(6).join("|");
			var n = f[0].toLowerCase(), o = origin.toLowerCase(), c = comment.toLowerCase();
			ports.push({id: i, name: f[0], version: f[1], origin: origin, comment: comment,
				maintainer: maintainer, m: maintainer.toLowerCase(), need: +f[5] || 0,
				n: n, o: o, c: c, all: n + "\n" + o + "\n" + c,
				words: " " + wordsOf(c).join(" "), nameWords: wordsOf(n)});
		}
		// Within a rank, the ports that more others need, then shorter names.
		ports.sort(function (a, b) {
			return b.need - a.need || a.n.length - b.n.length ||
				(a.n < b.n ? -1 : a.n > b.n ? 1 : a.name < b.name ? -1 : a.name > b.name ? 1 : 0);
		});
		window.quillmarkPorts = undefined;
	}

	function addScript(src, done, failed) {
		var script = document.createElement("script");
		script.src = src;
		script.onload = done;
		script.onerror = failed;
		document.head.appendChild(script);
	}

	// Once more data is here, the query is searched again from the start.
	function again() {
		last = null;
		shownQuery = null;
		search();
	}

	function load() {
		if (loading) return;
		loading = true;
		addScript(input.dataset.index, function () { parse(); search(); },
			function () { status.textContent = "The search index could not be loaded."; });
		if (input.dataset.words) {
			addScript(input.dataset.words, function () {
				var data = window.quillmarkWords;
				if (data && data.version === 1) {
					words = {base: input.dataset.words.replace(/\.js$/, "-"),
						starts: data.starts ? data.starts.split(" ") : []};
					if (ports) again();
				}
			}, function () {});
		}
	}

	// The words of descriptions are letters and digits, lowercased, of three
	// characters or more; a query word is split the same way.
	var nonWord = /[^a-z0-9\u00c0-\u00d6\u00d8-\u00f6\u00f8-\u1fff\u2070-\u2fff\u3040-\ufdff]+/;
	function descriptionWords(word) {
		return word.split(nonWord).filter(function (w) { return Array.from(w).length >= 3; });
	}

	// The numbers of the word files where the words that begin with part
	// stand: the words are in order, and each file's first is listed.
	function filesOf(part) {
		var first = 0, found = [];
		while (first + 1 < words.starts.length && words.starts[first + 1] <= part) first++;
		for (var i = first; i < words.starts.length; i++) {
			if (i > first && !words.starts[i].startsWith(part)) break;
			found.push(i);
		}
		return found;
	}

	// A word file's words with where the numbers of their ports begin and
	// end: words are lowercase letters, digits and characters from U+0080 on,
	// numbers the other characters.
	function wordCode(c) {
		return (c >= 0x61 && c <= 0x7a) || (c >= 0x30 && c <= 0x39) || c >= 0x80;
	}
	function readWordFile(text) {
		var list = [], i = 0;
		while (i < text.length) {
			var from = i;
			while (i < text.length && wordCode(text.charCodeAt(i))) i++;
			var word = text.slice(from, i);
			from = i;
			while (i < text.length && !wordCode(text.charCodeAt(i))) i++;
			list.push({word: word, from: from, to: i});
		}
		return list;
	}

	var moreDigits = "()*+,-./:;=>?@[]^_`{|}~", lastDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZ!#$%&'";
	// Marks in held the ports whose numbers text holds from from to to.
	function markPorts(text, from, to, held) {
		var n = 0, port = -1;
		for (var i = from; i < to; i++) {
			var d = moreDigits.indexOf(text[i]);
			if (d >= 0) { n = n * 23 + d; continue; }
			port += n * 32 + lastDigits.indexOf(text[i]) + 1;
			n = 0;
			if (port < held.length) held[port] = 1;
		}
	}

	// The ports whose description holds a word that begins with each part of
	// word, as an array of flags by port number; null when word has no such
	// parts, or when the files it needs are still loading (their loading is
	// started, and waiting set).
	var waiting = false;
	function describedBy(word) {
		if (described[word]) return described[word];
		if (!descriptionWords(word).length) return null;
		if (!words) {
			waiting = waiting || !!input.dataset.words;
			return null;
		}
		var parts = descriptionWords(word), all = null, ready = true;
		for (var k = 0; k < parts.length; k++) {
			var part = parts[k], held = new Uint8Array(ports.length);
			filesOf(part).forEach(function (number) {
				var file = wordFiles[number];
				if (!file) {
					file = wordFiles[number] = {list: null};
					addScript(words.base + number + ".js", function () {
						var queue = window.quillmarkWordFiles || [];
						window.quillmarkWordFiles = [];
						queue.forEach(function (loaded) {
							var to = wordFiles[loaded[0]];
							if (to) { to.text = loaded[1]; to.list = readWordFile(loaded[1]); }
						});
						again();
					}, function () {
						// A file that cannot be loaded holds no words.
						file.text = "";
						file.list = [];
						again();
					});
				}
				if (!file.list) { ready = false; return; }
				file.list.forEach(function (entry) {
					if (entry.word.startsWith(part)) markPorts(file.text, entry.from, entry.to, held);
				});
			});
			if (all) for (var i = 0; i < all.length; i++) all[i] &= held[i];
			else all = held;
		}
		if (!ready) waiting = true;
		if (!ready || !all) return null;
		described[word] = all;
		return all;
	}

	// How well word matches port p: exact name or origin, name prefix, name,
	// origin, a comment word it begins (a description word it begins is 5, as
	// the matcher finds); -1 for none. whole is the query as
	// typed, which may also stand anywhere in the comment.
	function rankOf(p, word, whole) {
		if (p.n === word || p.o === word) return 0;
		if (p.n.startsWith(word)) return 1;
		if (p.n.includes(word)) return 2;
		if (p.o.includes(word)) return 3;
		if (whole ? p.c.includes(word) : p.words.includes(" " + word)) return 4;
		return -1;
	}

	// The query as a list of ports: a maintainer's, when it is an e-mail
	// address or says "maintainer:"; otherwise those that match it as typed or
	// match every word of it, each ranked by its weakest word.
	function matcher(q) {
		var said = q.startsWith("maintainer:");
		if (said || /^[^\s@]+@[^\s@]*$/.test(q)) {
			var who = said ? q.slice(11).trim() : q;
			// Nothing yet after "maintainer:" matches nothing, and so does
			// not narrow what comes next.
			return {kind: who ? "m" : "", terms: who ? [who] : [], narrows: true, rank: function (p) {
				return who && p.m.includes(who) ? (p.m === who ? 0 : 1) : -1;
			}};
		}
		var typed = wordsOf(q);
		var terms = [q].concat(typed).sort(function (a, b) { return b.length - a.length; });
		// A word found in no name, origin or comment may be in a description.
		var inDescriptions = typed.map(describedBy);
		// A word too short for the descriptions may match more once longer,
		// so what it matches cannot be narrowed.
		var narrows = !input.dataset.words || typed.every(function (w) {
			return descriptionWords(w).length > 0;
		});
		return {kind: "w", terms: terms, words: typed, narrows: narrows, rank: function (p) {
			var best = p.all.includes(q) ? rankOf(p, q, true) : -1, worst = 0;
			for (var k = 0; k < typed.length && worst >= 0; k++) {
				var rank = p.all.includes(typed[k]) ? rankOf(p, typed[k], false) : -1;
				if (rank < 0 && inDescriptions[k] && inDescriptions[k][p.id]) rank = 5;
				worst = rank < 0 ? -1 : Math.max(worst, rank);
			}
			if (worst < 0 || typed.length === 0) return best;
			return best < 0 ? worst : Math.min(best, worst);
		}};
	}

	// The edits (up to limit, else limit + 1) that make a into b.
	function distance(a, b, limit) {
		if (Math.abs(a.length - b.length) > limit) return limit + 1;
		var row = [];
		for (var j = 0; j <= b.length; j++) row.push(j);
		for (var i = 1; i <= a.length; i++) {
			var diagonal = row[0], least = row[0] = i;
			for (j = 1; j <= b.length; j++) {
				var here = Math.min(row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] === b[j - 1] ? 0 : 1));
				diagonal = row[j];
				row[j] = here;
				least = Math.min(least, here);
			}
			if (least > limit) return limit + 1;
		}
		return row[b.length];
	}

	// Up to five ports whose name, or a word of it, is within two edits of a
	// word of the query (one for words of four letters or fewer), the closest
	// first.
	function nearMisses(typed) {
		var found = [];
		typed.forEach(function (w) {
			if (w.length < 3) return;
			var limit = w.length > 4 ? 2 : 1;
			ports.forEach(function (p) {
				var d = distance(w, p.n, limit);
				for (var k = 0; k < p.nameWords.length && d > limit; k++)
					d = Math.min(d, distance(w, p.nameWords[k], limit) + 0.5);
				if (d <= limit) found.push({p: p, d: d});
			});
		});
		// The ports are in their order within a rank already; a stable sort
		// keeps it for one distance.
		found.sort(function (a, b) { return a.d - b.d; });
		var seen = [];
		for (var i = 0; i < found.length && seen.length < 5; i++)
			if (seen.indexOf(found[i].p) < 0) seen.push(found[i].p);
		return seen;
	}

	function search() {
		var q = input.value.trim().toLowerCase();
		if (q === shownQuery) return;
		shownQuery = q;
		results.textContent = "";
		if (!q) { status.textContent = ""; return; }
		if (!ports) {
			shownQuery = null;
			status.textContent = "Loading the list of ports\u2026";
			load();
			return;
		}
		// Each rank's bucket in the ports' order. Typing on narrows the last
		// matches of the same kind of query.
		waiting = false;
		var match = matcher(q);
		var from = last && match.kind === lastKind && q.startsWith(lastQuery) ? last : ports;
		var buckets = [[], [], [], [], [], []], total = 0;
		last = [];
		lastQuery = q;
		lastKind = match.kind;
		for (var i = 0; i < from.length; i++) {
			var port = from[i], rank = match.rank(port);
			if (rank < 0) continue;
			last.push(port);
			total++;
			if (buckets[rank].length < shown) buckets[rank].push(port);
		}
		// Matches found while description files load are not narrowed on: the
		// search runs again as each arrives.
		if (waiting || !match.narrows) last = null;
		// A port found by a word of its description, or by its maintainer,
		// says so: nothing is marked where that was found.
		var hits = [];
		buckets.forEach(function (bucket, r) {
			bucket.forEach(function (p) {
				if (hits.length < shown)
					hits.push({p: p, why: match.kind === "m" ? "in its maintainer’s address" :
						r === 5 ? "in its description" : ""});
			});
		});
		var terms = match.kind === "w" ? match.terms : [];
		hits.forEach(function (hit) {
			var p = hit.p, li = document.createElement("li"), a = document.createElement("a");
			a.href = p.origin + "/README.html";
			marked(a, "b", "", p.name, p.n, terms);
			marked(a, "span", "v", p.version, p.version, []);
			marked(a, "span", "o", p.origin, p.o, terms);
			if (match.kind === "m")
				marked(a, "span", "o", p.maintainer, p.m, match.terms);
			marked(a, "span", "c", p.comment, p.c, terms);
			if (hit.why) marked(a, "span", "why", hit.why, "", []);
			li.appendChild(a);
			results.appendChild(li);
		});
		status.textContent = total === 0 ? "No port matches \u201c" + input.value.trim() + "\u201d." :
			total === 1 ? "1 port found." :
			total <= shown ? total + " ports found." :
			"The first " + shown + " of " + total + " ports found; " + (total - shown) + " more match. Type more to narrow the search.";
		var near = total === 0 && match.kind === "w" ? nearMisses(match.words) : [];
		near.forEach(function (p, k) {
			var a = document.createElement("a");
			a.href = p.origin + "/README.html";
			a.textContent = p.name;
			status.append(k === 0 ? " Did you mean " : k === near.length - 1 ? " or " : ", ", a);
		});
		if (near.length) status.append("?");
	}

	input.addEventListener("focus", load);
	follow(input, results, function () {
		return Array.prototype.slice.call(results.querySelectorAll("a"));
	}, search);
	wrapList(document.getElementById("list"));
	start(box, input, search);
}

// The filter of a category page over its ports' names and comments.
function categoryFilter(box) {
	var input = document.getElementById("q");
	var status = document.getElementById("status");
	var list = document.getElementById("list");
	var items = wrapList(list);

	function marked(el, text, lower, q) {
		var at = q && lower.length === text.length ? lower.indexOf(q) : -1;
		el.textContent = "";
		if (at < 0) {
			el.append(text);
		} else {
			var m = document.createElement("mark");
			m.textContent = text.substr(at, q.length);
			el.append(text.slice(0, at), m, text.slice(at + q.length));
		}
	}

	function filter() {
		var q = input.value.trim().toLowerCase(), count = 0;
		items.forEach(function (it) {
			var inName = it.n.includes(q);
			var show = !q || inName || it.r.slice(1).includes(q);
			it.li.hidden = !show;
			if (!show) return;
			count++;
			marked(it.a, it.name, it.n, q);
			var rest = document.createElement("span");
			marked(rest, it.rest, it.r, inName ? "" : q);
			it.li.replaceChild(rest, it.li.lastChild);
		});
		status.textContent = !q ? "" : count === 0 ? "No port of this category matches \u201c" + input.value.trim() + "\u201d." :
			count + " of " + items.length + (items.length === 1 ? " port matches." : " ports match.");
	}

	follow(input, list, function () {
		return items.filter(function (it) { return !it.li.hidden; }).map(function (it) { return it.a; });
	}, filter);
	start(box, input, filter);
}

// The copy buttons of a port page's install commands show only where the
// clipboard can be written; the commands stay selectable text everywhere.
function copyButtons(commands) {
	if (!navigator.clipboard || window.isSecureContext === false) return;
	commands.forEach(function (cmd) {
		var button = cmd.querySelector("button");
		var code = cmd.querySelector("code");
		if (!button || !code) return;
		button.setAttribute("aria-label", "Copy: " + code.textContent);
		button.hidden = false;
		button.addEventListener("click", function () {
			navigator.clipboard.writeText(code.textContent).then(function () {
				button.textContent = "Copied";
				setTimeout(function () { button.textContent = "Copy"; }, 2000);
			}, function () {
				button.textContent = "Select and copy";
			});
		});
	});
}

var searchBox = document.getElementById("search");
if (searchBox) topSearch(searchBox);
var filterBox = document.getElementById("filter");
if (filterBox) categoryFilter(filterBox);
copyButtons(document.querySelectorAll(".install .cmd"));
})();
