// UPDATING is read in one pass into notes that point into the file's text,
// which are then put in order, newest date first. Each note's AFFECTS text
// is cut into words; a word that looks like an origin is one of the note's
// forms, and its braces and alternations are spelled out into plain globs
// kept in one growing arena. A port asks which notes name it thousands of
// times, so the globs are indexed once: a glob without wildcards by its whole
// text, one whose wildcards are all in the port name by its category, and
// only the rare glob with a wildcard in its category is tried against every
// origin. A port's question thus costs two hash lookups and the globs of its
// own category.
#include "treedata/updating.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state/state.h"
#include "text/bounded.h"
#include "treedata/calendar.h"
#include "treedata/name_table.h"
#include "treedata/tree_file.h"
#include "state/messages.h"

namespace {

constexpr int max_patterns = 64;	 // spelled from one word
constexpr std::size_t max_pattern = 255; // bytes of one word or pattern

// A spelled glob: its bytes in the arena, and the form it came from.
struct spelled_glob {
	std::uint32_t offset;
	std::uint32_t length;
	std::uint32_t form;
};

struct updating_list {
	updating_note *notes;
	std::uint32_t count;
	std::size_t note_room;
	std::size_t skipped;
	affects_form *forms;
	std::uint32_t form_count;
	std::size_t form_room;
	spelled_glob *globs;
	std::uint32_t glob_count;
	std::size_t glob_room;
	char *arena; // the globs' bytes
	std::size_t arena_used;
	std::size_t arena_room;
	bool short_of_memory; // a growth failed, reported

