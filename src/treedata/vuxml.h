// The tree's vulnerability database, security/vuxml: which entries affect a
// package at a given version, and what a page shows of each entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The database's main file below the top of the tree; the files it
// includes are resolved beneath its directory only.
inline constexpr std::string_view vuxml_directory = "security/vuxml/";
inline constexpr std::string_view vuxml_main_file = "vuln.xml";

// How deep included files may nest, and how many a database may include.
// Each file is included once at most, and an entity that holds its own
// text (an internal entity) is refused: the format needs neither, and
// without them no small file can expand to a large one (an "XML bomb").
inline constexpr int vuxml_include_depth = 4;
inline constexpr int vuxml_include_max = 256;
// expat's own guard against expansion counts every byte of an included
// file as expanded, so at its defaults it would refuse the real database
// (some 16 MB of year files below a main file of 4 KB). It stays on as a
// last bound, far above any real database.
inline constexpr unsigned long long vuxml_expansion_backstop = 1ULL << 30;

// Reads security/vuxml/vuln.xml beneath the top of the tree (the run
// state's top_dir) with every file it includes through external entities.
// Replaces what an earlier call read. Returns 0 when it was read, or when
// the tree has no vuln.xml (said at -v): then there are no entries. Returns
// 1 after one message when the database cannot be used (a file that cannot
// be read, malformed XML with the file and line, an entity, a parameter
// entity too, that leads out of security/vuxml or holds its own text, a
// reference to an entity whose declaration was not read, a file included
// twice or too deep, files included without one entry in them): then there
// are no entries either, and vuxml_usable() is false. A file that vuln.xml
// includes and the tree lacks counts as empty (said at -v).
[[nodiscard]] int load_vuxml();

// load_vuxml the first time it is needed after start or release_vuxml,
// and its result then; later calls give that result again at once.
[[nodiscard]] int need_vuxml();

// Frees what load_vuxml read. Safe to run more than once.
void release_vuxml();

// False after load_vuxml failed: pages then show no vulnerability section
// at all, rather than one that says nothing is known.
[[nodiscard]] bool vuxml_usable();

// The entries read, in the order of the database (newest first, as it is
// kept).
[[nodiscard]] std::size_t vuxml_entry_count();

struct vuxml_entry {
	std::string_view vid;	    // the entry's identifier, as written
	std::string_view topic;	    // blanks collapsed, not escaped
	std::string_view discovery; // YYYY-MM-DD, as written
	std::string_view entry;	    // the date the entry was made, as written
	std::size_t cve_count;	    // see vuxml_cve
};

// Entry i, i < vuxml_entry_count(). Its texts stay valid until
// release_vuxml or the next load_vuxml.
[[nodiscard]] vuxml_entry vuxml_entry_at(std::size_t i);

// The CVE name k, k < cve_count, of entry i.
[[nodiscard]] std::string_view vuxml_cve(std::size_t i, std::size_t k);

// A search for the entries that affect one package at one version: an
// entry affects it when one of its <package> elements names it and one of
// that element's ranges holds the version (a <package> without ranges
// holds every version).
struct vuxml_search {
	std::string_view name;
	std::string_view version;
	std::uint32_t next = 0; // the next candidate of the name index
	std::uint32_t end = 0;
	std::uint32_t last = UINT32_MAX; // the entry given last
};

// Starts a search for the package name at version.
[[nodiscard]] vuxml_search vuxml_find(
    std::string_view name, std::string_view version);

// The next entry that affects the package, each entry once, in the order
// of the database; false when there is none left.
[[nodiscard]] bool vuxml_next(vuxml_search *search, std::size_t *entry);
