// The record that a run keeps of the tree's history, .quillmark-history
// beside the top page, as the feeds keep theirs: its one format, read and
// written here.
//
//	quillmark-history 1 HEAD
//	C	HASH	TIME	AUTHOR	SUBJECT	a line per commit kept
//	P	DIRECTORY	N N ...		a line per port directory
//	end BYTES SUM
//
// HEAD is the hash of the commit the run read the history up to, HASH a
// commit's, 40 hexadecimal digits each; TIME is the commit's time in
// seconds since the epoch. A port directory ("category/port") lists the
// commits that changed it, newest first, by the number of their C line
// (from 0). The end line closes the record as the feeds' record's does:
// BYTES is the number of bytes before it and SUM, in 16 hexadecimal
// digits, their FNV-1a. No field holds a tab or a line end: they are
// written as spaces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

inline constexpr char history_record_name[] = ".quillmark-history";
inline constexpr int history_record_version = 1;

struct history_commit {
	std::string_view hash;
	long long time;
	std::string_view author, subject;
};

struct history_port {
	std::string_view dir;
	std::span<const std::uint32_t> commits; // numbers of C lines
};

struct history_record {
	std::string_view head;
	std::span<history_commit> commits;
	std::span<history_port> ports;
};

// The room that parse_history_record needs: items for the commits and the
// ports (the record's lines), and numbers for the ports' commit lists.
[[nodiscard]] std::size_t history_record_lines(std::string_view text);
[[nodiscard]] std::size_t history_record_numbers(std::string_view text);

// Reads text into *r, whose lists point to room for
// history_record_lines(text) items each, numbers to room for
// history_record_numbers(text); the lists are cut to what the record
// holds. True when the record is whole and every number names one of its
// commits; else *r holds nothing to trust.
[[nodiscard]] bool parse_history_record(
    std::string_view text, history_record *r, std::uint32_t *numbers);

// The bytes that format_history_record needs for r at most.
[[nodiscard]] std::size_t history_record_bound(const history_record &r);

// Appends r as a whole record at pos, bounded by end; null when it does
// not fit.
[[nodiscard]] char *format_history_record(
    char *pos, char *end, const history_record &r);
