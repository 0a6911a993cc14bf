// The vulnerability database, read with expat.
//
// vuln.xml holds no entries itself: it declares one external entity per
// year and refers to them inside its root element, and each year file is a
// run of <vuln> elements that parses only there. Such an entity is a file
// name, so the reader decides which files it opens: names relative to the
// including file, never absolute, never with "..", never a URL, and always
// opened beneath the top of the tree like every other input. The document
// type's own external subset is never fetched (expat reads it only when
// asked to parse parameter entities, which the reader never asks).
// Declarations the parser thus does not read must not cost entries in
// silence: a reference to an entity not declared, or declared after a
// parameter entity (which ends what the parser declares), refuses the
// database, and so do files included without one entry in them.
//
// Entities are the one way a small file can make a parser produce without
// end. The database needs nothing of them but its year files, so nothing
// else is allowed: an entity with a text of its own is refused where it is
// declared, and every file is included at most once. What the parser
// produces is then never more than the files hold.
//
// Of each entry only what a page shows is kept, in a few tables that grow
// with the file: its identifier, topic, dates and CVE names, and for every
// package name it lists, the ranges of versions it affects. Texts lie end
// to end in one block and are known by offset, since the block moves as it
// grows. An index of the package names, sorted once, answers the question
// of a port page: which entries affect this package at this version.
#include "treedata/vuxml.h"

// The guard against expansion is declared only for builds that parse
// document types, which every build of expat does unless told otherwise.
#ifndef XML_DTD
#define XML_DTD 1
#endif
#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "io/io.h"
#include "platform/platform.h"
#include "state/state.h"
#include "text/bounded.h"
#include "treedata/version.h"
#include "state/messages.h"

static_assert(sizeof(XML_Char) == 1, "expat must hand over UTF-8 bytes");
static_assert(
    XML_MAJOR_VERSION > 2 || (XML_MAJOR_VERSION == 2 && XML_MINOR_VERSION >= 4),
    "expat 2.4 or later is needed for its guard against entity expansion");

