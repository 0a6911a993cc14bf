// Bounded texts in fixed buffers.
#include "text/bounded.h"

#include <cstdio>
#include <cstring>

const char *
skip_prefix(const char *text, std::string_view prefix)
{
	// strncmp stops at the end of a shorter text, so this never reads past
	// it.
	if (std::strncmp(text, prefix.data(), prefix.size()) == 0)
		return text + prefix.size();
	return text;
}

char *
append(char *pos, char *end, std::string_view text)
{
	if (pos == nullptr || static_cast<std::size_t>(end - pos) < text.size())
		return nullptr;
	// An empty view may carry no data pointer at all, which memcpy must
	// not be given even for zero bytes.
	if (!text.empty())
		std::memcpy(pos, text.data(), text.size());
	return pos + text.size();
}

char *
append_number(char *pos, char *end, long long number)
{
	char digits[24];
	int n = std::snprintf(digits, sizeof digits, "%lld", number);
	return append(
	    pos, end, std::string_view(digits, static_cast<std::size_t>(n)));
}

bool
copy_text(char *dst, std::size_t size, std::string_view text)
{
	if (text.size() >= size)
		return false;
	if (!text.empty())
		std::memcpy(dst, text.data(), text.size());
	dst[text.size()] = '\0';
	return true;
}

bool
join_text(
    char *dst, std::size_t size, std::initializer_list<std::string_view> parts)
{
	char *pos = dst;
	char *end = dst + size - 1; // room for the NUL
	for (std::string_view part : parts)
		pos = append(pos, end, part);
	if (pos == nullptr)
		return false;
	*pos = '\0';
	return true;
}

