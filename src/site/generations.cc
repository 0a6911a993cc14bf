// Publishing through a link: the generations of pages.
//
// When the output root is a symbolic link, readers follow it to the
// current generation, a directory beside it, and a run never writes there.
// It brings the other generation (named NAME.unpublished when it is new)
// up to date in place with the ordinary write path, renames it to
// NAME.<UTC time of the run>, and renames a new link over NAME: readers
// see the old site or the new one, whole. Only directories that hold this
// tool's marker file are ever rewritten or removed; the one that the link
// pointed to first, unmarked, is left alone.
//
// Unchanged pages keep their size and modification time across the
// switch. Between two generations made here, equal bytes go with equal
// size and modification time and changed bytes with a newer time (a page
// that is written gets the time of its write, one whose bytes equal the
// current generation's gets that one's time, a copied page its source's),
// so a page that the spare generation already holds is compared with the
// current one by their stat alone.
//
// Most runs need not even that. A run that completes a generation writes
// in its marker an id of the generation, the id of the one it was brought
// level with (the then current one), the number of its files with a sum of
// their paths' hashes, and the paths whose bytes differ from that one's.
// A run takes the marker of the spare generation back to its first line
// before it writes there, so a marker that says more belongs to a
// generation as it was completed. When the current generation was made
// level with the spare one, the current one is the spare one plus its
// listed paths: a page that the spare one holds unlisted is the current
// one's in bytes and time, a listed one another, and neither needs a look
// at the current generation. Whatever is missing or does not match leaves
// the run to the method above.
//
// The files of others (a robots.txt an admin put into the site) are
// carried over unchanged: the marker lists those it kept, and any other
// file newer than the marker is one too, so a walk that levels the two
// generations follows every run. It passes over a port's directory that
// the current generation has not changed since its marker, that holds no
// kept file and whose page this run made, without a look at the spare
// generation's. A whole-tree run leaves out the pages of categories and
// ports that the tree no longer lists; pathname runs carry every page
// over.
//
// This file chooses the spare generation, readies it and switches the
// link to it; path_sets.cc, made.cc, level.cc and marker.cc hold the rest.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include "io/io.h"
#include "platform/platform.h"
#include "site/marker.h"
#include "site/site.h"
#include "site/site_state.h"
#include "state/state.h"
#include "text/bounded.h"

