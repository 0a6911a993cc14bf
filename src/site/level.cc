// Levelling the spare generation with the current one once the run has
// made its pages: the copy pass carries over what the run did not make,
// the prune pass removes what the current generation lacks or what the
// tree no longer lists, and clear_way removes what stands where a page
// goes.
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

// The name of the tool's pages, by which a file is told for the tool's
// where no marker tells.
constexpr char page_name[] = "README.html";

// Whether the regular file name (rel below the root, described by st) of
// the current generation is a page of the tool's: one that the marker does
// not keep and that was there when it was written; without such a marker,
// a file of the pages' name.
bool
tool_file(const char *name, const char *rel, const struct stat &st)
{
	if (site.current_kept_known)
		return !in_paths(site.kept, rel) &&
		    before(st.st_ctim, site.current_done);
	return std::strcmp(name, page_name) == 0;
}

bool dropped(const char *rel);

// Whether the current generation's directory of the category rel (its
// first length bytes) holds a page of a port that the category's Makefile
// no longer lists, which the category's old page links.
bool
holds_unlisted_port(const char *rel, std::size_t length)
{
	char category[path_size];
	if (!copy_text(category, sizeof category, std::string_view(rel, length)))
		return false;
	int fd = open_dir_at(site.current_fd, category);
	int listed = fd >= 0 ? dup(fd) : -1;
	platform_list *dir = listed >= 0 ? platform_list_dir(listed) : nullptr;
	if (dir == nullptr && listed >= 0)
		close(listed);
	bool found = false;
	const char *name;
	entry_kind kind;
	while (!found && dir != nullptr &&
	    platform_next_entry(dir, fd, &name, &kind)) {
		char page[path_size];
		struct stat st;
		found = kind == entry_kind::directory &&
		    join_text(page, sizeof page,
			{category, "/", name, "/", page_name}) &&
		    dropped(page) &&
		    fstatat(site.current_fd, page, &st, AT_SYMLINK_NOFOLLOW) ==
			0 &&
		    S_ISREG(st.st_mode) && tool_file(page_name, page, st);
	}
	if (dir != nullptr)
		platform_close_list(dir);
	if (fd >= 0)
		close(fd);
	return found;
}

// Whether a whole-tree run leaves out the page rel, one of the tool's that
// it did not make: the page of a category that the top Makefile no longer
// lists or of a port in one, or of a port that its category's Makefile no
// longer lists (while that list was read whole), and the page of a
// category that links such a port's page (the INDEX has no lines for the
// category, so the run made none).
bool
dropped(const char *rel)
{
	if (!site.whole_tree || site.tree_overflow)
		return false;
	const char *last = std::strrchr(rel, '/');
	if (last == nullptr || std::strcmp(last + 1, page_name) != 0)
		return false;
	std::size_t length = static_cast<std::size_t>(last - rel);
	const void *slash = std::memchr(rel, '/', length);
	if (slash == nullptr)
		return !has_hash(site.tree_listed, prefix_hash(rel, length)) ||
		    (has_hash(site.tree_listed, prefix_hash(rel, length + 1)) &&
			holds_unlisted_port(rel, length));
	std::size_t category =
	    static_cast<std::size_t>(static_cast<const char *>(slash) - rel);
	if (std::memchr(rel + category + 1, '/', length - category - 1) !=
	    nullptr)
		return false;
	// A port of a category that the tree no longer lists goes with it.
	if (!has_hash(site.tree_listed, prefix_hash(rel, category)))
		return true;
	return has_hash(site.tree_listed, prefix_hash(rel, category + 1)) &&
	    !has_hash(site.tree_listed, prefix_hash(rel, length));
}

// Reports a failure of the walks below with the path shown (base/rel, the
// error in errno) and counts it in *failures.
void
walk_failure(const char *base, const char *rel, int *failures)
{
	std::fprintf(stderr, "%s/%s: %s\n", base, rel, std::strerror(errno));
	++*failures;
}

