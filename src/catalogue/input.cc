// Opening and reading the files of the tree, and the templates.
//
// The tool is run by the superuser over trees that others can write into.
// Every file of the tree is opened beneath one descriptor of the top
// directory, taken once at start-up, so that a link planted on the way (or
// the top itself swapped for a link later) cannot lead a read or a write
// out of the tree. Inputs are opened without blocking and examined before
// they are read: a FIFO in place of a Makefile must not hang the run.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "io/io.h"
#include "platform/platform.h"
#include "state/state.h"
#include "text/bounded.h"
#include "state/messages.h"

// The top of the tree, opened on first need and kept for the run.
static int top_fd = -1;

int
tree_fd()
{
	if (top_fd < 0)
		top_fd = open(state.top_dir, platform_dir_flags());
	return top_fd;
}

void
release_tree_fd()
{
	if (top_fd >= 0)
		close(top_fd);
	top_fd = -1;
}

// The resolution beneath the top refuses every absolute symbolic link, also
// one that stays inside the tree. Such a path is made canonical (its
// directory only, when the last component must not be followed); when it
// then lies below the top, it is opened by that canonical path, again
// beneath the top, so a link swapped in meanwhile is still refused. -1 with
// errno as the first refusal left it when the path lies outside.
static int
open_canonical(int dirfd, const char *path, int flags, int mode)
{
	int refused = errno;
	char top[PATH_MAX];
	char real[PATH_MAX];
	char below[path_size];
	const char *last = std::strrchr(path, '/');
	bool whole = (flags & O_NOFOLLOW) == 0;
	bool resolved = realpath(state.top_dir, top) != nullptr;
	if (resolved && whole) {
		resolved = realpath(path, real) != nullptr;
	} else if (resolved) {
		char dir[path_size];
		resolved = copy_text(dir, sizeof dir,
			       std::string_view(path,
				   static_cast<std::size_t>(last - path))) &&
		    realpath(dir, real) != nullptr;
	}
	std::size_t n = resolved ? std::strlen(top) : 0;
	const char *rel = real + n;
	if (!resolved || std::strncmp(real, top, n) != 0 ||
	    (rel[0] != '/' && rel[0] != '\0')) {
		errno = refused;
		return -1;
	}
	bool fits;
	if (whole)
		fits =
		    rel[0] != '\0' && copy_text(below, sizeof below, rel + 1);
	else if (rel[0] == '\0')
		fits = copy_text(below, sizeof below, last + 1);
	else
		fits = join_text(below, sizeof below, {rel + 1, last});
	if (!fits) {
		errno = refused;
		return -1;
	}
	return platform_open_beneath(dirfd, below, flags, mode);
}

int
open_in_tree(const char *path, int flags, int mode)
{
	const char *below = skip_prefix(path, state.top_dir_slash);
	int fd;
	if (below == path) {
		fd = open(path, flags, mode);
	} else {
		int dirfd = tree_fd();
		if (dirfd < 0)
			return -1;
		fd = platform_open_beneath(dirfd, below, flags, mode);
		if (fd < 0 && platform_leads_out(errno))
			fd = open_canonical(dirfd, path, flags, mode);
	}
	// A file system that refuses direct I/O at open (tmpfs on Linux)
	// gets the file opened without it.
	int direct = platform_direct_flag();
	if (fd < 0 && errno == EINVAL && (flags & direct) != 0)
		return open_in_tree(path, flags & ~direct, mode);
	return fd;
}

void
report_open_failure(const char *path, const char *verb)
{
	if (platform_leads_out(errno))
		say(stderr, "%s: not %s: the path leads out of the ports tree\n", path,
		    verb);
	else
		say_error(path);
}

// open_input, and for an optional file (quiet) an open that fails for any
// reason but leading out of the tree is reported by nobody.
static int
open_checked(const char *path, bool in_tree, int flags, bool quiet)
{
	flags |= O_RDONLY | O_NONBLOCK | O_NOCTTY;
	int fd;
	if (in_tree) {
		fd = open_in_tree(path, flags, 0);
	} else {
		fd = open(path, flags);
		int direct = platform_direct_flag();
		if (fd < 0 && errno == EINVAL && (flags & direct) != 0)
			fd = open(path, flags & ~direct);
	}
	if (fd < 0) {
		if (!quiet || platform_leads_out(errno))
			report_open_failure(path, "read");
		return -1;
	}
	// A directory is left to fail at its first read, as it always has.
	struct stat st;
	if (fstat(fd, &st) != 0) {
		say_error(path);
		close(fd);
		return -1;
	}
	if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
		say(stderr, "%s: not a regular file\n", path);
		close(fd);
		return -1;
	}
	return fd;
}

int
open_input(const char *path, bool in_tree, int flags)
{
	return open_checked(path, in_tree, flags, false);
}

char *
load_file(const char *path, std::size_t *size_out, bool in_tree)
{
	struct stat st;
	if (stat(path, &st) != 0) {
		say_error(path);
		return nullptr;
	}
	if (state.verbosity >= 2)
		say(stderr, "Loading %s\n", path);
	int fd = open_input(path, in_tree, platform_direct_flag());
	if (fd < 0)
		return nullptr;
	char *text = load_open_file(fd, path, size_out);
	close(fd);
	return text;
}

FILE *
open_makefile(const char *path, bool optional)
{
	int fd = open_checked(path, true, 0, optional);
	if (fd < 0)
		return nullptr;
	FILE *f = fdopen(fd, "r");
	if (f == nullptr) {
		say_error(path);
		close(fd);
	}
	return f;
}

bool
close_makefile(FILE *f, const char *path)
{
	// fgets stops at a read error as at the end of the file; only the
	// stream's error flag tells the two apart.
	bool failed = std::ferror(f) != 0;
	int error = errno;
	std::fclose(f);
	if (failed) {
		errno = error;
		say_error(path);
	}
	return !failed;
}
