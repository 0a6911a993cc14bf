// Looks at the pages of a whole-tree run as a visitor does, in headless
// chromium at a phone's 390 px and a desktop's 1000 px, for the tree built
// by tests/browser_test.sh, opened from disk and served over HTTP:
// - no page is wider than the window;
// - a description's preformatted blocks keep every line whole and scroll
//   sideways inside their box, while its paragraphs reflow to the width;
// - dependency lists are lists whose links lead to the page of the package
//   named, in the directory of the origin shown beside it;
// - the install commands are selectable text; their copy buttons show where
//   the clipboard can be written (and only there) and copy the command; at
//   390 px, with a long name, they wrap only at blanks and after a "/";
// - every page names an icon that needs no request;
// - a port's UPDATING notes show the newest three and fold the rest, and
//   its pkg-message shows under its headings; a moved port's page (those
//   named in MOVED_PAGES) says where it went;
// - every page is laid out by the site's stylesheet, the search and filter
//   boxes are shown by the site's script, and no page throws an error;
// - the top-level page and the given category, port, moved and maintainer
//   pages score 100 for accessibility in Lighthouse (over HTTP); the first
//   three (the top, a category and a port page) also for best practices and
//   SEO, with no layout shift and no request but the page, its stylesheet
//   and its script (what Lighthouse's performance score rests on that does
//   not hang on the machine's load).
// Prints "FAIL: ..." lines and exits 1 if any check failed.
// Usage: node page_check.js PROFILE_DIR FILE_BASE HTTP_BASE LIGHTHOUSE_PAGES PAGE...
// with PAGE and the comma-separated LIGHTHOUSE_PAGES relative to the bases.
"use strict";
const puppeteer = require("puppeteer-core");
const {pathToFileURL} = require("url");

const [profile, fileBase, httpBase, lighthousePages, ...pages] = process.argv.slice(2);
const movedPages = (process.env.MOVED_PAGES || "").split(",").filter((p) => p);
const wait = {timeout: 30000};
const widths = [390, 1000];

let failures = 0;
let copyBroken = false;
function fail(what) {
	console.log(`FAIL: ${what}`);
	failures++;
}

// A new tab whose script errors are failures.
async function newPage(browser) {
	const page = await browser.newPage();
	page.on("pageerror", (e) => fail(`${page.url()}: the page threw ${e.message}`));
	return page;
}

// What the page itself says about its layout at the current width: a list
// of faults, empty when it reads well.
function layoutFaults() {
	const faults = [];
	const width = document.documentElement.clientWidth;
	if (document.documentElement.scrollWidth > width)
		faults.push(`the page is ${document.documentElement.scrollWidth} px wide`);
	// The lines a text takes on screen: the extent of each run of client
	// rectangles with the same bottom.
	const lines = (element) => {
		const range = document.createRange();
		range.selectNodeContents(element);
		const byBottom = new Map();
		for (const r of range.getClientRects()) {
			if (r.width === 0) continue;
			const key = Math.round(r.bottom);
			const line = byBottom.get(key) || {left: r.left, right: r.right};
			line.left = Math.min(line.left, r.left);
			line.right = Math.max(line.right, r.right);
			byBottom.set(key, line);
		}
		return [...byBottom.entries()].sort((a, b) => a[0] - b[0]).map((e) => e[1]);
	};
	document.querySelectorAll(".descr pre").forEach((pre, i) => {
		const style = getComputedStyle(pre);
		const box = pre.getBoundingClientRect();
		if (box.right > width + 0.5)
			faults.push(`block ${i + 1} ends at ${box.right} px`);
		if (!/^(auto|scroll)$/.test(style.overflowX))
			faults.push(`block ${i + 1} does not scroll (overflow-x ${style.overflowX})`);
		// (An empty line has no box to count.)
		const want = pre.textContent.split("\n").filter((l) => l !== "").length;
		const got = lines(pre).length;
		if (got !== want)
			faults.push(`block ${i + 1} of ${want} lines shows ${got}`);
		if (pre.scrollWidth > pre.clientWidth) {
			pre.scrollLeft = pre.scrollWidth;
			if (pre.scrollLeft === 0) faults.push(`block ${i + 1} is cut, not scrolled`);
			pre.scrollLeft = 0;
		}
	});
	// A paragraph of prose fills its lines: every line but the last (and
	// but those a line break ends) takes at least half the width, where
	// hard-wrapped lines would alternate long and short ones.
	document.querySelectorAll(".descr p").forEach((p, i) => {
		if (p.querySelector("br")) return;
		const box = p.getBoundingClientRect();
		const shown = lines(p);
		shown.forEach((line, n) => {
			if (line.right > box.right + 0.5)
				faults.push(`paragraph ${i + 1} line ${n + 1} ends at ${line.right} px`);
			if (n < shown.length - 1 && line.right - line.left < box.width / 2)
				faults.push(`paragraph ${i + 1} line ${n + 1} is ${Math.round(line.right - line.left)} of ${box.width} px`);
		});
	});
	document.querySelectorAll(".install button:not([hidden])").forEach((button, i) => {
		const box = button.getBoundingClientRect();
		if (box.width === 0 || box.right > width + 0.5)
			faults.push(`copy button ${i + 1} is not on the screen`);
	});
	return faults;
}

