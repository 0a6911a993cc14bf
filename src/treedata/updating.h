// The tree's UPDATING notes and the ports whose origins their AFFECTS lines
// name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// One note: a "YYYYMMDD:" line, its header and its body.
struct updating_note {
	std::string_view date;	  // YYYYMMDD
	std::string_view affects; // as written, continuation lines included
	std::string_view author;  // may be empty
	std::string_view body;	  // the lines below the header, as written,
				  // without blank lines before and after
	std::size_t line;	  // of its date line, from 1
	bool matched;		  // named an origin asked about
};

// A word of an AFFECTS text that names origins: "www/nginx",
// "lang/python3*", "databases/postgresql??-(server|client)".
struct affects_form {
	std::string_view text; // within its note's affects
	std::uint32_t note;
	bool matched; // named an origin asked about
};

// Builds the notes from text, the whole UPDATING file, which must stay as it
// is until updating_release. Text before the first date line is the file's
// preface. A line at the left margin that begins with digits and a colon but
// is no valid "YYYYMMDD:" line, and a note without an "AFFECTS:" line, are
// reported at -v with path and line number and skipped with the lines up to
// the next date line; so is an AFFECTS word that spells more patterns than a
// note may hold. Returns 0, or -1 after reporting that memory ran out. Notes
// built before are released first.
[[nodiscard]] int updating_build(std::string_view text, const char *path);

// The tree's UPDATING, at its top.
inline constexpr std::string_view updating_name = "UPDATING";

// Reads UPDATING of the tree and builds the notes from it the first time
// they are needed after start or updating_release (see need_top_file): 0
// when built or when the tree has none, 1 after a message when it cannot be
// read (no notes then), -1 when memory ran out.
[[nodiscard]] int need_updating();

// Frees the notes, and the UPDATING that need_updating read; safe to call
// twice.
void updating_release();

// The notes, newest date first, notes of one date in the file's order.
[[nodiscard]] std::size_t updating_count();
[[nodiscard]] const updating_note &updating_at(std::size_t i);

// The lines and words skipped as malformed in the last build.
[[nodiscard]] std::size_t updating_skipped();

// The origin-naming words of every note, in the notes' order.
[[nodiscard]] std::size_t updating_form_count();
[[nodiscard]] const affects_form &updating_form_at(std::size_t i);

// The notes whose AFFECTS names origin (category/name; any other text is
// named by none): their numbers, newest first, at most room of them, go to
// out; returns how many there are (0 also when query's room cannot be had).
// Marks the notes and forms that name it as matched; several threads may
// ask at once, each with a query of its own.
struct updating_query;
[[nodiscard]] std::size_t updating_notes_for(std::string_view origin,
    std::uint32_t *out, std::size_t room, updating_query *query);

// The room of a caller's queries of updating_notes_for, one for each thread
// that asks: made on its first query, freed with release_updating_query.
struct updating_query {
	std::uint32_t *found = nullptr;
	std::uint32_t globs = 0; // the number of globs it has room for
};
void release_updating_query(updating_query *query);

// Whether note i names origin, asking every form of the note in turn: what
// updating_notes_for answers without its index.
[[nodiscard]] bool updating_note_names(std::size_t i, std::string_view origin);

// Whether pattern, a shell glob without braces, matches origin: '*' any run
// and '?' any one character, "[...]" one of a set ('!' or '^' first: one not
// in it, a-z a range), none of them a '/'; anything else stands for itself.
[[nodiscard]] bool origin_glob_matches(
    std::string_view pattern, std::string_view origin);

// Spells out the braces "{a,b}" and alternations "(a|b)" of word, calling
// emit with each pattern, in order; an opening brace or parenthesis without
// its closing one stands for itself. Returns false, after emitting some or
// none, when word spells more than 64 patterns or one longer than 255 bytes.
[[nodiscard]] bool spell_patterns(std::string_view word,
    void (*emit)(std::string_view pattern, void *context), void *context);
