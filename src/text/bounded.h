// Bounded texts in fixed buffers: appending, copying and joining without
// ever writing past a buffer's end, prefixes and packed name lists.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string_view>

// If text begins with all of prefix, the position just past it; otherwise
// text itself. Callers learn of a mismatch by comparing the result to text.
[[nodiscard]] const char *skip_prefix(
    const char *text, std::string_view prefix);
[[nodiscard]] inline char *
skip_prefix(char *text, std::string_view prefix)
{
	return const_cast<char *>(
	    skip_prefix(static_cast<const char *>(text), prefix));
}

// Packed string lists: NUL-terminated names end to end, ended by an empty
// name. Returns the name after the one at name (which must not be empty).
[[nodiscard]] inline const char *
list_next(const char *name)
{
	while (*name != '\0')
		name++;
	return name + 1;
}

// Bounded appends for building texts in fixed buffers. Each writes at pos,
// never at or past end, and returns the position after what it wrote; when
// the text does not fit, or pos is already null, it returns null. A builder
// thus checks once, at the end, whether its whole text fitted.
[[nodiscard]] char *append(char *pos, char *end, std::string_view text);
[[nodiscard]] char *append_number(char *pos, char *end, long long number);

// Copies text with its NUL into dst of size bytes. Returns false, leaving
// dst unchanged, when it does not fit.
[[nodiscard]] bool copy_text(
    char *dst, std::size_t size, std::string_view text);

// Joins the texts into dst of size bytes, NUL-terminated. Returns false when
// they do not fit; dst then holds an unspecified prefix.
[[nodiscard]] bool join_text(
    char *dst, std::size_t size, std::initializer_list<std::string_view> parts);

