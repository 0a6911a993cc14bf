// The output root (-o) and the run lock.
//
// With -o every page goes to its path below the output root instead of
// the tree, opened beneath one descriptor of the root as the tree's files
// are opened beneath the top: a link planted on the way is refused, not
// followed. Directories are made one name at a time beneath the root.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "catalogue/catalogue.h"
#include "platform/platform.h"
#include "site/site.h"
#include "site/site_state.h"
#include "sitefiles/sitefiles.h"
#include "state/state.h"
#include "text/bounded.h"

site_state site;

namespace {

// Makes the directories of rel (all but its last name) beneath the output
// root, one name at a time, never through a link. 0, or -1 with errno set.
int
make_dirs(const char *rel)
{
	const char *last;
	int fd = platform_walk_parent(site.root_fd, rel, true, &last);
	if (fd < 0)
		return -1;
	if (fd != site.root_fd)
		close(fd);
	return 0;
}

// Splits out_dir into the directory that holds it and its last name.
bool
split_out_dir()
{
	const char *slash = std::strrchr(state.out_dir, '/');
	std::string_view parent(
	    state.out_dir, static_cast<std::size_t>(slash - state.out_dir));
	return copy_text(site.parent, sizeof site.parent,
		   parent.empty() ? std::string_view("/") : parent) &&
	    copy_text(site.name, sizeof site.name, slash + 1);
}

} // namespace

const char *
below_top(const char *path)
{
	if (std::strcmp(path, state.top_dir) == 0)
		return "";
	const char *rel = skip_prefix(path, state.top_dir_slash);
	return rel == path ? nullptr : rel;
}

