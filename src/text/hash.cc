// The hash of names, out of line as the tables that call it want it.
#include "text/hash.h"

#include <cstring>

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
