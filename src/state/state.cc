// The one run-state record and the small text routines everything shares.
#include "state/state.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/platform.h"

run_state state;

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

void
report_too_long(std::initializer_list<std::string_view> parts)
{
	for (std::string_view part : parts)
		std::fwrite(part.data(), 1, part.size(), stderr);
	std::fprintf(stderr, ": %s\n", std::strerror(ENAMETOOLONG));
}

const char *
subdir_name(char *line, std::string_view prefix, const char *makefile)
{
	char *name = skip_prefix(line, prefix);
	if (name == line)
		return nullptr;
	name[std::strcspn(name, "\n")] = '\0';
	if (name[0] == '\0')
		return nullptr;
	if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
	    std::strchr(name, '/') != nullptr) {
		std::fprintf(stderr, "Skipping unsafe name \"%s\" in %s\n",
		    name, makefile);
		return nullptr;
	}
	return name;
}

void *
allocate_reported(std::size_t size, const char *what)
{
	void *data = platform_alloc(size);
	if (data == nullptr)
		std::fprintf(stderr, "%s: cannot allocate %zu bytes: %s\n", what,
		    size, std::strerror(errno));
	return data;
}

int
need_buffer(run_buffer *buffer, std::size_t size, const char *what)
{
	if (buffer->data != nullptr && buffer->size >= size)
		return 0;
	auto *data = static_cast<char *>(allocate_reported(size, what));
	if (data == nullptr)
		return -1;
	std::free(buffer->data);
	*buffer = {data, size};
	return 0;
}

void
release_buffer(run_buffer *buffer)
{
	std::free(buffer->data);
	*buffer = {nullptr, 0};
}

bool
hints_wanted()
{
	return isatty(STDERR_FILENO) == 1;
}