// How many preformatted blocks are wider than their box, which the layout
// check has then scrolled.
const scrolledBlocks = (page) => page.$$eval(".descr pre",
	(all) => all.filter((pre) => pre.scrollWidth > pre.clientWidth).length);

// The structure of the dependency lists: a list of faults, empty when every
// section is a heading and one list of entries, and every link leads to the
// directory of the origin beside it. The entries' links, with their texts,
// are returned for a look at the targets.
function dependencyLists() {
	const faults = [];
	const links = [];
	document.querySelectorAll("section.deps").forEach((section, i) => {
		const kids = [...section.children].map((e) => e.tagName);
		if (kids.join() !== "H2,UL")
			faults.push(`list ${i + 1} holds ${kids.join()}, not a heading and a list`);
		const ul = section.querySelector("ul");
		if (!ul || ul.children.length === 0) {
			faults.push(`list ${i + 1} is empty`);
			return;
		}
		for (const node of [...section.childNodes, ...ul.childNodes]) {
			if (node.nodeType === Node.TEXT_NODE && node.textContent.trim() !== "")
				faults.push(`list ${i + 1} has text outside its entries: ${node.textContent.trim()}`);
		}
		for (const li of ul.children) {
			const a = li.querySelector("a");
			if (li.tagName !== "LI") faults.push(`list ${i + 1} holds a ${li.tagName}`);
			if (!a) continue;
			const origin = li.querySelector(".origin");
			if (!origin || !a.href.endsWith(`/${origin.textContent}/README.html`))
				faults.push(`${a.textContent} links to ${a.href}, beside ${origin && origin.textContent}`);
			links.push({text: a.textContent, href: a.href});
		}
	});
	return {faults, links};
}

async function portPage(browser, url, what, http) {
	const page = await newPage(browser);
	await page.goto(url, {waitUntil: "load"});
	const name = await page.$eval("h1", (h) => h.firstChild.textContent.trim());
	const origin = await page.$eval("dl code", (c) => c.textContent);
	const commands = await page.$$eval(".install code", (all) => all.map((c) => c.textContent));
	const want = [`pkg install ${name}`, `cd /usr/ports/${origin} && make install clean`];
	if (JSON.stringify(commands) !== JSON.stringify(want))
		fail(`${what}: install commands ${JSON.stringify(commands)}, not ${JSON.stringify(want)}`);

	// The commands stay text to select: three clicks select the whole line.
	for (const [i, command] of want.entries()) {
		const code = (await page.$$(".install code"))[i];
		await code.click({count: 3});
		const selected = await page.evaluate(() => window.getSelection().toString().trim());
		if (selected !== command) fail(`${what}: three clicks on a command select "${selected}"`);
	}

	const {faults, links} = await page.evaluate(dependencyLists);
	for (const f of faults) fail(`${what}: ${f}`);
	// A link's text names the package whose page it opens.
	if (http) {
		for (const link of links) {
			const title = await page.evaluate((href) => fetch(href).then((r) => r.text())
				.then((t) => (t.match(/<title>([^<]*)<\/title>/) || ["", ""])[1]), link.href);
			if (!title.startsWith(`${link.text}:`))
				fail(`${what}: the link ${link.text} opens the page of "${title}"`);
		}
	}

	// The copy buttons show where the clipboard can be written.
	const shown = await page.$$eval(".install button",
		(all) => all.map((b) => !b.hidden && b.offsetHeight > 0));
	if (shown.join() !== "true,true") fail(`${what}: copy buttons shown: ${shown}`);
	if (http && !copyBroken) {
		// The command lands on the clipboard, emptied before the click.
		await page.bringToFront();
		for (const [i, command] of want.entries()) {
			const button = (await page.$$(".install button"))[i];
			await page.evaluate(() => navigator.clipboard.writeText(""));
			await button.click();
			const written = await page.waitForFunction(
				() => navigator.clipboard.readText().then((t) => t !== ""), wait)
				.then(() => true, () => false);
			if (!written) {
				// Not worth waiting for on every other page.
				fail(`${what}: copy button ${i + 1} copied nothing`);
				copyBroken = true;
				break;
			}
			const got = await page.evaluate(() => navigator.clipboard.readText());
			if (got !== command) fail(`${what}: copy button ${i + 1} copied "${got}", not "${command}"`);
		}
	}
	await page.close();
}

