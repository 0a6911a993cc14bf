// Fuzzes the AFFECTS lines of UPDATING notes and the globs they spell.
//
// Input: an AFFECTS text (newlines become blanks), then origins, separated
// by record separators. The text is the AFFECTS line of two notes among
// three, one naming every origin through a glob in the category; for each
// origin, the notes the index finds must be those that asking every note
// finds, newest first. Every word of the text without braces, parentheses,
// backslashes or the sets that plain_sets refuses must match the origin as
// fnmatch(3) matches path names.
#include <fnmatch.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "support.h"
#include "treedata/updating.h"

using namespace qmfuzz;

namespace {

// Sets without the classes of POSIX ("[:alpha:]") and without a '/' before
// their end, where fnmatch(3) and the tool part ways on purpose.
bool
plain_sets(std::string_view word)
{
	if (word.find("[:") != word.npos || word.find("[=") != word.npos ||
	    word.find("[.") != word.npos)
		return false;
	for (std::size_t at = word.find('['); at != word.npos;
	     at = word.find('[', at + 1)) {
		// A ']' first in the set, after any '!' or '^', is a member.
		std::size_t first = at + 1;
		if (first < word.size() && (word[first] == '!' || word[first] == '^'))
			first++;
		std::size_t slash = word.find('/', at);
		std::size_t close = word.find(']', first + 1);
		if (slash != word.npos && (close == word.npos || slash < close))
			return false;
	}
	return true;
}

} // namespace

extern "C" int
LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	auto chunks = split_chunks(data, size);
	std::string affects(chunks[0]);
	for (char &c : affects)
		if (c == '\n')
			c = ' ';
	std::string text = "20200102:\n  AFFECTS: " + affects +
	    "\n  AUTHOR: x\n\n  body\n"
	    "20200101:\n  AFFECTS: */* and misc/a\n\n"
	    "20200103:\n  AFFECTS: " +
	    affects + " and www/x\n";
	if (updating_build(text, "fuzz") != 0)
		return 0;
	check(updating_count() == 3, "three notes");
	check(updating_at(0).date == "20200103" &&
		updating_at(2).date == "20200101",
	    "newest first");
	for (std::size_t k = 1; k < chunks.size(); k++) {
		std::string_view origin = chunks[k];
		std::uint32_t found[4];
		updating_query query;
		std::size_t n = updating_notes_for(origin, found, 4, &query);
		release_updating_query(&query);
		check(n <= 3, "at most every note");
		std::size_t at = 0;
		for (std::uint32_t i = 0; i < 3; i++) {
			if (!updating_note_names(i, origin))
				continue;
			check(at < n && found[at] == i,
			    "the index finds what every note says");
			at++;
		}
		check(at == n, "the index finds nothing more");

		std::string o(origin);
		if (o.find('\0') != o.npos)
			continue;
		std::size_t i = 0;
		while (i < affects.size()) {
			std::size_t end =
			    std::min(affects.find(' ', i), affects.size());
			std::string word = affects.substr(i, end - i);
			i = end + 1;
			if (word.find_first_of(std::string("{}()\\\0", 6)) !=
				word.npos ||
			    !plain_sets(word))
				continue;
			bool want = fnmatch(word.c_str(), o.c_str(),
					FNM_PATHNAME | FNM_NOESCAPE) == 0;
			check(origin_glob_matches(word, origin) == want,
			    "globs match as fnmatch matches path names");
		}
	}
	updating_release();
	return 0;
}
