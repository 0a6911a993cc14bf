// A set of names, each given a number in the order it was first added: the
// origins that MOVED names, the literal origins and categories that UPDATING
// names. The names are views into text that outlives the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

inline constexpr std::uint32_t no_name = UINT32_MAX;

struct name_table {
	std::string_view *names; // by number
	std::uint32_t count;
	std::uint32_t capacity;
	std::uint32_t *slots; // open addressing: number + 1, or 0 when free
	std::size_t mask;     // slot count - 1, a power of two
};

// Makes room for capacity names in an empty table. Returns 0, or -1 after
// reporting that memory ran out (the table is then empty and may be
// released).
[[nodiscard]] int name_table_make(name_table *table, std::size_t capacity);

// Frees the table's arrays and leaves it empty; safe to call twice.
void name_table_release(name_table *table);

// The number of name, or no_name when the table does not hold it.
[[nodiscard]] std::uint32_t name_table_find(
    const name_table *table, std::string_view name);

// The number of name, which is added when it is new. no_name when the table
// is full (it was made too small: a caller's error, not reported).
[[nodiscard]] std::uint32_t name_table_add(
    name_table *table, std::string_view name);

// Lists the members of every group together: of[i] is member i's group
// number (< groups), or no_name for none. start receives groups + 1 offsets
// into list, group g's members being list[start[g]] up to list[start[g + 1]],
// in member order; scratch has room for groups numbers.
void name_table_group(const std::uint32_t *of, std::uint32_t members,
    std::uint32_t groups, std::uint32_t *start, std::uint32_t *list,
    std::uint32_t *scratch);
