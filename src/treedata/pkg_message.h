// A port's pkg-message: what to do after installing, when upgrading and
// before removing it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

enum class message_kind : std::uint8_t {
	always,	 // an object without a type, or of a type not known
	install, // "install"; also a plain-text file
	upgrade, // "upgrade", maybe within version bounds
	remove,	 // "remove"
};

enum class message_form : std::uint8_t {
	ucl,	  // a list of objects (or one object) that was read
	plain,	  // plain text, the form of old ports: one install message
	unparsed, // began as a list or object but did not parse: the whole
		  // text as one install message
};

// One message of the file. The texts are as written, without the newline
// that ends a "<<EOM" text.
struct message_part {
	message_kind kind;
	std::string_view text;
	std::string_view minimum_version; // empty: none given
	std::string_view maximum_version; // empty: none given
};

inline constexpr std::size_t max_message_parts = 16;

struct pkg_message {
	message_form form;
	std::size_t count;
	std::array<message_part, max_message_parts> parts;
};

// Reads text, the whole of a port's pkg-message. A text whose first
// character that is not white space is '[' or '{' is read as a list of
// objects with the keys "type" (install, upgrade, remove), "message" (a
// quoted string or a "<<EOM" text), "minimum_version" and "maximum_version";
// other keys are passed over. Anything else is plain text. The parts point
// into text, and into room (text.size() bytes at least) for quoted strings,
// whose escapes are undone there. Returns 0 when read, as a list or as plain
// text (an empty or blank file has no part); 1 when the list does not parse:
// what is wrong, and its line, is reported at -v with path, and the whole
// text is the one install message.
[[nodiscard]] int read_pkg_message(
    std::string_view text, char *room, const char *path, pkg_message *out);