// Lists the directory open on fd for a walk (base/rel as messages show
// it). Null after walk_failure.
platform_list *
walk_list(int fd, const char *base, const char *rel, int *failures)
{
	int listed = dup(fd);
	platform_list *dir = listed >= 0 ? platform_list_dir(listed) : nullptr;
	if (dir == nullptr) {
		walk_failure(base, rel, failures);
		if (listed >= 0)
			close(listed);
	}
	return dir;
}

// Whether a walk skips name at the root: the markers are the run's own.
bool
marker_at_root(const char *rel, const char *name)
{
	return rel[0] == '\0' &&
	    std::strncmp(name, marker_name, sizeof marker_name - 1) == 0;
}

// Copies the regular file name of the current generation (described by
// st) over the same name in the spare one, with its modification time.
bool
copy_page(int cur, int spare, const char *name, const struct stat &st)
{
	static char piece[64 * 1024];
	int in = openat(cur, name,
	    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	if (in < 0)
		return false;
	int out = openat(spare, name,
	    O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
	    0644);
	bool done = false;
	struct stat ost;
	if (out >= 0 && fstat(out, &ost) == 0) {
		if (!S_ISREG(ost.st_mode) || ost.st_nlink > 1) {
			errno = EEXIST;
		} else {
			off_t at = 0;
			done = true;
			while (done) {
				ssize_t n =
				    read_full(in, piece, sizeof piece, at);
				if (n <= 0) {
					done = n == 0;
					break;
				}
				done =
				    write_full(out, piece,
					static_cast<std::size_t>(n), at) == 0;
				at += n;
			}
			done =
			    done && at == st.st_size && ftruncate(out, at) == 0;
			int error = done ? set_mtime(out, &st.st_mtim) : 0;
			if (error != 0) {
				errno = error;
				done = false;
			}
		}
	}
	int error = errno;
	if (out >= 0 && close(out) != 0 && done) {
		error = errno;
		done = false;
	}
	close(in);
	errno = error;
	return done;
}

// True when the directory name of the current generation (open on cur,
// rel below the root) needs no walk: below the top, a run writes no file
// but README.html, so a directory without subdirectories (a link count of
// 2, where the file system keeps the count so) holds that page at most;
// when this run made it, the two generations are level there already.
// Spares opening some 35,000 port directories twice a run.
//
// Files of others may stand there too: the directory must be as its
// generation was completed (changed before its marker) and hold none that
// the marker keeps. A file added since changes its directory (its change
// time, which no touch sets back); one kept when the generation was made
// is listed. The spare generation's directory is not looked at: no reader
// sees that generation, and what others put into it while it was the
// current one, the current one's marker keeps, as it was made level with
// it. Where the markers cannot tell, every directory is walked.
bool
settled_dir(int cur, const char *name, char *rel)
{
	if (!site.current_kept_known || !site.spare_done_known ||
	    has_hash(site.kept_dirs, path_hash(rel)))
		return false;
	std::size_t n = std::strlen(rel);
	bool made_page = join_text(rel + n, path_size - n, {"/", page_name}) &&
	    was_made(rel);
	rel[n] = '\0';
	struct stat cst;
	return made_page &&
	    fstatat(cur, name, &cst, AT_SYMLINK_NOFOLLOW) == 0 &&
	    S_ISDIR(cst.st_mode) && cst.st_nlink == 2 &&
	    before(cst.st_ctim, site.current_done);
}

// Reports the entry rel of the current generation, which stands where
// this run writes (what, "a page" or "a directory"), as not carried over:
// the run's pages win in the spare generation.
void
not_carried(const char *rel, const char *what)
{
	std::fprintf(stderr,
	    "%s/%s: not carried over: this run writes %s there\n",
	    site.current_shown, rel, what);
}

// Empties the directory name of the spare generation (rel below the root,
// without its '/') of all but this run's pages and removes it, where the
// current generation has a file. 0 when it is gone, 1 when it holds pages
// of this run, -1 after a failure reported and counted in *failures.
int
clear_dir(int spare, const char *name, char *rel, int *failures)
{
	int s = open_dir_at(spare, name);
	if (s < 0) {
		walk_failure(site.root_shown, rel, failures);
		return -1;
	}
	int before = *failures;
	std::size_t n = std::strlen(rel);
	(void)join_text(rel + n, path_size - n, {"/"});
	level_dir(-1, s, rel, failures);
	rel[n] = '\0';
	close(s);
	if (unlinkat(spare, name, AT_REMOVEDIR) == 0)
		return 0;
	if (errno != ENOTEMPTY && errno != EEXIST)
		walk_failure(site.root_shown, rel, failures);
	return *failures == before ? 1 : -1;
}

// The copy pass of level_dir, over the current generation's listing: its
// directories are walked (made in the spare one where missing, removed
// again when they held only pages dropped), its files that this run did
// not make copied where they differ by size or modification time, unless
// they are pages dropped. A file of others where this run made a page is
// named.
void
copy_pass(int cur, int spare, char *rel, int *failures)
{
	std::size_t rel_length = std::strlen(rel);
	platform_list *dir = walk_list(cur, site.current_shown, rel, failures);
	if (dir == nullptr)
		return;
	const char *name;
	entry_kind type;
	while (platform_next_entry(dir, cur, &name, &type)) {
		rel[rel_length] = '\0';
		if (marker_at_root(rel, name) ||
		    !join_text(
			rel + rel_length, path_size - rel_length, {name}))
			continue;
		if (type == entry_kind::directory) {
			if (add_hash(&site.current_dirs, SIZE_MAX,
				path_hash(rel)) == add_result::failed)
				site.grow_failed = true;
			if (settled_dir(cur, name, rel))
				continue;
			int s = open_dir_at(spare, name);
			if (s < 0 && errno == ENOENT &&
			    mkdirat(spare, name, 0755) == 0)
				s = open_dir_at(spare, name);
			if (s < 0 && errno == ENOTDIR && was_made(rel)) {
				not_carried(rel, "a page");
				continue;
			}
			if (s < 0 && errno == ENOTDIR &&
			    unlinkat(spare, name, 0) == 0 &&
			    mkdirat(spare, name, 0755) == 0)
				s = open_dir_at(spare, name);
			int c = open_dir_at(cur, name);
			(void)join_text(rel + rel_length,
			    path_size - rel_length, {name, "/"});
			std::size_t dropped_before = site.dropped;
			if (s >= 0 && c >= 0)
				level_dir(c, s, rel, failures);
			else
				walk_failure(site.root_shown, rel, failures);
			if (c >= 0)
				close(c);
			if (s >= 0)
				close(s);
			if (site.dropped != dropped_before)
				(void)unlinkat(spare, name, AT_REMOVEDIR);
			continue;
		}
		struct stat cst, sst;
		if (type != entry_kind::regular ||
		    fstatat(cur, name, &cst, AT_SYMLINK_NOFOLLOW) != 0)
			continue;
		bool ours = tool_file(name, rel, cst);
		// A file where this run writes one of the same name: the
		// names the run writes are its own (a file a first site
		// without a marker holds, or a site copied with new change
		// times), so it is replaced without a word.
		if (was_made(rel)) {
			if (!ours)
				site.replaced++;
			continue;
		}
		if (ours && dropped(rel)) {
			site.dropped++;
			continue;
		}
		bool have =
		    fstatat(spare, name, &sst, AT_SYMLINK_NOFOLLOW) == 0;
		if (have && S_ISREG(sst.st_mode) &&
		    sst.st_size == cst.st_size && same_time(sst, cst)) {
			add_to_set(&site.carried_set, rel);
			if (!ours)
				note_kept(rel);
			continue;
		}
		int cleared = have && S_ISDIR(sst.st_mode)
		    ? clear_dir(spare, name, rel, failures)
		    : 0;
		if (cleared == 1)
			not_carried(rel, "a directory");
		if (cleared != 0)
			continue;
		if (!copy_page(cur, spare, name, cst)) {
			walk_failure(site.root_shown, rel, failures);
			continue;
		}
		add_to_set(&site.carried_set, rel);
		if (!ours)
			note_kept(rel);
	}
	platform_close_list(dir);
	rel[rel_length] = '\0';
}

// The prune pass of level_dir, over the spare generation's listing: what
// the current one (cur, or -1: none) lacks or drops and this run did not
// make is removed, a directory once it holds none of this run's pages.
void
prune_pass(int cur, int spare, char *rel, int *failures)
{
	std::size_t rel_length = std::strlen(rel);
	platform_list *dir = walk_list(spare, site.root_shown, rel, failures);
	if (dir == nullptr)
		return;
	const char *name;
	entry_kind type;
	while (platform_next_entry(dir, spare, &name, &type)) {
		rel[rel_length] = '\0';
		if (marker_at_root(rel, name) ||
		    !join_text(
			rel + rel_length, path_size - rel_length, {name}))
			continue;
		struct stat cst;
		if (type == entry_kind::directory) {
			// Walked by the copy pass when the current one has it.
			if (cur >= 0 &&
			    (has_hash(site.current_dirs, path_hash(rel)) ||
				(fstatat(cur, name, &cst,
				     AT_SYMLINK_NOFOLLOW) == 0 &&
				    S_ISDIR(cst.st_mode))))
				continue;
			int s = open_dir_at(spare, name);
			(void)join_text(rel + rel_length,
			    path_size - rel_length, {name, "/"});
			if (s >= 0)
				level_dir(-1, s, rel, failures);
			else
				walk_failure(site.root_shown, rel, failures);
			if (s >= 0)
				close(s);
			if (unlinkat(spare, name, AT_REMOVEDIR) != 0 &&
			    errno != ENOTEMPTY && errno != EEXIST)
				walk_failure(site.root_shown, rel, failures);
			continue;
		}
		if (was_made(rel))
			continue;
		// Kept when the current one has it as a file, not dropped.
		if (type == entry_kind::regular && cur >= 0 &&
		    fstatat(cur, name, &cst, AT_SYMLINK_NOFOLLOW) == 0 &&
		    S_ISREG(cst.st_mode) &&
		    !(tool_file(name, rel, cst) && dropped(rel)))
			continue;
		if (unlinkat(spare, name, 0) != 0)
			walk_failure(site.root_shown, rel, failures);
	}
	platform_close_list(dir);
	rel[rel_length] = '\0';
}

} // namespace

