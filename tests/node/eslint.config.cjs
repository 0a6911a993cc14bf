// The linter's rules for the site's script, Templates/site.js: a classic
// script that browsers run from disk and over HTTP. ESLint's recommended
// rules, with the browser's globals declared, so that a name used but
// never declared, a misspelt function or a variable left unused is an
// error; and the faults that browser code adds: a global of the window that
// a missing declaration would silently use instead (status, name, event...),
// a name that hides another of an outer function, a top-level name leaking
// into the window, code run from a string, and sloppy mode.
// The packages come from QUILLMARK_NODE_DIR (see tests/lint_test.sh), so
// they are looked up there as well as beside this file.
"use strict";
const path = require("path");

const from = {paths: [process.env.QUILLMARK_NODE_DIR ?
	path.join(process.env.QUILLMARK_NODE_DIR, "node_modules") : __dirname, __dirname]};
const js = require(require.resolve("@eslint/js", from));
const globals = require(require.resolve("globals", from));

// Globals of the window whose names a script likely means as its own
// variables: using one undeclared is a fault, not a reference to the window.
const confusing = ["addEventListener", "blur", "close", "closed", "confirm", "event",
	"external", "find", "focus", "frames", "innerHeight", "innerWidth", "length",
	"name", "onload", "open", "opener", "origin", "parent", "print", "removeEventListener",
	"screen", "scroll", "self", "status", "stop", "top"];

module.exports = [
	js.configs.recommended,
	{
		files: ["**/*.js"],
		languageOptions: {
			ecmaVersion: 2020,
			sourceType: "script",
			globals: {...globals.browser},
		},
		linterOptions: {reportUnusedDisableDirectives: "error"},
		rules: {
			"no-restricted-globals": ["error", ...confusing],
			"no-shadow": ["error", {hoist: "all"}],
			"no-implicit-globals": "error",
			"no-use-before-define": ["error", {functions: false}],
			"no-eval": "error",
			"no-implied-eval": "error",
			"no-new-func": "error",
			"eqeqeq": "error",
			"no-self-compare": "error",
			"no-unmodified-loop-condition": "error",
			"no-unused-expressions": "error",
			"no-template-curly-in-string": "error",
			"strict": ["error", "function"],
		},
	},
];
