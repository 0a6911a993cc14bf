// MOVED is read in one pass into an array of entries that point into the
// file's text; every origin named gets a number from one hash table. Each
// origin's fate is the last entry moving it away, and the entry a chain
// continues with is the fate of its new origin when that comes later in the
// file. Since a chain only ever moves forward in the file it has an end, and
// walking the entries from the last back to the first gives every chain's
// end from the one after it: the destinations cost one pass. The earlier
// names of a port are the entries whose chains pass through it: the entries
// moving a port to it and, behind each, the entries whose chain continues
// with that one. Both relations are kept as groups in flat arrays, so that a
// port page asks a hash lookup and reads only its own names.
#include "treedata/moved.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state/state.h"
#include "treedata/calendar.h"
#include "treedata/name_table.h"
#include "treedata/tree_file.h"
#include "state/messages.h"

namespace {

struct moved_list {
	moved_entry *entries; // one per old origin, in file order
	std::uint32_t count;
	std::size_t skipped;
	name_table origins;	     // every origin named, old or new
	std::uint32_t *old_id;	     // by entry: its old origin's number
	std::uint32_t *new_id;	     // by entry: its new one's, or no_name
	std::uint32_t *fate;	     // by origin: its entry, or none
	std::uint32_t *destination;  // by entry: origin number, or no_name
	std::uint32_t *to_start;     // by origin: its group in to
	std::uint32_t *to;	     // entries grouped by new origin
	std::uint32_t *before_start; // by entry: its group in before
	std::uint32_t *before;	     // entries grouped by the next one
	std::uint32_t *work; // room for grouping
};

moved_list moved;

// The tree's MOVED, when need_moved read it.
top_file moved_file;

constexpr std::string_view bad_fields = "not old|new|YYYY-MM-DD|reason";
constexpr std::string_view bad_origin = "not a port origin";
constexpr std::string_view bad_date = "not a date";
constexpr std::string_view long_name =
    "not a port origin: a name longer than 255 bytes";
static_assert(moved_name_max == 255, "the message names the limit");
// The path of a page below the output root fits in a path buffer.
static_assert(2 * moved_name_max + std::string_view("//README.html").size() <
    path_size);

void
report_line(const char *path, std::size_t line, std::string_view why)
{
	if (state.verbosity > 0)
		say(stderr, "Skipping %s line %zu: %.*s\n", path, line,
		    static_cast<int>(why.size()), why.data());
}

bool
name_byte(char c)
{
	return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
	    (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
	    c == '+';
}

// A directory name of the tree: name bytes only, not "." or "..".
bool
valid_name(std::string_view name)
{
	if (name.empty() || name == "." || name == "..")
		return false;
	return std::all_of(name.begin(), name.end(), name_byte);
}

// The origin of field without its flavor, or empty when field is no
// category/name[@flavor].
std::string_view
field_origin(std::string_view field)
{
	std::size_t at = field.find('@');
	if (at != field.npos) {
		if (!valid_name(field.substr(at + 1)))
			return {};
		field = field.substr(0, at);
	}
	std::size_t slash = field.find('/');
	if (slash == field.npos || !valid_name(field.substr(0, slash)) ||
	    !valid_name(field.substr(slash + 1)))
		return {};
	return field;
}

// Whether a name of origin (category/name, or empty) is longer than any
// directory's: such a port has no directory and no page.
bool
name_too_long(std::string_view origin)
{
	std::size_t slash = origin.find('/');
	return slash != origin.npos &&
	    (slash > moved_name_max || origin.size() - slash - 1 > moved_name_max);
}

bool
valid_date(std::string_view date)
{
	return date.size() == 10 && date[4] == '-' && date[7] == '-' &&
	    valid_calendar_date(
		date.substr(0, 4), date.substr(5, 2), date.substr(8, 2));
}

// Fills *entry from line, or says what is wrong with it.
std::string_view
parse_line(std::string_view line, moved_entry *entry)
{
	std::string_view field[3];
	for (std::string_view &f : field) {
		std::size_t bar = line.find('|');
		if (bar == line.npos)
			return bad_fields;
		f = line.substr(0, bar);
		line.remove_prefix(bar + 1);
	}
	entry->old_origin = field_origin(field[0]);
	entry->new_origin = field_origin(field[1]);
	if (entry->old_origin.empty() ||
	    (entry->new_origin.empty() && !field[1].empty()))
		return bad_origin;
	if (name_too_long(entry->old_origin) ||
	    name_too_long(entry->new_origin))
		return long_name;
	if (!valid_date(field[2]))
		return bad_date;
	while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
		line.remove_suffix(1);
	entry->date = field[2];
	entry->reason = line;
	return {};
}

std::uint32_t *
numbers(std::size_t count)
{
	return static_cast<std::uint32_t *>(
	    std::calloc(count + 1, sizeof(std::uint32_t)));
}

// Reads every line into moved.entries, then keeps each origin's last entry.
int
read_entries(std::string_view text, const char *path)
{
	std::size_t lines = 1 +
	    static_cast<std::size_t>(
		std::count(text.begin(), text.end(), '\n'));
	if (lines >= UINT32_MAX / 4) {
		say(stderr, "%s: too many lines\n", path);
		return -1;
	}
	moved.entries = static_cast<moved_entry *>(
	    std::malloc(lines * sizeof(moved_entry)));
	if (moved.entries == nullptr) {
		say_error("malloc failure");
		return -1;
	}
	if (name_table_make(&moved.origins, 2 * lines) != 0)
		return -1;
	std::uint32_t count = 0;
	for (std::size_t n = 1; !text.empty(); n++) {
		std::size_t eol = std::min(text.find('\n'), text.size());
		std::string_view line = text.substr(0, eol);
		text.remove_prefix(std::min(eol + 1, text.size()));
		if (!line.empty() && line.back() == '\r')
			line.remove_suffix(1);
		if (line.empty() || line[0] == '#')
			continue;
		moved_entry *entry = &moved.entries[count];
		std::string_view why = parse_line(line, entry);
		if (!why.empty()) {
			report_line(path, n, why);
			moved.skipped++;
			continue;
		}
		if (entry->old_origin == entry->new_origin)
			continue;
		entry->line = n;
		count++;
	}
	moved.old_id = numbers(count);
	moved.new_id = numbers(count);
	moved.fate = numbers(moved.origins.capacity);
	if (moved.old_id == nullptr || moved.new_id == nullptr ||
	    moved.fate == nullptr) {
		say_error("malloc failure");
		return -1;
	}
	std::fill(moved.fate, moved.fate + moved.origins.capacity, no_name);
	for (std::uint32_t e = 0; e < count; e++) {
		std::uint32_t id =
		    name_table_add(&moved.origins, moved.entries[e].old_origin);
		moved.fate[id] = e;
	}
	// Only each origin's last entry stays.
	std::uint32_t kept = 0;
	for (std::uint32_t e = 0; e < count; e++) {
		std::uint32_t id = name_table_find(
		    &moved.origins, moved.entries[e].old_origin);
		if (moved.fate[id] != e)
			continue;
		moved.entries[kept] = moved.entries[e];
		moved.fate[id] = kept;
		moved.old_id[kept] = id;
		kept++;
	}
	moved.count = kept;
	for (std::uint32_t e = 0; e < kept; e++) {
		std::string_view to = moved.entries[e].new_origin;
		moved.new_id[e] =
		    to.empty() ? no_name : name_table_add(&moved.origins, to);
	}
	return 0;
}

// The entry that entry e's chain continues with, or no_name.
std::uint32_t
next_entry(std::uint32_t e)
{
	std::uint32_t to = moved.new_id[e];
	if (to == no_name || moved.fate[to] == no_name || moved.fate[to] <= e)
		return no_name;
	return moved.fate[to];
}

int
link_entries()
{
	std::uint32_t count = moved.count;
	std::uint32_t names = moved.origins.count;
	moved.destination = numbers(count);
	moved.to_start = numbers(names + 1);
	moved.to = numbers(count);
	moved.before_start = numbers(count + 1);
	moved.before = numbers(count);
	moved.work = numbers(std::max(count, names) + 1);
	std::uint32_t *next = numbers(count);
	if (moved.destination == nullptr || moved.to_start == nullptr ||
	    moved.to == nullptr || moved.before_start == nullptr ||
	    moved.before == nullptr || moved.work == nullptr || next == nullptr) {
		say_error("malloc failure");
		std::free(next);
		return -1;
	}
	for (std::uint32_t e = count; e-- > 0;) {
		next[e] = next_entry(e);
		moved.destination[e] = next[e] == no_name
		    ? moved.new_id[e]
		    : moved.destination[next[e]];
	}
	name_table_group(
	    moved.new_id, count, names, moved.to_start, moved.to, moved.work);
	name_table_group(
	    next, count, count, moved.before_start, moved.before, moved.work);
	std::free(next);
	return 0;
}

void
drop_list()
{
	name_table_release(&moved.origins);
	for (std::uint32_t *array : {moved.old_id, moved.new_id, moved.fate,
		 moved.destination, moved.to_start, moved.to,
		 moved.before_start, moved.before, moved.work})
		std::free(array);
	std::free(moved.entries);
	moved = {};
}

} // namespace

int
moved_build(std::string_view text, const char *path)
{
	drop_list();
	if (read_entries(text, path) != 0 || link_entries() != 0) {
		drop_list();
		return -1;
	}
	return 0;
}

int
need_moved()
{
	return need_top_file(&moved_file, moved_name, moved_build);
}

void
moved_release()
{
	drop_list();
	release_top_file(&moved_file);
}

std::size_t
moved_count()
{
	return moved.count;
}

const moved_entry &
moved_at(std::size_t i)
{
	return moved.entries[i];
}

std::size_t
moved_skipped()
{
	return moved.skipped;
}

std::uint32_t
moved_find(std::string_view origin)
{
	std::uint32_t id = name_table_find(&moved.origins, origin);
	return id == no_name ? no_moved_entry : moved.fate[id];
}

std::string_view
moved_destination(std::size_t i)
{
	std::uint32_t to = moved.destination[i];
	return to == no_name ? std::string_view() : moved.origins.names[to];
}

std::size_t
moved_formerly(std::string_view origin, std::uint32_t *out, std::size_t room,
    moved_query *q)
{
	std::uint32_t id = name_table_find(&moved.origins, origin);
	if (id == no_name)
		return 0;
	// The room of a query is made for the size of the list as it is
	// now: a list of another size gets new room.
	if (q->mark == nullptr || q->entries != moved.count ||
	    q->origins != moved.origins.count) {
		release_moved_query(q);
		q->mark = numbers(moved.count);
		// A query visits each entry once but may meet it twice: once
		// as moving a port to the origin asked about, once behind
		// another.
		q->work = numbers(
		    2 * std::max(moved.count, moved.origins.count) + 1);
		if (q->mark == nullptr || q->work == nullptr) {
			release_moved_query(q);
			return 0;
		}
		q->entries = moved.count;
		q->origins = moved.origins.count;
	}
	// A mark per query saves clearing the marks; after 2^32 - 1 queries
	// they are cleared once.
	if (++q->query == 0) {
		std::fill(q->mark, q->mark + moved.count, 0);
		q->query = 1;
	}
	// Depth first from the entries moving a port to origin, through the
	// entries whose chains continue with each; found entries are kept at
	// the front of work and the ones still to visit at its back.
	std::uint32_t *work = q->work;
	std::size_t found = 0;
	std::size_t bottom =
	    2 * std::max<std::size_t>(moved.count, moved.origins.count);
	std::size_t todo = bottom;
	for (std::uint32_t i = moved.to_start[id]; i < moved.to_start[id + 1];
	     i++)
		work[--todo] = moved.to[i];
	while (todo < bottom) {
		std::uint32_t e = work[todo++];
		if (q->mark[e] == q->query)
			continue;
		q->mark[e] = q->query;
		if (moved.old_id[e] != id)
			work[found++] = e;
		for (std::uint32_t i = moved.before_start[e];
		     i < moved.before_start[e + 1]; i++)
			work[--todo] = moved.before[i];
	}
	std::sort(work, work + found);
	std::copy(work, work + std::min(found, room), out);
	return found;
}

void
release_moved_query(moved_query *query)
{
	std::free(query->mark);
	std::free(query->work);
	*query = {};
}