// The install commands of a port page at a phone's width, given a port
// name longer than the box: each line of a command ends at a blank or
// after a "/", never inside a word, and what does not fit scrolls inside
// its box, not the page.
async function installOnPhone(browser, url, what) {
	const page = await newPage(browser);
	await page.setViewport({width: 390, height: 844});
	await page.goto(url, {waitUntil: "load"});
	const faults = await page.evaluate(() => {
		const name = "py311-django-rest-framework-simplejwt-extensions";
		const words = document.querySelectorAll(".install .word");
		words[0].textContent = `${name}-5.3.1_2,1`;
		words[2].textContent = `www/${name.slice(6)}`;
		const found = [];
		document.querySelectorAll(".install code").forEach((code, i) => {
			const text = code.textContent, range = document.createRange();
			let at = 0, top = null;
			const walk = document.createTreeWalker(code, NodeFilter.SHOW_TEXT);
			for (let node; (node = walk.nextNode());) {
				for (let k = 0; k < node.data.length; k++, at++) {
					range.setStart(node, k);
					range.setEnd(node, k + 1);
					const box = range.getBoundingClientRect();
					if (box.width === 0) continue;
					if (top !== null && box.top > top + 1 && !/[ /]/.test(text[at - 1]))
						found.push(`command ${i + 1} breaks inside a word: "${text.slice(0, at)}|${text.slice(at)}"`);
					top = box.top;
				}
			}
		});
		if (document.documentElement.scrollWidth > document.documentElement.clientWidth)
			found.push("the page is wider than the window");
		return found;
	});
	for (const f of faults) fail(`${what} at 390 px: ${f}`);
	await page.close();
}

// The notes of www/nginx, as the sample's UPDATING and pkg-message give
// them: three open, one folded; a heading per kind of message.
async function notesPage(browser, url, what) {
	const page = await newPage(browser);
	await page.goto(url, {waitUntil: "load"});
	const shown = await page.evaluate(() => {
		// A closed <details> keeps its content out of the rendering.
		const hidden = (e) => e.checkVisibility ? !e.checkVisibility() : e.offsetHeight === 0;
		const folded = [...document.querySelectorAll(".updating details h3")];
		return {
			open: document.querySelectorAll(".updating > h3").length,
			folded: folded.length,
			closed: folded.every(hidden),
			messages: [...document.querySelectorAll(".pkg-message h3")].map((h) => h.textContent),
		};
	});
	const want = {open: 3, folded: 1, closed: true, messages: ["After installing",
		"When upgrading from a version before 1.24.0", "Before removing"]};
	if (JSON.stringify(shown) !== JSON.stringify(want))
		fail(`${what}: notes ${JSON.stringify(shown)}, not ${JSON.stringify(want)}`);
	await page.close();
}