// Brings the directory spare of the spare generation level with cur of
// the current one (cur -1: there is none): the copy pass, then the prune
// pass. rel is the directory's path below the root, ending in '/' unless
// empty, in a buffer of path_size bytes.
void
level_dir(int cur, int spare, char *rel, int *failures)
{
	if (cur >= 0)
		copy_pass(cur, spare, rel, failures);
	prune_pass(cur, spare, rel, failures);
}

int
clear_way(const char *rel)
{
	char part[path_size];
	if (!copy_text(part, sizeof part, rel)) {
		errno = ENAMETOOLONG;
		return -1;
	}
	for (char *slash = std::strchr(part, '/');;
	     slash = std::strchr(slash + 1, '/')) {
		if (slash != nullptr)
			*slash = '\0';
		struct stat st;
		if (fstatat(site.root_fd, part, &st, AT_SYMLINK_NOFOLLOW) != 0)
			return -1;
		if (slash != nullptr && !S_ISDIR(st.st_mode))
			return unlinkat(site.root_fd, part, 0) == 0 ? 0 : -1;
		if (slash == nullptr) {
			if (!S_ISDIR(st.st_mode)) {
				errno = EEXIST;
				return -1;
			}
			break;
		}
		*slash = '/';
	}
	// A directory where the page goes: emptied of what no run made here
	// and removed.
	int fd = open_dir_at(site.root_fd, part);
	if (fd < 0)
		return -1;
	char walked[path_size];
	int failures = 0;
	if (join_text(walked, sizeof walked, {part, "/"}))
		level_dir(-1, fd, walked, &failures);
	close(fd);
	return unlinkat(site.root_fd, part, AT_REMOVEDIR) == 0 ? 0 : -1;
}