namespace {

// Copies the directory that holds path into buf ("/" for a path just below
// it). False when it does not fit.
bool
parent_of(const char *path, char *buf, std::size_t size)
{
	const char *slash = std::strrchr(path, '/');
	if (slash == nullptr)
		return copy_text(buf, size, ".");
	return copy_text(buf, size,
	    slash == path ? std::string_view("/")
			  : std::string_view(
				path, static_cast<std::size_t>(slash - path)));
}

// Locks the directory where against other runs, waiting for one that holds
// it (said at -v); the descriptor is held to the end, so no file is left
// behind and the lock goes with the process. Where the file system has no
// locks the run goes on (said at -v).
void
lock_dir(const char *where)
{
	int fd = open(where, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (fd < 0) {
		if (state.verbosity != 0 && state.out_dir[0] != '\0')
			std::fprintf(stderr,
			    "Not locking \"%s\" against other runs: %s\n",
			    where, std::strerror(errno));
		return;
	}
	if (platform_lock(fd, false) == 0)
		return;
	if (errno == EWOULDBLOCK) {
		if (state.verbosity != 0)
			std::fprintf(stderr,
			    "Waiting for another run to finish with \"%s\"\n",
			    where);
		if (platform_lock(fd, true) == 0)
			return;
	}
	if (state.verbosity != 0)
		std::fprintf(stderr,
		    "Not locking \"%s\" against other runs: %s\n", where,
		    std::strerror(errno));
	close(fd);
}

} // namespace

void
take_run_lock()
{
	// Two runs that would write the same files lock the same directory,
	// however they name it: the real directory that the pages are
	// written below (the tree's top, or the output root), or the one
	// that holds it where that is a link, a generation of pages (it
	// holds the marker; the link beside it is published) or still to
	// be made (then it is locked too once made).
	const char *root =
	    state.out_dir[0] != '\0' ? state.out_dir : state.top_dir;
	char chosen[path_size];
	struct stat st;
	bool below = lstat(root, &st) != 0 || !S_ISDIR(st.st_mode);
	if (!below) {
		char marker[path_size];
		below = join_text(
			    marker, sizeof marker, {root, "/", marker_name}) &&
		    lstat(marker, &st) == 0;
	}
	if (below ? !parent_of(root, chosen, sizeof chosen)
		  : !copy_text(chosen, sizeof chosen, root))
		return;
	char *real = realpath(chosen, nullptr);
	if (real != nullptr && std::strlen(real) < sizeof chosen)
		(void)copy_text(chosen, sizeof chosen, real);
	std::free(real);
	lock_dir(chosen);
}

int
prepare_output()
{
	if (state.out_dir[0] == '\0')
		return 0;
	if (!split_out_dir()) {
		report_too_long({state.out_dir});
		return -1;
	}
	site.parent_fd = open(site.parent, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (site.parent_fd < 0) {
		std::perror(site.parent);
		return -1;
	}
	struct stat st;
	if (fstatat(site.parent_fd, site.name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
		if (errno != ENOENT ||
		    mkdirat(site.parent_fd, site.name, 0755) != 0) {
			std::perror(state.out_dir);
			return -1;
		}
		// A run that finds it made from now on locks it.
		char made[path_size];
		char *real = realpath(state.out_dir, nullptr);
		if (real != nullptr && copy_text(made, sizeof made, real))
			lock_dir(made);
		std::free(real);
	} else if (S_ISLNK(st.st_mode)) {
		return prepare_generations();
	}
	site.root_fd = openat(site.parent_fd, site.name,
	    platform_dir_flags() | O_NOFOLLOW | O_CLOEXEC);
	if (site.root_fd < 0) {
		if (errno == ENOTDIR || errno == ELOOP)
			std::fprintf(
			    stderr, "%s is not a directory\n", state.out_dir);
		else
			std::perror(state.out_dir);
		return -1;
	}
	(void)copy_text(site.root_shown, sizeof site.root_shown, state.out_dir);
	// A generation written into directly is not the one its marker
	// describes any more.
	int error = reset_marker(site.root_fd);
	if (error != 0) {
		std::fprintf(stderr, "%s/%s: %s\n", state.out_dir, marker_name,
		    std::strerror(error));
		return -1;
	}
	return 0;
}

int
open_output(const char *path, int flags, int mode)
{
	if (site.root_fd < 0)
		return open_in_tree(path, flags, mode);
	const char *rel = below_top(path);
	if (rel == nullptr) {
		errno = platform_leads_out_error();
		return -1;
	}
	if (rel[0] == '\0')
		return dup(site.root_fd);
	int fd = platform_open_beneath(site.root_fd, rel, flags, mode);
	if (fd < 0 && (errno == ENOTDIR || errno == EISDIR) &&
	    site.publishing && clear_way(rel) == 0)
		fd = platform_open_beneath(site.root_fd, rel, flags, mode);
	if (fd < 0 && errno == ENOENT && (flags & O_CREAT) != 0 &&
	    make_dirs(rel) == 0)
		fd = platform_open_beneath(site.root_fd, rel, flags, mode);
	int direct = platform_direct_flag();
	if (fd < 0 && errno == EINVAL && (flags & direct) != 0)
		return open_output(path, flags & ~direct, mode);
	return fd;
}

bool
output_shown(const char *path, char *buf, std::size_t size)
{
	const char *rel = site.root_fd >= 0 ? below_top(path) : nullptr;
	if (rel == nullptr)
		return copy_text(buf, size, path);
	return join_text(
	    buf, size, {site.root_shown, rel[0] == '\0' ? "" : "/", rel});
}

void
report_output_file(const char *dir, std::string_view name, const char *format,
    ...)
{
	char shown[shown_size];
	(void)output_shown(dir, shown, sizeof shown);
	std::fprintf(stderr, "%s/%.*s: ", shown, static_cast<int>(name.size()),
	    name.data());
	std::va_list args;
	va_start(args, format);
	std::vfprintf(stderr, format, args);
	va_end(args);
}

void
site_release()
{
	release_generations();
	sitemap_release();
	for (int fd : {site.root_fd, site.current_fd, site.parent_fd}) {
		if (fd >= 0)
			close(fd);
	}
	site = site_state{};
}