	name_table exact;	    // the globs without wildcards
	std::uint32_t *exact_start; // their groups in exact_list
	std::uint32_t *exact_list;
	name_table categories; // the categories of globs wild in the name
	std::uint32_t *category_start;
	std::uint32_t *category_list;
	std::uint32_t *anywhere; // globs wild in the category
	std::uint32_t anywhere_count;
	std::uint32_t *found; // room for one question's notes
};

updating_list updating;

// The tree's UPDATING, when need_updating read it.
top_file updating_file;

constexpr std::string_view affects_key = "AFFECTS:";
constexpr std::string_view author_keys[] = {"AUTHOR:", "AUTHORS:"};

void
report_line(const char *path, std::size_t line, std::string_view why)
{
	updating.skipped++;
	if (state.verbosity > 0)
		say(stderr, "Skipping %s line %zu: %.*s\n", path, line,
		    static_cast<int>(why.size()), why.data());
}

bool
blank(char c)
{
	return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' ||
	    c == '\v';
}

std::string_view
trim(std::string_view text)
{
	while (!text.empty() && blank(text.front()))
		text.remove_prefix(1);
	while (!text.empty() && blank(text.back()))
		text.remove_suffix(1);
	return text;
}

bool
is_digit(char c)
{
	return c >= '0' && c <= '9';
}

// The text after key at the start of line, compared without regard to case,
// or null when line does not begin with key.
const char *
after_key(std::string_view line, std::string_view key)
{
	if (line.size() < key.size())
		return nullptr;
	for (std::size_t i = 0; i < key.size(); i++) {
		char c = line[i];
		if (c >= 'a' && c <= 'z')
			c = static_cast<char>(c - 'a' + 'A');
		if (c != key[i])
			return nullptr;
	}
	return line.data() + key.size();
}

// A header line's key: a word of letters ended by a colon.
bool
has_key(std::string_view line)
{
	std::size_t i = 0;
	while (i < line.size() &&
	    ((line[i] >= 'A' && line[i] <= 'Z') ||
		(line[i] >= 'a' && line[i] <= 'z')))
		i++;
	return i > 0 && i < line.size() && line[i] == ':';
}

enum class line_kind { date, bad_date, other };

// A note begins with "YYYYMMDD:" at the left margin; a line there of digits
// and a colon in any other shape is a date gone wrong.
line_kind
classify(std::string_view line)
{
	std::size_t digits = 0;
	while (digits < line.size() && is_digit(line[digits]))
		digits++;
	if (digits == 0 || digits == line.size() || line[digits] != ':')
		return line_kind::other;
	if (digits != 8 || !trim(line.substr(digits + 1)).empty() ||
	    !valid_calendar_date(
		line.substr(0, 4), line.substr(4, 2), line.substr(6, 2)))
		return line_kind::bad_date;
	return line_kind::date;
}

// Makes room for one more item in a growing array; false after reporting
// that memory ran out.
bool
grow(void **array, std::size_t *room, std::size_t used, std::size_t size)
{
	if (used < *room)
		return true;
	std::size_t more = *room < 64 ? 64 : 2 * *room;
	void *bigger =
	    more < UINT32_MAX ? std::realloc(*array, more * size) : nullptr;
	if (bigger == nullptr) {
		if (!updating.short_of_memory)
			say_error("malloc failure");
		updating.short_of_memory = true;
		return false;
	}
	*array = bigger;
	*room = more;
	return true;
}

// The note being read, and where its parts begin and end.
struct note_reader {
	updating_note note;
	bool open;	  // a date line began it
	int part;	  // 0 before the header, 1 in it, 2 in the body
	int last_key;	  // 1 AFFECTS, 2 AUTHOR: continued by key-less lines
	bool has_affects; // the header named what it affects
	const char *body_begin;
	const char *body_end;
};

// Keeps the note read, or reports that it has no AFFECTS line.
bool
finish_note(note_reader *r, const char *path)
{
	if (!r->open)
		return true;
	r->open = false;
	if (!r->has_affects) {
		report_line(path, r->note.line, "no AFFECTS line");
		return true;
	}
	if (r->body_begin != nullptr)
		r->note.body = std::string_view(r->body_begin,
		    static_cast<std::size_t>(r->body_end - r->body_begin));
	r->note.affects = trim(r->note.affects);
	r->note.author = trim(r->note.author);
	if (!grow(reinterpret_cast<void **>(&updating.notes),
		&updating.note_room, updating.count, sizeof(updating_note)))
		return false;
	updating.notes[updating.count++] = r->note;
	return true;
}

// Extends a header part to the end of line.
void
extend(std::string_view *part, std::string_view line)
{
	*part = std::string_view(part->data(),
	    static_cast<std::size_t>(line.data() + line.size() - part->data()));
}

void
read_header_line(note_reader *r, std::string_view line)
{
	std::string_view text = trim(line);
	const char *rest = after_key(text, affects_key);
	if (rest != nullptr) {
		r->has_affects = true;
		r->last_key = 1;
		r->note.affects = std::string_view(rest,
		    static_cast<std::size_t>(text.data() + text.size() - rest));
		return;
	}
	for (std::string_view key : author_keys) {
		rest = after_key(text, key);
		if (rest != nullptr) {
			r->last_key = 2;
			r->note.author = std::string_view(rest,
			    static_cast<std::size_t>(
				text.data() + text.size() - rest));
			return;
		}
	}
	if (has_key(text))
		r->last_key = 0;
	else if (r->last_key == 1)
		extend(&r->note.affects, text);
	else if (r->last_key == 2)
		extend(&r->note.author, text);
}

int
read_notes(std::string_view text, const char *path)
{
	note_reader r = {};
	for (std::size_t n = 1; !text.empty(); n++) {
		std::size_t eol = std::min(text.find('\n'), text.size());
		std::string_view line = text.substr(0, eol);
		text.remove_prefix(std::min(eol + 1, text.size()));
		line_kind kind = classify(line);
		if (kind != line_kind::other) {
			if (!finish_note(&r, path))
				return -1;
			r = {};
			if (kind == line_kind::bad_date) {
				report_line(path, n, "not a YYYYMMDD: line");
				continue;
			}
			r.open = true;
			r.note.date = line.substr(0, 8);
			r.note.line = n;
			continue;
		}
		if (!r.open)
			continue;
		bool empty = trim(line).empty();
		if (r.part == 0 && !empty)
			r.part = 1;
		if (r.part == 1 && empty)
			r.part = 2;
		else if (r.part == 1)
			read_header_line(&r, line);
		else if (r.part == 2 && !empty) {
			if (r.body_begin == nullptr)
				r.body_begin = line.data();
			r.body_end = line.data() + line.size();
			if (r.body_end > r.body_begin && r.body_end[-1] == '\r')
				r.body_end--;
		}
	}
	return finish_note(&r, path) ? 0 : -1;
}

// Spelling out braces and alternations, within a budget of patterns.
struct speller {
	void (*emit)(std::string_view pattern, void *context);
	void *context;
	int left;
};

bool
opener(char c)
{
	return c == '{' || c == '(';
}

char
closer_of(char c)
{
	return c == '{' ? '}' : ')';
}

// Finds the first group at or after from whose opener has its closer: sets
// *open and *close and fills match (closers of all groups, by opener).
bool
find_group(std::string_view text, std::size_t from, std::size_t *open,
    std::size_t *close, std::uint8_t *match)
{
	std::uint8_t stack[max_pattern + 1];
	std::size_t depth = 0;
	std::size_t first = text.size();
	for (std::size_t i = from; i < text.size(); i++) {
		match[i] = 0;
		if (opener(text[i])) {
			stack[depth++] = static_cast<std::uint8_t>(i);
		} else if ((text[i] == '}' || text[i] == ')') && depth > 0 &&
		    closer_of(text[stack[depth - 1]]) == text[i]) {
			std::size_t o = stack[--depth];
			match[o] = static_cast<std::uint8_t>(i);
			first = std::min(first, o);
		}
	}
	if (first == text.size())
		return false;
	*open = first;
	*close = match[first];
	return true;
}

bool
spell(speller *s, std::string_view text, std::size_t from)
{
	std::uint8_t match[max_pattern + 1];
	std::size_t open, close;
	if (!find_group(text, from, &open, &close, match)) {
		if (s->left-- == 0)
			return false;
		s->emit(text, s->context);
		return true;
	}
	char separator = text[open] == '{' ? ',' : '|';
	std::string_view head = text.substr(0, open);
	std::string_view tail = text.substr(close + 1);
	std::size_t begin = open + 1;
	for (std::size_t i = begin; i <= close; i++) {
		if (i < close && opener(text[i]) && match[i] != 0) {
			i = match[i];
			continue;
		}
		if (i < close && text[i] != separator)
			continue;
		char spelled[max_pattern];
		char *pos = spelled;
		char *end = spelled + sizeof spelled;
		pos = append(pos, end, head);
		pos = append(pos, end, text.substr(begin, i - begin));
		pos = append(pos, end, tail);
		if (pos == nullptr ||
		    !spell(s,
			std::string_view(
			    spelled, static_cast<std::size_t>(pos - spelled)),
			open))
			return false;
		begin = i + 1;
	}
	return true;
}

// Cuts the quotes and the punctuation of prose from around a word, and a
// parenthesis that opens or closes nothing within it.
std::string_view
clean_word(std::string_view word)
{
	constexpr std::string_view leading = "\"'`<";
	constexpr std::string_view trailing = "\"'`>.,;:!";
	for (;;) {
		auto opens = std::count(word.begin(), word.end(), '(');
		auto closes = std::count(word.begin(), word.end(), ')');
		if (!word.empty() &&
		    (leading.find(word.front()) != word.npos ||
			(word.front() == '(' && opens > closes)))
			word.remove_prefix(1);
		else if (!word.empty() &&
		    (trailing.find(word.back()) != word.npos ||
			(word.back() == ')' && closes > opens)))
			word.remove_suffix(1);
		else
			return word;
	}
}

// A word names origins when it has a category before a '/': not a path, not
// an address.
bool
names_origins(std::string_view word)
{
	return !word.empty() && word.front() != '/' &&
	    word.find('/') != word.npos && word.find("//") == word.npos;
}

void
add_glob(std::string_view pattern, void *)
{
	std::size_t used = updating.arena_used;
	while (updating.arena_room - used < pattern.size()) {
		if (!grow(reinterpret_cast<void **>(&updating.arena),
			&updating.arena_room, updating.arena_room, 1))
			return;
	}
	if (!grow(reinterpret_cast<void **>(&updating.globs),
		&updating.glob_room, updating.glob_count, sizeof(spelled_glob)))
		return;
	if (!pattern.empty())
		std::memcpy(
		    updating.arena + used, pattern.data(), pattern.size());
	updating.arena_used += pattern.size();
	updating.globs[updating.glob_count++] = {
	    .offset = static_cast<std::uint32_t>(used),
	    .length = static_cast<std::uint32_t>(pattern.size()),
	    .form = updating.form_count - 1};
}

// Adds word as a form of note, with its globs.
void
add_form(std::string_view word, std::uint32_t note, std::string_view text,
    const char *path)
{
	if (!grow(reinterpret_cast<void **>(&updating.forms),
		&updating.form_room, updating.form_count, sizeof(affects_form)))
		return;
	updating.forms[updating.form_count++] = {
	    .text = word, .note = note, .matched = false};
	std::uint32_t globs = updating.glob_count;
	std::size_t used = updating.arena_used;
	if (!spell_patterns(word, add_glob, nullptr) &&
	    !updating.short_of_memory) {
		// The form stays, naming nothing.
		updating.glob_count = globs;
		updating.arena_used = used;
		std::size_t line = 1 +
		    static_cast<std::size_t>(
			std::count(text.data(), word.data(), '\n'));
		report_line(path, line, "AFFECTS spells too many patterns");
	}
}

void
read_forms(std::uint32_t note, std::string_view text, const char *path)
{
	std::string_view affects = updating.notes[note].affects;
	std::size_t i = 0;
	while (i < affects.size()) {
		while (i < affects.size() && blank(affects[i]))
			i++;
		std::size_t start = i;
		int depth = 0;
		for (; i <= affects.size(); i++) {
			char c = i < affects.size() ? affects[i] : ' ';
			if (opener(c))
				depth++;
			else if ((c == '}' || c == ')') && depth > 0)
				depth--;
			if (blank(c) || (c == ',' && depth == 0)) {
				std::string_view word = clean_word(
				    affects.substr(start, i - start));
				if (names_origins(word))
					add_form(word, note, text, path);
				start = i + 1;
				if (blank(c))
					break;
			}
		}
	}
}

// Origins are category/name; a glob matches only names of that shape.
bool
one_slash(std::string_view text)
{
	std::size_t slash = text.find('/');
	return slash != text.npos && text.find('/', slash + 1) == text.npos;
}

bool
wildcard(char c)
{
	return c == '*' || c == '?' || c == '[';
}

std::string_view
glob_text(std::uint32_t g)
{
	return std::string_view(updating.arena + updating.globs[g].offset,
	    updating.globs[g].length);
}

std::uint32_t *
numbers(std::size_t count)
{
	auto *array = static_cast<std::uint32_t *>(
	    std::calloc(count + 1, sizeof(std::uint32_t)));
	if (array == nullptr && !updating.short_of_memory) {
		say_error("malloc failure");
		updating.short_of_memory = true;
	}
	return array;
}

// Indexes every glob by its text, its category or neither.
int
index_globs()
{
	std::uint32_t globs = updating.glob_count;
	std::uint32_t *exact_of = numbers(globs);
	std::uint32_t *category_of = numbers(globs);
	std::uint32_t *scratch = numbers(globs);
	updating.anywhere = numbers(globs);
	updating.found = numbers(globs);
	if (exact_of == nullptr || category_of == nullptr ||
	    scratch == nullptr || updating.anywhere == nullptr ||
	    updating.found == nullptr ||
	    name_table_make(&updating.exact, globs) != 0 ||
	    name_table_make(&updating.categories, globs) != 0) {
		std::free(exact_of);
		std::free(category_of);
		std::free(scratch);
		return -1;
	}
	for (std::uint32_t g = 0; g < globs; g++) {
		std::string_view text = glob_text(g);
		exact_of[g] = category_of[g] = no_name;
		if (!one_slash(text))
			continue;
		std::string_view category = text.substr(0, text.find('/'));
		if (std::any_of(category.begin(), category.end(), wildcard))
			updating.anywhere[updating.anywhere_count++] = g;
		else if (std::any_of(text.begin(), text.end(), wildcard))
			category_of[g] =
			    name_table_add(&updating.categories, category);
		else
			exact_of[g] = name_table_add(&updating.exact, text);
	}
	updating.exact_start = numbers(updating.exact.count + 1);
	updating.exact_list = numbers(globs);
	updating.category_start = numbers(updating.categories.count + 1);
	updating.category_list = numbers(globs);
	bool made = updating.exact_start != nullptr &&
	    updating.exact_list != nullptr &&
	    updating.category_start != nullptr &&
	    updating.category_list != nullptr;
	if (made) {
		name_table_group(exact_of, globs, updating.exact.count,
		    updating.exact_start, updating.exact_list, scratch);
		name_table_group(category_of, globs, updating.categories.count,
		    updating.category_start, updating.category_list, scratch);
	}
	std::free(exact_of);
	std::free(category_of);
	std::free(scratch);
	return made ? 0 : -1;
}

bool
newer(const updating_note &a, const updating_note &b)
{
	return a.date > b.date;
}

// Whether c is in the set of the bracket expression at pattern[*i], '[';
// leaves *i after it. False, with *i unchanged, when the set is not closed:
// the '[' then stands for itself.
bool
in_set(std::string_view pattern, std::size_t *i, char c, bool *closed)
{
	std::size_t j = *i + 1;
	bool negated =
	    j < pattern.size() && (pattern[j] == '!' || pattern[j] == '^');
	if (negated)
		j++;
	bool in = false;
	auto byte = [&](std::size_t k) {
		return static_cast<unsigned char>(pattern[k]);
	};
	auto u = static_cast<unsigned char>(c);
	std::size_t first = j;
	for (; j < pattern.size(); j++) {
		if (pattern[j] == ']' && j > first)
			break;
		if (j + 2 < pattern.size() && pattern[j + 1] == '-' &&
		    pattern[j + 2] != ']') {
			in = in || (byte(j) <= u && u <= byte(j + 2));
			j += 2;
		} else {
			in = in || pattern[j] == c;
		}
	}
	*closed = j < pattern.size();
	if (!*closed)
		return c == '[';
	*i = j + 1;
	return in != negated;
}

// One segment between slashes, where '*' may match any run.
bool
segment_matches(std::string_view pattern, std::string_view text)
{
	std::size_t p = 0, t = 0;
	std::size_t star = pattern.npos, star_text = 0;
	while (t < text.size()) {
		if (p < pattern.size() && pattern[p] == '*') {
			star = ++p;
			star_text = t;
			continue;
		}
		if (p < pattern.size()) {
			std::size_t next = p + 1;
			bool one;
			if (pattern[p] == '?') {
				one = true;
			} else if (pattern[p] == '[') {
				bool closed;
				next = p;
				one = in_set(pattern, &next, text[t], &closed);
				if (!closed)
					next = p + 1;
			} else {
				one = pattern[p] == text[t];
			}
			if (one) {
				p = next;
				t++;
				continue;
			}
		}
		if (star == pattern.npos)
			return false;
		p = star;
		t = ++star_text;
	}
	while (p < pattern.size() && pattern[p] == '*')
		p++;
	return p == pattern.size();
}

void
add_found(std::uint32_t g, updating_query *q, std::size_t *found)
{
	affects_form &form = updating.forms[updating.globs[g].form];
	// Pages made on several threads mark at once: each store is whole.
	__atomic_store_n(&form.matched, true, __ATOMIC_RELAXED);
	__atomic_store_n(
	    &updating.notes[form.note].matched, true, __ATOMIC_RELAXED);
	q->found[(*found)++] = form.note;
}

void
drop_notes()
{
	name_table_release(&updating.exact);
	name_table_release(&updating.categories);
	std::free(updating.notes);
	std::free(updating.forms);
	std::free(updating.globs);
	std::free(updating.arena);
	for (std::uint32_t *array :
	    {updating.exact_start, updating.exact_list, updating.category_start,
		updating.category_list, updating.anywhere, updating.found})
		std::free(array);
	updating = {};
}

} // namespace

