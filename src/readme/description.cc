// A port's description text rendered for reading.
//
// Description files are plain text hard-wrapped at about 72 columns. Read as
// they are in a proportional font, prose wraps twice on a narrow screen and
// anything laid out with spaces falls apart. So every line is judged on its
// own, as prose or as preformatted, and runs of each become <p> and <pre>
// blocks: the browser reflows the first and keeps the second as it is. The
// judging looks at the raw bytes only for ASCII, which reads the same in
// UTF-8 and ISO-8859-1, so the text is decoded once, while it is escaped on
// its way out; nothing is copied and nothing is allocated.
#include "readme/description.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "state/state.h"

namespace {

constexpr std::array<std::string_view, 3> schemes = {
    "http://", "https://", "ftp://"};
constexpr std::string_view www_prefix = "WWW:";

// A set of bytes as a table, so that a byte is looked up, not searched for,
// on every byte of a description. The NUL is in no set.
using byte_set = std::array<bool, 256>;

constexpr byte_set
bytes_of(std::string_view set)
{
	byte_set table{};
	for (char c : set) {
		if (c != '\0')
			table[static_cast<unsigned char>(c)] = true;
	}
	return table;
}

// What ends an address; what a sentence may end with after one; what may
// close a sentence; what ends one; what draws a picture.
constexpr byte_set address_stops = bytes_of("<>\"");
constexpr byte_set trailing_marks = bytes_of(".,;:!?'");
constexpr byte_set closing_marks = bytes_of(")\"'");
constexpr byte_set sentence_ends = bytes_of(".!?:");
constexpr byte_set art_marks = bytes_of("|+-=_*#/\\~^<>");

// Whether c is one of the bytes of set.
bool
one_of(const byte_set &set, char c)
{
	return set[static_cast<unsigned char>(c)];
}

// Blanks and controls: what a line may end with, or hold only when blank.
bool
blank_byte(char c)
{
	return static_cast<unsigned char>(c) <= ' ' || c == '\x7F';
}

std::string_view
trim_end(std::string_view line)
{
	while (!line.empty() && blank_byte(line.back()))
		line.remove_suffix(1);
	return line;
}

// The next line of text from *at, without its newline; false after the last.
bool
next_line(std::string_view text, std::size_t *at, std::string_view *line)
{
	if (*at >= text.size())
		return false;
	std::size_t nl = text.find('\n', *at);
	if (nl == std::string_view::npos)
		nl = text.size();
	*line = text.substr(*at, nl - *at);
	*at = nl + 1;
	return true;
}

// Whether an address may begin at line[i]: every scheme begins with "ht" or
// "ft", which spares the schemes' comparison at most letters.
bool
may_begin_address(std::string_view line, std::size_t i)
{
	return (line[i] == 'h' || line[i] == 'f') && i + 1 < line.size() &&
	    line[i + 1] == 't';
}

// The length of the address that begins text, or 0 when none does. It ends
// at a blank, a control, '<', '>' or '"', and punctuation that ends a
// sentence is not part of it: a ')' only when the address opens fewer
// parentheses than it closes.
std::size_t
link_length(std::string_view text)
{
	std::size_t scheme = 0;
	for (std::string_view s : schemes) {
		if (text.starts_with(s))
			scheme = s.size();
	}
	if (scheme == 0)
		return 0;
	std::size_t n = scheme;
	while (n < text.size() && !blank_byte(text[n]) &&
	    !one_of(address_stops, text[n]))
		n++;
	std::size_t opens = 0, closes = 0;
	for (char c : text.substr(scheme, n - scheme)) {
		opens += c == '(';
		closes += c == ')';
	}
	while (n > scheme) {
		char last = text[n - 1];
		if (last == ')') {
			if (opens >= closes)
				break;
			closes--;
		} else if (!one_of(trailing_marks, last)) {
			break;
		}
		n--;
	}
	return n > scheme ? n : 0;
}

// The address of a line "WWW: address" (blanks around it allowed), or empty.
// Only an address in printable ASCII counts, so that it can be handed on as
// it stands.
std::string_view
www_address(std::string_view line)
{
	line = trim_end(line);
	if (!line.starts_with(www_prefix))
		return {};
	line.remove_prefix(www_prefix.size());
	while (!line.empty() && (line[0] == ' ' || line[0] == '\t'))
		line.remove_prefix(1);
	if (link_length(line) != line.size())
		return {};
	for (char c : line) {
		if (static_cast<unsigned char>(c) >= 0x7F)
			return {};
	}
	return line;
}

// The length of text before its trailing "WWW:" lines: the end of its last
// line that is neither blank nor such a line.
std::size_t
body_length(std::string_view text)
{
	std::size_t body = 0, at = 0;
	std::string_view line;
	while (next_line(text, &at, &line)) {
		if (!trim_end(line).empty() && www_address(line).empty())
			body = std::min(at, text.size());
	}
	return body;
}

// The blanks (spaces and tabs) that begin every non-blank line of text: they
// are the text's margin, not indentation.
std::size_t
common_indent(std::string_view text)
{
	std::string_view margin;
	bool first = true;
	std::size_t at = 0;
	std::string_view line;
	while (next_line(text, &at, &line)) {
		if (trim_end(line).empty())
			continue;
		std::size_t n = 0;
		std::size_t most = first ? line.size() : margin.size();
		while (n < most && (line[n] == ' ' || line[n] == '\t') &&
		    (first || line[n] == margin[n]))
			n++;
		margin = line.substr(0, n);
		first = false;
	}
	return margin.size();
}

enum class shape { blank, prose, indented, preformatted };

constexpr bool
ascii_punct(char c)
{
	return (c > ' ' && c < '0') || (c > '9' && c < 'A') ||
	    (c > 'Z' && c < 'a') || (c > 'z' && c < '\x7F');
}

// Whether a line (without its margin and leading blanks) is laid out with
// spaces: a tab inside it, or two or more spaces in a row other than the two
// that may follow the end of a sentence.
bool
has_columns(std::string_view line)
{
	// The line begins with a visible character, so a run of blanks found
	// from its second byte on begins where it is found.
	if (line.size() < 2)
		return false;
	if (std::memchr(line.data() + 1, '\t', line.size() - 1) != nullptr)
		return true;
	const char *text = line.data();
	const std::size_t size = line.size();
	for (std::size_t i = 1;;) {
		while (i + 1 < size && (text[i] != ' ' || text[i + 1] != ' '))
			i++;
		if (i + 1 >= size)
			return false;
		std::size_t run = 2;
		while (i + run < line.size() && line[i + run] == ' ')
			run++;
		std::size_t k = i;
		while (k > 0 && one_of(closing_marks, line[k - 1]))
			k--;
		bool sentence = k > 0 && one_of(sentence_ends, line[k - 1]);
		if (run > 2 || !sentence)
			return true;
		i += run;
	}
}

// What has_art asks of each byte, looked up once: whether it draws, is
// ASCII punctuation, is visible (read as UTF-8, or as ISO-8859-1), or may
// begin an address or a box-drawing character and needs a closer look.
enum : unsigned char {
	art_bit = 1,
	punct_bit = 2,
	visible_utf8_bit = 4,
	visible_latin1_bit = 8,
	closer_look_bit = 16,
};
// The classes of a line with an address ('h' and 'f' need the closer
// look) and without one.
constexpr std::array<unsigned char, 256>
art_classes_of(bool addresses)
{
	std::array<unsigned char, 256> classes{};
	for (int c = 0; c < 256; c++) {
		unsigned char k = 0;
		char byte = static_cast<char>(c);
		if (art_marks[static_cast<std::size_t>(c)])
			k |= art_bit;
		if (ascii_punct(byte))
			k |= punct_bit;
		if (c > ' ' && (c & 0xC0) != 0x80)
			k |= visible_utf8_bit;
		if (c > ' ')
			k |= visible_latin1_bit;
		if (((c == 'h' || c == 'f') && addresses) || c == 0xE2)
			k |= closer_look_bit;
		classes[static_cast<std::size_t>(c)] = k;
	}
	return classes;
}
constexpr std::array<unsigned char, 256> art_classes_linked =
    art_classes_of(true);
constexpr std::array<unsigned char, 256> art_classes_plain =
    art_classes_of(false);

// What each byte adds to has_art's two counts: one visible character in the
// low half, one ASCII punctuation mark in the high half; a byte read as
// ISO-8859-1 or as part of UTF-8.
constexpr std::uint64_t punct_one = std::uint64_t{1} << 32;
constexpr std::array<std::uint64_t, 256>
art_weights_of(unsigned char visible_bit)
{
	std::array<std::uint64_t, 256> weights{};
	for (std::size_t c = 0; c < 256; c++) {
		unsigned char k = art_classes_plain[c];
		weights[c] = ((k & visible_bit) != 0 ? 1 : 0) +
		    ((k & punct_bit) != 0 ? punct_one : 0);
	}
	return weights;
}
constexpr std::array<std::uint64_t, 256> art_weights_utf8 =
    art_weights_of(visible_utf8_bit);
constexpr std::array<std::uint64_t, 256> art_weights_latin1 =
    art_weights_of(visible_latin1_bit);

// Whether a line is drawn rather than written: box-drawing characters, a run
// of three or more of |+-=_*#/\~^<>, or at least four ASCII punctuation
// marks making up half of its visible characters. Addresses are skipped.
bool
has_art(std::string_view line, bool latin1)
{
	std::uint64_t counts = 0; // visible characters, and punctuation << 32
	std::size_t run = 0;
	const std::array<std::uint64_t, 256> &weights =
	    latin1 ? art_weights_latin1 : art_weights_utf8;
	// Every scheme ends in "://": most lines hold no address.
	const bool addresses = line.find("://") != std::string_view::npos;
	const std::array<unsigned char, 256> &art_classes =
	    addresses ? art_classes_linked : art_classes_plain;
	for (std::size_t i = 0; i < line.size(); i++) {
		unsigned char c = static_cast<unsigned char>(line[i]);
		unsigned char k = art_classes[c];
		if ((k & closer_look_bit) != 0) {
			std::size_t link = may_begin_address(line, i)
			    ? link_length(line.substr(i))
			    : 0;
			if (link > 0) {
				i += link - 1;
				counts++;
				run = 0;
				continue;
			}
			// U+2500 to U+259F: box drawing and block elements.
			if (!latin1 && c == 0xE2 && i + 2 < line.size()) {
				unsigned c1 = static_cast<unsigned char>(line[i + 1]);
				unsigned c2 = static_cast<unsigned char>(line[i + 2]);
				if (c1 == 0x94 || c1 == 0x95 ||
				    (c1 == 0x96 && c2 < 0xA0))
					return true;
			}
		}
		run = (k & art_bit) != 0 ? run + 1 : 0;
		if (run >= 3)
			return true;
		counts += weights[c];
	}
	std::uint64_t visible = counts & 0xFFFFFFFF;
	std::uint64_t punct = counts >> 32;
	return punct >= 4 && 2 * punct >= visible;
}

// The shape of a line and, in *rest, the line without the margin and its
// trailing blanks. "indented" is preformatted for its indentation only.
shape
shape_of(std::string_view line, std::size_t margin, bool latin1,
    std::string_view *rest)
{
	line = trim_end(line);
	if (line.empty())
		return shape::blank;
	line.remove_prefix(margin);
	*rest = line;
	std::size_t lead = 0;
	while (lead < line.size() && (line[lead] == ' ' || line[lead] == '\t'))
		lead++;
	std::string_view words = line.substr(lead);
	if (has_columns(words) || has_art(words, latin1))
		return shape::preformatted;
	if (line[0] == '\t' || lead >= 2)
		return shape::indented;
	return shape::prose;
}

// Whether a line of prose begins an item of a list ("- ", "* ", "+ ", a
// bullet, or a number of up to three digits with "." or ")"), which starts
// a new line inside its paragraph.
bool
list_item(std::string_view line)
{
	while (!line.empty() && line[0] == ' ')
		line.remove_prefix(1);
	for (std::string_view mark : {"- ", "* ", "+ ", "\xE2\x80\xA2 "}) {
		if (line.starts_with(mark))
			return true;
	}
	std::size_t digits = 0;
	while (digits < line.size() && digits < 4 && line[digits] >= '0' &&
	    line[digits] <= '9')
		digits++;
	return digits >= 1 && digits <= 3 && digits + 1 < line.size() &&
	    (line[digits] == '.' || line[digits] == ')') &&
	    line[digits + 1] == ' ';
}

// Where an address may begin in line from from on: its next "ht" or "ft",
// or the line's size.
std::size_t
scheme_start(std::string_view line, std::size_t from)
{
	while (from < line.size() && !may_begin_address(line, from))
		from++;
	return from;
}

// One line's text, escaped, its addresses made links.
char *
render_line(char *pos, char *end, std::string_view line, bool latin1)
{
	// Every scheme ends in "://": most lines hold none.
	if (line.find("://") == std::string_view::npos)
		return escape_text(pos, end, line, latin1);
	std::size_t done = 0;
	for (std::size_t i = scheme_start(line, 0); i < line.size();
	     i = scheme_start(line, i + 1)) {
		std::size_t n = link_length(line.substr(i));
		if (n == 0)
			continue;
		std::string_view address = line.substr(i, n);
		pos =
		    escape_text(pos, end, line.substr(done, i - done), latin1);
		pos = append(pos, end, "<a href=\"");
		pos = escape_text(pos, end, address, latin1);
		pos = append(pos, end, "\">");
		pos = escape_text(pos, end, address, latin1);
		pos = append(pos, end, "</a>");
		done = i + n;
		i = done - 1;
	}
	return escape_text(pos, end, line.substr(done), latin1);
}

enum class block { none, paragraph, preformatted };

char *
close_block(char *pos, char *end, block open)
{
	if (open == block::paragraph)
		return append(pos, end, "</p>\n");
	if (open == block::preformatted)
		return append(pos, end, "</pre>\n");
	return pos;
}

char *
render_body(char *pos, char *end, std::string_view body, bool latin1)
{
	std::size_t margin = common_indent(body);
	block open = block::none;
	std::size_t blanks = 0; // blank lines since the last preformatted one
	std::size_t at = 0;
	std::string_view raw, line;
	while (next_line(body, &at, &raw)) {
		shape s = shape_of(raw, margin, latin1, &line);
		if (s == shape::blank) {
			if (open == block::paragraph) {
				pos = close_block(pos, end, open);
				open = block::none;
			}
			blanks++;
			continue;
		}
		// An indented first line of a paragraph, followed by prose,
		// is the paragraph's own indent.
		bool first = open == block::none ||
		    (open == block::preformatted && blanks > 0);
		if (s == shape::indented && first) {
			std::size_t peek = at;
			std::string_view next, unused;
			if (next_line(body, &peek, &next) &&
			    shape_of(next, margin, latin1, &unused) ==
				shape::prose)
				s = shape::prose;
		}
		if (s == shape::prose) {
			if (open == block::preformatted) {
				pos = close_block(pos, end, open);
				open = block::none;
			}
			if (open == block::paragraph) {
				pos = append(pos, end,
				    list_item(line) ? "<br>\n" : "\n");
			} else {
				pos = append(pos, end, "<p>");
				open = block::paragraph;
			}
		} else {
			if (open == block::paragraph)
				pos = close_block(pos, end, open);
			if (open == block::preformatted) {
				for (std::size_t i = 0; i <= blanks; i++)
					pos = append(pos, end, "\n");
			} else {
				pos = append(pos, end, "<pre>");
			}
			open = block::preformatted;
		}
		blanks = 0;
		pos = render_line(pos, end, line, latin1);
	}
	return close_block(pos, end, open);
}

} // namespace

std::string_view
description_website(std::string_view text)
{
	std::string_view line;
	std::string_view tail = text.substr(body_length(text));
	std::size_t at = 0;
	while (next_line(tail, &at, &line)) {
		std::string_view address = www_address(line);
		if (!address.empty())
			return address;
	}
	return {};
}

char *
render_description(
    char *pos, char *end, std::string_view text, std::string_view *website)
{
	if (website != nullptr)
		*website = {};
	bool latin1 = !valid_utf8(text);
	std::size_t body = body_length(text);
	pos = render_body(pos, end, text.substr(0, body), latin1);

	// The first address is the port's web site; another one stays, as
	// its own paragraph, unless it repeats the first.
	std::string_view first, line;
	std::string_view tail = text.substr(body);
	std::size_t at = 0;
	while (next_line(tail, &at, &line)) {
		std::string_view address = www_address(line);
		if (address.empty() || address == first)
			continue;
		if (first.empty()) {
			first = address;
			continue;
		}
		pos = append(pos, end, "<p>");
		pos = render_line(pos, end, trim_end(line), latin1);
		pos = append(pos, end, "</p>\n");
	}
	if (website != nullptr)
		*website = first;
	return pos;
}