// A moved port's page names the port it became, as a link to its page; a
// removed port's page says so.
async function movedPage(browser, url, what) {
	const page = await newPage(browser);
	await page.goto(url, {waitUntil: "load"});
	const to = await page.$$eval("dd a", (all) => all.map((a) => [a.textContent, a.href]));
	const now = await page.$eval("dd", (dd) => dd.textContent);
	if (to.length === 0 ? now !== "removed" : to.length !== 1 || !to[0][1].endsWith(`/${to[0][0]}/README.html`))
		fail(`${what}: links ${JSON.stringify(to)}, not one to the port it became`);
	await page.close();
}

// A page where the clipboard cannot be written, and one without scripts:
// no copy button, and the commands are there as text.
async function withoutClipboard(browser, url, what) {
	for (const how of ["no clipboard", "no JavaScript"]) {
		const page = await newPage(browser);
		if (how === "no clipboard") {
			await page.evaluateOnNewDocument(() => {
				Object.defineProperty(Navigator.prototype, "clipboard", {get: () => undefined});
			});
		} else {
			await page.setJavaScriptEnabled(false);
		}
		await page.goto(url, {waitUntil: "load"});
		const shown = await page.$$eval(".install button",
			(all) => all.filter((b) => !b.hidden && b.offsetHeight > 0).length);
		if (shown !== 0) fail(`${what} with ${how}: ${shown} copy buttons shown`);
		const commands = await page.$$eval(".install code", (all) => all.length);
		if (commands !== 2) fail(`${what} with ${how}: ${commands} commands`);
		await page.close();
	}
}

// The page does not move once shown, even when its script comes late: its
// first paint waits for the script, which lays out the list anew and shows
// the search or filter box. (Over HTTP, where the script can be held back.)
async function steadyLayout(browser, url, what) {
	const page = await newPage(browser);
	await page.setRequestInterception(true);
	page.on("request", (request) => {
		if (new URL(request.url()).pathname.endsWith("/site.js"))
			setTimeout(() => request.continue(), 500);
		else
			request.continue();
	});
	await page.goto(url, {waitUntil: "load"});
	const shifts = await page.evaluate(() => new Promise((resolve) => {
		const seen = [];
		const observer = new PerformanceObserver((list) => {
			for (const e of list.getEntries()) seen.push(e.value);
		});
		observer.observe({type: "layout-shift", buffered: true});
		// Buffered entries are delivered at once; none come after load.
		setTimeout(() => resolve(seen.concat(observer.takeRecords().map((e) => e.value))), 500);
	}));
	if (shifts.length) fail(`${what}: the layout shifts by ${shifts.join(", ")} as the script runs`);
	await page.close();
}

async function lighthouse(browser, base) {
	const {default: run} = await import(pathToFileURL(require.resolve("lighthouse")).href);
	const port = Number(new URL(browser.wsEndpoint()).port);
	for (const [n, rel] of lighthousePages.split(",").entries()) {
		const url = `${base}/${rel}`;
		const all = n < 3;
		const categories = all ? ["accessibility", "best-practices", "seo"] : ["accessibility"];
		// Without the pauses for performance figures: the audits look at
		// the page as it stands once loaded.
		const result = await run(url, {port, onlyCategories: categories,
			onlyAudits: all ? ["cumulative-layout-shift", "network-requests"] : [],
			logLevel: "error", disableFullPageScreenshot: true, pauseAfterFcpMs: 0,
			pauseAfterLoadMs: 0, networkQuietThresholdMs: 0, cpuQuietThresholdMs: 0});
		if (!result || !result.lhr) {
			fail(`Lighthouse gave no result for ${url}`);
			continue;
		}
		const lhr = result.lhr;
		if (lhr.runtimeError) fail(`Lighthouse on ${url}: ${lhr.runtimeError.message}`);
		const scores = categories.map((c) => `${c} ${Math.round(lhr.categories[c].score * 100)}`);
		console.log(`Lighthouse ${scores.join(", ")}: ${rel}`);
		for (const id of categories) {
			const category = lhr.categories[id];
			if (category.score === 1) continue;
			fail(`Lighthouse ${id} of ${url} is ${category.score * 100}`);
			for (const ref of category.auditRefs) {
				const audit = lhr.audits[ref.id];
				if (audit.score === null || audit.score === 1) continue;
				const items = ((audit.details && audit.details.items) || [])
					.map((item) => item.node ? item.node.snippet : JSON.stringify(item));
				console.log(`  ${audit.id}: ${audit.title} ${items.join(" ")}`);
			}
		}
		if (!all) continue;
		// What feeds the performance score and does not hang on timing: the
		// page does not move once shown, and it asks for its stylesheet and
		// script alone.
		const shift = lhr.audits["cumulative-layout-shift"].numericValue;
		if (shift !== 0) fail(`Lighthouse: the layout of ${url} shifts by ${shift}`);
		const requests = lhr.audits["network-requests"].details.items
			.map((item) => item.url).filter((u) => !u.startsWith("data:"));
		const want = [url, new URL("site.css", `${base}/`).href, new URL("site.js", `${base}/`).href];
		if (JSON.stringify(requests.sort()) !== JSON.stringify(want.sort()))
			fail(`Lighthouse: ${url} requests ${JSON.stringify(requests)}, not ${JSON.stringify(want)}`);
	}
}

