// The one reader of the tree's files that pages show.
//
// A per-port file is opened beneath the top, looked at through its
// descriptor (a regular file, within its bound) and read into its slot of
// one buffer that the module allocates when the first port file is read and
// keeps for the run: nothing is allocated per port. Each kind of file has a
// slot of its own, because a page that shows a port's status and its
// pkg-message holds texts of both at once.
#include "treedata/tree_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "io/io.h"
#include "platform/platform.h"
#include "state/state.h"
#include "text/bounded.h"
#include "state/messages.h"

namespace {

struct port_file_kind {
	std::string_view name; // in the port directory
	std::size_t max;       // the largest file read
	std::size_t room;      // bytes for its reader after the text
	const char *what;      // "PATH: WHAT not read: WHY"
	bool missing_said;     // a missing file is said at -v
};

constexpr std::array<port_file_kind, port_file_count> kinds = {{
    {"Makefile", port_makefile_max, 0, "status", true},
    {"pkg-message", pkg_message_max, pkg_message_max, "message", false},
}};

// Where each kind's slot begins in the buffer, and the buffer's size.
constexpr std::array<std::size_t, port_file_count + 1> slot_start = [] {
	std::array<std::size_t, port_file_count + 1> start{};
	for (std::size_t i = 0; i < port_file_count; i++)
		start[i + 1] = start[i] + kinds[i].max + 1 + kinds[i].room;
	return start;
}();

void
not_read(const char *path, const port_file_kind &kind, const char *why)
{
	if (state.verbosity > 0)
		say(stderr, "%s: %s not read: %s\n", path, kind.what, why);
}

} // namespace

int
read_port_file(const char *dir, port_file which, run_buffer *files,
    port_file_text *out)
{
	*out = {};
	auto k = static_cast<std::size_t>(which);
	const port_file_kind &kind = kinds[k];
	char path[path_size];
	if (!join_text(path, sizeof path, {dir, "/", kind.name})) {
		report_too_long({dir, "/", kind.name});
		return 1;
	}
	int fd = open_in_tree(path, O_RDONLY | O_NONBLOCK | O_NOCTTY, 0);
	if (fd < 0) {
		if (errno != ENOENT || kind.missing_said)
			not_read(path, kind,
			    platform_leads_out(errno)
				? "the path leads out of the ports tree"
				: std::strerror(errno));
		return 1;
	}
	struct stat st;
	const char *why = nullptr;
	char too_large[64];
	if (fstat(fd, &st) != 0) {
		why = std::strerror(errno);
	} else if (!S_ISREG(st.st_mode)) {
		why = "not a regular file";
	} else if (st.st_size > static_cast<off_t>(kind.max)) {
		std::snprintf(too_large, sizeof too_large,
		    "larger than %zu bytes", kind.max);
		why = too_large;
	} else if (files->data == nullptr) {
		auto *data = static_cast<char *>(
		    std::malloc(slot_start[port_file_count]));
		if (data == nullptr)
			why = std::strerror(errno);
		else
			*files = {data, slot_start[port_file_count]};
	}
	// The size fstat gave is read, no more: a file that grows meanwhile
	// still stays in its slot.
	char *slot =
	    files->data == nullptr ? nullptr : files->data + slot_start[k];
	ssize_t got = 0;
	if (why == nullptr) {
		got = read_full(
		    fd, slot, static_cast<std::size_t>(st.st_size), 0);
		if (got < 0)
			why = std::strerror(errno);
	}
	close(fd);
	if (why != nullptr) {
		not_read(path, kind, why);
		return 1;
	}
	auto length = static_cast<std::size_t>(got);
	slot[length] = '\0';
	*out = {slot, length, kind.room != 0 ? slot + kind.max + 1 : nullptr};
	return 0;
}

int
load_top_file(std::string_view name, char **text, std::size_t *size)
{
	*text = nullptr;
	*size = 0;
	char path[path_size];
	if (!join_text(path, sizeof path, {state.top_dir_slash, name})) {
		report_too_long({state.top_dir_slash, name});
		return 1;
	}
	int fd = open_in_tree(path, O_RDONLY | O_NONBLOCK | O_NOCTTY, 0);
	if (fd < 0) {
		if (errno == ENOENT) {
			if (state.verbosity > 0)
				say(stderr, "%s: no such file, nothing shown of it\n",
				    path);
			return 0;
		}
		report_open_failure(path, "read");
		return 1;
	}
	struct stat st;
	if (fstat(fd, &st) == 0 && !S_ISREG(st.st_mode) &&
	    !S_ISDIR(st.st_mode)) {
		say(stderr, "%s: not a regular file\n", path);
		close(fd);
		return 1;
	}
	*text = load_open_file(fd, path, size);
	close(fd);
	return *text != nullptr ? 0 : 1;
}

int
need_top_file(top_file *file, std::string_view name,
    int (*build)(std::string_view text, const char *path))
{
	if (file->loaded)
		return file->result;
	file->loaded = true;
	file->result = load_top_file(name, &file->text, &file->size);
	if (file->result != 0 || file->text == nullptr)
		return file->result;
	char path[path_size];
	(void)join_text(path, sizeof path, {state.top_dir_slash, name});
	file->result = build({file->text, file->size}, path);
	return file->result;
}

void
release_top_file(top_file *file)
{
	std::free(file->text);
	*file = {};
}
