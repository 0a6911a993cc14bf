// The hash of names, out of line as the tables that call it want it.
#include "text/hash.h"

#include <cstring>

#include "text/bounded.h"
#include "text/text.h"

std::uint32_t
name_hash(std::string_view name)
{
	constexpr std::uint64_t k = 0x9e3779b97f4a7c15ULL;
	std::uint64_t h = name.size() * k;
	std::size_t i = 0;
	for (; i + 8 <= name.size(); i += 8) {
		std::uint64_t word;
		std::memcpy(&word, name.data() + i, 8);
		h = (h ^ word) * k;
	}
	std::uint64_t tail = 0;
	if (i < name.size())
		std::memcpy(&tail, name.data() + i, name.size() - i);
	h = (h ^ tail) * k;
	return static_cast<std::uint32_t>(h >> 32);
}

std::string_view
record_end_line(std::string_view body, char (&buf)[64])
{
	char *pos = append(buf, buf + sizeof buf, "end ");
	pos = append_number(
	    pos, buf + sizeof buf, static_cast<long long>(body.size()));
	pos = append(pos, buf + sizeof buf, " ");
	std::array<char, 16> sum = hex_of(fnv1a(body));
	pos = append(pos, buf + sizeof buf, std::string_view(sum.data(), 16));
	pos = append(pos, buf + sizeof buf, "\n");
	return std::string_view(buf, static_cast<std::size_t>(pos - buf));
}

std::size_t
record_body_end(std::string_view text, std::size_t from)
{
	if (text.size() < 2 || text.back() != '\n')
		return std::string_view::npos;
	std::size_t at = text.rfind('\n', text.size() - 2) + 1;
	char buf[64];
	if (at <= from || text.substr(at) != record_end_line(text.substr(0, at), buf))
		return std::string_view::npos;
	return at;
}
