// Writing a finished README.html.
//
// The file is opened without truncating it and looked at before anything is
// written: whatever stands in its place (a FIFO, a device, a hard link to a
// file elsewhere) is refused and left as it is. A page whose bytes are
// already right is not written at all, and a changed page is written over
// the old one in place and cut only when the old one was longer: truncating
// every file of a tree to zero and writing it again makes some file systems
// start writeback of each one at close, which costs ten times the writes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "catalogue/catalogue.h"
#include "platform/platform.h"
#include "readme/readme.h"
#include "state/state.h"

namespace {

// The old file is compared with the new text a piece at a time.
constexpr std::size_t compare_piece = 64 * 1024;

// True when the file open on fd holds exactly the length bytes of text (its
// size is known to be length). A read that fails counts as a difference:
// the page is then written, which is never wrong.
bool
holds_text(int fd, const char *text, std::size_t length)
{
	static char piece[compare_piece];
	std::size_t done = 0;
	while (done < length) {
		std::size_t want =
		    length - done < sizeof piece ? length - done : sizeof piece;
		ssize_t n =
		    read_direct(fd, piece, want, static_cast<off_t>(done));
		if (n <= 0 ||
		    std::memcmp(
			piece, text + done, static_cast<std::size_t>(n)) != 0)
			return false;
		done += static_cast<std::size_t>(n);
	}
	return true;
}

// Writes all length bytes of text from the start of the file.
bool
write_from_start(int fd, const char *text, std::size_t length)
{
	std::size_t done = 0;
	while (done < length) {
		ssize_t n = write_direct(
		    fd, text + done, length - done, static_cast<off_t>(done));
		if (n < 0)
			return false;
		done += static_cast<std::size_t>(n);
	}
	return true;
}

void
refuse(const char *path, const char *why)
{
	std::fprintf(stderr, "%s: not written: %s\n", path, why);
}

// Opens path for writing (and for reading, where allowed, so that it can be
// compared) without truncating it and without ever blocking. -1 after the
// report.
int
open_readme(const char *path, bool *readable)
{
	int flags = O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY |
	    platform_direct_flag();
	*readable = true;
	int fd = open_in_tree(path, O_RDWR | flags, 0644);
	if (fd < 0 && errno == EACCES) {
		// Writable but not readable: written without comparing.
		*readable = false;
		fd = open_in_tree(path, O_WRONLY | flags, 0644);
	}
	if (fd >= 0)
		return fd;
	struct stat st;
	int error = errno;
	if (error == ENXIO) {
		// Write-only and non-blocking: a FIFO without a reader.
		refuse(path, "not a regular file");
	} else if ((error == ELOOP || error == EMLINK) &&
	    lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
		// The systems disagree on the error of O_NOFOLLOW.
		refuse(path, "it is a symbolic link");
	} else {
		errno = error;
		report_open_failure(path, "written");
	}
	return -1;
}

} // namespace

int
write_file(const char *dir, std::string_view name, const char *text,
    std::size_t length)
{
	char path[path_size];
	if (!join_text(path, sizeof path, {dir, "/", name})) {
		report_too_long({dir, "/", name});
		return 1;
	}
	bool readable = false;
	int fd = open_readme(path, &readable);
	if (fd < 0)
		return 1;

	struct stat st;
	const char *refusal = nullptr;
	if (fstat(fd, &st) != 0) {
		std::perror(path);
		close(fd);
		return 1;
	}
	if (!S_ISREG(st.st_mode))
		refusal = "not a regular file";
	else if (st.st_nlink > 1)
		refusal = "the file has other hard links";
	if (refusal != nullptr) {
		refuse(path, refusal);
		close(fd);
		return 1;
	}

	std::size_t old_size = static_cast<std::size_t>(st.st_size);
	bool same =
	    readable && old_size == length && holds_text(fd, text, length);
	if (!same) {
		if (!write_from_start(fd, text, length) ||
		    (old_size > length &&
			ftruncate(fd, static_cast<off_t>(length)) != 0)) {
			std::perror(path);
			close(fd);
			return 1;
		}
	}
	// A delayed write error (a full disk, NFS) shows only here.
	if (close(fd) != 0) {
		std::perror(path);
		return 1;
	}
	return 0;
}

int
write_readme(const char *dir, const char *text, std::size_t length)
{
	return write_file(dir, "README.html", text, length);
}

int
finish_readme(const char *dir, const char *out, const char *text_end,
    std::size_t buffer_size)
{
	if (text_end == nullptr) {
		std::fprintf(stderr,
		    "%s/README.html: text would exceed its %zu-byte buffer; "
		    "not written\n",
		    dir, buffer_size);
		return 1;
	}
	return write_readme(dir, out, static_cast<std::size_t>(text_end - out));
}
