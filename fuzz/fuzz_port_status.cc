// Fuzzes the reading of a port's status from its Makefile.
//
// Input: the Makefile. It is parsed in a buffer of exactly its size and a
// NUL, which the sanitizer guards; every value must lie inside that buffer,
// end in a NUL there, hold no newline (continuation lines are joined) and no
// blank at either end, and a text whose lines all begin with a tab (commands
// of a target) sets nothing.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "support.h"
#include "treedata/port_status.h"

using namespace qmfuzz;

extern "C" int
LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	auto text = std::make_unique<char[]>(size + 1);
	std::memcpy(text.get(), data, size);
	text[size] = '\0';
	port_status s = parse_port_status(text.get(), size);
	bool commands_only = size > 0;
	for (std::size_t i = 0; i < size && commands_only; i++)
		commands_only = (i == 0 || data[i - 1] == '\n')
		    ? data[i] == '\t'
		    : data[i] != '\\' || i + 1 == size || data[i + 1] != '\n';
	for (const char *v : s.values) {
		if (v == nullptr)
			continue;
		check(!commands_only, "commands set nothing");
		check(v >= text.get() && v <= text.get() + size,
		    "a value lies in the buffer");
		std::size_t n = strnlen(
		    v, static_cast<std::size_t>(text.get() + size - v) + 1);
		check(v + n <= text.get() + size, "a value ends in the buffer");
		std::string_view value(v, n);
		check(value.find('\n') == value.npos, "lines are joined");
		check(value.empty() ||
			(value.front() != ' ' && value.front() != '\t' &&
			    value.back() != ' ' && value.back() != '\t'),
		    "no blank at either end");
	}
	return 0;
}
