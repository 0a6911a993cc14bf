// Names are found by an open-addressing hash table of at least twice as many
// slots as the table may hold, so that a probe sequence stays short; the
// slots hold numbers, and the names themselves stay where they were read.
#include "treedata/name_table.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "text/hash.h"
#include "state/messages.h"

namespace {

// The slot that holds name, or the free slot where it belongs.
std::size_t
slot_of(const name_table *table, std::string_view name)
{
	return find_slot({table->slots, table->mask}, name_hash(name),
	    [table, name](std::uint32_t n) { return table->names[n - 1] == name; });
}

} // namespace

int
name_table_make(name_table *table, std::size_t capacity)
{
	*table = {};
	if (capacity >= UINT32_MAX / 4) {
		say(stderr, "malloc failure: %zu names\n", capacity);
		return -1;
	}
	std::size_t slots = 16;
	while (slots < 2 * capacity)
		slots *= 2;
	table->names = static_cast<std::string_view *>(
	    std::malloc((capacity + 1) * sizeof(std::string_view)));
	table->slots = static_cast<std::uint32_t *>(
	    std::calloc(slots, sizeof(std::uint32_t)));
	if (table->names == nullptr || table->slots == nullptr) {
		say_error("malloc failure");
		name_table_release(table);
		return -1;
	}
	table->capacity = static_cast<std::uint32_t>(capacity);
	table->mask = slots - 1;
	return 0;
}

void
name_table_release(name_table *table)
{
	std::free(table->names);
	std::free(table->slots);
	*table = {};
}

std::uint32_t
name_table_find(const name_table *table, std::string_view name)
{
	if (table->slots == nullptr)
		return no_name;
	std::uint32_t at = table->slots[slot_of(table, name)];
	return at == 0 ? no_name : at - 1;
}

std::uint32_t
name_table_add(name_table *table, std::string_view name)
{
	if (table->slots == nullptr)
		return no_name;
	std::size_t slot = slot_of(table, name);
	if (table->slots[slot] != 0)
		return table->slots[slot] - 1;
	if (table->count == table->capacity)
		return no_name;
	table->names[table->count] = name;
	table->slots[slot] = ++table->count;
	return table->count - 1;
}

// Counts the members of each group, then fills each group from its end,
// walking the members backwards, which keeps each group in member order.
void
name_table_group(const std::uint32_t *of, std::uint32_t members,
    std::uint32_t groups, std::uint32_t *start, std::uint32_t *list,
    std::uint32_t *scratch)
{
	std::fill(start, start + groups + 1, 0);
	for (std::uint32_t i = 0; i < members; i++)
		if (of[i] != no_name)
			start[of[i] + 1]++;
	for (std::uint32_t g = 0; g < groups; g++)
		start[g + 1] += start[g];
	std::copy(start + 1, start + groups + 1, scratch);
	for (std::uint32_t i = members; i-- > 0;)
		if (of[i] != no_name)
			list[--scratch[of[i]]] = i;
}
