// A port's description text rendered for reading.
//
// Description files are plain text hard-wrapped at about 72 columns. Read as
// they are in a proportional font, prose wraps twice on a narrow screen and
// anything laid out with spaces falls apart. So the text is judged by block,
// as its author laid it out: paragraphs, lists whose items go on over
// indented lines, and preformatted blocks (indented blocks, code, tables
// whose columns line up, art) become <p>, <ul> or <ol>, and <pre>; the
// browser reflows the first two and keeps the last as it is. Underlined
// titles become headings. UPDATING notes and pkg-messages are the same
// kind of text, by the same people, and are judged the same way. Each line
// is read once for what the judging needs (its indent, an item marker, its
// gaps, how much of it draws, whether it reads as code) and judged with at
// most two lines after it and one before, so the text is rendered in one
// pass. The judging looks at the raw bytes
// only for ASCII, which reads the same in UTF-8 and ISO-8859-1, so the text
// is decoded once, while it is escaped on its way out; nothing is copied
// and nothing is allocated.
#include "pages/description.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "state/state.h"
#include "text/bounded.h"

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
// close a sentence; what ends one.
constexpr byte_set address_stops = bytes_of("<>\"");
constexpr byte_set trailing_marks = bytes_of(".,;:!?'");
constexpr byte_set closing_marks = bytes_of(")\"'");
constexpr byte_set sentence_ends = bytes_of(".!?:");

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

// The first look at the body, a line at a time: the blanks that begin every
// non-blank line, which are the text's margin and not indentation, and the
// usual width of its lines, the length that half of them reach, so that a
// short line can be told from a hard-wrapped one.
struct body_measure {
	std::size_t margin;
	std::size_t width;
};

// The width below which a text's lines are all short, as in a poem or an
// address block: their breaks are kept all the same.
constexpr std::size_t least_width = 60;

body_measure
measure_body(std::string_view text)
{
	std::string_view margin;
	bool first = true;
	std::array<std::size_t, 128> lengths{}; // lines by length, capped
	std::size_t lines = 0;
	std::size_t at = 0;
	std::string_view line;
	while (next_line(text, &at, &line)) {
		line = trim_end(line);
		if (line.empty())
			continue;
		std::size_t n = 0;
		std::size_t most = first ? line.size() : margin.size();
		while (n < most && (line[n] == ' ' || line[n] == '\t') &&
		    (first || line[n] == margin[n]))
			n++;
		margin = line.substr(0, n);
		first = false;
		lengths[std::min(line.size(), lengths.size() - 1)]++;
		lines++;
	}
	std::size_t width = 0;
	for (std::size_t below = 0; width + 1 < lengths.size(); width++) {
		below += lengths[width];
		if (2 * below >= lines)
			break;
	}
	width -= std::min(width, margin.size());
	return {.margin = margin.size(), .width = std::max(width, least_width)};
}

constexpr bool
ascii_punct(char c)
{
	return (c > ' ' && c < '0') || (c > '9' && c < 'A') ||
	    (c > 'Z' && c < 'a') || (c > 'z' && c < '\x7F');
}

// What read_line adds up for each byte, in one word: letters and digits
// (with every character beyond ASCII but box drawing), drawing marks (ASCII
// punctuation) and the bytes that take no column (the later bytes of a
// UTF-8 character, controls), a field of each; the top bit marks the bytes
// that need a closer look: blanks, ':' that may begin "://", '@', '=' that
// may set a name and the byte that may begin a box-drawing character.
constexpr int field_bits = 21;
constexpr std::uint64_t field_mask = (std::uint64_t{1} << field_bits) - 1;
constexpr std::uint64_t letter_one = 1;
constexpr std::uint64_t drawing_one = letter_one << field_bits;
constexpr std::uint64_t no_column_one = drawing_one << field_bits;
constexpr std::uint64_t no_column_field = field_mask << (2 * field_bits);
constexpr std::uint64_t closer_look = std::uint64_t{1} << 63;
// A line is counted in pieces short enough that no field overflows.
constexpr std::size_t piece_size = std::size_t{1} << (field_bits - 2);

