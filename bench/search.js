// Times the search of a top-level README.html in headless chromium: the
// first keystroke's results, counted from the box's first focus, which
// starts loading the index and which the keystroke follows at once, and
// each later keystroke's from its keydown; each up to the frame that shows
// the results. Prints one line per measurement:
// "first MS" or "next MS"; and per query "final MS", from the last keydown
// to the frame after the status line's last change once nothing more is
// loading, which counts the files of words of descriptions too.
// Usage: node search.js PROFILE_DIR PAGE_URL ROUNDS QUERY...
"use strict";
const puppeteer = require("puppeteer-core");

const [profile, url, rounds, ...queries] = process.argv.slice(2);

// In the page: the time of each keydown, and of the first frame after the
// status line changed, which the search updates with its results.
function instrument() {
	window.searchTimes = [];
	const status = document.getElementById("status");
	const input = document.getElementById("q");
	let start = 0;
	// The first time counts from the focus, which starts loading the index.
	input.addEventListener("focus", () => { start = performance.now(); }, {capture: true, once: true});
	input.addEventListener("keydown", () => {
		window.lastKey = performance.now();
		if (!start) start = performance.now();
	}, true);
	new MutationObserver(() => {
		requestAnimationFrame(() => setTimeout(() => { window.lastChange = performance.now(); }));
		if (!start || !/found|matches/.test(status.textContent)) return;
		const began = start;
		start = 0;
		void document.body.offsetHeight; // style and layout of the results
		const laid = performance.now() - began;
		requestAnimationFrame(() => setTimeout(() =>
			window.searchTimes.push([laid, performance.now() - began])));
	}).observe(status, {childList: true, characterData: true, subtree: true});
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
	for (let round = 0; round < Number(rounds); round++) {
		for (const query of queries) {
			const page = await browser.newPage();
			await page.setViewport({width: 1000, height: 800});
			await page.goto(url, {waitUntil: "load"});
			await page.evaluate(instrument);
			// A blank typed after a word leaves the query as it was, and
			// the results with it: it is timed with the key after it.
			let searches = 0;
			for (let i = 0; i < query.length; i++) {
				if (i === 0) {
					await page.focus("#q");
				}
				await page.keyboard.type(query[i]);
				if (query[i] === " ") continue;
				await page.waitForFunction((n) => window.searchTimes.length === n,
					{timeout: 60000, polling: "raf"}, ++searches);
			}
			await page.waitForNetworkIdle({idleTime: 1000, timeout: 60000});
			console.log(`final ${(await page.evaluate(() => window.lastChange - window.lastKey)).toFixed(1)}`);
			const times = await page.evaluate(() => window.searchTimes);
			times.forEach((t, i) => console.log(
				`${i === 0 ? "first" : "next"} ${t[0].toFixed(1)} ${t[1].toFixed(1)}`));
			await page.close();
		}
	}
	await browser.close();
})().catch((e) => {
	console.error(e);
	process.exit(1);
});
