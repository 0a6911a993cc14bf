// Templates and their expansion.
//
// Every README is built whole in its builder's fixed buffer before it is
// written. Templates are loaded on first need, all that a request's kind can
// need before any building starts, since the builders nest without coming
// back here.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "readme/readme.h"
#include "state/state.h"

int
placeholder_code(const char *text)
{
	// Every placeholder begins "%%", and their third bytes tell most of
	// them apart, so a '%' costs at most a few comparisons.
	if (text[1] != '%')
		return -1;
	for (std::size_t code = 0; code < placeholders.size(); code++) {
		if (placeholders[code][2] != text[2])
			continue;
		// strncmp stops at the first difference or the template's NUL.
		if (std::strncmp(text, placeholders[code].data(),
			placeholders[code].size()) == 0)
			return static_cast<int>(code);
	}
	return -1;
}

char *
expand_template(const char *tmpl, char *out, char *end,
    substitution_fn substitute, void *context)
{
	char *pos = out;
	const char *walk = tmpl;
	for (;;) {
		// Copy the run of plain bytes up to the next '%' or the NUL.
		const char *sign = std::strchr(walk, '%');
		std::size_t run = sign != nullptr
		    ? static_cast<std::size_t>(sign - walk)
		    : std::strlen(walk);
		pos = append(pos, end, std::string_view(walk, run));
		walk += run;
		if (*walk == '\0')
			return pos;
		int code = placeholder_code(walk);
		if (code < 0) {
			pos = append(pos, end, "%");
			walk++;
		} else {
			pos = substitute(code, pos, end, context);
			walk +=
			    placeholders[static_cast<std::size_t>(code)].size();
		}
	}
}

char *
html_escape(char *pos, char *end, std::string_view text)
{
	for (;;) {
		std::size_t run =
		    std::min(text.find_first_of("&<>"), text.size());
		pos = append(pos, end, text.substr(0, run));
		if (run == text.size())
			return pos;
		switch (text[run]) {
		case '&':
			pos = append(pos, end, "&amp;");
			break;
		case '<':
			pos = append(pos, end, "&lt;");
			break;
		default:
			pos = append(pos, end, "&gt;");
			break;
		}
		text.remove_prefix(run + 1);
	}
}

// Makes sure *field holds the template README.<word>. 0, or -1 after
// load_file's report (the field stays null, so the next request tries again).
static int
need_template(char **field, const char *word)
{
	if (*field != nullptr)
		return 0;
	char path[path_size];
	if (!join_text(
		path, sizeof path, {state.templates_dir, "/README.", word})) {
		report_too_long({state.templates_dir, "/README.", word});
		return -1;
	}
	*field = load_file(path);
	return *field != nullptr ? 0 : -1;
}

int
make_readme(const char *path, int kind)
{
	switch (kind) {
	case kind_port:
		if (need_template(&state.port_template, "port") != 0)
			return -1;
		return make_port_readme(path, kind_port);
	case kind_category:
		if (need_template(&state.category_template, "category") != 0 ||
		    need_template(&state.port_template, "port") != 0)
			return -1;
		return make_category_readme(path, kind_category);
	case kind_top:
		if (need_template(&state.port_template, "port") != 0 ||
		    need_template(&state.category_template, "category") != 0 ||
		    need_template(&state.top_template, "top") != 0)
			return -1;
		return make_top_readme(path);
	default:
		return -1;
	}
}
