// Port lookup.
//
// A category's group is found by its name, so a listed category without
// INDEX lines shifts no other category onto the wrong group. A lookup finds
// the first line of the port from the cursor to the group's end, else the
// first from the group's head, and the cursor then stands behind it.
//
// Category Makefiles list their ports in INDEX order, so the line at the
// cursor is nearly always the one sought, and that one comparison is the
// whole cost. The first lookup in a group that misses there indexes the
// group's lines by port directory in a hash table, in one pass, and every later
// miss in that group asks the table: a Makefile in another order, or one
// naming ports the INDEX lacks, costs time linear in the group's size, not
// a scan of the group per port. A key's lines are kept in text order, so
// the first one at or after the cursor is found by a binary search.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "catalogue/catalogue.h"
#include "state/pathnames.h"
#include "state/state.h"
#include "text/bounded.h"
#include "text/hash.h"
#include "state/messages.h"

namespace {

// A hash index of one category group's lines by their port directory,
// built when a port is not at the cursor. Its arrays share one allocation,
// kept for the next group that needs an index.
struct lookup_index {
	void *block;		  // the one allocation, or null
	std::size_t room;	  // lines that block has room for
	char *group;		  // the group indexed; null: none
	std::size_t mask;	  // slot count less one (a power of two)
	std::uint32_t *slots;	  // a key's number + 1, or 0 when free
	std::uint32_t *key_start; // per key: its first place in lines
	std::uint32_t *key_count; // per key: its number of lines
	std::uint32_t *line_key;  // per line in text order: its key
	char **lines;		  // the lines, by key, in text order
};

lookup_index lookup;

} // namespace

bool
listed_category(std::string_view name)
{
	for (const char *listed = state.category_list; *listed != '\0';
	     listed = list_next(listed)) {
		if (name == listed)
			return true;
	}
	return false;
}

int
select_category(const char *name, category_scan *scan)
{
	if (listed_category(name)) {
		for (std::size_t g = 0; g < state.group_count; g++) {
			index_record first;
			(void)split_index_line(state.category_groups[g], &first,
			    index_field::categories);
			if (primary_category(first) != name)
				continue;
			scan->group = state.category_groups[g];
			scan->cursor = scan->group;
			scan->end = state.category_groups[g + 1];
			return 0;
		}
	}
	say(stderr, "No such category: %s\n", name);
	return 1;
}

// The line after line: past its NUL.
static char *
next_line(char *line)
{
	return line + std::strlen(line) + 1;
}

// The port directory of line, as the INDEX names it.
static std::string_view
key_of(const char *line)
{
	index_record record;
	(void)split_index_line(line, &record, index_field::origin);
	return record[index_field::origin];
}

// True when line's port directory is key, whole.
static bool
has_key(const char *line, std::string_view key)
{
	return key_of(line) == key;
}

// The first line from `from` up to `to` whose port directory is key, or null.
static char *
scan_lines(char *from, char *to, std::string_view key)
{
	for (char *line = from; line < to; line = next_line(line)) {
		if (has_key(line, key))
			return line;
	}
	return nullptr;
}

static std::uint64_t
hash_key(const char *text, std::size_t length)
{
	return key_hash(std::string_view(text, length));
}

static constexpr std::uint32_t no_key = UINT32_MAX;

// Makes room in the index for lines lines; its slots then number twice
// that, rounded up to a power of two. False when memory runs out.
static bool
make_room(std::size_t lines)
{
	lookup_index &lk = lookup;
	if (lines <= lk.room && lk.block != nullptr)
		return true;
	std::size_t room = 64;
	while (room < lines)
		room *= 2;
	std::size_t bytes = room * sizeof(char *) +
	    (2 * room + 3 * room) * sizeof(std::uint32_t);
	void *block = std::malloc(bytes);
	if (block == nullptr)
		return false;
	std::free(lk.block);
	lk.block = block;
	lk.room = room;
	lk.group = nullptr;
	lk.lines = static_cast<char **>(block);
	lk.slots = reinterpret_cast<std::uint32_t *>(lk.lines + room);
	lk.key_start = lk.slots + 2 * room;
	lk.key_count = lk.key_start + room;
	lk.line_key = lk.key_count + room;
	return true;
}

