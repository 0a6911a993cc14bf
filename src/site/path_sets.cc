// Sets and tables of paths by their hash, as publishing keeps them: a set
// of hashes that grows as it fills, and a table of a marker's paths by
// their offset in its text.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include "io/io.h"
#include "platform/platform.h"
#include "site/marker.h"
#include "site/site.h"
#include "site/site_state.h"
#include "state/state.h"
#include "text/bounded.h"

namespace {

// The slots that a set or table of paths starts with.
constexpr std::size_t first_slots = 1024;

// Puts h into the first free slot of its run in slot (size of them, a
// power of two, not all taken).
void
place_hash(std::uint64_t *slot, std::size_t size, std::uint64_t h)
{
	std::size_t i = h & (size - 1);
	while (slot[i] != 0)
		i = (i + 1) & (size - 1);
	slot[i] = h;
}

} // namespace

// size bytes, zeroed, for a table of the publishing; null after saying how
// much could not be had.
void *
allocate(std::size_t size)
{
	return allocate_reported(size, state.out_dir);
}

bool
has_hash(const hash_set &set, std::uint64_t h)
{
	if (set.size == 0)
		return false;
	for (std::size_t i = h & (set.size - 1); set.slot[i] != 0;
	     i = (i + 1) & (set.size - 1)) {
		if (set.slot[i] == h)
			return true;
	}
	return false;
}

// Adds h to the set unless it holds it: full when it holds most hashes
// already, failed when it could not grow (reported).
add_result
add_hash(hash_set *set, std::size_t most, std::uint64_t h)
{
	if (has_hash(*set, h))
		return add_result::present;
	if (set->count >= most)
		return add_result::full;
	if (2 * (set->count + 1) > set->size) {
		std::size_t size = set->size == 0 ? first_slots : 2 * set->size;
		auto *slot = static_cast<std::uint64_t *>(
		    allocate(size * sizeof(std::uint64_t)));
		if (slot == nullptr)
			return add_result::failed;
		for (std::size_t i = 0; i < set->size; i++) {
			if (set->slot[i] != 0)
				place_hash(slot, size, set->slot[i]);
		}
		std::free(set->slot);
		set->slot = slot;
		set->size = size;
	}
	place_hash(set->slot, set->size, h);
	set->count++;
	return add_result::added;
}

void
release_set(hash_set *set)
{
	std::free(set->slot);
	*set = {};
}

// The hash of the first length bytes of rel as a path of its own.
std::uint64_t
prefix_hash(const char *rel, std::size_t length)
{
	char part[path_size];
	(void)copy_text(part, sizeof part, std::string_view(rel, length));
	return path_hash(part);
}

// Puts count paths of the current generation's marker, from list on, in
// table. 0 when done, 1 when they are more than a list holds, -1 when the
// table could not be had (reported).
int
fill_paths(path_table *table, const char *list, std::size_t count)
{
	if (count > list_paths)
		return 1;
	std::size_t size = first_slots;
	while (size < 2 * count)
		size *= 2;
	table->slot = static_cast<std::uint32_t *>(
	    allocate(size * sizeof *table->slot));
	if (table->slot == nullptr)
		return -1;
	table->mask = size - 1;
	const char *p = list;
	for (std::size_t i = 0; i < count; i++) {
		// Each path once: no slot holds its like.
		std::size_t slot = find_slot(
		    *table, path_hash(p), [](std::uint32_t) { return false; });
		table->slot[slot] = static_cast<std::uint32_t>(
		    p - site.current_marker_text + 1);
		p += std::strlen(p) + 1;
	}
	return 0;
}

bool
in_paths(const path_table &table, const char *rel)
{
	if (table.slot == nullptr)
		return false;
	std::size_t slot =
	    find_slot(table, path_hash(rel), [rel](std::uint32_t at) {
		    return std::strcmp(site.current_marker_text + at - 1, rel) ==
			0;
	    });
	return table.slot[slot] != 0;
}
