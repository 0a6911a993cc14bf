// A port's description text rendered as HTML for reading: paragraphs of
// prose, lists, headings, preformatted blocks, links, the trailing "WWW:"
// line taken out. The notes and messages of the tree, written the same
// way, are rendered by the same judging.
#pragma once

#include <string_view>

#include "text/text.h"

// Renders text, the bytes of a port's description file, as HTML for reading,
// judged by block: <p> paragraphs whose lines the browser reflows (a short
// line keeps its break), <ul> and <ol> lists whose items go on over indented
// lines, <pre> blocks for what must keep its shape (indented blocks, code,
// aligned columns, art), <h3> headings for titles underlined with '-', '='
// or '~', <hr> for such a line alone, http, https and ftp addresses and
// e-mail addresses as links, everything escaped and written as UTF-8. The
// blocks are flow content for a <div>; an empty text gives nothing at all.
// Appends at pos, bounded by end; null when it does not fit (or pos was
// null).
// website, when not null, receives the address of the first trailing "WWW:"
// line taken out of the text (empty when there was none); it points into
// text, stays valid as long as text does, is valid UTF-8 without control
// characters and is not escaped: write it with escape_text(..., false).
[[nodiscard]] char *render_description(
    char *pos, char *end, std::string_view text, std::string_view *website);

// Renders text that the tree's people write for its users as they write
// descriptions, an UPDATING note or a pkg-message, by the same judging as
// render_description, every line kept ("WWW:" lines too); a heading in it
// is an <h4>. An empty or blank text gives nothing at all.
[[nodiscard]] char *render_free_text(
    char *pos, char *end, std::string_view text);

// The address that render_description gives as the web site, without
// rendering the text.
[[nodiscard]] std::string_view description_website(std::string_view text);

// The text before its trailing "WWW:" lines, which render_description
// takes out of what it renders as prose.
[[nodiscard]] std::string_view description_body(std::string_view text);