// The slot of key: the one that holds it, or the free one where it goes.
static std::size_t
find_slot(const char *key, std::size_t length, std::uint64_t hash)
{
	const lookup_index &lk = lookup;
	for (std::size_t s = hash & lk.mask;; s = (s + 1) & lk.mask) {
		std::uint32_t k = lk.slots[s];
		if (k == 0 ||
		    has_key(lk.lines[lk.key_start[k - 1]],
			std::string_view(key, length)))
			return s;
	}
}

// Indexes the lines of the group from group up to end. False, with no
// index, when memory runs out.
static bool
index_group(char *group, char *end)
{
	lookup_index &lk = lookup;
	lk.group = nullptr;
	std::size_t n = 0;
	for (char *line = group; line < end; line = next_line(line))
		n++;
	// An INDEX is under 4 GiB, so its line numbers fit 32 bits.
	if (n >= no_key || !make_room(n))
		return false;
	std::size_t slot_count = 8;
	while (slot_count < 2 * n)
		slot_count *= 2;
	lk.mask = slot_count - 1;
	std::memset(lk.slots, 0, slot_count * sizeof *lk.slots);

	// First pass: number the keys and count their lines. Until the
	// second pass, lines holds the lines in text order and key_start a
	// key's first line, which find_slot compares with.
	std::uint32_t keys = 0;
	std::uint32_t i = 0;
	for (char *line = group; line < end; line = next_line(line), i++) {
		lk.lines[i] = line;
		std::string_view key = key_of(line);
		std::size_t s = find_slot(
		    key.data(), key.size(), hash_key(key.data(), key.size()));
		if (lk.slots[s] == 0) {
			lk.slots[s] = keys + 1;
			lk.key_start[keys] = i;
			lk.key_count[keys] = 0;
			keys++;
		}
		std::uint32_t k = lk.slots[s] - 1;
		lk.line_key[i] = k;
		lk.key_count[k]++;
	}

	// Second pass: each key's lines together, in text order.
	std::uint32_t place = 0;
	for (std::uint32_t k = 0; k < keys; k++) {
		lk.key_start[k] = place;
		place += lk.key_count[k];
	}
	i = 0;
	for (char *line = group; line < end; line = next_line(line), i++) {
		std::uint32_t k = lk.line_key[i];
		if (k != no_key)
			lk.lines[lk.key_start[k]++] = line;
	}
	for (std::uint32_t k = 0; k < keys; k++)
		lk.key_start[k] -= lk.key_count[k];
	lk.group = group;
	return true;
}

// The indexed line of key at or after cursor, else its first; null when the
// group holds no line of key.
static char *
indexed_line(std::string_view key, const char *cursor)
{
	const lookup_index &lk = lookup;
	std::size_t s =
	    find_slot(key.data(), key.size(), hash_key(key.data(), key.size()));
	if (lk.slots[s] == 0)
		return nullptr;
	std::uint32_t k = lk.slots[s] - 1;
	char *const *first = lk.lines + lk.key_start[k];
	std::size_t low = 0, high = lk.key_count[k];
	while (low < high) {
		std::size_t mid = low + (high - low) / 2;
		if (first[mid] < cursor)
			low = mid + 1;
		else
			high = mid;
	}
	return low < lk.key_count[k] ? first[low] : first[0];
}

bool
find_port(category_scan *scan, const char *path, index_record *record)
{
	char key[path_size];
	if (!join_text(key, sizeof key,
		{path_index_ports, skip_prefix(path, state.top_dir)}))
		return false;
	// A port directory ends at the next '|', so a directory name holding
	// one matches no line.
	if (std::strchr(key, '|') != nullptr)
		return false;

	char *window_end = scan->end != nullptr ? scan->end : state.index_end;
	char *line = nullptr;
	if (scan->cursor < window_end && has_key(scan->cursor, key)) {
		line = scan->cursor;
	} else if ((lookup.group != nullptr && lookup.group == scan->group) ||
	    index_group(scan->group, window_end)) {
		line = indexed_line(key, scan->cursor);
	} else {
		// Without memory for the index, the same answer by scanning.
		line = scan_lines(scan->cursor, window_end, key);
		if (line == nullptr)
			line = scan_lines(scan->group, scan->cursor, key);
	}
	if (line == nullptr)
		return false;
	(void)split_index_line(line, record);
	char *after = next_line(line);
	scan->cursor = after < window_end ? after : window_end;
	return true;
}

void
release_lookup()
{
	std::free(lookup.block);
	lookup = {};
}
