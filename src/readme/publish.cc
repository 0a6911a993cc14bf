// Writing below an output root, publishing through a link, and keeping
// runs apart.
//
// With -o every page goes to its path below the output root instead of
// the tree, opened beneath one descriptor of the root as the tree's files
// are opened beneath the top: a link planted on the way is refused, not
// followed. Directories are made one name at a time beneath the root.
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
// at the current generation. When the run made exactly the files that both
// generations hold, by count and sum, nothing is left to carry over or
// remove, and the walk that levels them is skipped. Whatever is missing or
// does not match leaves the run to the method above.
#include "readme/publish.h"
#include "readme/readme.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>

#include "catalogue/catalogue.h"
#include "platform/platform.h"
#include "state/state.h"

namespace {

constexpr char marker_name[] = ".quillmark-generation";
constexpr char marker_new_name[] = ".quillmark-generation.new";
// The marker's first line; alone, the generation is being written.
constexpr char marker_text[] =
    "A generation of pages made by quillmark; it removes it when it is "
    "neither the current one nor the one before.\n";
constexpr std::string_view marker_format = "format 2";
// The longest list of changed paths kept; longer, the marker says "all".
constexpr std::size_t list_size = std::size_t{4} << 20;
constexpr std::size_t list_slots = std::size_t{1} << 18;
constexpr char spare_suffix[] = ".unpublished";

// The directory that holds the output root, and the root's last name.
char out_parent[path_size];
char out_name[path_size];
int parent_fd = -1;		 // out_parent, open for reading
char spare_name[path_size];	 // the generation being written
char current_name[path_size];	 // what the link points to, as it says
char current_shown[path_size];	 // the current generation, as shown

// The pages that this run made, by a 64-bit hash of their path below the
// root: an open-addressed table, filled to three quarters at most.
constexpr std::size_t made_slots = std::size_t{1} << 19;
std::uint64_t made[made_slots];
std::size_t made_count;
bool made_overflow;

// A set of files, as a marker records it: how many, and the sums (mod
// 2^64) of two different hashes of their paths, which no order changes.
struct file_set {
	std::uint64_t count;
	std::uint64_t sum1;
	std::uint64_t sum2;
	bool operator==(const file_set &) const = default;
};
file_set made_set;	// the pages of this run
file_set carried_set;	// what the walk found in the current one besides

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
		h = (h + static_cast<unsigned char>(*p)) * 0xbf58476d1ce4e5b9ull;
		h ^= h >> 31;
	}
	set->count++;
	set->sum1 += path_hash(rel);
	set->sum2 += h ^ (h >> 29);
}

// Notes a page made; false when this run had made it already.
bool
note_made(const char *rel)
{
	std::uint64_t h = path_hash(rel);
	std::size_t i = h & (made_slots - 1);
	while (made[i] != 0) {
		if (made[i] == h)
			return false;
		i = (i + 1) & (made_slots - 1);
	}
	if (made_count >= made_slots / 4 * 3) {
		made_overflow = true;
		return true;
	}
	made[i] = h;
	made_count++;
	add_to_set(&made_set, rel);
	return true;
}

bool
was_made(const char *rel)
{
	std::uint64_t h = path_hash(rel);
	for (std::size_t i = h & (made_slots - 1); made[i] != 0;
	     i = (i + 1) & (made_slots - 1)) {
		if (made[i] == h)
			return true;
	}
	return false;
}