bool
spell_patterns(std::string_view word,
    void (*emit)(std::string_view pattern, void *context), void *context)
{
	if (word.size() > max_pattern)
		return false;
	speller s = {.emit = emit, .context = context, .left = max_patterns};
	return spell(&s, word, 0);
}

bool
origin_glob_matches(std::string_view pattern, std::string_view origin)
{
	// A '/' in either is matched by a '/' in the other alone: the
	// segments between them are matched one by one.
	for (;;) {
		std::size_t ps = std::min(pattern.find('/'), pattern.size());
		std::size_t os = std::min(origin.find('/'), origin.size());
		if (!segment_matches(
			pattern.substr(0, ps), origin.substr(0, os)))
			return false;
		if (ps == pattern.size() || os == origin.size())
			return ps == pattern.size() && os == origin.size();
		pattern.remove_prefix(ps + 1);
		origin.remove_prefix(os + 1);
	}
}

int
updating_build(std::string_view text, const char *path)
{
	drop_notes();
	if (text.size() >= UINT32_MAX) {
		say(stderr, "%s: too large\n", path);
		return -1;
	}
	if (read_notes(text, path) != 0) {
		drop_notes();
		return -1;
	}
	std::stable_sort(
	    updating.notes, updating.notes + updating.count, newer);
	for (std::uint32_t n = 0; n < updating.count; n++)
		read_forms(n, text, path);
	if (updating.short_of_memory || index_globs() != 0) {
		drop_notes();
		return -1;
	}
	return 0;
}

