// A port's status, read from its Makefile without running make.
//
// Only what the file says for certain is shown: an assignment at the top
// level of the file. Inside .if and .for the value depends on the machine,
// the options or the port's own variables, which only make knows, so such
// an assignment leaves the variable unknown rather than wrong. Values come
// from elsewhere too (a slave port's master, the framework); the reader
// does not follow .include, and shows nothing for what the file does not
// set itself.
//
// The file is read whole by the tree's file reader and taken apart in
// place: each logical line (continuation lines joined) is moved down over
// what has been read, so that it ends in a NUL of its own, and the values
// point into the buffer. Nothing is copied twice and nothing is allocated
// per port. The assignments of the flavors and options are handed over as
// they come (port_choices.cc), into storage that each port reuses.
#include "treedata/port_status.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "state/state.h"
#include "text/bounded.h"
#include "treedata/port_choices.h"
#include "treedata/tree_file.h"

namespace {

// What the file has said of a variable so far.
enum class known : unsigned char { unset, set, unknown };

enum class assign_op : unsigned char { none, set, set_if_unset, append, shell };

bool
is_blank(char c)
{
	return c == ' ' || c == '\t';
}

// Drops a comment from the line (from the first '#' without a backslash
// before it) and makes every "\#" a '#'. The line stays NUL-terminated.
void
strip_comment(char *line)
{
	char *w = line;
	for (char *r = line; *r != '\0'; r++) {
		if (*r == '#')
			break;
		if (r[0] == '\\' && r[1] == '#')
			r++;
		*w++ = *r;
	}
	*w = '\0';
}

char *
skip_blanks(char *p)
{
	while (is_blank(*p))
		p++;
	return p;
}

// How a directive line changes the depth of .if and .for blocks.
int
block_change(std::string_view keyword)
{
	if (keyword == "for" || keyword.starts_with("if"))
		return 1;
	if (keyword == "endif" || keyword == "endfor")
		return -1;
	return 0;
}

// The variable that name is, or status_var_count.
std::size_t
var_index(std::string_view name)
{
	for (std::size_t i = 0; i < status_var_count; i++)
		if (name == status_var_names[i])
			return i;
	return status_var_count;
}

struct reader {
	std::array<known, status_var_count> what{};
	port_status status;
	int depth = 0;
	choice_book *book = nullptr; // where the flavors and options go
};

void
forget(reader *r, std::size_t v)
{
	r->what[v] = known::unknown;
	r->status.values[v] = nullptr;
}

// ".undef NAME...": the names are no longer set, or, inside a block,
// perhaps no longer.
void
undefine(reader *r, char *p)
{
	for (;;) {
		p = skip_blanks(p);
		char *word = p;
		while (*p != '\0' && !is_blank(*p))
			p++;
		if (word == p)
			return;
		std::string_view name(word, static_cast<std::size_t>(p - word));
		std::size_t v = var_index(name);
		if (v == status_var_count) {
			if (r->depth == 0 && r->book != nullptr &&
			    is_choice_variable(name))
				note_choice(
				    *r->book, name, choice_op::undefine, {});
			continue;
		}
		if (r->depth > 0) {
			forget(r, v);
		} else {
			r->what[v] = known::unset;
			r->status.values[v] = nullptr;
		}
	}
}

void
directive(reader *r, char *p)
{
	p = skip_blanks(p + 1);
	char *word = p;
	while ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z'))
		p++;
	std::string_view keyword(word, static_cast<std::size_t>(p - word));
	if (keyword == "undef") {
		undefine(r, p);
		return;
	}
	r->depth += block_change(keyword);
	if (r->depth < 0)
		r->depth = 0;
}

// The operator at p, and the position after it.
assign_op
take_op(char **p)
{
	struct op_text {
		std::string_view text;
		assign_op op;
	};
	static constexpr op_text ops[] = {
	    {"=", assign_op::set},
	    {":=", assign_op::set},
	    {"?=", assign_op::set_if_unset},
	    {"+=", assign_op::append},
	    {"!=", assign_op::shell},
	};
	for (const op_text &o : ops) {
		const char *after = skip_prefix(*p, o.text);
		if (after != *p) {
			*p += o.text.size();
			return o.op;
		}
	}
	return assign_op::none;
}

choice_op
choice_op_of(assign_op op)
{
	switch (op) {
	case assign_op::set_if_unset:
		return choice_op::set_if_unset;
	case assign_op::append:
		return choice_op::append;
	case assign_op::shell:
		return choice_op::shell;
	case assign_op::set:
	case assign_op::none:
		break;
	}
	return choice_op::set;
}

void
assignment(reader *r, char *line)
{
	char *p = line;
	while (
	    *p != '\0' && !is_blank(*p) && std::strchr("=:?+!", *p) == nullptr)
		p++;
	std::string_view name(line, static_cast<std::size_t>(p - line));
	std::size_t v = var_index(name);
	// The flavors and options are read from the top level only: what a
	// block adds or takes away is left out.
	bool choice = v == status_var_count && r->depth == 0 &&
	    r->book != nullptr && is_choice_variable(name);
	if (v == status_var_count && !choice)
		return;
	p = skip_blanks(p);
	assign_op op = take_op(&p);
	if (op == assign_op::none)
		return;
	char *value = skip_blanks(p);
	char *end = value + std::strlen(value);
	while (end > value && (is_blank(end[-1]) || end[-1] == '\r'))
		end--;
	*end = '\0';
	if (choice) {
		note_choice(*r->book, name, choice_op_of(op),
		    {value, static_cast<std::size_t>(end - value)});
		return;
	}

	known &what = r->what[v];
	if (r->depth > 0) {
		if (!(op == assign_op::set_if_unset && what == known::set))
			forget(r, v);
		return;
	}
	switch (op) {
	case assign_op::set_if_unset:
		if (what != known::unset)
			return;
		[[fallthrough]];
	case assign_op::set:
		what = known::set;
		r->status.values[v] = value;
		return;
	case assign_op::append:
		// Appending to nothing defines the variable; appending to a
		// value would need the two joined, which is left unshown.
		if (what == known::unset) {
			what = known::set;
			r->status.values[v] = value;
		} else {
			forget(r, v);
		}
		return;
	case assign_op::shell:
	case assign_op::none:
		forget(r, v);
		return;
	}
}

void
logical_line(reader *r, char *line)
{
	// A line that begins with a tab is a command of a target.
	if (line[0] == '\t')
		return;
	strip_comment(line);
	char *p = skip_blanks(line);
	if (*p == '.')
		directive(r, p);
	else
		assignment(r, p);
}

} // namespace

