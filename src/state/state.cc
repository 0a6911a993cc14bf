// The one run-state record and the helpers of reporting and memory that
// everything shares.
#include "state/state.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/platform.h"
#include "text/bounded.h"
#include "state/messages.h"

namespace {
run_state the_state;
} // namespace

const run_state &state = the_state;

run_state &
startup_state()
{
	return the_state;
}

void
report_too_long(std::initializer_list<std::string_view> parts)
{
	for (std::string_view part : parts)
		say_text(stderr, part);
	say(stderr, ": %s\n", std::strerror(ENAMETOOLONG));
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
		say(stderr, "Skipping unsafe name \"%s\" in %s\n",
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
		say(stderr, "%s: cannot allocate %zu bytes: %s\n", what,
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