int
need_updating()
{
	return need_top_file(&updating_file, updating_name, updating_build);
}

void
updating_release()
{
	drop_notes();
	release_top_file(&updating_file);
}

std::size_t
updating_count()
{
	return updating.count;
}

const updating_note &
updating_at(std::size_t i)
{
	return updating.notes[i];
}

std::size_t
updating_skipped()
{
	return updating.skipped;
}

std::size_t
updating_form_count()
{
	return updating.form_count;
}

const affects_form &
updating_form_at(std::size_t i)
{
	return updating.forms[i];
}

std::size_t
updating_notes_for(std::string_view origin, std::uint32_t *out,
    std::size_t room, updating_query *q)
{
	if (updating.found == nullptr || !one_slash(origin))
		return 0;
	if (q->found == nullptr || q->globs != updating.glob_count) {
		release_updating_query(q);
		q->found = static_cast<std::uint32_t *>(std::calloc(
		    updating.glob_count + std::size_t{1}, sizeof(std::uint32_t)));
		if (q->found == nullptr)
			return 0;
		q->globs = updating.glob_count;
	}
	std::size_t slash = origin.find('/');
	std::size_t found = 0;
	std::uint32_t id = name_table_find(&updating.exact, origin);
	if (id != no_name)
		for (std::uint32_t i = updating.exact_start[id];
		     i < updating.exact_start[id + 1]; i++)
			add_found(updating.exact_list[i], q, &found);
	id = name_table_find(&updating.categories, origin.substr(0, slash));
	if (id != no_name)
		for (std::uint32_t i = updating.category_start[id];
		     i < updating.category_start[id + 1]; i++)
			if (origin_glob_matches(
				glob_text(updating.category_list[i]), origin))
				add_found(updating.category_list[i], q, &found);
	for (std::uint32_t i = 0; i < updating.anywhere_count; i++)
		if (origin_glob_matches(
			glob_text(updating.anywhere[i]), origin))
			add_found(updating.anywhere[i], q, &found);
	std::uint32_t *notes = q->found;
	std::sort(notes, notes + found);
	found =
	    static_cast<std::size_t>(std::unique(notes, notes + found) - notes);
	std::copy(notes, notes + std::min(found, room), out);
	return found;
}

bool
updating_note_names(std::size_t i, std::string_view origin)
{
	if (!one_slash(origin))
		return false;
	for (std::uint32_t g = 0; g < updating.glob_count; g++)
		if (updating.forms[updating.globs[g].form].note == i &&
		    origin_glob_matches(glob_text(g), origin))
			return true;
	return false;
}

void
release_updating_query(updating_query *query)
{
	std::free(query->found);
	*query = {};
}