namespace {

constexpr char spare_suffix[] = ".unpublished";
// The sizes of the tables that publishing keeps, allocated when a run
// publishes and before its first page: a marker holds two lists.
constexpr std::size_t current_marker_size = 2 * list_size + 8192;

// The UTC time of now as a generation's name: NAME.YYYYMMDDTHHMMSS.uuuuuuZ.
bool
fresh_name(char *buf, std::size_t size)
{
	struct timespec now;
	struct tm tm;
	char stamp[64];
	clock_gettime(CLOCK_REALTIME, &now);
	if (gmtime_r(&now.tv_sec, &tm) == nullptr)
		return false;
	std::size_t n =
	    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%S", &tm);
	std::snprintf(stamp + n, sizeof stamp - n, ".%06ldZ",
	    static_cast<long>(now.tv_nsec / 1000));
	return join_text(buf, size, {site.name, ".", stamp});
}

// True when name, in the directory that holds the root, is a directory
// that this tool made (it holds the marker). One whose marker is there but
// not a regular file is none, and is said to be left alone.
bool
is_generation(const char *name)
{
	int fd = open_dir_at(site.parent_fd, name);
	if (fd < 0)
		return false;
	struct stat st;
	bool found = fstatat(fd, marker_name, &st, AT_SYMLINK_NOFOLLOW) == 0;
	close(fd);
	if (found && !S_ISREG(st.st_mode))
		std::fprintf(stderr,
		    "%s/%s: left alone: its %s is not a regular file\n",
		    site.parent, name, marker_name);
	return found && S_ISREG(st.st_mode);
}

// Removes the generation name beside the root, which this tool made.
void
remove_generation(const char *name)
{
	int fd = open_dir_at(site.parent_fd, name);
	if (fd < 0)
		return;
	char rel[path_size] = "";
	int failures = 0;
	level_dir(-1, fd, rel, &failures);
	close(fd);
	int left = open_dir_at(site.parent_fd, name);
	if (left >= 0) {
		(void)unlinkat(left, marker_new_name, 0);
		(void)unlinkat(left, marker_name, 0);
		close(left);
	}
	if (unlinkat(site.parent_fd, name, AT_REMOVEDIR) != 0)
		std::fprintf(stderr, "%s/%s: not removed: %s\n", site.parent,
		    name, std::strerror(errno));
}

// After a failure to make the next generation beside the link, or to
// rename the link: a cron job run by a user who may not write there fails
// so at every run, and the message says what it needs.
void
explain_denied(int error)
{
	if (error == EACCES || error == EPERM)
		std::fprintf(stderr,
		    "%s: publishing through the link %s makes the next "
		    "generation here: this directory must be writable by the "
		    "user running quillmark\n",
		    site.parent, state.out_dir);
}

// Picks the spare generation beside the root: the newest one made here
// that the link does not point to, or a new one. Older spares go.
int
choose_spare()
{
	int listed =
	    openat(site.parent_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	platform_list *dir = listed >= 0 ? platform_list_dir(listed) : nullptr;
	if (dir == nullptr) {
		std::perror(site.parent);
		if (listed >= 0)
			close(listed);
		return -1;
	}
	char prefix[path_size];
	(void)join_text(prefix, sizeof prefix, {site.name, "."});
	struct stat cur;
	bool have_cur = fstat(site.current_fd, &cur) == 0;
	// At most a few: two in turn, and what a run killed at the wrong
	// moment left.
	char found[8][path_size];
	int count = 0;
	std::size_t newest = 0;
	const char *name;
	entry_kind kind;
	while (platform_next_entry(dir, site.parent_fd, &name, &kind)) {
		struct stat st;
		if (skip_prefix(name, prefix) == name || count == 8 ||
		    fstatat(site.parent_fd, name, &st, AT_SYMLINK_NOFOLLOW) !=
			0 ||
		    !S_ISDIR(st.st_mode) ||
		    (have_cur && st.st_dev == cur.st_dev &&
			st.st_ino == cur.st_ino) ||
		    !is_generation(name) ||
		    !copy_text(found[count], path_size, name))
			continue;
		// Names of the time sort as the times do; "unpublished" after
		// them all, which it is (or it would have been renamed).
		if (std::strcmp(name, found[newest]) > 0)
			newest = static_cast<std::size_t>(count);
		count++;
	}
	platform_close_list(dir);
	for (int i = 0; i < count; i++) {
		if (static_cast<std::size_t>(i) != newest)
			remove_generation(found[i]);
	}
	if (count > 0)
		(void)copy_text(
		    site.spare_name, sizeof site.spare_name, found[newest]);
	if (site.spare_name[0] != '\0')
		return 0;

	if (!join_text(site.spare_name, sizeof site.spare_name,
		{site.name, spare_suffix})) {
		report_too_long({site.name, spare_suffix});
		return -1;
	}
	if (mkdirat(site.parent_fd, site.spare_name, 0755) != 0) {
		int error = errno;
		std::fprintf(stderr, "%s/%s: %s\n", site.parent,
		    site.spare_name, std::strerror(error));
		explain_denied(error);
		return -1;
	}
	site.spare_begun = true;
	int fd = open_dir_at(site.parent_fd, site.spare_name);
	int marker = fd >= 0
	    ? openat(fd, marker_name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
		  0644)
	    : -1;
	bool written = marker >= 0 &&
	    write_full(marker, marker_text.data(), marker_text.size(), 0) == 0;
	if (marker >= 0 && close(marker) != 0)
		written = false;
	if (fd >= 0)
		close(fd);
	if (!written) {
		std::fprintf(stderr, "%s/%s/%s: %s\n", site.parent,
		    site.spare_name, marker_name, std::strerror(errno));
		remove_generation(site.spare_name);
		return -1;
	}
	return 0;
}

// After a failure that leaves the link as it was: the spare generation
// goes when this run began it; else it stays for the next run, which
// brings it up to date, and the message says how to get its space back.
void
leave_spare()
{
	if (site.spare_begun)
		abandon_output();
	else
		std::fprintf(stderr,
		    "%s: left as it is for the next run; remove it (rm -r) "
		    "to get its space back\n",
		    site.root_shown);
}

// The buffers of the publishing. False after the report. (The sets and
// tables of paths are allocated as they fill.)
bool
allocate_tables()
{
	site.current_marker_text =
	    static_cast<char *>(allocate(current_marker_size));
	site.changed_text = site.current_marker_text == nullptr
	    ? nullptr
	    : static_cast<char *>(allocate(list_size));
	site.kept_text = site.changed_text == nullptr
	    ? nullptr
	    : static_cast<char *>(allocate(list_size));
	return site.kept_text != nullptr;
}

} // namespace

// Sets the modification time of fd to when (now, when null). 0 or errno.
int
set_mtime(int fd, const struct timespec *when)
{
	struct timespec times[2];
	times[0].tv_sec = 0;
	times[0].tv_nsec = UTIME_OMIT;
	if (when != nullptr) {
		times[1] = *when;
	} else {
		times[1].tv_sec = 0;
		times[1].tv_nsec = UTIME_NOW;
	}
	return futimens(fd, times) == 0 ? 0 : errno;
}

int
open_dir_at(int dirfd, const char *name)
{
	return openat(
	    dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

int
prepare_generations()
{
	if (!allocate_tables())
		return -1;
	ssize_t n = readlinkat(site.parent_fd, site.name, site.current_name,
	    sizeof site.current_name - 1);
	if (n < 0) {
		std::perror(state.out_dir);
		return -1;
	}
	site.current_name[n] = '\0';
	(void)join_text(site.current_shown, sizeof site.current_shown,
	    {site.current_name[0] == '/' ? "" : site.parent,
		site.current_name[0] == '/' ? "" : "/", site.current_name});
	site.current_fd = openat(
	    site.parent_fd, site.name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (site.current_fd < 0) {
		std::perror(state.out_dir);
		return -1;
	}
	struct stat st {};
	site.current_ours = fstatat(site.current_fd, marker_name, &st,
				AT_SYMLINK_NOFOLLOW) == 0 &&
	    S_ISREG(st.st_mode);
	site.current_done = st.st_mtim;
	site.current_marker = read_marker(site.current_fd,
	    site.current_marker_text, current_marker_size, true);
	site.current_named = site.current_ours &&
	    site.current_marker.complete &&
	    marker_id_name(site.current_marker.id) == site.current_name;
	int kept = site.current_named &&
		site.current_marker.version == marker_version &&
		site.current_marker.kept_known
	    ? fill_kept()
	    : 1;
	if (kept < 0)
		return -1;
	site.current_kept_known = kept == 0;
	if (choose_spare() != 0)
		return -1;
	site.root_fd = open_dir_at(site.parent_fd, site.spare_name);
	if (site.root_fd < 0 ||
	    !join_text(site.root_shown, sizeof site.root_shown,
		{site.parent, "/", site.spare_name})) {
		std::fprintf(stderr, "%s/%s: %s\n", site.parent,
		    site.spare_name, std::strerror(errno));
		return -1;
	}
	site.spare_marker = read_marker(site.root_fd, site.spare_marker_text,
	    sizeof site.spare_marker_text, false);
	site.spare_done_known = site.spare_marker.complete &&
	    site.spare_marker.version == marker_version &&
	    marker_id_name(site.spare_marker.id) == site.spare_name &&
	    site.current_named &&
	    site.current_marker.after == site.spare_marker.id;
	int error = reset_marker(site.root_fd);
	if (error != 0) {
		std::fprintf(stderr, "%s/%s: %s\n", site.root_shown,
		    marker_name, std::strerror(error));
		return -1;
	}
	site.both_complete = site.current_named && site.spare_marker.complete &&
	    marker_id_name(site.spare_marker.id) == site.spare_name;
	int listed = site.both_complete && site.current_marker.listed &&
		site.current_marker.after == site.spare_marker.id
	    ? fill_listed()
	    : 1;
	if (listed < 0)
		return -1;
	site.use_list = listed == 0;
	site.publishing = true;
	if (state.verbosity != 0)
		std::fprintf(stderr,
		    "Bringing \"%s\" up to date beside \"%s\" (now \"%s\")\n",
		    site.root_shown, state.out_dir, site.current_shown);
	return 0;
}

void
release_generations()
{
	release_set(&site.made);
	release_set(&site.kept_dirs);
	release_set(&site.tree_listed);
	release_set(&site.current_dirs);
	std::free(site.listed.slot);
	std::free(site.kept.slot);
	std::free(site.current_marker_text);
	std::free(site.changed_text);
	std::free(site.kept_text);
	site.listed = {};
	site.kept = {};
	site.current_marker_text = nullptr;
	site.changed_text = nullptr;
	site.kept_text = nullptr;
}

void
abandon_output()
{
	if (!site.publishing || !site.spare_begun)
		return;
	// Its pages are no longer this run's to keep: all of it goes.
	release_set(&site.made);
	remove_generation(site.spare_name);
	if (state.verbosity != 0)
		std::fprintf(stderr, "Removed \"%s\", which this run began\n",
		    site.root_shown);
	site.spare_begun = false;
}

bool
publishing_generations()
{
	return site.publishing;
}

published_file
read_published(const char *rel)
{
	published_file f{};
	if (!site.publishing || site.current_fd < 0)
		return f;
	(void)join_text(f.shown, sizeof f.shown, {site.current_shown, "/", rel});
	int fd = platform_open_beneath(site.current_fd, rel,
	    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
	struct stat st;
	if (fd < 0) {
		int error = errno;
		if (error != ENOENT)
			f.why = fstatat(site.current_fd, rel, &st,
				    AT_SYMLINK_NOFOLLOW) == 0 &&
				!S_ISREG(st.st_mode)
			    ? "not a regular file"
			    : std::strerror(error);
		return f;
	}
	if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
		f.why = "not a regular file";
	else if ((f.text = load_open_file(fd, f.shown, &f.size)) == nullptr)
		f.why = "not read";
	close(fd);
	return f;
}

int
finish_output(int unwritten, bool whole_tree)
{
	if (!site.publishing)
		return 0;
	site.whole_tree = whole_tree;
	if (whole_tree) {
		for (const char *name = state.category_list; *name != '\0';
		     name = list_next(name)) {
			char path[path_size];
			if (join_text(
				path, sizeof path, {state.top_dir_slash, name}))
				note_listed(path);
			else
				site.tree_overflow = true;
		}
	}
	int failures = 0;
	if (unwritten == 0) {
		if (site.made_overflow) {
			std::fprintf(stderr,
			    "%s: more than %zu pages to publish\n",
			    state.out_dir, made_max);
			failures++;
		} else if (!site.grow_failed) {
			// Files of others may have come into the current
			// generation since: it is walked, but for the
			// directories settled_dir passes.
			char rel[path_size] = "";
			level_dir(
			    site.current_fd, site.root_fd, rel, &failures);
		}
		// A set that could not grow, before the walk or in it.
		if (site.grow_failed)
			failures++;
	}
	if (whole_tree && state.verbosity != 0 && site.dropped != 0)
		std::fprintf(stderr,
		    "Dropped %zu page%s of what the tree no longer lists\n",
		    site.dropped, site.dropped == 1 ? "" : "s");
	if (state.verbosity != 0 && site.replaced != 0)
		std::fprintf(stderr,
		    "Replaced %zu file%s of \"%s\" not marked as "
		    "quillmark's: this run writes %s of the same name%s\n",
		    site.replaced, site.replaced == 1 ? "" : "s",
		    site.current_shown, site.replaced == 1 ? "one" : "files",
		    site.replaced == 1 ? "" : "s");
	if (unwritten != 0 || failures != 0) {
		std::fprintf(stderr,
		    "%s: not switched: %d page%s not written; it still points "
		    "to \"%s\"\n",
		    state.out_dir, unwritten + failures,
		    unwritten + failures == 1 ? "" : "s", site.current_name);
		leave_spare();
		return failures;
	}
	char fresh[path_size];
	char temporary[path_size];
	if (!fresh_name(fresh, sizeof fresh) ||
	    !join_text(
		temporary, sizeof temporary, {".", site.name, ".switch"})) {
		report_too_long({site.name});
		return 1;
	}
	file_set files = {site.made_set.count + site.carried_set.count,
	    site.made_set.sum1 + site.carried_set.sum1,
	    site.made_set.sum2 + site.carried_set.sum2};
	int error = write_marker(fresh, files);
	if (error != 0) {
		std::fprintf(stderr, "%s/%s: %s\n", site.root_shown,
		    marker_name, std::strerror(error));
		std::fprintf(stderr,
		    "%s: not switched; it still points to \"%s\"\n",
		    state.out_dir, site.current_name);
		leave_spare();
		return 1;
	}
	(void)unlinkat(site.parent_fd, temporary, 0);
	if (renameat(site.parent_fd, site.spare_name, site.parent_fd, fresh) !=
		0 ||
	    symlinkat(fresh, site.parent_fd, temporary) != 0 ||
	    renameat(site.parent_fd, temporary, site.parent_fd, site.name) !=
		0) {
		int failure = errno;
		std::fprintf(stderr, "%s: not switched: %s\n", state.out_dir,
		    std::strerror(failure));
		explain_denied(failure);
		(void)unlinkat(site.parent_fd, temporary, 0);
		return 1;
	}
	if (state.verbosity != 0)
		std::fprintf(stderr, "Switched \"%s\" from \"%s\" to \"%s\"\n",
		    state.out_dir, site.current_name, fresh);
	return 0;
}