constexpr std::array<std::uint64_t, 256>
byte_weights_of(bool latin1)
{
	std::array<std::uint64_t, 256> weights{};
	for (int c = 0; c < 256; c++) {
		std::uint64_t weight = no_column_one;
		if (c == ' ' || c == '\t' || c == ':' || c == '@' || c == '=' ||
		    (c == 0xE2 && !latin1))
			weight = closer_look;
		else if (ascii_punct(static_cast<char>(c)))
			weight = drawing_one;
		else if ((c > ' ' && c < 0x7F) || c >= (latin1 ? 0xA0 : 0xC0))
			weight = letter_one;
		weights[static_cast<std::size_t>(c)] = weight;
	}
	return weights;
}
constexpr std::array<std::uint64_t, 256> byte_weights_utf8 =
    byte_weights_of(false);
constexpr std::array<std::uint64_t, 256> byte_weights_latin1 =
    byte_weights_of(true);

enum class marker : unsigned char { none, bullet, number };

// The gaps of a line that count for columns, at most; a line with more
// cannot line up with its neighbour in all or nearly all of them.
constexpr std::size_t max_gaps = 16;

// What the judging needs to know of one non-blank line, learnt from one
// look at its bytes.
struct line_info {
	std::string_view text;	   // without the margin and trailing blanks
	std::size_t blanks_before; // blank lines between it and the one before
	std::size_t lead;	   // bytes of its leading blanks
	unsigned indent;	   // their width in columns
	marker item;
	unsigned number;	// the number of a numbered item
	std::size_t words;	// where an item's words begin in text
	bool art;		// mostly drawing characters
	bool prompt;		// begins with a prompt: ">>> ", "# " before a command
	bool colon;		// ends with ':'
	bool assigns;		// sets a name: "name=value", "name = value"
	bool brace;		// ends with '{' or '\\', begins with '}', a tag
	bool rule;		// three or more of one of '-', '=' and '~' alone
	bool www;		// begins with "WWW:" and an address
	bool addresses;		// holds "://"
	bool mail;		// holds '@'
	unsigned gaps;		// tabs or runs of spaces inside it
	std::array<std::uint16_t, max_gaps> gap_start, gap_end; // columns
};

// The column after a byte: tabs stop every eight columns.
unsigned
column_after(unsigned column, char c)
{
	return c == '\t' ? (column / 8 + 1) * 8 : column + 1;
}

// The length of the item marker that begins words, with the blanks after
// it: "- ", "* ", "+ ", a bullet, or a number of up to three digits with
// '.' or ')' and a blank; 0 when there is none.
std::size_t
item_marker(std::string_view words, bool latin1, marker *kind, unsigned *number)
{
	std::size_t n = 0;
	*number = 0;
	for (std::string_view mark : {"- ", "* ", "+ ", "-\t", "*\t", "+\t",
		 "\xE2\x80\xA2 "}) {
		if (words.starts_with(mark) && (mark.size() == 2 || !latin1)) {
			n = mark.size();
			*kind = marker::bullet;
			break;
		}
	}
	if (n == 0) {
		while (n < words.size() && n < 4 && words[n] >= '0' &&
		    words[n] <= '9')
			*number = *number * 10 + static_cast<unsigned>(words[n++] - '0');
		if (n == 0 || n > 3 || n + 1 >= words.size() ||
		    (words[n] != '.' && words[n] != ')') ||
		    (words[n + 1] != ' ' && words[n + 1] != '\t'))
			return 0;
		n += 2;
		*kind = marker::number;
	}
	while (n < words.size() && (words[n] == ' ' || words[n] == '\t'))
		n++;
	return n;
}

// Whether the blanks at text[run] follow the end of a sentence.
bool
after_sentence(std::string_view text, std::size_t from, std::size_t run)
{
	while (run > from && one_of(closing_marks, text[run - 1]))
		run--;
	return run > from && one_of(sentence_ends, text[run - 1]);
}

// Whether words, a line less its indent, begin with a shell's prompt and a
// command: "# ", "$ " or "% " and a lower-case letter, '.', '/' or '~'.
bool
shell_prompt(std::string_view words)
{
	return words.size() >= 3 &&
	    (words[0] == '#' || words[0] == '$' || words[0] == '%') &&
	    words[1] == ' ' &&
	    ((words[2] >= 'a' && words[2] <= 'z') || words[2] == '.' ||
		words[2] == '/' || words[2] == '~');
}