port_status
parse_port_status(char *text, std::size_t size, choice_book *book)
{
	reader r;
	r.book = book;
	if (book != nullptr)
		r.status.reading = begin_choices(*book);
	char *end = text + size;
	char *w = text;
	// The line being gathered is written at w, which never passes the
	// read position: each line loses at least its newline, and a joint
	// loses the backslash and newline for one blank.
	for (char *rd = text; rd < end;) {
		char *line = w;
		for (;;) {
			auto *nl = static_cast<char *>(std::memchr(
			    rd, '\n', static_cast<std::size_t>(end - rd)));
			if (nl == nullptr)
				nl = end;
			std::size_t length = static_cast<std::size_t>(nl - rd);
			std::size_t backslashes = 0;
			while (backslashes < length &&
			    rd[length - 1 - backslashes] == '\\')
				backslashes++;
			bool joined = backslashes % 2 == 1;
			std::size_t kept = joined ? length - 1 : length;
			std::memmove(w, rd, kept);
			w += kept;
			rd = nl < end ? nl + 1 : end;
			if (!joined || rd == end)
				break;
			while (w > line && is_blank(w[-1]))
				w--;
			*w++ = ' ';
			while (rd < end && is_blank(*rd))
				rd++;
		}
		*w = '\0';
		logical_line(&r, line);
		w++;
	}
	return r.status;
}

int
read_port_status(const char *dir, run_buffer *files, choice_book *book,
    port_status *status)
{
	*status = {};
	port_file_text file;
	if (read_port_file(dir, port_file::makefile, files, &file) != 0)
		return 1;
	*status = parse_port_status(file.text, file.size, book);
	return 0;
}
