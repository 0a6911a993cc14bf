// pkg-message files are written in a small part of UCL, which this reader
// takes by recursive descent: a list of objects whose values are quoted
// strings, bare words or "<<EOM" texts, with comments and the separators
// UCL allows (':' or '=' or none between a key and its value, ',' or ';' or
// a newline between pairs). Values of keys it does not know may be objects
// or lists; they are passed over. The reader writes nothing until the whole
// file has been read: the escapes of quoted strings are undone into room, so
// a file that fails halfway is still shown as it was written.
#include "treedata/pkg_message.h"

#include <algorithm>
#include <cstdio>

#include "state/state.h"
#include "state/messages.h"

namespace {

constexpr int max_depth = 16; // of objects and lists passed over

struct ucl_reader {
	std::string_view text;
	std::size_t pos;
	char *room; // where the next unescaped string goes
	std::string_view error;
	std::size_t error_pos;
};

bool
fail(ucl_reader *r, std::string_view why)
{
	if (r->error.empty()) {
		r->error = why;
		r->error_pos = r->pos;
	}
	return false;
}

bool
at_end(const ucl_reader *r)
{
	return r->pos >= r->text.size();
}

char
peek(const ucl_reader *r)
{
	return at_end(r) ? '\0' : r->text[r->pos];
}

bool
white(char c)
{
	return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' ||
	    c == '\v';
}

bool
starts(const ucl_reader *r, std::string_view what)
{
	return r->text.substr(r->pos).starts_with(what);
}

// Passes white space and comments: "#" and "//" to the line's end, "/*" to
// "*/".
bool
skip_space(ucl_reader *r)
{
	for (;;) {
		while (!at_end(r) && white(peek(r)))
			r->pos++;
		if (peek(r) == '#' || starts(r, "//")) {
			r->pos = std::min(
			    r->text.find('\n', r->pos), r->text.size());
		} else if (starts(r, "/*")) {
			std::size_t close = r->text.find("*/", r->pos + 2);
			if (close == r->text.npos)
				return fail(r, "a comment without its end");
			r->pos = close + 2;
		} else {
			return true;
		}
	}
}

// Appends the UTF-8 form of code point cp to the room.
void
put_utf8(ucl_reader *r, std::uint32_t cp)
{
	if (cp < 0x80) {
		*r->room++ = static_cast<char>(cp);
	} else if (cp < 0x800) {
		*r->room++ = static_cast<char>(0xC0 | cp >> 6);
		*r->room++ = static_cast<char>(0x80 | (cp & 0x3F));
	} else if (cp < 0x10000) {
		*r->room++ = static_cast<char>(0xE0 | cp >> 12);
		*r->room++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
		*r->room++ = static_cast<char>(0x80 | (cp & 0x3F));
	} else {
		*r->room++ = static_cast<char>(0xF0 | cp >> 18);
		*r->room++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
		*r->room++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
		*r->room++ = static_cast<char>(0x80 | (cp & 0x3F));
	}
}

// The four hex digits at pos as a number, or -1.
long
hex4(std::string_view text, std::size_t pos)
{
	if (text.size() < pos + 4)
		return -1;
	long n = 0;
	for (std::size_t i = pos; i < pos + 4; i++) {
		char c = text[i];
		int d = c >= '0' && c <= '9' ? c - '0'
		    : c >= 'a' && c <= 'f'   ? c - 'a' + 10
		    : c >= 'A' && c <= 'F'   ? c - 'A' + 10
					     : -1;
		if (d < 0)
			return -1;
		n = n * 16 + d;
	}
	return n;
}

// The escape at r->pos, just past a backslash in a "..." string: JSON's
// escapes; "\u" with a surrogate pair or alone (U+FFFD for a half pair);
// any other character stands for itself. Every escape is longer than what
// it leaves in the room.
void
unescape(ucl_reader *r)
{
	char c = r->text[r->pos++];
	constexpr std::string_view from = "bfnrt";
	constexpr std::string_view to = "\b\f\n\r\t";
	if (from.find(c) != from.npos) {
		*r->room++ = to[from.find(c)];
		return;
	}
	long cp = c == 'u' ? hex4(r->text, r->pos) : -1;
	if (cp < 0) {
		*r->room++ = c;
		return;
	}
	r->pos += 4;
	if (cp >= 0xD800 && cp < 0xDC00 &&
	    r->text.substr(r->pos).starts_with("\\u")) {
		long low = hex4(r->text, r->pos + 2);
		if (low >= 0xDC00 && low < 0xE000) {
			r->pos += 6;
			cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
		}
	}
	if (cp >= 0xD800 && cp < 0xE000)
		cp = 0xFFFD;
	put_utf8(r, static_cast<std::uint32_t>(cp));
}

// A string in double or single quotes, at its opening quote. In single
// quotes only "\'" is an escape.
bool
read_quoted(ucl_reader *r, std::string_view *value)
{
	char quote = r->text[r->pos++];
	char *begin = r->room;
	for (;;) {
		if (at_end(r))
			return fail(r, "a string without its closing quote");
		char c = r->text[r->pos++];
		if (c == quote)
			break;
		if (c == '\\' && !at_end(r) &&
		    (quote == '"' || peek(r) == '\''))
			unescape(r);
		else
			*r->room++ = c;
	}
	*value =
	    std::string_view(begin, static_cast<std::size_t>(r->room - begin));
	return true;
}

// A "<<EOM" text: the lines after it up to the one that is the terminator
// alone.
bool
read_heredoc(ucl_reader *r, std::string_view *value)
{
	std::size_t start = r->pos;
	r->pos += 2;
	std::size_t name = r->pos;
	while (peek(r) >= 'A' && peek(r) <= 'Z')
		r->pos++;
	std::string_view terminator = r->text.substr(name, r->pos - name);
	if (starts(r, "\r"))
		r->pos++;
	if (terminator.empty() || peek(r) != '\n')
		return fail(r,
		    "\"<<\" not followed by a terminator and a "
		    "newline");
	std::size_t begin = ++r->pos;
	for (std::size_t line = begin; line < r->text.size();) {
		std::size_t eol =
		    std::min(r->text.find('\n', line), r->text.size());
		std::string_view text = r->text.substr(line, eol - line);
		while (!text.empty() &&
		    (text.back() == '\r' || text.back() == ' ' ||
			text.back() == '\t'))
			text.remove_suffix(1);
		if (text == terminator) {
			*value = r->text.substr(
			    begin, line == begin ? 0 : line - 1 - begin);
			r->pos = eol;
			return true;
		}
		line = eol + 1;
	}
	r->pos = start;
	return fail(r, "a \"<<\" text without its terminator");
}

bool
atom_byte(char c)
{
	return !white(c) && c != ',' && c != ';' && c != ']' && c != '}' &&
	    c != '{' && c != '[' && c != '"' && c != '\'' && c != '#' &&
	    c != '\0';
}

bool skip_value(ucl_reader *r, int depth);

// A value that is a text: quoted, "<<EOM" or a bare word.
bool
read_text(ucl_reader *r, std::string_view *value)
{
	char c = peek(r);
	if (c == '"' || c == '\'')
		return read_quoted(r, value);
	if (starts(r, "<<"))
		return read_heredoc(r, value);
	std::size_t begin = r->pos;
	while (!at_end(r) && atom_byte(peek(r)) && !starts(r, "//") &&
	    !starts(r, "/*"))
		r->pos++;
	if (r->pos == begin)
		return fail(r, "a value missing");
	*value = r->text.substr(begin, r->pos - begin);
	return true;
}

// Passes ',' or ';' after a value or pair.
void
skip_separator(ucl_reader *r)
{
	if (peek(r) == ',' || peek(r) == ';')
		r->pos++;
}

// Reads the pairs of an object up to its '}', calling take for each with
// its key; r->pos is just past the '{'.
template <typename Take>
bool
read_pairs(ucl_reader *r, Take take)
{
	for (;;) {
		if (!skip_space(r))
			return false;
		if (peek(r) == '}') {
			r->pos++;
			return true;
		}
		std::string_view key;
		if (peek(r) == '"' || peek(r) == '\'') {
			if (!read_quoted(r, &key))
				return false;
		} else {
			std::size_t begin = r->pos;
			while (!at_end(r) && atom_byte(peek(r)) &&
			    peek(r) != ':' && peek(r) != '=')
				r->pos++;
			key = r->text.substr(begin, r->pos - begin);
			if (key.empty())
				return fail(r,
				    at_end(r)
					? "an object without its closing '}'"
					: "a key missing");
		}
		if (!skip_space(r))
			return false;
		if (peek(r) == ':' || peek(r) == '=')
			r->pos++;
		if (!skip_space(r) || !take(key))
			return false;
		if (!skip_space(r))
			return false;
		skip_separator(r);
	}
}

// A value of any kind, passed over.
bool
skip_value(ucl_reader *r, int depth)
{
	if (depth > max_depth)
		return fail(r, "values nested too deep");
	if (peek(r) == '{') {
		r->pos++;
		return read_pairs(r,
		    [&](std::string_view) { return skip_value(r, depth + 1); });
	}
	if (peek(r) != '[') {
		std::string_view value;
		return read_text(r, &value);
	}
	r->pos++;
	for (;;) {
		if (!skip_space(r))
			return false;
		if (at_end(r))
			return fail(r, "a list without its closing ']'");
		if (peek(r) == ']') {
			r->pos++;
			return true;
		}
		if (!skip_value(r, depth + 1) || !skip_space(r))
			return false;
		skip_separator(r);
	}
}

struct message_kind_name {
	std::string_view name;
	message_kind kind;
};

constexpr message_kind_name kind_names[] = {
    {"install", message_kind::install},
    {"upgrade", message_kind::upgrade},
    {"remove", message_kind::remove},
};

// One message object, at its '{'.
bool
read_object(ucl_reader *r, message_part *part)
{
	*part = {};
	bool has_message = false;
	std::size_t start = r->pos++;
	bool read = read_pairs(r, [&](std::string_view key) {
		std::string_view value;
		if (key == "message") {
			has_message = true;
			return read_text(r, &part->text);
		}
		if (key == "minimum_version")
			return read_text(r, &part->minimum_version);
		if (key == "maximum_version")
			return read_text(r, &part->maximum_version);
		if (key != "type")
			return skip_value(r, 1);
		if (!read_text(r, &value))
			return false;
		part->kind = message_kind::always;
		for (const message_kind_name &k : kind_names)
			if (value == k.name)
				part->kind = k.kind;
		return true;
	});
	if (read && !has_message) {
		r->pos = start;
		return fail(r, "an object without a message");
	}
	return read;
}

bool
read_list(ucl_reader *r, pkg_message *out)
{
	bool list = peek(r) == '[';
	if (list)
		r->pos++;
	for (;;) {
		if (!skip_space(r))
			return false;
		if (list && peek(r) == ']') {
			r->pos++;
			return true;
		}
		if (peek(r) != '{')
			return fail(r,
			    at_end(r) ? "a list without its closing ']'"
				      : "a message object expected");
		if (out->count == max_message_parts)
			return fail(r, "more messages than can be shown");
		if (!read_object(r, &out->parts[out->count]))
			return false;
		out->count++;
		if (!list)
			return true;
		if (!skip_space(r))
			return false;
		skip_separator(r);
	}
}

} // namespace

int
read_pkg_message(
    std::string_view text, char *room, const char *path, pkg_message *out)
{
	*out = {};
	std::size_t first = 0;
	while (first < text.size() && white(text[first]))
		first++;
	if (first == text.size())
		return 0;
	if (text[first] != '[' && text[first] != '{') {
		out->form = message_form::plain;
		out->count = 1;
		out->parts[0].kind = message_kind::install;
		out->parts[0].text = text;
		return 0;
	}
	ucl_reader r = {};
	r.text = text;
	r.pos = first;
	r.room = room;
	if (read_list(&r, out) && skip_space(&r) && !at_end(&r))
		(void)fail(&r, "text after the messages");
	if (r.error.empty()) {
		out->form = message_form::ucl;
		return 0;
	}
	if (state.verbosity > 0) {
		std::size_t line = 1 +
		    static_cast<std::size_t>(std::count(
			text.begin(), text.begin() + r.error_pos, '\n'));
		say(stderr, "Showing %s as text: line %zu: %.*s\n",
		    path, line, static_cast<int>(r.error.size()),
		    r.error.data());
	}
	*out = {};
	out->form = message_form::unparsed;
	out->count = 1;
	out->parts[0].kind = message_kind::install;
	out->parts[0].text = text;
	return 1;
}