(async () => {
	const browser = await puppeteer.launch({
		executablePath: process.env.CHROME_PATH || "/usr/bin/chromium",
		headless: true,
		userDataDir: profile,
		args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
			"--disable-background-networking", "--disable-component-update",
			"--disable-sync"],
	});
	try {
		const origin = new URL(httpBase).origin;
		await browser.defaultBrowserContext().overridePermissions(origin,
			["clipboard-read", "clipboard-write", "clipboard-sanitized-write"]);
		for (const base of [fileBase, httpBase]) {
			const http = base === httpBase;
			const page = await newPage(browser);
			let scrolled = 0;
			for (const rel of pages) {
				await page.setViewport({width: widths[0], height: 844});
				await page.goto(`${base}/${rel}`, {waitUntil: "load"});
				for (const width of widths) {
					const what = `${base}/${rel} at ${width} px`;
					// The page is laid out anew for the window's width.
					await page.setViewport({width, height: 844});
					for (const f of await page.evaluate(layoutFaults)) fail(`${what}: ${f}`);
					if (width === 390) scrolled += await scrolledBlocks(page);
				}
				// The stylesheet laid the page out; the script showed the
				// search or filter box.
				if (await page.$eval("body", (b) => getComputedStyle(b).maxWidth) !== "736px")
					fail(`${base}/${rel}: the site's stylesheet is not applied`);
				const hidden = await page.$$eval("#search, #filter", (l) => l.filter((e) => e.hidden).length);
				if (hidden) fail(`${base}/${rel}: the search or filter box is hidden: the script did not run`);
				// The icon is in the page: no request for one.
				const icon = await page.$$eval('link[rel~="icon"]', (l) => l.map((e) => e.href));
				if (icon.length !== 1 || !icon[0].startsWith("data:"))
					fail(`${base}/${rel}: icons ${JSON.stringify(icon)}, not one in the page`);
			}
			await page.close();
			// The sample's widest blocks have to scroll on a phone, or the
			// scrolling went unchecked.
			if (scrolled === 0) fail(`${base}: no description block is wider than a phone`);
			// Port pages lie two directories down; maintainer pages too,
			// below their own folder, and the pages of moved ports.
			const ports = pages.filter((p) => p.split("/").length === 3 && !p.startsWith("maintainer/"));
			for (const rel of ports) {
				if (movedPages.includes(rel))
					await movedPage(browser, `${base}/${rel}`, `${base}/${rel}`);
				else
					await portPage(browser, `${base}/${rel}`, `${base}/${rel}`, http);
			}
			await notesPage(browser, `${base}/www/nginx/README.html`, `${base}/www/nginx`);
			const first = ports.find((p) => !movedPages.includes(p));
			await withoutClipboard(browser, `${base}/${first}`, `${base}/${first}`);
			await installOnPhone(browser, `${base}/${first}`, `${base}/${first}`);
			if (http) {
				for (const rel of lighthousePages.split(",").slice(0, 3))
					await steadyLayout(browser, `${base}/${rel}`, `${base}/${rel}`);
			}
		}
		await lighthouse(browser, httpBase);
	} catch (e) {
		fail(e.stack);
	}
	await browser.close();
	process.exit(failures ? 1 : 0);
})();