constexpr byte_set name_bytes = bytes_of(
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.-");

// Whether the '=' at text[at] sets a name, as a shell, a make file or a
// configuration file does: a name right before it ("+=", "?=" and ":="
// too) and a value right after it, "name=value"; or, blanks on both sides,
// the line's first word, "name = value". No comparison ("==", "<=", "!=",
// "=>", "=~"). The line's words begin at from.
bool
assignment_at(std::string_view text, std::size_t from, std::size_t at)
{
	if (at + 1 >= text.size() || text[at + 1] == '=' ||
	    text[at + 1] == '>' || text[at + 1] == '~')
		return false;
	std::size_t name_end = at;
	char before = name_end > from ? text[name_end - 1] : '\0';
	if (before == '<' || before == '>' || before == '=' || before == '!')
		return false;
	if (before == '+' || before == '?' || before == ':')
		name_end--;
	bool spaced = false;
	while (name_end > from &&
	    (text[name_end - 1] == ' ' || text[name_end - 1] == '\t')) {
		name_end--;
		spaced = true;
	}
	bool blank_after = text[at + 1] == ' ' || text[at + 1] == '\t';
	if (spaced != blank_after)
		return false;
	std::size_t name = name_end;
	while (name > from && one_of(name_bytes, text[name - 1]))
		name--;
	return name < name_end && (!spaced || name == from);
}

// Reads what the judging needs from a non-blank line, less its margin.
void
read_line(std::string_view line, std::size_t margin, bool latin1,
    line_info *info)
{
	std::string_view text = trim_end(line).substr(margin);
	const std::size_t size = text.size();
	info->text = text;
	std::size_t i = 0;
	unsigned column = 0;
	while (i < size && (text[i] == ' ' || text[i] == '\t'))
		column = column_after(column, text[i++]);
	info->lead = i;
	info->indent = column;
	info->item = marker::none;
	std::size_t mark = item_marker(
	    text.substr(i), latin1, &info->item, &info->number);
	info->words = i + mark;
	std::size_t marks = i;
	while (marks < size && ascii_punct(text[marks]))
		marks++;
	info->prompt = (marks - i >= 3 && marks < size &&
			   (text[marks] == ' ' || text[marks] == '\t')) ||
	    shell_prompt(text.substr(i));
	info->colon = text[size - 1] == ':';
	info->addresses = info->mail = info->assigns = false;
	info->brace = text[size - 1] == '{' || text[size - 1] == '\\' ||
	    text[i] == '}';
	char first = text[i];
	info->rule = (first == '-' || first == '=' || first == '~') &&
	    size - i >= 3 &&
	    text.find_first_not_of(first, i) == std::string_view::npos;
	info->www = text.substr(i).starts_with(www_prefix) &&
	    !www_address(text.substr(i)).empty();

	// One pass over the rest: gaps, and the counts that tell art. The
	// column of a byte is that of base, plus the bytes after it that take
	// one; only blanks need it.
	const std::array<std::uint64_t, 256> &weights =
	    latin1 ? byte_weights_latin1 : byte_weights_utf8;
	std::size_t letters = 0, drawing = 0, skipped = 0, boxes = 0;
	unsigned gaps = 0;
	std::uint64_t counts = 0; // since the last piece, in fields
	std::size_t base = i, base_skipped = 0;
	unsigned base_column = column;
	auto skipped_now = [&] {
		return skipped + ((counts >> (2 * field_bits)) & field_mask);
	};
	while (i < size) {
		const std::size_t stop = std::min(size, i + piece_size);
		while (i < stop) {
			unsigned char c = static_cast<unsigned char>(text[i]);
			std::uint64_t weight = weights[c];
			if ((weight & closer_look) == 0) {
				counts += weight;
				i++;
				continue;
			}
			// Trailing blanks are gone: a blank has a byte after it.
			if (c == ' ' && text[i + 1] != ' ' && text[i + 1] != '\t') {
				i++;
				continue;
			}
			if (c == ' ' || c == '\t') {
				std::size_t run = i;
				unsigned start = static_cast<unsigned>(base_column +
				    (i - base) - (skipped_now() - base_skipped));
				column = start;
				while (text[i] == ' ' || text[i] == '\t')
					column = column_after(column, text[i++]);
				base = i;
				base_column = column;
				base_skipped = skipped_now();
				// Two spaces after a sentence are no gap.
				if (i - run > 2 || text[run] == '\t' ||
				    text[run + 1] == '\t' ||
				    !after_sentence(text, info->lead, run)) {
					if (gaps < max_gaps) {
						info->gap_start[gaps] =
						    static_cast<std::uint16_t>(
							std::min(start, 0xFFFFu));
						info->gap_end[gaps] =
						    static_cast<std::uint16_t>(
							std::min(column, 0xFFFFu));
					}
					gaps++;
				}
				continue;
			}
			if (c == ':' && i + 2 < size && text[i + 1] == '/' &&
			    text[i + 2] == '/') {
				// An address draws nothing, up to the next blank.
				info->addresses = true;
				for (; i < stop && text[i] != ' ' && text[i] != '\t';
				     i++) {
					unsigned char b =
					    static_cast<unsigned char>(text[i]);
					counts += (weights[b] & no_column_field) != 0
					    ? no_column_one
					    : letter_one;
				}
				continue;
			}
			if (c == '=') {
				info->assigns = info->assigns ||
				    assignment_at(text, info->lead, i);
				counts += drawing_one;
				i++;
				continue;
			}
			if (c == '@')
				info->mail = true;
			// U+2500 to U+259F: box drawing and block elements.
			if (c == 0xE2 && !(i + 2 < size &&
					     (text[i + 1] == '\x94' ||
						 text[i + 1] == '\x95' ||
						 (text[i + 1] == '\x96' &&
						     static_cast<unsigned char>(
							 text[i + 2]) < 0xA0)))) {
				counts += letter_one;
			} else {
				boxes += c == 0xE2 ? 1 : 0;
				counts += drawing_one;
			}
			i++;
		}
		letters += counts & field_mask;
		drawing += (counts >> field_bits) & field_mask;
		skipped += (counts >> (2 * field_bits)) & field_mask;
		counts = 0;
	}
	info->gaps = gaps;
	info->art = (drawing >= 3 && drawing > letters) ||
	    (boxes > 0 && drawing >= letters);
	// A line that is a tag of markup, "<Directory /usr/local/www>", but
	// not an address in '<' and '>'.
	info->brace = info->brace ||
	    (text[info->lead] == '<' && text[size - 1] == '>' &&
		!info->addresses && !info->mail);
}

// Whether a line is indented deeper than the text's margin: by a tab, or by
// two or more columns.
bool
indented(const line_info &line)
{
	return line.indent >= 2;
}

// How many of a's gaps begin or end where one of b's does. Each line's gaps
// are in order, so the two lists are walked side by side.
std::size_t
gaps_lined_up(const line_info &a, const line_info &b)
{
	std::size_t matched = 0, by_start = 0, by_end = 0;
	std::size_t na = std::min<std::size_t>(a.gaps, max_gaps);
	std::size_t nb = std::min<std::size_t>(b.gaps, max_gaps);
	for (std::size_t i = 0; i < na; i++) {
		while (by_start < nb && b.gap_start[by_start] < a.gap_start[i])
			by_start++;
		while (by_end < nb && b.gap_end[by_end] < a.gap_end[i])
			by_end++;
		matched += (by_start < nb &&
			       b.gap_start[by_start] == a.gap_start[i]) ||
		    (by_end < nb && b.gap_end[by_end] == a.gap_end[i]);
	}
	return matched;
}

// Whether two neighbouring lines are rows of one table: all or nearly all
// (all but one in four) of each one's gaps line up with the other's.
// Justified prose, whose gaps fall anywhere, does not.
bool
columns_line_up(const line_info &a, const line_info &b)
{
	auto nearly_all = [](std::size_t matched, std::size_t n) {
		return n > 0 && matched >= n - n / 4;
	};
	return nearly_all(gaps_lined_up(a, b), a.gaps) &&
	    nearly_all(gaps_lined_up(b, a), b.gaps);
}

// The non-blank lines of a body around the one being judged, each read
// once: the judging looks at most two lines ahead and one back. Blank
// lines are counted, not kept.
constexpr std::size_t window_size = 4;

struct line_window {
	std::string_view body;
	std::size_t at; // where the next line to read begins
	std::size_t margin;
	bool latin1;
	std::size_t current; // the line being judged, counted from 0
	std::size_t read;    // the lines read so far
	std::array<line_info, window_size> lines;
};

// The line k lines after the current one, or null past the last.
const line_info *
ahead(line_window *w, std::size_t k)
{
	while (w->read <= w->current + k) {
		std::size_t blanks = 0;
		std::string_view line;
		for (;;) {
			if (!next_line(w->body, &w->at, &line))
				return nullptr;
			if (!trim_end(line).empty())
				break;
			blanks++;
		}
		line_info *info = &w->lines[w->read % window_size];
		read_line(line, w->margin, w->latin1, info);
		info->blanks_before = blanks;
		w->read++;
	}
	return &w->lines[(w->current + k) % window_size];
}

// The line before the current one, or null before the first.
const line_info *
behind(const line_window *w)
{
	return w->current > 0 ? &w->lines[(w->current - 1) % window_size]
			      : nullptr;
}

enum class block : unsigned char { none, paragraph, preformatted, list };

// Lists nest at most this deep; deeper items join the deepest list.
constexpr std::size_t max_depth = 8;

struct list_level {
	unsigned indent; // of its items' markers
	bool ordered;
	unsigned next; // the number that a numbered item is expected to have
};

struct render_state {
	block open;
	std::size_t depth; // lists open, when open is a list
	std::array<list_level, max_depth> levels;
	std::size_t short_line;	 // lines shorter than this keep their break
	std::size_t wide_line;	 // lines as long as this are of the usual width
	std::size_t last_length; // of the last line in a paragraph or item
	bool last_colon;	 // the last non-blank line ends with ':'
	unsigned pre_indent;	 // the least indent in the open <pre>
	bool pre_code;		 // the open <pre> holds a line of code
	std::string_view heading, heading_end; // "<h3>", "</h3>\n"
};

enum class kind : unsigned char {
	prose,
	preformatted,
	item,
	continuation,
	code,	 // preformatted, and what follows it right after goes on
		 // with it unless it ends a sentence
	heading, // a title, with the line that underlines it
	rule
};

// Whether a line right after an item whose marker is indented by bullet
// goes on with it: a plain line indented deeper than the marker, or as
// deep when the marker is indented.
bool
continues_item(const line_info &line, unsigned bullet)
{
	return line.item == marker::none &&
	    (line.indent > bullet || (line.indent == bullet && bullet > 0));
}

// Whether a line reads as code: a prompt, an assignment, a brace that opens
// or closes a block, a '\\' that goes on to the next line, a tag of markup.
bool
code_line(const line_info &line)
{
	return line.prompt || line.assigns || line.brace;
}

bool
ends_sentence(const line_info &line)
{
	return after_sentence(line.text, line.lead, line.text.size()) &&
	    line.text.back() != ':';
}

// Whether a line ends as prose does: in a word or with punctuation.
bool
ends_in_words(const line_info &line)
{
	char c = line.text.back();
	return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
	    (c >= '0' && c <= '9') || static_cast<unsigned char>(c) >= 0x80 ||
	    one_of(trailing_marks, c) || one_of(closing_marks, c);
}

std::size_t email_length(
    std::string_view line, std::size_t from, std::size_t at, std::size_t *start);

// Whether a line holds nothing but one web or e-mail address, perhaps in
// '<' and '>' or in parentheses.
bool
address_only(const line_info &line)
{
	if (!line.addresses && !line.mail)
		return false;
	std::string_view t = line.text.substr(line.lead);
	if (t.size() > 2 && ((t.front() == '<' && t.back() == '>') ||
			       (t.front() == '(' && t.back() == ')')))
		t = t.substr(1, t.size() - 2);
	std::size_t at = t.find('@'), start = 1;
	return link_length(t) == t.size() ||
	    (at != std::string_view::npos &&
		email_length(t, 0, at, &start) == t.size() && start == 0);
}

// Whether a marked line is a signature, "- Jane Doe", rather than a list:
// a short line marked with '-', outside a list and after no ':', that ends
// the text or has nothing after it but an address.
bool
signature(line_window *w, const render_state &s, const line_info &line,
    const line_info *next)
{
	if (line.item != marker::bullet || line.text[line.lead] != '-' ||
	    s.open == block::list || s.last_colon ||
	    line.text.size() >= s.short_line)
		return false;
	return next == nullptr ||
	    (next->blanks_before == 0 && address_only(*next) &&
		ahead(w, 2) == nullptr);
}

// What a line is, judged with its neighbours and what is open.
kind
judge(line_window *w, const render_state &s, const line_info &line)
{
	if (s.open == block::list && line.blanks_before == 0 &&
	    continues_item(line, s.levels[s.depth - 1].indent))
		return kind::continuation;
	const line_info *next = ahead(w, 1);
	bool next_touches = next != nullptr && next->blanks_before == 0;
	bool begins = line.blanks_before > 0 || w->current == 0;
	// A line of '-', '=' or '~' standing alone is a rule; under a title,
	// its underline.
	if (line.rule && begins && !next_touches)
		return kind::rule;
	if (begins && next_touches && next->rule && !line.rule && !line.art &&
	    !line.prompt && line.item == marker::none)
		return kind::heading;
	if (line.art)
		return kind::preformatted;
	if (line.item != marker::none) {
		// A lone marked line with a plain line right under it, as
		// "- Jane" above an address, begins no list.
		bool lone = s.open != block::list && next_touches &&
		    next->item == marker::none &&
		    !continues_item(*next, line.indent);
		return lone || signature(w, s, line, next) ? kind::prose
							   : kind::item;
	}
	if (line.prompt)
		return kind::preformatted;
	const line_info *prev = behind(w);
	if (line.gaps > 0 &&
	    ((prev != nullptr && line.blanks_before == 0 &&
		 columns_line_up(*prev, line)) ||
		(next_touches && columns_line_up(line, *next))))
		return kind::preformatted;
	bool in_pre = s.open == block::preformatted;
	// The line after next, when it goes on the same block.
	const line_info *after = next_touches ? ahead(w, 2) : nullptr;
	if (after != nullptr && after->blanks_before > 0)
		after = nullptr;
	if (indented(line)) {
		// The first line alone indented: a paragraph's indent, unless
		// the lines hold code. It ends a block of code before it only
		// when the lines are of the usual width and end as prose does.
		bool first_alone = next_touches && !indented(*next) &&
		    next->item == marker::none;
		bool code = code_line(line) ||
		    (next_touches && code_line(*next)) ||
		    (after != nullptr && code_line(*after));
		if (first_alone && !code &&
		    (!in_pre ||
			(begins && line.text.size() >= s.wide_line &&
			    ends_in_words(line) && ends_in_words(*next) &&
			    (after == nullptr ||
				next->text.size() >= s.wide_line))))
			return kind::prose;
		// A block goes on after blank lines at its own indent.
		if (in_pre && (line.blanks_before == 0 ||
				  line.indent >= s.pre_indent))
			return kind::preformatted;
		if (first_alone)
			return code ? kind::code : kind::prose;
		// Two indented lines, blank lines between them allowed, unless
		// the second begins a paragraph.
		if (next != nullptr && indented(*next) &&
		    next->item == marker::none) {
			const line_info *second =
			    next_touches ? nullptr : ahead(w, 2);
			if (second == nullptr || second->blanks_before > 0 ||
			    indented(*second) || second->item != marker::none)
				return kind::preformatted;
		}
		if (code)
			return kind::code;
		return s.last_colon ? kind::preformatted : kind::prose;
	}
	// Code at the margin, when the line ends no sentence: right after code
	// (as the line after a '\\' is); a line of code after a ':'; a block
	// in whose first lines no sentence ends, that begins with a line of
	// code or, after a ':', holds one.
	bool code_block = in_pre && s.pre_code && line.blanks_before == 0;
	bool holds_code = code_line(line) ||
	    (s.last_colon && ((next_touches && code_line(*next)) ||
				 (after != nullptr && code_line(*after))));
	if (!ends_sentence(line) &&
	    (code_block || (code_line(line) && s.last_colon) ||
		(begins && holds_code &&
		    !(next_touches && ends_sentence(*next)) &&
		    !(after != nullptr && ends_sentence(*after)))))
		return kind::code;
	// One line between two of a block belongs to it.
	if (in_pre && line.blanks_before == 0 && next_touches &&
	    next->item == marker::none &&
	    (next->art || next->prompt || indented(*next)))
		return kind::preformatted;
	return kind::prose;
}

// The e-mail address whose '@' is at line[at], beginning no earlier than
// from: its length, and its start in *start; 0 when there is none. The
// domain has two or more labels, the last of two or more letters.
constexpr byte_set local_bytes = bytes_of(
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._%+-");
constexpr byte_set domain_bytes = bytes_of(
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-");

std::size_t
email_length(
    std::string_view line, std::size_t from, std::size_t at, std::size_t *start)
{
	std::size_t s = at;
	while (s > from && one_of(local_bytes, line[s - 1]))
		s--;
	while (s < at && line[s] == '.')
		s++;
	std::size_t e = at + 1;
	while (e < line.size() && one_of(domain_bytes, line[e]))
		e++;
	while (e > at + 1 && (line[e - 1] == '.' || line[e - 1] == '-'))
		e--;
	std::string_view domain = line.substr(at + 1, e - at - 1);
	std::size_t dot = domain.rfind('.');
	if (s == at || dot == std::string_view::npos || domain[0] == '.' ||
	    domain[0] == '-' || domain.find("..") != std::string_view::npos ||
	    domain.size() - dot < 3)
		return 0;
	for (char c : domain.substr(dot + 1)) {
		if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
			return 0;
	}
	*start = s;
	return e - s;
}

// One line's text, escaped, its web and e-mail addresses made links; the
// line holds "://" only when addresses, and '@' only when mail.
char *
render_line(char *pos, char *end, std::string_view line, bool latin1,
    bool addresses, bool mail)
{
	if (!addresses && !mail)
		return escape_text(pos, end, line, latin1);
	std::size_t done = 0;
	for (std::size_t i = 0; i < line.size(); i++) {
		std::size_t start = i, n = 0;
		std::string_view scheme;
		if (addresses && may_begin_address(line, i)) {
			n = link_length(line.substr(i));
		} else if (mail && line[i] == '@') {
			n = email_length(line, done, i, &start);
			scheme = "mailto:";
		}
		if (n == 0)
			continue;
		std::string_view address = line.substr(start, n);
		pos = escape_text(
		    pos, end, line.substr(done, start - done), latin1);
		pos = append(pos, end, "<a href=\"");
		pos = append(pos, end, scheme);
		pos = escape_text(pos, end, address, latin1);
		pos = append(pos, end, "\">");
		pos = escape_text(pos, end, address, latin1);
		pos = append(pos, end, "</a>");
		done = start + n;
		i = done - 1;
	}
	return escape_text(pos, end, line.substr(done), latin1);
}

// Closes the lists open deeper than depth.
char *
close_lists(char *pos, char *end, render_state *s, std::size_t depth)
{
	for (; s->depth > depth; s->depth--) {
		pos = append(pos, end,
		    s->levels[s->depth - 1].ordered ? "</li>\n</ol>\n"
						    : "</li>\n</ul>\n");
	}
	return pos;
}

char *
close_block(char *pos, char *end, render_state *s)
{
	if (s->open == block::paragraph)
		pos = append(pos, end, "</p>\n");
	else if (s->open == block::preformatted)
		pos = append(pos, end, "</pre>\n");
	else if (s->open == block::list)
		pos = close_lists(pos, end, s, 0);
	s->open = block::none;
	return pos;
}

// Opens a list, at the depth s->depth, with line as its first item.
char *
open_list(char *pos, char *end, render_state *s, const line_info &line)
{
	bool ordered = line.item == marker::number;
	s->levels[s->depth++] = {
	    .indent = line.indent, .ordered = ordered, .next = line.number + 1};
	if (!ordered)
		return append(pos, end, "<ul>\n<li>");
	if (line.number == 1)
		return append(pos, end, "<ol>\n<li>");
	pos = append(pos, end, "<ol start=\"");
	pos = append_number(pos, end, line.number);
	return append(pos, end, "\">\n<li>");
}

// Begins the item that line starts: in the list open at its depth, in a
// list nested in the item before when it is indented deeper, in a new list
// when none is open or the open one is of the other kind.
char *
start_item(char *pos, char *end, render_state *s, const line_info &line)
{
	bool ordered = line.item == marker::number;
	if (s->open != block::list) {
		pos = close_block(pos, end, s);
		s->open = block::list;
		return open_list(pos, end, s, line);
	}
	bool closed = false; // a nested list closed: a new line has begun
	while (s->depth > 1 && line.indent < s->levels[s->depth - 1].indent) {
		pos = close_lists(pos, end, s, s->depth - 1);
		closed = true;
	}
	list_level &level = s->levels[s->depth - 1];
	if (line.indent > level.indent && s->depth < max_depth) {
		if (!closed)
			pos = append(pos, end, "\n");
		return open_list(pos, end, s, line);
	}
	if (level.ordered != ordered) {
		pos = close_lists(pos, end, s, s->depth - 1);
		return open_list(pos, end, s, line);
	}
	level.indent = std::min(level.indent, line.indent);
	if (!ordered || line.number == level.next) {
		pos = append(pos, end, "</li>\n<li>");
	} else {
		pos = append(pos, end, "</li>\n<li value=\"");
		pos = append_number(pos, end, line.number);
		pos = append(pos, end, "\">");
	}
	level.next = line.number + 1;
	return pos;
}

// The break between two lines of a paragraph or an item: kept after a
// short line, left to the browser after one of the usual width.
std::string_view
line_break(const render_state &s)
{
	return s.last_length < s.short_line ? "<br>\n" : "\n";
}

char *
render_body(char *pos, char *end, std::string_view body, bool latin1,
    std::string_view heading, std::string_view heading_end)
{
	body_measure measure = measure_body(body);
	line_window w; // its lines are written as they are read
	w.body = body;
	w.at = 0;
	w.margin = measure.margin;
	w.latin1 = latin1;
	w.current = 0;
	w.read = 0;
	render_state s{.open = block::none,
	    .depth = 0,
	    .levels = {},
	    .short_line = measure.width / 2,
	    .wide_line = measure.width * 3 / 4,
	    .last_length = 0,
	    .last_colon = false,
	    .pre_indent = 0,
	    .pre_code = false,
	    .heading = heading,
	    .heading_end = heading_end};
	for (const line_info *line; (line = ahead(&w, 0)) != nullptr;
	     w.current++) {
		std::string_view text = line->text;
		kind judged = judge(&w, s, *line);
		bool code = judged == kind::code || code_line(*line);
		switch (judged) {
		case kind::prose:
			if (s.open == block::paragraph &&
			    line->blanks_before == 0) {
				pos = append(pos, end,
				    line->www ? "<br>\n" : line_break(s));
			} else {
				pos = close_block(pos, end, &s);
				pos = append(pos, end, "<p>");
				s.open = block::paragraph;
			}
			break;
		case kind::preformatted:
		case kind::code:
			if (s.open == block::preformatted) {
				for (std::size_t i = 0; i <= line->blanks_before;
				     i++)
					pos = append(pos, end, "\n");
				s.pre_indent = std::min(s.pre_indent, line->indent);
				s.pre_code = s.pre_code || code;
			} else {
				pos = close_block(pos, end, &s);
				pos = append(pos, end, "<pre>");
				s.open = block::preformatted;
				s.pre_indent = line->indent;
				s.pre_code = code;
			}
			break;
		case kind::item:
			pos = start_item(pos, end, &s, *line);
			text = text.substr(line->words);
			break;
		case kind::continuation:
			pos = append(pos, end,
			    line->www ? "<br>\n" : line_break(s));
			text = text.substr(line->lead);
			break;
		case kind::heading:
			pos = close_block(pos, end, &s);
			pos = append(pos, end, s.heading);
			pos = render_line(pos, end, text.substr(line->lead), latin1,
			    line->addresses, line->mail);
			pos = append(pos, end, s.heading_end);
			s.last_colon = false;
			w.current++; // the underline
			continue;
		case kind::rule:
			pos = close_block(pos, end, &s);
			pos = append(pos, end, "<hr>\n");
			s.last_colon = false;
			continue;
		}
		s.last_length = line->text.size();
		s.last_colon = line->colon;
		pos = render_line(
		    pos, end, text, latin1, line->addresses, line->mail);
		// A "WWW:" line stands on a line of its own: what follows it
		// begins a paragraph, or a line of its item.
		if (line->www && s.open == block::paragraph)
			pos = close_block(pos, end, &s);
		else if (line->www)
			s.last_length = 0;
	}
	return close_block(pos, end, &s);
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
	pos = render_body(
	    pos, end, text.substr(0, body), latin1, "<h3>", "</h3>\n");

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
		pos = render_line(pos, end, trim_end(line), latin1, true, true);
		pos = append(pos, end, "</p>\n");
	}
	if (website != nullptr)
		*website = first;
	return pos;
}

std::string_view
description_body(std::string_view text)
{
	return text.substr(0, body_length(text));
}

char *
render_free_text(char *pos, char *end, std::string_view text)
{
	return render_body(pos, end, text, !valid_utf8(text), "<h4>", "</h4>\n");
}
