// Writing a finished page.
//
// The file is opened without truncating it and looked at before anything is
// written: whatever stands in its place (a FIFO, a device, a hard link to a
// file elsewhere) is refused and left as it is. A page whose bytes are
// already right is not written at all, and a changed page is written over
// the old one in place and cut only when the old one was longer: truncating
// every file of a tree to zero and writing it again makes some file systems
// start writeback of each one at close, which costs ten times the writes.
// A page that grows gets its room before its old bytes are touched, so a
// full file system leaves the old page whole, and a page the run created
// and could not write whole is removed again: a failed page is never left
// cut or empty where a reader or a later run would take it for a page.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "catalogue/catalogue.h"
#include "io/io.h"
#include "platform/platform.h"
#include "site/site.h"
#include "site/site_state.h"
#include "sitefiles/sitefiles.h"
#include "state/state.h"
#include "text/bounded.h"

namespace {

void
refuse(const char *path, const char *why)
{
	std::fprintf(stderr, "%s: not written: %s\n", path, why);
}

// The calls whose failure a page's message reports.
enum failed_call : int { call_open, call_stat, call_write, call_close };

// After this many failures of one call with one errno, a run where every
// page fails alike (a tree this user cannot write, a full disk) says no
// more of them page by page: the rest are counted and summed up at the
// end, unless -v asks for every one.
constexpr unsigned long failures_shown = 100;

// Counts a page's failure; true when it is to be reported.
bool
count_failure(failed_call call, int error)
{
	std::size_t i = 0;
	while (i < site.failure_kinds &&
	    (site.failures[i].call != call || site.failures[i].error != error))
		i++;
	if (i == site.failure_kinds) {
		if (i == std::size(site.failures))
			return true; // kinds beyond the table are all shown
		site.failures[i] = {call, error, 0};
		site.failure_kinds++;
	}
	return ++site.failures[i].count <= failures_shown ||
	    state.verbosity > 0;
}

// Removes what stands at path, when it is not a directory, in the
// generation a run publishing through a link makes: that directory is the
// run's own and no reader sees it, so a FIFO, a symbolic link or a hard
// link where a page goes (left there when it was the current generation)
// gives way to the page rather than being refused at every later run.
// True when something was removed.
bool
clear_in_spare(const char *path)
{
	if (!site.publishing)
		return false;
	const char *slash = std::strrchr(path, '/');
	char dir[path_size];
	if (slash == nullptr ||
	    !copy_text(dir, sizeof dir,
		std::string_view(path, static_cast<std::size_t>(slash - path))))
		return false;
	int dirfd = open_output(dir, platform_dir_flags(), 0);
	if (dirfd < 0)
		return false;
	struct stat st;
	bool removed =
	    fstatat(dirfd, slash + 1, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
	    !S_ISDIR(st.st_mode) && unlinkat(dirfd, slash + 1, 0) == 0;
	close(dirfd);
	return removed;
}

// Opens path for writing (and for reading, where allowed, so that it can be
// compared) without truncating it and without ever blocking; shown is its
// path as messages show it. A missing file is created, and *created tells
// so: a page that then cannot be written whole is removed again. -1 after
// the report.
int
open_readme(const char *path, const char *shown, bool *readable, bool *created,
    bool may_clear = true)
{
	int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | platform_direct_flag();
	*readable = true;
	*created = false;
	int access = O_RDWR;
	int fd = open_output(path, access | flags, 0);
	if (fd < 0 && errno == EACCES) {
		// Writable but not readable: written without comparing.
		*readable = false;
		access = O_WRONLY;
		fd = open_output(path, access | flags, 0);
	}
	if (fd < 0 && errno == ENOENT) {
		fd = open_output(path, access | flags | O_CREAT | O_EXCL, 0644);
		*created = fd >= 0;
		// Made by another meanwhile: opened as it is.
		if (fd < 0 && errno == EEXIST)
			fd = open_output(path, access | flags, 0);
	}
	if (fd >= 0)
		return fd;
	if ((errno == ENXIO || errno == ELOOP || errno == EMLINK) &&
	    may_clear && clear_in_spare(path))
		return open_readme(path, shown, readable, created, false);
	struct stat st;
	int error = errno;
	if (error == ENXIO) {
		// Write-only and non-blocking: a FIFO without a reader.
		refuse(shown, "not a regular file");
	} else if ((error == ELOOP || error == EMLINK) &&
	    lstat(shown, &st) == 0 && S_ISLNK(st.st_mode)) {
		// The systems disagree on the error of O_NOFOLLOW.
		refuse(shown, "it is a symbolic link");
	} else if (state.out_dir[0] != '\0' && platform_leads_out(error)) {
		refuse(shown, "the path leads out of the output directory");
	} else {
		if (error == EACCES)
			site.pages_denied++;
		// A missing port directory in place is reported whatever the
		// count: it is not a page that failed.
		bool missing_dir = error == ENOENT && state.out_dir[0] == '\0';
		if (missing_dir || count_failure(call_open, error)) {
			errno = error;
			report_open_failure(shown, "written");
		}
		errno = error;
	}
	return -1;
}

// Makes room for a page that grows from old_size to length bytes before a
// byte of the old page is touched, so that a full file system leaves the
// old page whole. True when the room is there, or when the file system
// cannot reserve it (it is then written as it comes); false with errno set
// after the file is cut back to its old length.
bool
reserve(int fd, std::size_t old_size, std::size_t length)
{
	if (length <= old_size)
		return true;
	int error = posix_fallocate(fd, static_cast<off_t>(old_size),
	    static_cast<off_t>(length - old_size));
	if (error == 0 || error == EINVAL || error == EOPNOTSUPP)
		return true;
	// Some of the room may have been taken before it ran out.
	(void)ftruncate(fd, static_cast<off_t>(old_size));
	errno = error;
	return false;
}

// Writes the page over the open file of old_size bytes: its room first,
// then its bytes from the start, then the cut of what the old one had
// beyond them. False with errno set.
bool
write_page(int fd, const char *text, std::size_t length, std::size_t old_size)
{
	return reserve(fd, old_size, length) &&
	    write_full(fd, text, length, 0) == 0 &&
	    (old_size <= length ||
		ftruncate(fd, static_cast<off_t>(length)) == 0);
}

// Removes the README.html at path that this run created, when it is still
// the file st describes: through its directory, opened beneath the top, so
// that nothing but that file can be removed.
void
remove_created(const char *path, const struct stat &st)
{
	const char *slash = std::strrchr(path, '/');
	char dir[path_size];
	if (!copy_text(dir, sizeof dir,
		std::string_view(path, static_cast<std::size_t>(slash - path))))
		return;
	int dirfd = state.out_dir[0] != '\0'
	    ? open_output(dir, platform_dir_flags(), 0)
	    : std::strcmp(dir, state.top_dir) == 0
	    ? dup(tree_fd())
	    : open_in_tree(dir, platform_dir_flags(), 0);
	if (dirfd < 0)
		return;
	struct stat now;
	if (fstatat(dirfd, slash + 1, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
	    now.st_dev == st.st_dev && now.st_ino == st.st_ino)
		(void)unlinkat(dirfd, slash + 1, 0);
	close(dirfd);
}

} // namespace

bool
file_holds(int fd, const char *text, std::size_t length)
{
	// The old file is compared with the new text a piece at a time.
	static char piece[64 * 1024];
	std::size_t done = 0;
	while (done < length) {
		std::size_t want =
		    length - done < sizeof piece ? length - done : sizeof piece;
		if (read_full(fd, piece, want, static_cast<off_t>(done)) !=
			static_cast<ssize_t>(want) ||
		    std::memcmp(piece, text + done, want) != 0)
			return false;
		done += want;
	}
	return true;
}

bool
output_holds(const char *dir, std::string_view name, const char *text,
    std::size_t length)
{
	char path[path_size];
	if (site.publishing || !join_text(path, sizeof path, {dir, "/", name}))
		return false;
	int fd =
	    open_output(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0);
	if (fd < 0)
		return false;
	struct stat st;
	bool holds = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
	    st.st_nlink == 1 &&
	    static_cast<std::size_t>(st.st_size) == length &&
	    file_holds(fd, text, length);
	close(fd);
	return holds;
}

int
write_file(const char *dir, std::string_view name, const char *text,
    std::size_t length)
{
	char path[path_size];
	if (!join_text(path, sizeof path, {dir, "/", name})) {
		report_too_long({dir, "/", name});
		return 1;
	}
	// With -o, messages name the file written below the output root.
	char shown[path_size];
	if (!output_shown(path, shown, sizeof shown)) {
		report_too_long({state.out_dir, "/", path});
		return 1;
	}
	bool readable = false;
	bool created = false;
	site.pages_tried++;
	struct stat st;
	int fd = -1;
	for (bool cleared = false;; cleared = true) {
		fd = open_readme(path, shown, &readable, &created);
		// A port directory missing from the tree is tree data, as a
		// port missing from the INDEX is: reported, but not a page
		// that failed. Below an output root, directories are made as
		// needed.
		if (fd < 0 && errno == ENOENT && state.out_dir[0] == '\0')
			return 0;
		if (fd < 0)
			return 1;
		if (fstat(fd, &st) != 0) {
			if (count_failure(call_stat, errno))
				std::perror(shown);
			close(fd);
			return 1;
		}
		const char *refusal = nullptr;
		if (!S_ISREG(st.st_mode))
			refusal = "not a regular file";
		else if (st.st_nlink > 1)
			refusal = "the file has other hard links";
		if (refusal == nullptr)
			break;
		close(fd);
		if (cleared || !clear_in_spare(path)) {
			refuse(shown, refusal);
			return 1;
		}
	}

	std::size_t old_size = static_cast<std::size_t>(st.st_size);
	bool same =
	    readable && old_size == length && file_holds(fd, text, length);
	int error = 0;
	failed_call call = call_write;
	if (!same && !write_page(fd, text, length, old_size))
		error = errno;
	// Published through a link: the time a reader should see.
	if (error == 0)
		error = settle_page(
		    path, fd, st, same, readable && !created, text, length);
	if (error == 0 && name.ends_with(".html"))
		sitemap_note(path, fd);
	// A delayed write error (a full disk, NFS) shows only here.
	if (platform_close_output(fd, path) != 0 && error == 0) {
		error = errno;
		call = call_close;
	}
	if (error == 0)
		return 0;
	// A page this run began is not left behind cut or empty.
	if (created)
		remove_created(path, st);
	if (count_failure(call, error)) {
		errno = error;
		std::perror(shown);
	}
	return 1;
}

// Writes n with a comma between each three digits: 25,300.
static void
print_count(unsigned long n)
{
	if (n >= 1000) {
		print_count(n / 1000);
		std::fprintf(stderr, ",%03lu", n % 1000);
	} else {
		std::fprintf(stderr, "%lu", n);
	}
}

void
report_page_failures()
{
	for (std::size_t i = 0; i < site.failure_kinds; i++) {
		const site_state::failure_kind &kind = site.failures[i];
		if (kind.count <= failures_shown || state.verbosity > 0)
			continue;
		std::fputs("... and ", stderr);
		print_count(kind.count - failures_shown);
		std::fprintf(stderr, " more README.html files not written: %s\n",
		    std::strerror(kind.error));
	}
	// Every page of an in-place run refused: the tree is not this
	// user's to write, but its pages can be published elsewhere.
	if (state.out_dir[0] == '\0' && site.pages_tried > 0 &&
	    site.pages_denied == site.pages_tried && hints_wanted())
		std::fputs("hint: this user may not write the tree's pages; "
			   "write them below a directory of its own with "
			   "-o DIR\n",
		    stderr);
}

int
write_readme(const char *dir, const char *text, std::size_t length)
{
	return write_file(dir, "README.html", text, length);
}
