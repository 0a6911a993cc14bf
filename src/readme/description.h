// A port's description text rendered as HTML for reading: paragraphs of
// prose, lists, preformatted blocks, links, the trailing "WWW:" line taken
// out.
#pragma once

#include <string_view>

// Renders text, the bytes of a port's description file, as HTML for reading,
// judged by block: <p> paragraphs whose lines the browser reflows (a short
// line keeps its break), <ul> and <ol> lists whose items go on over indented
// lines, <pre> blocks for what must keep its shape (indented blocks, aligned
// columns, art), http, https and ftp addresses and e-mail addresses as
// links, everything escaped and written as UTF-8. The blocks are
// flow content for a <div>; an empty text gives nothing at all. Appends at
// pos, bounded by end; null when it does not fit (or pos was null).
// website, when not null, receives the address of the first trailing "WWW:"
// line taken out of the text (empty when there was none); it points into
// text, stays valid as long as text does, is valid UTF-8 without control
// characters and is not escaped: write it with escape_text(..., false).
[[nodiscard]] char *render_description(
    char *pos, char *end, std::string_view text, std::string_view *website);

// The address that render_description gives as the web site, without
// rendering the text.
[[nodiscard]] std::string_view description_website(std::string_view text);

// True when text is valid UTF-8; otherwise extension texts read it as
// ISO-8859-1.
[[nodiscard]] bool valid_utf8(std::string_view text);

// Appends text HTML-escaped (&, <, >, and " so it may stand in an attribute),
// as UTF-8: when latin1, every byte >= 0x80 becomes its two-byte UTF-8 form.
// Characters that HTML does not allow in a page are dropped: controls other
// than tab and newline (so NUL and the CR of a CRLF line end too) and
// noncharacters; when not latin1, a byte that begins no valid UTF-8 sequence
// becomes U+FFFD. Null when it does not fit (or pos was null).
[[nodiscard]] char *escape_text(
    char *pos, char *end, std::string_view text, bool latin1);
