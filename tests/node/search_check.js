// Drives headless chromium over the search of the top-level page and the
// filter of a category page, as a visitor uses them, for the tree built by
// tests/search_test.sh. Prints "FAIL: ..." lines and exits 1 on the first
// failed check of each base.
// Usage: node search_check.js PROFILE_DIR BASE_URL...
"use strict";
const puppeteer = require("puppeteer-core");

const [profile, ...bases] = process.argv.slice(2);
const wait = {timeout: 30000};

class Failure extends Error {}
function check(ok, what) {
	if (!ok) throw new Failure(what);
}
function same(got, want, what) {
	const a = JSON.stringify(got), b = JSON.stringify(want);
	check(a === b, `${what}: got ${a}, want ${b}`);
}

const texts = (page, selector) =>
	page.$$eval(selector, (all) => all.map((e) => e.textContent));
const query = (page) => page.evaluate(() => new URLSearchParams(location.search).get("q"));
// The address follows the box after a pause in the typing.
async function address(page, want, what) {
	await page.waitForFunction((q) => new URLSearchParams(location.search).get("q") === q,
		wait, want).catch(() => {});
	same(await query(page), want, what);
}

// Waits until the page shows url, loaded.
async function opened(page, url, what) {
	await page.waitForFunction((u) => location.href === u && document.readyState === "complete",
		wait, url).catch(() => {});
	check(page.url() === url, `${what} opened ${page.url()}, not ${url}`);
}

// Types text into the focused box and waits until the status line says
// that the page has answered for exactly that text.
async function type(page, text, expectStatus) {
	await page.keyboard.type(text);
	await page.waitForFunction(
		(want) => document.getElementById("status").textContent.includes(want),
		wait, expectStatus);
}

// Runs axe-core's contrast rule on the page as it stands.
async function contrast(page, what) {
	if (!(await page.evaluate(() => typeof window.axe === "object")))
		await page.addScriptTag({path: require.resolve("axe-core/axe.min.js")});
	const found = await page.evaluate(async () =>
		(await window.axe.run(document, {runOnly: ["color-contrast"]})).violations);
	same(found.map((v) => v.nodes.map((n) => n.target.join(" ") + ": " +
		n.any.map((c) => c.message).join())).flat(), [],
	`contrast of ${what} (${scheme})`);
}

let scheme = "light";
// What the pages threw, a failure of the step that opened them.
const thrown = [];
async function newPage(browser) {
	const page = await browser.newPage();
	page.on("pageerror", (e) => thrown.push(`${page.url()}: ${e.message}`));
	await page.emulateMediaFeatures([{name: "prefers-color-scheme", value: scheme}]);
	return page;
}