// The path below the top of a tree path: "" for the top itself, null when
// it is not in the tree.
const char *
below_top(const char *path)
{
	if (std::strcmp(path, state.top_dir) == 0)
		return "";
	const char *rel = skip_prefix(path, state.top_dir_slash);
	return rel == path ? nullptr : rel;
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

// Makes the directories of rel (all but its last name) beneath the output
// root, one name at a time, never through a link. 0, or -1 with errno set.
int
make_dirs(const char *rel)
{
	char part[path_size];
	int fd = state.out_fd;
	const char *pos = rel;
	for (;;) {
		std::size_t n = std::strcspn(pos, "/");
		if (pos[n] == '\0')
			break;
		if (n >= sizeof part) {
			errno = ENAMETOOLONG;
			break;
		}
		std::memcpy(part, pos, n);
		part[n] = '\0';
		int next = -1;
		if (mkdirat(fd, part, 0755) == 0 || errno == EEXIST)
			next = openat(fd, part,
			    platform_dir_flags() | O_NOFOLLOW | O_CLOEXEC);
		int error = errno;
		if (fd != state.out_fd)
			close(fd);
		if (next < 0) {
			errno = error;
			return -1;
		}
		fd = next;
		pos += n + 1;
	}
	if (fd != state.out_fd)
		close(fd);
	return pos[std::strcspn(pos, "/")] == '\0' ? 0 : -1;
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
	std::size_t n = std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%S", &tm);
	std::snprintf(stamp + n, sizeof stamp - n, ".%06ldZ",
	    static_cast<long>(now.tv_nsec / 1000));
	return join_text(buf, size, {out_name, ".", stamp});
}

// True when name, in the directory that holds the root, is a directory
// that this tool made (it holds the marker).
bool
is_generation(const char *name)
{
	int fd = open_dir_at(parent_fd, name);
	if (fd < 0)
		return false;
	struct stat st;
	bool ours = fstatat(fd, marker_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
	    S_ISREG(st.st_mode);
	close(fd);
	return ours;
}

// What a generation's marker says (see the opening comment).
struct marker {
	bool complete;		 // written when a run completed it
	std::size_t size;	 // bytes read
	std::string_view id;	 // "NONCE NAME", NAME its directory's then
	std::string_view after;	 // the id of the one it was made level with
	file_set files;
	bool listed;		 // its changed paths follow (else "all")
	char *list;		 // those paths, each ended by a NUL
	std::size_t list_count;
};

// The markers of the current generation, read whole, and of the spare
// one, its head alone.
char current_marker_text[list_size + 8192];
char spare_marker_text[8192];
marker current_marker;
marker spare_marker;
bool current_named;	// its id names the directory the link points to
bool both_complete;	// both markers complete and named as they are
bool use_list;		// current = spare + the current one's list
// The current one's listed paths by hash: their offset in its text, + 1.
std::uint32_t listed_at[list_slots];

// The paths whose bytes this run changed from the current generation's,
// each ended by a newline; unknown when they are more than a marker keeps.
char changed_text[list_size];
std::size_t changed_length;
std::size_t changed_count;
bool changed_unknown;

// The next line of [*pos, end) without its newline, which becomes a NUL;
// null at the end or where no newline ends it.
char *
next_line(char **pos, char *end)
{
	char *line = *pos;
	void *nl = line < end
	    ? std::memchr(line, '\n', static_cast<std::size_t>(end - line))
	    : nullptr;
	if (nl == nullptr)
		return nullptr;
	*static_cast<char *>(nl) = '\0';
	*pos = static_cast<char *>(nl) + 1;
	return line;
}

// The text of line after prefix, or null.
const char *
field(const char *line, std::string_view prefix)
{
	if (line == nullptr)
		return nullptr;
	const char *rest = skip_prefix(line, prefix);
	return rest == line ? nullptr : rest;
}

// Reads the marker of the generation open on dirfd into buf: whole, with
// its list, when whole; else its head. Not complete when it is missing,
// of another format, cut short, or longer than any written here.
marker
read_marker(int dirfd, char *buf, std::size_t size, bool whole)
{
	marker m{};
	int fd = openat(dirfd, marker_name,
	    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	if (fd < 0)
		return m;
	while (m.size < size) {
		ssize_t n = read_at(fd, buf + m.size, size - m.size,
		    static_cast<off_t>(m.size));
		if (n <= 0)
			break;
		m.size += static_cast<std::size_t>(n);
	}
	close(fd);
	if (whole && m.size == size)
		return m;
	char *pos = buf;
	char *end = buf + m.size;
	(void)next_line(&pos, end);
	const char *format = next_line(&pos, end);
	const char *id = field(next_line(&pos, end), "id ");
	const char *after = field(next_line(&pos, end), "after ");
	const char *files = field(next_line(&pos, end), "files ");
	const char *changed = field(next_line(&pos, end), "changed ");
	int used = -1;
	if (format == nullptr || format != marker_format || id == nullptr ||
	    std::strchr(id, ' ') == nullptr || after == nullptr ||
	    changed == nullptr || files == nullptr ||
	    std::sscanf(files, "%" SCNu64 " %" SCNx64 " %" SCNx64 "%n",
		&m.files.count, &m.files.sum1, &m.files.sum2, &used) != 3 ||
	    files[used] != '\0')
		return m;
	m.id = id;
	m.after = after;
	m.listed = std::strcmp(changed, "all") != 0;
	if (!whole) {
		m.listed = false;
		m.complete = true;
		return m;
	}
	if (m.listed) {
		char *count_end = nullptr;
		m.list_count = std::strtoul(changed, &count_end, 10);
		if (count_end == changed || *count_end != '\0')
			return m;
		m.list = pos;
		for (std::size_t i = 0; i < m.list_count; i++) {
			if (next_line(&pos, end) == nullptr)
				return m;
		}
	}
	const char *last = next_line(&pos, end);
	m.complete = last != nullptr && std::strcmp(last, "end") == 0 &&
	    pos == end;
	return m;
}

// The name part of a marker's id.
std::string_view
id_name(std::string_view id)
{
	return id.substr(id.find(' ') + 1);
}

// Puts the current generation's listed paths in the table; false when
// they are too many for it.
bool
fill_listed()
{
	const marker &m = current_marker;
	if (m.list_count > list_slots / 2)
		return false;
	const char *p = m.list;
	for (std::size_t i = 0; i < m.list_count; i++) {
		std::size_t slot = path_hash(p) & (list_slots - 1);
		while (listed_at[slot] != 0)
			slot = (slot + 1) & (list_slots - 1);
		listed_at[slot] = static_cast<std::uint32_t>(
		    p - current_marker_text + 1);
		p += std::strlen(p) + 1;
	}
	return true;
}

bool
was_listed(const char *rel)
{
	for (std::size_t slot = path_hash(rel) & (list_slots - 1);
	     listed_at[slot] != 0; slot = (slot + 1) & (list_slots - 1)) {
		if (std::strcmp(current_marker_text + listed_at[slot] - 1, rel) == 0)
			return true;
	}
	return false;
}

void
note_changed(const char *rel)
{
	std::size_t n = std::strlen(rel);
	if (std::strchr(rel, '\n') != nullptr ||
	    n >= sizeof changed_text - changed_length ||
	    changed_count >= list_slots / 2) {
		changed_unknown = true;
		return;
	}
	std::memcpy(changed_text + changed_length, rel, n);
	changed_text[changed_length + n] = '\n';
	changed_length += n + 1;
	changed_count++;
}

// Takes the marker of the generation open on dirfd back to its first line,
// before a run writes there: a generation that a run has begun to change
// is no longer the one its marker describes. 0, or an errno value.
int
reset_marker(int dirfd)
{
	int fd = openat(dirfd, marker_name,
	    O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	if (fd < 0)
		return errno == ENOENT ? 0 : errno;
	struct stat st;
	constexpr std::size_t length = sizeof marker_text - 1;
	int error = 0;
	if (fstat(fd, &st) != 0 ||
	    (static_cast<std::size_t>(st.st_size) != length &&
		(ftruncate(fd, 0) != 0 ||
		    write_at(fd, marker_text, length, 0) !=
			static_cast<ssize_t>(length))))
		error = errno != 0 ? errno : EIO;
	if (close(fd) != 0 && error == 0)
		error = errno;
	return error;
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
	char numbers[160];
	std::snprintf(numbers, sizeof numbers,
	    "%llx.%lx.%lx\nfiles %" PRIu64 " %016" PRIx64 " %016" PRIx64 "\n",
	    static_cast<long long>(now.tv_sec), static_cast<long>(now.tv_nsec),
	    static_cast<long>(getpid()), files.count, files.sum1, files.sum2);
	std::string_view nonce(numbers, std::strcspn(numbers, "\n"));
	char count[32];
	std::snprintf(count, sizeof count, "%zu", changed_count);
	bool listing = !changed_unknown && current_named;
	char head[4 * path_size];
	char *end = head + sizeof head;
	char *pos = append(head, end, marker_text);
	pos = append(pos, end, marker_format);
	pos = append(pos, end, "\nid ");
	pos = append(pos, end, nonce);
	pos = append(pos, end, " ");
	pos = append(pos, end, fresh);
	pos = append(pos, end, "\nafter ");
	pos = append(pos, end, current_named ? current_marker.id : "-");
	pos = append(pos, end, "\n");
	pos = append(pos, end, numbers + nonce.size() + 1);
	pos = append(pos, end, "changed ");
	pos = append(pos, end, listing ? count : "all");
	pos = append(pos, end, "\n");
	if (pos == nullptr)
		return ENAMETOOLONG;
	int fd = openat(state.out_fd, marker_new_name,
	    O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY |
		O_CLOEXEC,
	    0644);
	if (fd < 0)
		return errno;
	std::size_t at = 0;
	bool done = true;
	for (std::string_view part :
	    {std::string_view(head, static_cast<std::size_t>(pos - head)),
		std::string_view(changed_text, listing ? changed_length : 0),
		std::string_view("end\n")}) {
		done = done &&
		    write_at(fd, part.data(), part.size(),
			static_cast<off_t>(at)) ==
			static_cast<ssize_t>(part.size());
		at += part.size();
	}
	int error = done ? 0 : errno != 0 ? errno : ENOSPC;
	if (close(fd) != 0 && error == 0)
		error = errno;
	if (error == 0 &&
	    renameat(state.out_fd, marker_new_name, state.out_fd, marker_name) !=
		0)
		error = errno;
	return error;
}

// Failures of the walks below are reported with the path shown and
// counted in *failures.
void
walk_failure(const char *base, const char *rel, const char *name)
{
	int error = errno;
	std::fprintf(stderr, "%s/%s%s: %s\n", base, rel, name,
	    std::strerror(error));
}

// Copies the regular file name of the current generation (described by
// st) over the same name in the spare one, with its modification time.
bool
copy_page(int cur, int spare, const char *name, const struct stat &st)
{
	static char piece[64 * 1024];
	int in = openat(cur, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK |
		O_NOCTTY | O_CLOEXEC);
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
				ssize_t n = read_at(in, piece, sizeof piece, at);
				if (n <= 0) {
					done = n == 0;
					break;
				}
				ssize_t w = write_at(out, piece,
				    static_cast<std::size_t>(n), at);
				done = w == n;
				if (w >= 0 && w != n)
					errno = ENOSPC;
				at += n;
			}
			done = done && at == st.st_size &&
			    ftruncate(out, at) == 0;
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

// True when the directory name (rel below the root) needs no walk: below
// the top, a run writes no file but README.html, so a directory of either
// generation without subdirectories (a link count of 2, where the file
// system keeps the count so) holds that page at most; when this run made
// it, the two are level already. Spares opening some 35,000 port
// directories twice a run.
bool
settled_dir(int cur, int spare, const char *name, char *rel)
{
	std::size_t n = std::strlen(rel);
	bool made_page = join_text(rel + n, path_size - n, {"/README.html"}) &&
	    was_made(rel);
	rel[n] = '\0';
	struct stat cst, sst;
	return made_page &&
	    fstatat(cur, name, &cst, AT_SYMLINK_NOFOLLOW) == 0 &&
	    S_ISDIR(cst.st_mode) && cst.st_nlink == 2 &&
	    fstatat(spare, name, &sst, AT_SYMLINK_NOFOLLOW) == 0 &&
	    S_ISDIR(sst.st_mode) && sst.st_nlink == 2;
}

void level_dir(int cur, int spare, char *rel, int *failures);

// Reports the entry rel of the current generation, which stands where
// this run writes (what, "a page" or "a directory"), as not carried over:
// the run's pages win in the spare generation.
void
not_carried(const char *rel, const char *what)
{
	std::fprintf(stderr, "%s/%s: not carried over: this run writes %s "
	    "there\n", current_shown, rel, what);
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
		walk_failure(state.out_shown, rel, "");
		++*failures;
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
	if (errno != ENOTEMPTY && errno != EEXIST) {
		walk_failure(state.out_shown, rel, "");
		++*failures;
	}
	return *failures == before ? 1 : -1;
}

// Brings the directory spare of the spare generation level with cur of
// the current one (cur -1: there is none): files that this run did not
// make are copied where they differ by size or modification time, and
// whatever the current one lacks and the run did not make is removed.
// rel is the directory's path below the root, ending in '/' unless empty,
// in a buffer of path_size bytes.
void
level_dir(int cur, int spare, char *rel, int *failures)
{
	std::size_t rel_length = std::strlen(rel);
	bool at_root = rel_length == 0;
	for (int pass = cur >= 0 ? 0 : 1; pass < 2; pass++) {
		int from = pass == 0 ? cur : spare;
		int listed = dup(from);
		platform_list *dir =
		    listed >= 0 ? platform_list_dir(listed) : nullptr;
		if (dir == nullptr) {
			walk_failure(pass == 0 ? current_shown : state.out_shown,
			    rel, "");
			if (listed >= 0)
				close(listed);
			++*failures;
			continue;
		}
		const char *name;
		entry_kind type;
		while (platform_next_entry(dir, from, &name, &type)) {
			if (at_root &&
			    std::strncmp(name, marker_name,
				sizeof marker_name - 1) == 0)
				continue;
			if (!join_text(rel + rel_length, path_size - rel_length,
				{name}))
				continue;
			if (type == entry_kind::directory) {
				// Both sides' directories are walked once, from
				// the current one's listing when it has them.
				struct stat cst;
				bool in_cur = pass == 0 ||
				    (cur >= 0 &&
					fstatat(cur, name, &cst,
					    AT_SYMLINK_NOFOLLOW) == 0 &&
					S_ISDIR(cst.st_mode));
				if (pass == 1 && in_cur)
					continue;
				if (pass == 0 && settled_dir(cur, spare, name, rel))
					continue;
				int s = open_dir_at(spare, name);
				if (s < 0 && pass == 0 && errno == ENOENT &&
				    mkdirat(spare, name, 0755) == 0)
					s = open_dir_at(spare, name);
				if (s < 0 && pass == 0 && errno == ENOTDIR &&
				    was_made(rel)) {
					not_carried(rel, "a page");
					continue;
				}
				if (s < 0 && pass == 0 && errno == ENOTDIR &&
				    unlinkat(spare, name, 0) == 0 &&
				    mkdirat(spare, name, 0755) == 0)
					s = open_dir_at(spare, name);
				int c = pass == 0 ? open_dir_at(cur, name) : -1;
				(void)join_text(rel + rel_length,
				    path_size - rel_length, {name, "/"});
				if (s >= 0 && (pass == 1 || c >= 0)) {
					level_dir(c, s, rel, failures);
				} else {
					walk_failure(state.out_shown, rel, "");
					++*failures;
				}
				if (c >= 0)
					close(c);
				if (s >= 0)
					close(s);
				// Gone when it holds none of this run's pages.
				if (pass == 1 &&
				    unlinkat(spare, name, AT_REMOVEDIR) != 0 &&
				    errno != ENOTEMPTY && errno != EEXIST) {
					walk_failure(state.out_shown, rel, "");
					++*failures;
				}
				continue;
			}
			if (was_made(rel))
				continue;
			if (pass == 0 && type == entry_kind::regular) {
				struct stat cst, sst;
				if (fstatat(cur, name, &cst, AT_SYMLINK_NOFOLLOW) != 0)
					continue;
				bool have = fstatat(spare, name, &sst,
						AT_SYMLINK_NOFOLLOW) == 0;
				if (have && S_ISREG(sst.st_mode) &&
				    sst.st_size == cst.st_size && same_time(sst, cst)) {
					add_to_set(&carried_set, rel);
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
					walk_failure(state.out_shown, rel, "");
					++*failures;
				} else {
					add_to_set(&carried_set, rel);
				}
			} else if (pass == 1) {
				// Kept when the current one has it as a file.
				struct stat cst;
				if (type == entry_kind::regular && cur >= 0 &&
				    fstatat(cur, name, &cst, AT_SYMLINK_NOFOLLOW) ==
					0 &&
				    S_ISREG(cst.st_mode))
					continue;
				if (unlinkat(spare, name, 0) != 0) {
					walk_failure(state.out_shown, rel, "");
					++*failures;
				}
			}
		}
		platform_close_list(dir);
	}
	rel[rel_length] = '\0';
}

// Removes the generation name beside the root, which this tool made.
void
remove_generation(const char *name)
{
	int fd = open_dir_at(parent_fd, name);
	if (fd < 0)
		return;
	char rel[path_size] = "";
	int failures = 0;
	level_dir(-1, fd, rel, &failures);
	close(fd);
	int left = open_dir_at(parent_fd, name);
	if (left >= 0) {
		(void)unlinkat(left, marker_new_name, 0);
		(void)unlinkat(left, marker_name, 0);
		close(left);
	}
	if (unlinkat(parent_fd, name, AT_REMOVEDIR) != 0)
		std::fprintf(stderr, "%s/%s: not removed: %s\n", out_parent,
		    name, std::strerror(errno));
}

// Splits out_dir into the directory that holds it and its last name.
bool
split_out_dir()
{
	const char *slash = std::strrchr(state.out_dir, '/');
	std::string_view parent(
	    state.out_dir, static_cast<std::size_t>(slash - state.out_dir));
	return copy_text(out_parent, sizeof out_parent,
		   parent.empty() ? std::string_view("/") : parent) &&
	    copy_text(out_name, sizeof out_name, slash + 1);
}

// Picks the spare generation beside the root: the newest one made here
// that the link does not point to, or a new one. Older spares go.
int
choose_spare()
{
	int listed = openat(parent_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	platform_list *dir = listed >= 0 ? platform_list_dir(listed) : nullptr;
	if (dir == nullptr) {
		std::perror(out_parent);
		if (listed >= 0)
			close(listed);
		return -1;
	}
	char prefix[path_size];
	(void)join_text(prefix, sizeof prefix, {out_name, "."});
	struct stat cur;
	bool have_cur = fstat(state.current_fd, &cur) == 0;
	// At most a few: two in turn, and what a run killed at the wrong
	// moment left.
	char found[8][path_size];
	int count = 0;
	std::size_t newest = 0;
	const char *name;
	entry_kind kind;
	while (platform_next_entry(dir, parent_fd, &name, &kind)) {
		struct stat st;
		if (skip_prefix(name, prefix) == name || count == 8 ||
		    fstatat(parent_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
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
		(void)copy_text(spare_name, sizeof spare_name, found[newest]);
	if (spare_name[0] != '\0')
		return 0;

	if (!join_text(spare_name, sizeof spare_name, {out_name, spare_suffix})) {
		report_too_long({out_name, spare_suffix});
		return -1;
	}
	if (mkdirat(parent_fd, spare_name, 0755) != 0) {
		std::fprintf(stderr, "%s/%s: %s\n", out_parent, spare_name,
		    std::strerror(errno));
		return -1;
	}
	int fd = open_dir_at(parent_fd, spare_name);
	int marker = fd >= 0 ? openat(fd, marker_name,
				   O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)
			     : -1;
	bool written = marker >= 0 &&
	    write(marker, marker_text, sizeof marker_text - 1) ==
		static_cast<ssize_t>(sizeof marker_text - 1);
	if (marker >= 0 && close(marker) != 0)
		written = false;
	if (fd >= 0)
		close(fd);
	if (!written) {
		std::fprintf(stderr, "%s/%s/%s: %s\n", out_parent, spare_name,
		    marker_name, std::strerror(errno));
		return -1;
	}
	return 0;
}

// Readies publishing through the link out_dir.
int
prepare_generations()
{
	ssize_t n = readlinkat(
	    parent_fd, out_name, current_name, sizeof current_name - 1);
	if (n < 0) {
		std::perror(state.out_dir);
		return -1;
	}
	current_name[n] = '\0';
	(void)join_text(current_shown, sizeof current_shown,
	    {current_name[0] == '/' ? "" : out_parent,
		current_name[0] == '/' ? "" : "/", current_name});
	state.current_fd = openat(parent_fd, out_name,
	    O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (state.current_fd < 0) {
		std::perror(state.out_dir);
		return -1;
	}
	struct stat st;
	state.current_ours =
	    fstatat(state.current_fd, marker_name, &st, AT_SYMLINK_NOFOLLOW) ==
		0 &&
	    S_ISREG(st.st_mode);
	current_marker = read_marker(state.current_fd, current_marker_text,
	    sizeof current_marker_text, true);
	current_named = current_marker.complete &&
	    id_name(current_marker.id) == current_name;
	if (choose_spare() != 0)
		return -1;
	state.out_fd = open_dir_at(parent_fd, spare_name);
	if (state.out_fd < 0 ||
	    !join_text(state.out_shown, sizeof state.out_shown,
		{out_parent, "/", spare_name})) {
		std::fprintf(stderr, "%s/%s: %s\n", out_parent, spare_name,
		    std::strerror(errno));
		return -1;
	}
	spare_marker = read_marker(state.out_fd, spare_marker_text,
	    sizeof spare_marker_text, false);
	int error = reset_marker(state.out_fd);
	if (error != 0) {
		std::fprintf(stderr, "%s/%s: %s\n", state.out_shown, marker_name,
		    std::strerror(error));
		return -1;
	}
	both_complete = current_named && spare_marker.complete &&
	    id_name(spare_marker.id) == spare_name;
	use_list = both_complete && current_marker.listed &&
	    current_marker.after == spare_marker.id && fill_listed();
	state.out_fd_open = true;
	state.publishing = true;
	if (state.verbosity != 0)
		std::fprintf(stderr,
		    "Bringing \"%s\" up to date beside \"%s\" (now \"%s\")\n",
		    state.out_shown, state.out_dir, current_shown);
	return 0;
}

// Compares the current generation's page rel with text. True when equal;
// its modification time then goes into *when.
bool
current_holds(const char *rel, const char *text, std::size_t length,
    struct timespec *when)
{
	int fd = platform_open_beneath(state.current_fd, rel,
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

} // namespace

void
take_run_lock()
{
	const char *where = state.out_dir[0] != '\0' ? nullptr : state.top_dir;
	char parent[path_size];
	if (where == nullptr) {
		const char *slash = std::strrchr(state.out_dir, '/');
		if (!copy_text(parent, sizeof parent,
			slash == state.out_dir
			    ? std::string_view("/")
			    : std::string_view(state.out_dir,
				  static_cast<std::size_t>(
				      slash - state.out_dir))))
			return;
		where = parent;
	}
	// A descriptor of the directory itself, held to the end: no file is
	// left behind, and the lock goes with the process.
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

int
prepare_output()
{
	if (state.out_dir[0] == '\0')
		return 0;
	if (!split_out_dir()) {
		report_too_long({state.out_dir});
		return -1;
	}
	parent_fd = open(out_parent, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (parent_fd < 0) {
		std::perror(out_parent);
		return -1;
	}
	struct stat st;
	if (fstatat(parent_fd, out_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
		if (errno != ENOENT || mkdirat(parent_fd, out_name, 0755) != 0) {
			std::perror(state.out_dir);
			return -1;
		}
	} else if (S_ISLNK(st.st_mode)) {
		return prepare_generations();
	}
	state.out_fd = openat(parent_fd, out_name,
	    platform_dir_flags() | O_NOFOLLOW | O_CLOEXEC);
	if (state.out_fd < 0) {
		if (errno == ENOTDIR || errno == ELOOP)
			std::fprintf(
			    stderr, "%s is not a directory\n", state.out_dir);
		else
			std::perror(state.out_dir);
		return -1;
	}
	state.out_fd_open = true;
	(void)copy_text(state.out_shown, sizeof state.out_shown, state.out_dir);
	// A generation written into directly is not the one its marker
	// describes any more.
	int error = reset_marker(state.out_fd);
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
	if (!state.out_fd_open)
		return open_in_tree(path, flags, mode);
	const char *rel = below_top(path);
	if (rel == nullptr) {
		errno = platform_leads_out_error();
		return -1;
	}
	if (rel[0] == '\0')
		return dup(state.out_fd);
	int fd = platform_open_beneath(state.out_fd, rel, flags, mode);
	if (fd < 0 && errno == ENOENT && (flags & O_CREAT) != 0 &&
	    make_dirs(rel) == 0)
		fd = platform_open_beneath(state.out_fd, rel, flags, mode);
	int direct = platform_direct_flag();
	if (fd < 0 && errno == EINVAL && (flags & direct) != 0)
		return open_output(path, flags & ~direct, mode);
	return fd;
}

bool
output_shown(const char *path, char *buf, std::size_t size)
{
	const char *rel = state.out_fd_open ? below_top(path) : nullptr;
	if (rel == nullptr)
		return copy_text(buf, size, path);
	return join_text(
	    buf, size, {state.out_shown, rel[0] == '\0' ? "" : "/", rel});
}

int
settle_page(const char *path, int fd, const struct stat &before, bool same,
    bool compared, const char *text, std::size_t length)
{
	if (!state.publishing)
		return 0;
	const char *rel = below_top(path);
	if (rel == nullptr)
		return 0;
	// A page made twice leaves the list of changes unknown.
	bool first = note_made(rel);
	if (!first)
		changed_unknown = true;
	struct timespec when;
	if (first && use_list && compared) {
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
	if (same && state.current_ours && spare_marker.complete) {
		// Equal stat, equal bytes: nothing to do. Else the page
		// changed since the current generation. (A run that failed
		// in the spare generation may have cut a page back to its
		// old bytes, with a new time: then the bytes are compared.)
		struct stat cur;
		if (fstatat(state.current_fd, rel, &cur, AT_SYMLINK_NOFOLLOW) ==
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

int
finish_output(int unwritten)
{
	if (!state.publishing)
		return 0;
	int failures = 0;
	if (unwritten == 0) {
		if (made_overflow) {
			std::fprintf(stderr,
			    "%s: more than %zu pages to publish\n",
			    state.out_dir, made_slots / 4 * 3);
			failures++;
		} else if (!both_complete || made_set != current_marker.files ||
		    made_set != spare_marker.files) {
			// Else both hold just what this run made.
			char rel[path_size] = "";
			level_dir(state.current_fd, state.out_fd, rel, &failures);
		}
	}
	if (unwritten != 0 || failures != 0) {
		std::fprintf(stderr,
		    "%s: not switched: %d page%s not written; it still points "
		    "to \"%s\"\n",
		    state.out_dir, unwritten + failures,
		    unwritten + failures == 1 ? "" : "s", current_name);
		return failures;
	}
	char fresh[path_size];
	char temporary[path_size];
	if (!fresh_name(fresh, sizeof fresh) ||
	    !join_text(temporary, sizeof temporary, {".", out_name, ".switch"})) {
		report_too_long({out_name});
		return 1;
	}
	file_set files = {made_set.count + carried_set.count,
	    made_set.sum1 + carried_set.sum1, made_set.sum2 + carried_set.sum2};
	int error = write_marker(fresh, files);
	if (error != 0) {
		std::fprintf(stderr, "%s/%s: %s\n", state.out_shown, marker_name,
		    std::strerror(error));
		std::fprintf(stderr,
		    "%s: not switched; it still points to \"%s\"\n",
		    state.out_dir, current_name);
		return 1;
	}
	(void)unlinkat(parent_fd, temporary, 0);
	if (renameat(parent_fd, spare_name, parent_fd, fresh) != 0 ||
	    symlinkat(fresh, parent_fd, temporary) != 0 ||
	    renameat(parent_fd, temporary, parent_fd, out_name) != 0) {
		std::fprintf(stderr, "%s: not switched: %s\n", state.out_dir,
		    std::strerror(errno));
		(void)unlinkat(parent_fd, temporary, 0);
		return 1;
	}
	if (state.verbosity != 0)
		std::fprintf(stderr, "Switched \"%s\" from \"%s\" to \"%s\"\n",
		    state.out_dir, current_name, fresh);
	return 0;
}
