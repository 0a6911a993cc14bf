// The template engine: placeholders found in a template's bytes and filled
// as the placeholder table says for the kind of page being made.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "engine/placeholders.h"

// The code of the placeholder that begins at text, or -1.
[[nodiscard]] int placeholder_code(const char *text);

// A builder's substitution: appends the text of code at pos (bounded by end)
// and returns the position after it, or null when it did not fit or pos
// was null. It must still do its work (make the READMEs below) when pos is
// null, so that one README too large for its buffer costs no other README.
using substitution_fn = char *(*)(int code, char *pos, char *end,
    void *context);

// Expands template into [out, end): bytes are copied, placeholders replaced
// by the substitution. Returns the end of the text, or null when it did not
// fit (the walk still runs to the template's end).
[[nodiscard]] char *expand_template(const char *tmpl, char *out, char *end,
    substitution_fn substitute, void *context);

// Expands template into [out, end) as a page of page's kind: each
// placeholder filled as its row in the placeholder table says.
[[nodiscard]] char *expand_page(
    const char *tmpl, char *out, char *end, page_context &page);

// The placeholders that a template holds.
[[nodiscard]] placeholder_set placeholders_used(const char *tmpl);

// The number of directories of a page below the top, from its path there
// ("www/foo": 2): how many "../" lead back up from it.
[[nodiscard]] constexpr int
page_depth(std::string_view relative)
{
	return 1 +
	    static_cast<int>(std::count(relative.begin(), relative.end(), '/'));
}