async function topPage(browser, base) {
	const page = await newPage(browser);
	await page.setViewport({width: 390, height: 844});
	const requested = [];
	page.on("request", (r) => requested.push(r.url()));
	await page.goto(`${base}/README.html`, {waitUntil: "load"});

	// A page view without a search loads nothing but the page, its
	// stylesheet and its script.
	same(requested.filter((u) => !u.startsWith("data:")),
		[`${base}/README.html`, `${base}/site.css`, `${base}/site.js`],
		"requests of a page view without a search");
	check(await page.$eval("#search", (e) => !e.hidden && e.offsetHeight > 0),
		"the search box is not shown");
	same(await page.$$eval("#list li", (l) => l.length), 5, "category entries");

	// The first focus loads the index.
	await page.focus("#q");
	await page.waitForFunction(() => document.querySelector("script[src]") !== null, wait);
	await type(page, "QUIRK", "6 ports found");
	same(await texts(page, "#results b"),
		["quirk", "quirks-kit", "py311-quirky", "qk", "beta", "alpha"],
		"results for QUIRK in order: exact, prefix, name, origin, comment by length");
	same(requested.filter((u) => /ports-word/.test(u)),
		[`${base}/ports-words.js`, `${base}/ports-words-0.js`],
		"the word files loaded for QUIRK");
	same(await page.$$eval("#results a", (l) => l.map((a) => a.getAttribute("href"))),
		["misc/quirk/README.html", "misc/quirks-kit/README.html",
			"misc/py-quirky/README.html", "misc/quirk-tools/README.html",
			"misc/aa-beta/README.html", "misc/zz-alpha/README.html"],
		"links of the results");
	same(await texts(page, "#results li:first-child mark"), ["quirk", "quirk"],
		"marked text of the exact match (name, origin)");
	same(await texts(page, "#results li:nth-child(5) .c"), ["Quirk list for caf\u00e9s"],
		"a comment in ISO-8859-1");
	same(await texts(page, "#results li:nth-child(5) mark"), ["Quirk"], "marked comment text");
	same(await texts(page, "#results li:first-child .c"),
		["Says \"hi\" \\ </script> <!-- ok -->\u2028end"], "a comment with quotes and markup");
	same(await texts(page, "#results li:first-child .v"), ["1.0"], "version");
	await address(page, "QUIRK", "the query in the address");
	check(await page.evaluate(() => document.documentElement.scrollWidth <= 390),
		"the page is wider than a 390 px phone");

	// A new search is a history entry of its own: Back leaves it, Forward
	// returns to it.
	await page.goBack(wait);
	await page.waitForFunction(() => document.querySelectorAll("#results li").length === 0, wait);
	same(await page.$eval("#q", (e) => e.value), "", "the box after Back from a search");
	await page.goForward(wait);
	await page.waitForFunction(() => document.querySelectorAll("#results li").length === 6, wait);
	same(await page.$eval("#q", (e) => e.value), "QUIRK", "the box after Forward");
	await page.focus("#q");

	await contrast(page, "the top page's results");

	// What people type: words in any order across separators, a
	// maintainer's address, a misspelt name. Within one rank, the port
	// that more ports need comes first.
	const found = async (q, status, want, what) => {
		await page.keyboard.press("Escape");
		await page.waitForFunction(() => document.getElementById("status").textContent === "", wait);
		await type(page, q, status);
		same((await texts(page, "#results b")).slice(0, want.length), want, what);
	};
	await found("html parser", "2 ports found", ["p5-HTML-Parser", "libxml2"],
		"words of a name in another order, then words of a comment");
	same(await texts(page, "#results li:first-child b mark"), ["HTML", "Parser"],
		"marked words of the name");
	same(await texts(page, "#results .why"), [], "reasons beside the marked names and comments");
	await found("route finder", "1 port found", ["waypath"], "words of a hyphenated comment");
	await found("www/nginx", "1 port found", ["nginx"], "an origin");
	// Separators alone are no words: they match as typed.
	await found("--", "1 port found", ["quirk"], "separators alone");
	await found("alice@example.com", "2 ports found", ["zstd", "py311-tqdm"],
		"a maintainer's address, the port more ports need first");
	same(await texts(page, "#results li:first-child mark"), ["alice@example.com"],
		"the marked maintainer");
	same(await texts(page, "#results .why"), ["in its maintainer\u2019s address", "in its maintainer\u2019s address"],
		"the reason of a maintainer's ports");
	await found("maintainer:ALICE", "2 ports found", ["zstd", "py311-tqdm"],
		"maintainer: and part of an address");
	await found("g", "ports found", ["gmake", "git"], "a name prefix needed by four ports first");
	// A word of a description ranks after names and comments, and loads
	// only the files of the words typed.
	await found("pkg-config", "found", ["pkgconf"], "a word of a description");
	same(await texts(page, "#results li:first-child .why"), [], "no reason where a comment's word begins the word");
	await found("p\u00e2tisserie", "1 port found", ["patissier"],
		"a word of a description in ISO-8859-1");
	// Found by its description, a port says so, as nothing of it is marked.
	same(await texts(page, "#results .why"), ["in its description"], "the reason of a description match");
	await found("zstd dictionary", "1 port found", ["zstd"], "a name and a word of its description");
	same(await texts(page, "#results .why"), ["in its description"], "a reason where one word is in the description");
	await found("lineword scriptword", "1 port found", ["quirk"],
		"words after U+2028 and </script> in a description");
	await found("wwwword", "No port matches", [], "a word of the WWW: line");
	for (const word of ["vocabaaa", "vocabcfr"])
		await found(word, "1 port found", ["lexicon"], `${word}, in the first or the last word file`);
	await found("vocab", "2 ports found", ["lexicon", "glossary"], "the words of both word files");
	await found("postfx", "No port matches", [], "a misspelt name");
	same(await page.$eval("#status", (e) => e.textContent),
		"No port matches \u201cpostfx\u201d. Did you mean postfix?", "the near miss offered");
	same(await page.$$eval("#status a", (l) => l.map((a) => a.getAttribute("href"))),
		["misc/postfix/README.html"], "the near miss's link");
	await contrast(page, "the top page with a near miss");

	// More than fifty: the first fifty and how many more, also when the
	// matches are of every kind.
	await page.keyboard.press("Escape");
	await page.waitForFunction(() => document.querySelectorAll("#results li").length === 0, wait);
	await address(page, null, "the address after Escape");
	await type(page, "bulk", "The first 50 of 55 ports found; 5 more match");
	same(await page.$$eval("#results li", (l) => l.length), 50, "results shown of 55");
	await page.keyboard.press("Escape");
	await type(page, "l", "The first 50 of ");
	same(await page.$$eval("#results li", (l) => l.length), 50, "results shown for l");

	// Down, Down, Enter opens the second result; Back returns to the search.
	await page.click("#q", {clickCount: 3});
	await type(page, "quirk", "6 ports found");
	await page.keyboard.press("ArrowDown");
	await page.keyboard.press("ArrowDown");
	same(await page.evaluate(() => document.activeElement.textContent.startsWith("quirks-kit")),
		true, "the second result is selected after Down, Down");
	await page.keyboard.press("ArrowUp");
	await page.keyboard.press("ArrowDown");
	await page.keyboard.press("Enter");
	await opened(page, `${base}/misc/quirks-kit/README.html`, "Enter on the second result");
	check((await page.title()).startsWith("quirks-kit-2.0"), "the port page's title");
	await page.goBack(wait);
	await page.waitForFunction(() => document.querySelectorAll("#results li").length === 6, wait);
	same(await page.$eval("#q", (e) => e.value), "quirk", "the box after Back");
	// A key typed on a result goes to the box.
	await page.focus("#q");
	await page.keyboard.press("ArrowDown");
	await type(page, "s", "1 port found");
	same(await texts(page, "#results b"), ["quirks-kit"], "results for quirks");
	// Enter in the box opens the first result.
	await page.keyboard.press("Enter");
	await opened(page, `${base}/misc/quirks-kit/README.html`, "Enter in the box");
	await page.close();

	// Arriving with ?q= searches without a focus.
	const shared = await newPage(browser);
	await shared.goto(`${base}/README.html?q=gmake`, {waitUntil: "load"});
	await shared.waitForFunction(() => document.querySelectorAll("#results li").length === 1, wait);
	same(await texts(shared, "#results .o"), ["devel/gmake"], "origin of a shared search");
	await shared.close();
}

