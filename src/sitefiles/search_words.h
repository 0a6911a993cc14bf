// The word index of the top-level README's search: the words of every
// port's description, in files beside the page that the search loads with
// <script> only for the words typed.
#pragma once

#include <string_view>

// The list of the word files, which %%SEARCH_WORDS%% gives as its URL
// relative to the top-level README.html:
//
//	window.quillmarkWords={version:1,ports:N,starts:"WORD WORD ..."};
//
// N is the number of INDEX lines. The words of the index, in the order of
// their bytes, are cut into files numbered from 0, each named by
// search_words_file_prefix, its number and ".js", and starts gives the
// first word of each:
//
//	(window.quillmarkWordFiles=window.quillmarkWordFiles||[]).push(
//	[NUMBER,"WORDPORTS..."]);
//
// Each word is followed by the numbers of the INDEX lines whose
// description holds it, ascending: the first as it is, each later one as
// its distance from the one before less one. A number is written in digits
// of 23 and one of 32: '(' to '~' bar the letters, digits, '<', '\\' and
// '"' are the first kind, most significant first, and 'A'-'Z' and
// "!#$%&'" the last, which ends the number. A file holds at most 12 KB of
// words, unless one word alone takes more. Words have no character beyond
// U+FFFF, so their byte order is the order in which the page compares
// them as strings.
inline constexpr std::string_view search_words_name = "ports-words.js";
inline constexpr std::string_view search_words_file_prefix = "ports-words-";

// Whether the loaded top template asks for the word index.
[[nodiscard]] bool top_template_searches_words();

// Reads the description of every INDEX line, as the port pages read them,
// and writes the word index as dir/ports-words.js and its word files
// through the pages' write path. 0; 1 when some file was not written
// (each reported, and counted in *unwritten); -1 after saying how much
// could not be allocated for it, which leaves the files unwritten.
[[nodiscard]] int write_search_words(const char *dir, int *unwritten);
