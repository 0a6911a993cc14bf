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

// The longest list of changed paths kept, in bytes and in paths; longer,
// the marker says "all".
constexpr std::size_t list_size = std::size_t{4} << 20;
constexpr std::size_t list_paths = std::size_t{1} << 17;
constexpr char spare_suffix[] = ".unpublished";
// The most pages that one run may publish.
constexpr std::size_t made_max = std::size_t{3} << 17;
// The most directories that a whole-tree run notes as the tree's.
constexpr std::size_t tree_max = std::size_t{1} << 17;
// The slots that a set or table of paths starts with.
constexpr std::size_t first_slots = 1024;
// The name of the tool's pages, by which a file is told for the tool's
// where no marker tells.
constexpr char page_name[] = "README.html";

// The sizes of the tables that publishing keeps, allocated when a run
// publishes and before its first page: a marker holds two lists.
constexpr std::size_t current_marker_size = 2 * list_size + 8192;

// size bytes, zeroed, for a table of the publishing; null after saying how
// much could not be had.
void *
allocate(std::size_t size)
{
	return allocate_reported(size, state.out_dir);
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

std::uint64_t
path_hash(const char *rel)
{
	std::uint64_t h = 14695981039346656037ull;
	for (const char *p = rel; *p != '\0'; p++)
		h = (h ^ static_cast<unsigned char>(*p)) * 1099511628211ull;
	return h == 0 ? 1 : h;
}

void
add_to_set(file_set *set, const char *rel)
{
	std::uint64_t h = 0x9e3779b97f4a7c15ull;
	for (const char *p = rel; *p != '\0'; p++) {
		h = (h + static_cast<unsigned char>(*p)) *
		    0xbf58476d1ce4e5b9ull;
		h ^= h >> 31;
	}
	set->count++;
	set->sum1 += path_hash(rel);
	set->sum2 += h ^ (h >> 29);
}

bool
has_hash(const hash_set &set, std::uint64_t h)
{
	if (set.size == 0)
		return false;
	for (std::size_t i = h & (set.size - 1); set.slot[i] != 0;
	     i = (i + 1) & (set.size - 1)) {
		if (set.slot[i] == h)
			return true;
	}
	return false;
}

// Puts h into the first free slot of its run in slot (size of them, a
// power of two, not all taken).
void
place_hash(std::uint64_t *slot, std::size_t size, std::uint64_t h)
{
	std::size_t i = h & (size - 1);
	while (slot[i] != 0)
		i = (i + 1) & (size - 1);
	slot[i] = h;
}

enum class add_result { added, present, full, failed };

// Adds h to the set unless it holds it: full when it holds most hashes
// already, failed when it could not grow (reported).
add_result
add_hash(hash_set *set, std::size_t most, std::uint64_t h)
{
	if (has_hash(*set, h))
		return add_result::present;
	if (set->count >= most)
		return add_result::full;
	if (2 * (set->count + 1) > set->size) {
		std::size_t size = set->size == 0 ? first_slots : 2 * set->size;
		auto *slot = static_cast<std::uint64_t *>(
		    allocate(size * sizeof(std::uint64_t)));
		if (slot == nullptr)
			return add_result::failed;
		for (std::size_t i = 0; i < set->size; i++) {
			if (set->slot[i] != 0)
				place_hash(slot, size, set->slot[i]);
		}
		std::free(set->slot);
		set->slot = slot;
		set->size = size;
	}
	place_hash(set->slot, set->size, h);
	set->count++;
	return add_result::added;
}

void
release_set(hash_set *set)
{
	std::free(set->slot);
	*set = {};
}

// Notes a page made; false when this run had made it already.
bool
note_made(const char *rel)
{
	switch (add_hash(&site.made, made_max, path_hash(rel))) {
	case add_result::present:
		return false;
	case add_result::full:
		site.made_overflow = true;
		return true;
	case add_result::failed:
		site.grow_failed = true;
		return true;
	case add_result::added:
		break;
	}
	add_to_set(&site.made_set, rel);
	return true;
}

bool
was_made(const char *rel)
{
	return has_hash(site.made, path_hash(rel));
}

// The hash of the first length bytes of rel as a path of its own.
std::uint64_t
prefix_hash(const char *rel, std::size_t length)
{
	char part[path_size];
	(void)copy_text(part, sizeof part, std::string_view(rel, length));
	return path_hash(part);
}

bool
same_time(const struct stat &a, const struct stat &b)
{
	return a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
	    a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

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

// Reads the marker of the generation open on dirfd into buf: whole, with
// its list, when whole; else its head. Not complete when it is missing,
// of another format, cut short, or longer than any written here.
generation_marker
read_marker(int dirfd, char *buf, std::size_t size, bool whole)
{
	int fd = openat(dirfd, marker_name,
	    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	if (fd < 0)
		return {};
	// A marker that cannot be read is no marker.
	ssize_t got = read_full(fd, buf, size, 0);
	close(fd);
	std::size_t length = got > 0 ? static_cast<std::size_t>(got) : 0;
	if (whole && length == size)
		return {};
	return parse_marker(buf, length, whole);
}

// Puts count paths of the current generation's marker, from list on, in
// table. 0 when done, 1 when they are more than a list holds, -1 when the
// table could not be had (reported).
int
fill_paths(path_table *table, const char *list, std::size_t count)
{
	if (count > list_paths)
		return 1;
	std::size_t size = first_slots;
	while (size < 2 * count)
		size *= 2;
	table->at = static_cast<std::uint32_t *>(
	    allocate(size * sizeof *table->at));
	if (table->at == nullptr)
		return -1;
	table->size = size;
	const char *p = list;
	for (std::size_t i = 0; i < count; i++) {
		std::size_t slot = path_hash(p) & (size - 1);
		while (table->at[slot] != 0)
			slot = (slot + 1) & (size - 1);
		table->at[slot] = static_cast<std::uint32_t>(
		    p - site.current_marker_text + 1);
		p += std::strlen(p) + 1;
	}
	return 0;
}

bool
in_paths(const path_table &table, const char *rel)
{
	if (table.size == 0)
		return false;
	for (std::size_t slot = path_hash(rel) & (table.size - 1);
	     table.at[slot] != 0; slot = (slot + 1) & (table.size - 1)) {
		if (std::strcmp(
			site.current_marker_text + table.at[slot] - 1, rel) ==
		    0)
			return true;
	}
	return false;
}

// 0, 1 or -1 as fill_paths.
int
fill_listed()
{
	return fill_paths(&site.listed, site.current_marker.list,
	    site.current_marker.list_count);
}

bool
was_listed(const char *rel)
{
	return in_paths(site.listed, rel);
}

// Reads the current generation's kept paths, and the directories that
// hold them, into their tables. 0, 1 or -1 as fill_paths.
int
fill_kept()
{
	const generation_marker &m = site.current_marker;
	int filled = fill_paths(&site.kept, m.kept, m.kept_count);
	if (filled != 0)
		return filled;
	const char *p = m.kept;
	for (std::size_t i = 0; i < m.kept_count;
	     i++, p += std::strlen(p) + 1) {
		const char *slash = std::strrchr(p, '/');
		if (slash == nullptr)
			continue;
		add_result added = add_hash(&site.kept_dirs, list_paths,
		    prefix_hash(p, static_cast<std::size_t>(slash - p)));
		if (added == add_result::full)
			return 1;
		if (added == add_result::failed)
			return -1;
	}
	return 0;
}

// Appends rel and a newline to the list at text (list_size bytes), or
// leaves it unknown when it does not fit or rel holds a newline.
void
note_path(const char *rel, char *text, std::size_t *length, std::size_t *count,
    bool *unknown)
{
	std::size_t n = std::strlen(rel);
	if (std::strchr(rel, '\n') != nullptr || n >= list_size - *length ||
	    *count >= list_paths) {
		*unknown = true;
		return;
	}
	std::memcpy(text + *length, rel, n);
	text[*length + n] = '\n';
	*length += n + 1;
	++*count;
}

void
note_changed(const char *rel)
{
	note_path(rel, site.changed_text, &site.changed_length,
	    &site.changed_count, &site.changed_unknown);
}

bool
before(const struct timespec &a, const struct timespec &b)
{
	return a.tv_sec < b.tv_sec ||
	    (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Gives the marker being written on fd a modification time later than
// every change this run made, which the file system may stamp with a
// coarse clock: a change made after the marker is then never older than
// it. Waits a clock tick at most (a second where the clock does not move).
int
stamp_after_run(int fd)
{
	struct stat st;
	if (fstat(fd, &st) != 0)
		return errno;
	const struct timespec last = st.st_ctim;
	for (int i = 0; i < 1000; i++) {
		int error = set_mtime(fd, nullptr);
		if (error != 0)
			return error;
		if (fstat(fd, &st) != 0)
			return errno;
		if (before(last, st.st_mtim))
			return 0;
		struct timespec pause = {0, 1000000};
		nanosleep(&pause, nullptr);
	}
	return 0;
}

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

// Notes the file rel of the current generation, not the tool's, as
// carried over.
void
note_kept(const char *rel)
{
	note_path(rel, site.kept_text, &site.kept_length, &site.kept_count,
	    &site.kept_unknown);
	if (state.verbosity != 0)
		std::fprintf(stderr,
		    "Keeping \"%s/%s\": not a page of quillmark's\n",
		    site.current_shown, rel);
}

// Writes the marker of the spare generation, complete, as the generation
// fresh that holds the files set: through a new file renamed over the old
// one, so that a marker is whole or its first line only. 0, or an errno
// value.
int
write_marker(const char *fresh, const file_set &files)
{
	struct timespec now;
	clock_gettime(CLOCK_REALTIME, &now);
	char nonce[64];
	std::snprintf(nonce, sizeof nonce, "%llx.%lx.%lx",
	    static_cast<long long>(now.tv_sec), static_cast<long>(now.tv_nsec),
	    static_cast<long>(getpid()));
	char count[32];
	std::snprintf(count, sizeof count, "%zu", site.changed_count);
	bool listing = !site.changed_unknown && site.current_named;
	char kept[32];
	std::snprintf(kept, sizeof kept, "%zu", site.kept_count);
	char head[4 * path_size];
	char *pos = format_marker_head(head, head + sizeof head, nonce, fresh,
	    site.current_named ? site.current_marker.id : "-", files,
	    listing ? count : "");
	char kept_line[64];
	char *kept_end = format_marker_kept(kept_line,
	    kept_line + sizeof kept_line, site.kept_unknown ? "" : kept);
	if (pos == nullptr || kept_end == nullptr)
		return ENAMETOOLONG;
	int fd = openat(site.root_fd, marker_new_name,
	    O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY |
		O_CLOEXEC,
	    0644);
	if (fd < 0)
		return errno;
	std::size_t at = 0;
	bool done = true;
	for (std::string_view part :
	    {std::string_view(head, static_cast<std::size_t>(pos - head)),
		std::string_view(
		    site.changed_text, listing ? site.changed_length : 0),
		std::string_view(
		    kept_line, static_cast<std::size_t>(kept_end - kept_line)),
		std::string_view(
		    site.kept_text, site.kept_unknown ? 0 : site.kept_length),
		marker_end}) {
		done = done &&
		    write_full(fd, part.data(), part.size(),
			static_cast<off_t>(at)) == 0;
		at += part.size();
	}
	int error = done ? 0 : errno != 0 ? errno : ENOSPC;
	if (error == 0)
		error = stamp_after_run(fd);
	if (close(fd) != 0 && error == 0)
		error = errno;
	if (error == 0 &&
	    renameat(
		site.root_fd, marker_new_name, site.root_fd, marker_name) != 0)
		error = errno;
	return error;
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

void level_dir(int cur, int spare, char *rel, int *failures);

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

// Compares the current generation's page rel with text. True when equal;
// its modification time then goes into *when.
bool
current_holds(const char *rel, const char *text, std::size_t length,
    struct timespec *when)
{
	int fd = platform_open_beneath(site.current_fd, rel,
	    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
	if (fd < 0)
		return false;
	struct stat st;
	bool equal = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
	    static_cast<std::size_t>(st.st_size) == length &&
	    file_holds(fd, text, length);
	close(fd);
	if (equal)
		*when = st.st_mtim;
	return equal;
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

} // namespace

int
reset_marker(int dirfd)
{
	int fd = openat(dirfd, marker_name,
	    O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	if (fd < 0)
		return errno == ENOENT ? 0 : errno;
	struct stat st;
	constexpr std::size_t length = marker_text.size();
	int error = 0;
	if (fstat(fd, &st) != 0 ||
	    (static_cast<std::size_t>(st.st_size) != length &&
		(ftruncate(fd, 0) != 0 ||
		    write_full(fd, marker_text.data(), length, 0) != 0)))
		error = errno != 0 ? errno : EIO;
	if (close(fd) != 0 && error == 0)
		error = errno;
	return error;
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
	std::free(site.listed.at);
	std::free(site.kept.at);
	std::free(site.current_marker_text);
	std::free(site.changed_text);
	std::free(site.kept_text);
	site.listed = {};
	site.kept = {};
	site.current_marker_text = nullptr;
	site.changed_text = nullptr;
	site.kept_text = nullptr;
}

int
settle_page(const char *path, int fd, const struct stat &before, bool same,
    bool compared, const char *text, std::size_t length)
{
	if (!site.publishing)
		return 0;
	const char *rel = below_top(path);
	if (rel == nullptr)
		return 0;
	// A page made twice leaves the list of changes unknown.
	bool first = note_made(rel);
	if (!first)
		site.changed_unknown = true;
	struct timespec when;
	if (first && site.use_list && compared) {
		// Unlisted, the current page is the spare one's before this
		// run, in bytes and time; listed, it holds other bytes.
		bool in_list = was_listed(rel);
		if (same && !in_list)
			return 0;
		if (same || !in_list) {
			note_changed(rel);
			return same ? set_mtime(fd, nullptr) : 0;
		}
	}
	if (same && site.current_ours && site.spare_marker.complete) {
		// Equal stat, equal bytes: nothing to do. Else the page
		// changed since the current generation. (A run that failed
		// in the spare generation may have cut a page back to its
		// old bytes, with a new time: then the bytes are compared.)
		struct stat cur;
		if (fstatat(site.current_fd, rel, &cur, AT_SYMLINK_NOFOLLOW) ==
			0 &&
		    S_ISREG(cur.st_mode) && cur.st_size == before.st_size &&
		    same_time(cur, before))
			return 0;
		note_changed(rel);
		return set_mtime(fd, nullptr);
	}
	if (current_holds(rel, text, length, &when)) {
		if (same && when.tv_sec == before.st_mtim.tv_sec &&
		    when.tv_nsec == before.st_mtim.tv_nsec)
			return 0;
		return set_mtime(fd, &when);
	}
	note_changed(rel);
	return same ? set_mtime(fd, nullptr) : 0;
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

void
note_listed(const char *path)
{
	const char *rel = site.publishing ? below_top(path) : nullptr;
	if (rel == nullptr)
		return;
	add_result added = add_hash(&site.tree_listed, tree_max, path_hash(rel));
	if (added == add_result::failed)
		site.grow_failed = true;
	if (added == add_result::full || added == add_result::failed)
		site.tree_overflow = true;
}

void
note_list_read(const char *path)
{
	char listed[path_size];
	if (site.publishing && join_text(listed, sizeof listed, {path, "/"}))
		note_listed(listed);
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