async function categoryPage(browser, base) {
	const page = await newPage(browser);
	await page.setViewport({width: 390, height: 844});
	await page.goto(`${base}/misc/README.html`, {waitUntil: "load"});
	const all = await page.$$eval("#list li", (l) => l.length);
	same(all, 3 + 6 + 7 + 55, "entries of the category");
	await page.focus("#q");
	await type(page, "quirk", "5 of 71 ports match");
	await contrast(page, "the filtered category");
	same(await page.$$eval("#list li:not([hidden]) a", (l) => l.map((a) => a.textContent)),
		["quirk-1.0", "quirks-kit-2.0", "py311-quirky-0.3", "beta-1.0", "alpha-1.0"],
		"ports shown by the filter, in the page's order");
	await address(page, "quirk", "the filter in the address");
	await page.keyboard.press("ArrowDown");
	await page.keyboard.press("ArrowDown");
	same(await page.evaluate(() => document.activeElement.textContent), "quirks-kit-2.0",
		"the second port is selected after Down, Down");
	await page.keyboard.press("Escape");
	await page.waitForFunction((n) => document.querySelectorAll("#list li:not([hidden])").length === n,
		wait, all);
	await address(page, null, "the address after Escape");
	check(await page.evaluate(() => document.documentElement.scrollWidth <= 390),
		"the category page is wider than a 390 px phone");
	await page.goto(`${base}/misc/README.html?q=BULK`, {waitUntil: "load"});
	await page.waitForFunction(() => document.getElementById("status").textContent.includes("55 of 71"), wait);
	await page.close();
}

async function withoutScript(browser, base) {
	const page = await newPage(browser);
	await page.setJavaScriptEnabled(false);
	await page.goto(`${base}/README.html`, {waitUntil: "load"});
	check(await page.$eval("#search", (e) => e.hidden), "the search box is shown without JavaScript");
	await page.close();
}

(async () => {
	const browser = await puppeteer.launch({
		executablePath: "/usr/bin/chromium",
		headless: true,
		userDataDir: profile,
		args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
			"--disable-background-networking", "--disable-component-update",
			"--disable-sync"],
	});
	let status = 0;
	for (const base of bases) {
		for (scheme of ["light", "dark"]) {
			for (const step of [topPage, categoryPage, withoutScript]) {
				try {
					thrown.length = 0;
					await step(browser, base);
					same(thrown, [], "errors thrown by the pages");
				} catch (e) {
					console.log(`FAIL: ${base} (${scheme}): ${step.name}: ${e instanceof Failure ? e.message : e.stack}`);
					status = 1;
					break;
				}
			}
		}
	}
	await browser.close();
	process.exit(status);
})();
