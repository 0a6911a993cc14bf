// The hashes of text, and the shape of the open-addressed tables that look
// text up by them.
//
// Stored on disk, so their values never change (a test pins each):
//   fnv1a         FNV-1a of 64 bits: the feed record's entry hashes and
//                 the sum of its body; folded (fnv1a_folded), the name of
//                 a maintainer's page whose address is cut short.
//   path_hash     FNV-1a of a path, 0 taken as 1: the first of the two
//                 sums over a generation's paths that its marker keeps.
//   path_mix      a multiply-and-shift mix of a path: the second sum.
// In memory only, free to change with the tables that use them:
//   name_hash     names, eight bytes at a time (the tree's name tables,
//                 the packages and the search words).
//   path_hash     also the key of publishing's sets of paths.
//   key_hash      FNV-1a folded once: an INDEX port directory's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

inline constexpr std::uint64_t fnv1a_basis = 0xcbf29ce484222325ULL;
inline constexpr std::uint64_t fnv1a_prime = 0x100000001b3ULL;

// FNV-1a of 64 bits over text, continued from h.
[[nodiscard]] constexpr std::uint64_t
fnv1a(std::string_view text, std::uint64_t h = fnv1a_basis)
{
	for (char c : text) {
		h ^= static_cast<unsigned char>(c);
		h *= fnv1a_prime;
	}
	return h;
}

// fnv1a of text with its ASCII capitals taken as small letters.
[[nodiscard]] constexpr std::uint64_t
fnv1a_folded(std::string_view text)
{
	std::uint64_t h = fnv1a_basis;
	for (char c : text) {
		if (c >= 'A' && c <= 'Z')
			c = static_cast<char>(c - 'A' + 'a');
		h ^= static_cast<unsigned char>(c);
		h *= fnv1a_prime;
	}
	return h;
}

// FNV-1a of the path rel (NUL-ended), never 0, which a set keeps for a
// free slot.
[[nodiscard]] constexpr std::uint64_t
path_hash(const char *rel)
{
	std::uint64_t h = fnv1a_basis;
	for (const char *p = rel; *p != '\0'; p++)
		h = (h ^ static_cast<unsigned char>(*p)) * fnv1a_prime;
	return h == 0 ? 1 : h;
}

// A second hash of the path rel, unlike path_hash, so that two sums over
// a set of paths tell it apart from another with all but certainty.
[[nodiscard]] constexpr std::uint64_t
path_mix(const char *rel)
{
	std::uint64_t h = 0x9e3779b97f4a7c15ULL;
	for (const char *p = rel; *p != '\0'; p++) {
		h = (h + static_cast<unsigned char>(*p)) * 0xbf58476d1ce4e5b9ULL;
		h ^= h >> 31;
	}
	return h ^ (h >> 29);
}

// The key of a port directory in the INDEX lookup: FNV-1a with its high
// bits folded into the low ones that pick a slot.
[[nodiscard]] constexpr std::uint64_t
key_hash(std::string_view key)
{
	std::uint64_t h = fnv1a(key);
	return h ^ (h >> 29);
}

// A hash of a name for a table of names, read eight bytes at a time, each
// word mixed in by a multiply, and the high half of the last product
// spreads every byte over the slot bits.
[[nodiscard]] std::uint32_t name_hash(std::string_view name);

// An open-addressed table of the numbers 1 to n (0 marks a free slot) in a
// power of two of slots (mask, one less), probed one slot after another
// from the hash of what a number stands for, which the caller keeps.
struct slot_table {
	std::uint32_t *slot = nullptr;
	std::size_t mask = 0;
};

// The slot of the table that holds a number for which same(number) is
// true, or the free slot where it goes; the table has a free slot.
template <class Same>
[[nodiscard]] inline std::size_t
find_slot(const slot_table &table, std::uint64_t hash, Same same)
{
	std::size_t s = hash & table.mask;
	while (table.slot[s] != 0 && !same(table.slot[s]))
		s = (s + 1) & table.mask;
	return s;
}

// The line that closes a record kept beside the site (the feed record, the
// history record): "end LENGTH SUM\n", the length of body and its fnv1a as
// 16 hexadecimal digits, made in buf.
[[nodiscard]] std::string_view record_end_line(
    std::string_view body, char (&buf)[64]);

// Where the body of a record ends: the start of text's last line when that
// line is the end line of all before it and starts past from (the end of
// the record's head); npos when it is not, and the record is not whole.
[[nodiscard]] std::size_t record_body_end(
    std::string_view text, std::size_t from);
