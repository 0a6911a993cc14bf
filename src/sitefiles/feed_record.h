// The record that a run keeps of its feeds, .quillmark-feed beside the top
// page of a generation: its one format, read and written here.
//
//	quillmark-feed 2 START
//	P	ORIGIN	VERSION	MAINTAINER	a line per port, by origin
//	HM					the tree had MOVED
//	M	HASH				a line per move
//	HU					the tree had UPDATING
//	U	HASH				a line per note
//	E	TIME	DATE	KIND	ORIGIN	OLD	NEW	TEXT
//						a line per entry, newest first
//	S	SUBJECT				after an "updated" entry: the
//						subject of a commit that changed
//						the port since the run before
//	end BYTES SUM
//
// START (the time of the first run) and TIME are seconds since the epoch,
// DATE the day of TIME in UTC, HASH 16 hexadecimal digits. The end line
// closes the record: BYTES is the number of bytes before it and SUM, in 16
// hexadecimal digits, their FNV-1a; nothing follows it. A record cut short
// or altered by a byte does not add up, and is not whole. No field holds a
// tab or a line end: they are written as spaces, but in a note's TEXT,
// where '\\', tab and line ends are written as "\\\\", "\\t", "\\n" and
// "\\r". A record of format 1 has no end line; it is read when its last line
// is whole and every line is one of these.
//
// Entries: KIND "added", "updated" or "removed" (ORIGIN the port, OLD and
// NEW its versions, TEXT its maintainer); "moved" (the new port's page
// linked), "unlisted" (moved to a port the INDEX does not have, NEW, or
// removed, NEW empty) or "moved-here" (either, linking the page left at
// the old origin instead: its port left the INDEX in that run): ORIGIN the
// old origin, OLD the date of the move, TEXT its reason; "note": ORIGIN the note's id (its date and hash), OLD
// its AFFECTS, TEXT its body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

inline constexpr char feed_record_name[] = ".quillmark-feed";
// The format written; this one and the one before are read.
inline constexpr int feed_record_version = 2;

struct port_version {
	std::string_view origin, version, maintainer;
};

struct feed_entry {
	long long time;
	std::string_view date, kind, origin, old_version, new_version,
	    maintainer;
	std::uint64_t maintainer_hash; // the feeds' key of maintainer; 0 as read
	// A note's body as the record holds it, escaped (as read from one).
	bool escaped = false;
	// An update's commits, when the tree's history knew them: their S
	// lines as the record holds them, each ended by its newline.
	std::string_view commits = {};
};

// What a record holds. Its texts point into the bytes it was read from.
struct feed_record {
	int version = feed_record_version;
	long long start = 0;
	std::span<port_version> ports;
	std::span<std::uint64_t> moves; // the hashes of the moves it knew
	std::span<std::uint64_t> notes; // and of the notes
	bool moves_known = false;	// "HM": it knew the tree's MOVED
	bool notes_known = false;	// "HU": and UPDATING
	std::span<feed_entry> entries;
};

// The room that parse_feed_record needs in each list: text's lines.
[[nodiscard]] std::size_t feed_record_lines(std::string_view text);

// Reads text into *r, whose lists point to room for feed_record_lines(text)
// items each; they are cut to what the record holds. True when the record
// is whole (see above); else *r holds nothing to trust.
[[nodiscard]] bool parse_feed_record(std::string_view text, feed_record *r);

// The bytes that format_feed_record needs for r at most.
[[nodiscard]] std::size_t feed_record_bound(const feed_record &r);

// Appends r as a whole record of this format at pos, bounded by end; null
// when it does not fit.
[[nodiscard]] char *format_feed_record(
    char *pos, char *end, const feed_record &r);