namespace {

// A table that grows by doubling; freed with release.
template <typename T> struct table {
	T *rows = nullptr;
	std::uint32_t count = 0;
	std::uint32_t room = 0;
};

// Makes room for n more rows. False after reporting that it could not.
template <typename T>
bool
reserve(table<T> *t, std::size_t n)
{
	if (t->room - t->count >= n)
		return true;
	std::size_t room = t->room == 0 ? 256 : t->room;
	while (room - t->count < n)
		room *= 2;
	void *rows = room > UINT32_MAX / 2
	    ? nullptr
	    : std::realloc(static_cast<void *>(t->rows), room * sizeof(T));
	if (rows == nullptr) {
		say_error("malloc failure");
		return false;
	}
	t->rows = static_cast<T *>(rows);
	t->room = static_cast<std::uint32_t>(room);
	return true;
}

template <typename T>
bool
push(table<T> *t, const T &row)
{
	if (!reserve(t, 1))
		return false;
	t->rows[t->count++] = row;
	return true;
}

template <typename T>
void
release(table<T> *t)
{
	std::free(static_cast<void *>(t->rows));
	*t = {};
}

// A text of the text block.
struct text_ref {
	std::uint32_t offset = 0;
	std::uint32_t length = 0;
};

struct entry_row {
	text_ref vid, topic, discovery, entry;
	std::uint32_t first_cve = 0;
	std::uint32_t cve_count = 0;
};

enum class bound_op : unsigned char { lt, le, eq, ge, gt };

struct bound_row {
	bound_op op;
	text_ref version;
};

// All of a range's bounds must hold.
struct range_row {
	std::uint32_t first_bound = 0;
	std::uint32_t bound_count = 0;
};

// One package name of an entry, with the ranges of its <package> element.
struct name_row {
	text_ref name;
	std::uint32_t entry = 0;
	std::uint32_t first_range = 0;
	std::uint32_t range_count = 0;
};

// The database as read: the module's state, built by load_vuxml and freed
// by release_vuxml.
struct database {
	table<char> text;
	table<entry_row> entries;
	table<text_ref> cves;
	table<bound_row> bounds;
	table<range_row> ranges;
	table<name_row> names;
	table<std::uint32_t> by_name; // name rows by name, then entry
	bool failed = false;
	bool loaded = false; // load_vuxml has run since the last release
};

database db;

std::string_view
text_of(text_ref r)
{
	return {db.text.rows + r.offset, r.length};
}

// What the text being gathered is for.
enum class capture : unsigned char {
	none,
	topic,
	name,
	bound,
	cve,
	discovery,
	entry_date,
};

// Where the parse stands in the tree of elements: the depth of each
// element of interest that is open, 0 when none is.
struct parse_state {
	int depth = 0;
	int vuln = 0, affects = 0, package = 0, range = 0, references = 0,
	    dates = 0;
	int skip = 0; // inside a <description>, whose XHTML is not kept
	capture what = capture::none;
	int capture_depth = 0;
	std::uint32_t capture_start = 0;
	bound_op op = bound_op::lt;
	std::uint32_t package_first_name = 0;
	std::uint32_t package_first_range = 0;
	std::uint32_t range_first_bound = 0;
	// The files read so far, known by device and inode, so that a file
	// named twice (under two names, perhaps) is refused.
	struct file_id {
		dev_t dev;
		ino_t ino;
	};
	std::array<file_id, vuxml_include_max + 1> files;
	int file_count = 0;
	int included = 0;      // references to files, the missing ones too
	bool reported = false; // the one message of a failed read is out
};

// One file being parsed, the main file or one that it includes.
struct file_parse {
	XML_Parser parser;
	parse_state *parse;
	char path[path_size]; // as messages show it
	char rel[path_size];  // below the database's directory
	int depth;	      // 0 for the main file
};

// Reports why the database cannot be used, once, naming the file and,
// when line is not 0, the line.
void
refuse(file_parse *f, unsigned long line, const char *why)
{
	if (f->parse->reported)
		return;
	f->parse->reported = true;
	if (line != 0)
		say(stderr, "%s: line %lu: %s; vulnerabilities not shown\n", f->path,
		    line, why);
	else
		say(stderr, "%s: %s; vulnerabilities not shown\n",
		    f->path, why);
}

unsigned long
line_of(XML_Parser p)
{
	return static_cast<unsigned long>(XML_GetCurrentLineNumber(p));
}

// Stops the parse after a failure that has been reported.
void
stop(file_parse *f)
{
	f->parse->reported = true;
	(void)XML_StopParser(f->parser, XML_FALSE);
}

bool
is_blank(char c)
{
	return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Ends the text gathered since start: blanks at its ends dropped, runs of
// blanks inside made one space.
text_ref
close_text(std::uint32_t start)
{
	char *begin = db.text.rows + start;
	char *end = db.text.rows + db.text.count;
	char *out = begin;
	bool blank = false;
	for (char *p = begin; p < end; p++) {
		if (is_blank(*p)) {
			blank = out != begin;
			continue;
		}
		if (blank)
			*out++ = ' ';
		blank = false;
		*out++ = *p;
	}
	auto length = static_cast<std::uint32_t>(out - begin);
	db.text.count = start + length;
	return {start, length};
}

struct op_name {
	std::string_view name;
	bound_op op;
};
constexpr op_name op_names[] = {
    {"lt", bound_op::lt},
    {"le", bound_op::le},
    {"eq", bound_op::eq},
    {"ge", bound_op::ge},
    {"gt", bound_op::gt},
};

void
begin_capture(parse_state *ps, capture what)
{
	ps->what = what;
	ps->capture_depth = ps->depth;
	ps->capture_start = db.text.count;
}

// Makes room for n more bytes of text. False after the report.
bool
grow_text(std::size_t n)
{
	if (n > UINT32_MAX / 2 - db.text.count) {
		say(stderr, "vulnerability data too large\n");
		return false;
	}
	return reserve(&db.text, n);
}

// Keeps the attribute vid of a <vuln> as the new entry's identifier.
bool
begin_entry(const XML_Char **attrs)
{
	entry_row row;
	row.first_cve = db.cves.count;
	for (const XML_Char **a = attrs; a[0] != nullptr; a += 2) {
		if (std::strcmp(a[0], "vid") != 0)
			continue;
		std::size_t n = std::strlen(a[1]);
		if (n == 0)
			continue;
		if (!grow_text(n))
			return false;
		std::uint32_t start = db.text.count;
		std::memcpy(db.text.rows + start, a[1], n);
		db.text.count += static_cast<std::uint32_t>(n);
		row.vid = close_text(start);
	}
	return push(&db.entries, row);
}

void XMLCALL
on_start(void *data, const XML_Char *name, const XML_Char **attrs)
{
	auto *f = static_cast<file_parse *>(data);
	parse_state *ps = f->parse;
	int d = ++ps->depth;
	if (ps->skip != 0)
		return;
	std::string_view n = name;
	bool ok = true;
	if (ps->vuln == 0) {
		if (n == "vuln") {
			ps->vuln = d;
			ok = begin_entry(attrs);
		}
	} else if (d == ps->vuln + 1) {
		if (n == "topic")
			begin_capture(ps, capture::topic);
		else if (n == "affects")
			ps->affects = d;
		else if (n == "references")
			ps->references = d;
		else if (n == "dates")
			ps->dates = d;
		else if (n == "description")
			ps->skip = d;
	} else if (ps->affects != 0 && d == ps->affects + 1) {
		if (n == "package") {
			ps->package = d;
			ps->package_first_name = db.names.count;
			ps->package_first_range = db.ranges.count;
		}
	} else if (ps->package != 0 && d == ps->package + 1) {
		if (n == "name") {
			begin_capture(ps, capture::name);
		} else if (n == "range") {
			ps->range = d;
			ps->range_first_bound = db.bounds.count;
		}
	} else if (ps->range != 0 && d == ps->range + 1) {
		for (const op_name &o : op_names) {
			if (n == o.name) {
				ps->op = o.op;
				begin_capture(ps, capture::bound);
			}
		}
	} else if (ps->references != 0 && d == ps->references + 1) {
		if (n == "cvename")
			begin_capture(ps, capture::cve);
	} else if (ps->dates != 0 && d == ps->dates + 1) {
		if (n == "discovery")
			begin_capture(ps, capture::discovery);
		else if (n == "entry")
			begin_capture(ps, capture::entry_date);
	}
	if (!ok)
		stop(f);
}

// Files the text just gathered where it belongs.
bool
end_capture(parse_state *ps)
{
	text_ref text = close_text(ps->capture_start);
	capture what = ps->what;
	ps->what = capture::none;
	ps->capture_depth = 0;
	entry_row &e = db.entries.rows[db.entries.count - 1];
	switch (what) {
	case capture::topic:
		e.topic = text;
		return true;
	case capture::discovery:
		e.discovery = text;
		return true;
	case capture::entry_date:
		e.entry = text;
		return true;
	case capture::cve:
		e.cve_count++;
		return push(&db.cves, text);
	case capture::name:
		return push(&db.names,
		    name_row{.name = text, .entry = db.entries.count - 1});
	case capture::bound:
		return push(
		    &db.bounds, bound_row{.op = ps->op, .version = text});
	case capture::none:
		break;
	}
	return true;
}

void XMLCALL
on_end(void *data, const XML_Char *)
{
	auto *f = static_cast<file_parse *>(data);
	parse_state *ps = f->parse;
	int d = ps->depth--;
	bool ok = true;
	if (ps->skip != 0) {
		if (d == ps->skip)
			ps->skip = 0;
		return;
	}
	if (d == ps->capture_depth)
		ok = end_capture(ps);
	if (d == ps->range) {
		ps->range = 0;
		ok = ok &&
		    push(&db.ranges,
			range_row{.first_bound = ps->range_first_bound,
			    .bound_count =
				db.bounds.count - ps->range_first_bound});
	} else if (d == ps->package) {
		// Every name of the element shares its ranges.
		ps->package = 0;
		for (std::uint32_t i = ps->package_first_name;
		     i < db.names.count; i++) {
			db.names.rows[i].first_range = ps->package_first_range;
			db.names.rows[i].range_count =
			    db.ranges.count - ps->package_first_range;
		}
	} else if (d == ps->affects) {
		ps->affects = 0;
	} else if (d == ps->references) {
		ps->references = 0;
	} else if (d == ps->dates) {
		ps->dates = 0;
	} else if (d == ps->vuln) {
		ps->vuln = 0;
	}
	if (!ok)
		stop(f);
}

void XMLCALL
on_text(void *data, const XML_Char *s, int len)
{
	auto *f = static_cast<file_parse *>(data);
	parse_state *ps = f->parse;
	if (ps->what == capture::none || ps->skip != 0 || len <= 0)
		return;
	auto n = static_cast<std::size_t>(len);
	if (!grow_text(n)) {
		stop(f);
		return;
	}
	std::memcpy(db.text.rows + db.text.count, s, n);
	db.text.count += static_cast<std::uint32_t>(n);
}

// Whether an entity's file name stays inside the database's directory:
// relative, no ".." among its names, and no scheme (a ':' anywhere).
bool
inside_database(const char *name)
{
	if (name == nullptr || name[0] == '\0' || name[0] == '/' ||
	    std::strchr(name, ':') != nullptr ||
	    std::strchr(name, '\\') != nullptr)
		return false;
	std::string_view rest = name;
	while (!rest.empty()) {
		std::size_t slash = rest.find('/');
		if (rest.substr(0, slash) == "..")
			return false;
		rest = slash == rest.npos ? std::string_view()
					  : rest.substr(slash + 1);
	}
	return true;
}

// Refuses the file that an entity names, which lies outside the database.
void
refuse_outside(file_parse *f, XML_Parser parser, const char *system_id)
{
	char why[path_size + 96];
	std::snprintf(why, sizeof why,
	    "entity \"%s\" refused: only files in %.*s are read",
	    system_id != nullptr ? system_id : "",
	    static_cast<int>(vuxml_directory.size() - 1),
	    vuxml_directory.data());
	refuse(f, line_of(parser), why);
}

// An entity declared with a text of its own is refused: expanded where it
// is used, it is what makes a bomb of a small file. A parameter entity is
// never read, and the parser declares no entity after a reference to one:
// one that names a file outside the database is refused where it is
// declared, since no reference to it ever comes to on_entity.
void XMLCALL
on_entity_decl(void *data, const XML_Char *name, int is_parameter_entity,
    const XML_Char *value, int, const XML_Char *, const XML_Char *system_id,
    const XML_Char *, const XML_Char *)
{
	auto *f = static_cast<file_parse *>(data);
	if (value == nullptr && is_parameter_entity != 0 &&
	    !inside_database(system_id)) {
		refuse_outside(f, f->parser, system_id);
		(void)XML_StopParser(f->parser, XML_FALSE);
		return;
	}
	if (value == nullptr)
		return;
	char why[path_size + 96];
	std::snprintf(why, sizeof why,
	    "entity \"%s\" refused: only entities naming files are read", name);
	refuse(f, line_of(f->parser), why);
	(void)XML_StopParser(f->parser, XML_FALSE);
}

// A reference to an entity whose declaration the parser did not read: one
// in the document type's own file, which is never fetched, or after a
// parameter entity, which stops the declarations. Passed over, it would
// leave out a year of entries without a word.
void XMLCALL
on_skipped_entity(void *data, const XML_Char *name, int)
{
	auto *f = static_cast<file_parse *>(data);
	char why[path_size + 96];
	std::snprintf(why, sizeof why,
	    "entity \"%s\" refused: no declaration of it was read", name);
	refuse(f, line_of(f->parser), why);
	(void)XML_StopParser(f->parser, XML_FALSE);
}

// What became of a file: read whole and well-formed; not there (nothing
// reported); or not usable, after the one message.
enum class outcome : unsigned char { read, missing, failed };

// Opens and parses the file of f with its parser.
outcome parse_file(file_parse *f);

int XMLCALL
on_entity(XML_Parser parser, const XML_Char *context, const XML_Char *,
    const XML_Char *system_id, const XML_Char *)
{
	auto *f = static_cast<file_parse *>(XML_GetUserData(parser));
	parse_state *ps = f->parse;
	if (!inside_database(system_id)) {
		refuse_outside(f, parser, system_id);
		return XML_STATUS_ERROR;
	}
	if (f->depth >= vuxml_include_depth ||
	    ps->file_count > vuxml_include_max) {
		refuse(f, line_of(parser), "too many files included");
		return XML_STATUS_ERROR;
	}

	ps->included++;
	// The name is relative to the directory of the file that names it.
	file_parse child{};
	child.parse = ps;
	child.depth = f->depth + 1;
	const char *slash = std::strrchr(f->rel, '/');
	std::string_view dir(f->rel, slash == nullptr ? 0 : slash + 1 - f->rel);
	if (!join_text(child.rel, sizeof child.rel, {dir, system_id}) ||
	    !join_text(child.path, sizeof child.path,
		{state.top_dir_slash, vuxml_directory, child.rel})) {
		refuse(f, line_of(parser), "included file name too long");
		return XML_STATUS_ERROR;
	}
	child.parser = XML_ExternalEntityParserCreate(parser, context, nullptr);
	if (child.parser == nullptr) {
		say_error("malloc failure");
		stop(f);
		return XML_STATUS_ERROR;
	}
	XML_SetUserData(child.parser, &child);
	outcome got = parse_file(&child);
	if (got == outcome::missing) {
		// A year the tree lacks counts as empty, and an empty entity
		// is still a parse, which ends it.
		if (state.verbosity > 0)
			say(stderr, "%s: no such file, read as empty\n", child.path);
		got = XML_Parse(child.parser, "", 0, XML_TRUE) == XML_STATUS_OK
		    ? outcome::read
		    : outcome::failed;
	}
	XML_ParserFree(child.parser);
	return got == outcome::read ? XML_STATUS_OK : XML_STATUS_ERROR;
}

constexpr std::size_t read_chunk = 64 * 1024;

outcome
parse_file(file_parse *f)
{
	int fd = open_in_tree(f->path, O_RDONLY | O_NONBLOCK | O_NOCTTY, 0);
	if (fd < 0 && errno == ENOENT)
		return outcome::missing;
	if (fd < 0) {
		refuse(f, 0,
		    platform_leads_out(errno)
			? "the path leads out of the ports tree"
			: std::strerror(errno));
		return outcome::failed;
	}
	struct stat st;
	const char *why = nullptr;
	parse_state *ps = f->parse;
	if (fstat(fd, &st) != 0)
		why = std::strerror(errno);
	else if (!S_ISREG(st.st_mode))
		why = "not a regular file";
	for (int i = 0; why == nullptr && i < ps->file_count; i++) {
		const auto &seen = ps->files[static_cast<std::size_t>(i)];
		if (seen.dev == st.st_dev && seen.ino == st.st_ino)
			why = "included twice";
	}
	if (why == nullptr)
		ps->files[static_cast<std::size_t>(ps->file_count++)] = {
		    st.st_dev, st.st_ino};
	off_t offset = 0;
	while (why == nullptr) {
		void *buf = XML_GetBuffer(f->parser, read_chunk);
		if (buf == nullptr) {
			say_error("malloc failure");
			f->parse->reported = true;
			break;
		}
		ssize_t n =
		    read_full(fd, static_cast<char *>(buf), read_chunk, offset);
		if (n < 0) {
			why = std::strerror(errno);
			break;
		}
		offset += n;
		// A read short of the chunk is the end of the file.
		bool last = static_cast<std::size_t>(n) < read_chunk;
		if (XML_ParseBuffer(f->parser, static_cast<int>(n), last) !=
		    XML_STATUS_OK) {
			refuse(f, line_of(f->parser),
			    XML_ErrorString(XML_GetErrorCode(f->parser)));
			break;
		}
		if (last) {
			close(fd);
			return outcome::read;
		}
	}
	if (why != nullptr)
		refuse(f, 0, why);
	close(fd);
	return outcome::failed;
}

bool
name_before(std::uint32_t a, std::uint32_t b)
{
	const name_row &ra = db.names.rows[a];
	const name_row &rb = db.names.rows[b];
	int c = text_of(ra.name).compare(text_of(rb.name));
	return c != 0 ? c < 0 : ra.entry < rb.entry;
}

bool
build_name_index()
{
	if (!reserve(&db.by_name, db.names.count))
		return false;
	for (std::uint32_t i = 0; i < db.names.count; i++)
		db.by_name.rows[i] = i;
	db.by_name.count = db.names.count;
	std::sort(
	    db.by_name.rows, db.by_name.rows + db.by_name.count, name_before);
	return true;
}

bool
bound_holds(const bound_row &b, std::string_view version)
{
	int c = compare_versions(version, text_of(b.version));
	switch (b.op) {
	case bound_op::lt:
		return c < 0;
	case bound_op::le:
		return c <= 0;
	case bound_op::eq:
		return c == 0;
	case bound_op::ge:
		return c >= 0;
	case bound_op::gt:
		return c > 0;
	}
	return false;
}

bool
ranges_hold(const name_row &row, std::string_view version)
{
	if (row.range_count == 0)
		return true;
	for (std::uint32_t r = 0; r < row.range_count; r++) {
		const range_row &range = db.ranges.rows[row.first_range + r];
		bool holds = true;
		for (std::uint32_t k = 0; k < range.bound_count && holds; k++)
			holds = bound_holds(
			    db.bounds.rows[range.first_bound + k], version);
		if (holds)
			return true;
	}
	return false;
}

} // namespace

void
release_vuxml()
{
	release(&db.text);
	release(&db.entries);
	release(&db.cves);
	release(&db.bounds);
	release(&db.ranges);
	release(&db.names);
	release(&db.by_name);
	db.failed = false;
	db.loaded = false;
}

int
need_vuxml()
{
	if (db.loaded)
		return db.failed ? 1 : 0;
	int result = load_vuxml();
	db.loaded = true;
	return result;
}

int
load_vuxml()
{
	release_vuxml();
	parse_state ps;
	file_parse main{};
	main.parse = &ps;
	if (!copy_text(main.rel, sizeof main.rel, vuxml_main_file) ||
	    !join_text(main.path, sizeof main.path,
		{state.top_dir_slash, vuxml_directory, vuxml_main_file})) {
		report_too_long(
		    {state.top_dir_slash, vuxml_directory, vuxml_main_file});
		db.failed = true;
		return 1;
	}
	main.parser = XML_ParserCreate("UTF-8");
	if (main.parser == nullptr) {
		say_error("malloc failure");
		db.failed = true;
		return 1;
	}
	XML_SetUserData(main.parser, &main);
	XML_SetElementHandler(main.parser, on_start, on_end);
	XML_SetCharacterDataHandler(main.parser, on_text);
	XML_SetExternalEntityRefHandler(main.parser, on_entity);
	XML_SetEntityDeclHandler(main.parser, on_entity_decl);
	XML_SetSkippedEntityHandler(main.parser, on_skipped_entity);
	outcome got = outcome::failed;
	if (XML_SetParamEntityParsing(
		main.parser, XML_PARAM_ENTITY_PARSING_NEVER) == 0 ||
	    !XML_SetBillionLaughsAttackProtectionActivationThreshold(
		main.parser, vuxml_expansion_backstop))
		refuse(
		    &main, 0, "the XML parser cannot bound entity expansion");
	else
		got = parse_file(&main);
	XML_ParserFree(main.parser);
	if (got == outcome::missing) {
		// A tree without the database has no vulnerability data: not
		// an error.
		if (state.verbosity > 0)
			say(stderr, "%s: no such file, no vulnerability data\n",
			    main.path);
		return 0;
	}
	// Files named and nothing in them: a database that says nothing is
	// vulnerable must not be taken at its word.
	if (got == outcome::read && ps.included > 0 && db.entries.count == 0) {
		refuse(&main, 0, "no entry in the files it includes");
		got = outcome::failed;
	}
	if (got == outcome::failed || !build_name_index()) {
		release_vuxml();
		db.failed = true;
		return 1;
	}
	return 0;
}

bool
vuxml_usable()
{
	return !db.failed;
}

std::size_t
vuxml_entry_count()
{
	return db.entries.count;
}

vuxml_entry
vuxml_entry_at(std::size_t i)
{
	const entry_row &e = db.entries.rows[i];
	return {.vid = text_of(e.vid),
	    .topic = text_of(e.topic),
	    .discovery = text_of(e.discovery),
	    .entry = text_of(e.entry),
	    .cve_count = e.cve_count};
}

std::string_view
vuxml_cve(std::size_t i, std::size_t k)
{
	return text_of(db.cves.rows[db.entries.rows[i].first_cve + k]);
}

vuxml_search
vuxml_find(std::string_view name, std::string_view version)
{
	vuxml_search s;
	s.name = name;
	s.version = version;
	const std::uint32_t *begin = db.by_name.rows;
	const std::uint32_t *end = begin + db.by_name.count;
	auto below = [](std::uint32_t row, std::string_view n) {
		return text_of(db.names.rows[row].name) < n;
	};
	auto above = [](std::string_view n, std::uint32_t row) {
		return n < text_of(db.names.rows[row].name);
	};
	const std::uint32_t *first = std::lower_bound(begin, end, name, below);
	const std::uint32_t *last = std::upper_bound(first, end, name, above);
	s.next = static_cast<std::uint32_t>(first - begin);
	s.end = static_cast<std::uint32_t>(last - begin);
	return s;
}

bool
vuxml_next(vuxml_search *search, std::size_t *entry)
{
	while (search->next < search->end) {
		const name_row &row =
		    db.names.rows[db.by_name.rows[search->next++]];
		if (row.entry == search->last ||
		    !ranges_hold(row, search->version))
			continue;
		search->last = row.entry;
		*entry = row.entry;
		return true;
	}
	return false;
}
