// Templates and their expansion: a template's bytes copied, each
// placeholder found by the table and filled as its row says for the kind
// of page being made.
#include "engine/engine.h"

#include <array>
#include <bit>
#include <cstring>

#include "state/state.h"
#include "text/bounded.h"

// For each byte, the placeholders whose third byte it is.
static constexpr std::array<placeholder_set, 256> by_third_byte = [] {
	std::array<placeholder_set, 256> table{};
	for (std::size_t code = 0; code < placeholders.size(); code++)
		table[static_cast<unsigned char>(placeholders[code][2])] |=
		    placeholder_bit(static_cast<int>(code));
	return table;
}();

int
placeholder_code(const char *text)
{
	// Every placeholder begins "%%", and their third bytes tell most of
	// them apart, so a '%' costs at most a few comparisons.
	if (text[1] != '%')
		return -1;
	placeholder_set candidates =
	    by_third_byte[static_cast<unsigned char>(text[2])];
	while (candidates != 0) {
		int code = std::countr_zero(candidates);
		candidates &= candidates - 1;
		// strncmp stops at the first difference or the template's NUL.
		std::string_view name = placeholders[static_cast<std::size_t>(code)];
		if (std::strncmp(text, name.data(), name.size()) == 0)
			return code;
	}
	return -1;
}

namespace {

// The walk of expand_template and expand_page: bytes are copied, and each
// placeholder's code given to substitute.
template <typename Substitute>
char *
expand(const char *tmpl, char *out, char *end, Substitute substitute)
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
			pos = substitute(code, pos);
			walk +=
			    placeholders[static_cast<std::size_t>(code)].size();
		}
	}
}

} // namespace

char *
expand_template(const char *tmpl, char *out, char *end,
    substitution_fn substitute, void *context)
{
	return expand(tmpl, out, end, [=](int code, char *pos) {
		return substitute(code, pos, end, context);
	});
}

char *
expand_page(const char *tmpl, char *out, char *end, page_context &page)
{
	return expand(tmpl, out, end, [end, &page](int code, char *pos) {
		return fill_placeholder(code, pos, end, page);
	});
}

int
depth_of_page(const char *dir)
{
	if (std::strcmp(dir, state.top_dir) == 0)
		return 0;
	return page_depth(skip_prefix(dir, state.top_dir_slash));
}

static char *
note_code(int code, char *pos, char *, void *context)
{
	*static_cast<placeholder_set *>(context) |= placeholder_bit(code);
	return pos;
}

placeholder_set
placeholders_used(const char *tmpl)
{
	// A walk without room finds every placeholder as the expansion does.
	placeholder_set used = 0;
	(void)expand_template(tmpl, nullptr, nullptr, note_code, &used);
	return used;
}
