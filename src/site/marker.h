// The marker file of a generation of pages, its one format.
//
// A marker that a run completed reads:
//
//	A generation of pages made by quillmark; it removes it when ...
//	format 3
//	id NONCE NAME
//	after ID
//	files COUNT SUM1 SUM2
//	changed N
//	PATH (N lines; or "changed all" and none)
//	kept M
//	PATH (M lines; or "kept unknown" and none)
//	end
//
// NAME is the generation's directory as the run named it, ID the id of the
// generation it was made level with ("-": none), COUNT decimal and the two
// sums 16 hexadecimal digits. The kept paths are the files of the
// generation that this tool did not write: carried over as they were.
// Every other file that was there when the marker was written is a page of
// the tool's. A marker of format 2 has no kept lines; it is read as
// "kept unknown". The first line alone is a generation being written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

inline constexpr char marker_name[] = ".quillmark-generation";
inline constexpr char marker_new_name[] = ".quillmark-generation.new";
// The marker's first line; alone, the generation is being written.
inline constexpr std::string_view marker_text =
    "A generation of pages made by quillmark; it removes it when it is "
    "neither the current one nor the one before.\n";
// The version of the format that this tool writes; it reads this one and
// the one before (without kept paths). A marker of another is read as
// incomplete.
inline constexpr int marker_version = 3;
inline constexpr std::string_view marker_end = "end\n";

// A set of files, as a marker records it: how many, and the sums (mod
// 2^64) of two different hashes of their paths, which no order changes.
struct file_set {
	std::uint64_t count;
	std::uint64_t sum1;
	std::uint64_t sum2;
	bool operator==(const file_set &) const = default;
};

// What a generation's marker says.
struct generation_marker {
	bool complete;		// written when a run completed it
	int version;		// its format, when complete
	std::string_view id;	// "NONCE NAME", NAME its directory's then
	std::string_view after; // the id of the one it was made level with
	file_set files;
	bool listed; // its changed paths follow (else "all")
	char *list;  // those paths, each ended by a NUL
	std::size_t list_count;
	// The files that are not the tool's (kept_known false: unknown, as
	// an older marker has it), each path ended by a NUL.
	bool kept_known;
	char *kept;
	std::size_t kept_count;
};

// Parses the size bytes of a marker at text, cutting its lines in place.
// With whole, the list of paths and the last line are read too; without,
// the head alone is, and the marker counts as complete with no list when
// the head is whole. Not complete when the text is of another format, cut
// short, or holds anything but the marker.
[[nodiscard]] generation_marker parse_marker(
    char *text, std::size_t size, bool whole);

// Appends the head of a complete marker (all but the paths and marker_end)
// at pos, bounded by end: null when it does not fit. changed is the count
// of paths that follow, or empty for "all". The changed paths, then
// format_marker_kept and its paths, then marker_end follow it.
[[nodiscard]] char *format_marker_head(char *pos, char *end,
    std::string_view nonce, std::string_view name, std::string_view after,
    const file_set &files, std::string_view changed);

// Appends the line that comes before the kept paths: kept is their count,
// or empty for "unknown". Null when it does not fit.
[[nodiscard]] char *format_marker_kept(
    char *pos, char *end, std::string_view kept);

// The name part of a marker's id.
[[nodiscard]] std::string_view marker_id_name(std::string_view id);
