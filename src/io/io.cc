// Reading and writing files.
//
// Every read and write of a file's bytes goes through one pread or pwrite
// loop here, so that each retry is made in one place: after a signal, and
// once without direct I/O where a file system refuses it for the buffer,
// offset or length it was given.
#include "io/io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "state/messages.h"

namespace {

// One pread or pwrite, retried after EINTR, and once without direct I/O
// when the file system refuses it (EINVAL).
ssize_t
transfer(int fd, bool writing, char *buf, std::size_t size, off_t offset)
{
	for (bool retried = false;;) {
		ssize_t n = writing ? pwrite(fd, buf, size, offset)
				    : pread(fd, buf, size, offset);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0 && errno == EINVAL && !retried &&
		    platform_drop_direct(fd)) {
			retried = true;
			continue;
		}
		return n;
	}
}

} // namespace

ssize_t
read_full(int fd, char *buf, std::size_t size, off_t offset)
{
	// One read brings in a regular file whole; Linux caps a single read
	// near 2 GiB, so keep reading while a read brings anything.
	std::size_t got = 0;
	while (got < size) {
		ssize_t n = transfer(fd, false, buf + got, size - got,
		    offset + static_cast<off_t>(got));
		if (n < 0)
			return -1;
		if (n == 0)
			break;
		got += static_cast<std::size_t>(n);
	}
	return static_cast<ssize_t>(got);
}

int
write_full(int fd, const char *buf, std::size_t size, off_t offset)
{
	std::size_t done = 0;
	while (done < size) {
		// pwrite only reads the buffer.
		ssize_t n = transfer(fd, true, const_cast<char *>(buf + done),
		    size - done, offset + static_cast<off_t>(done));
		if (n < 0)
			return -1;
		if (n == 0) {
			errno = ENOSPC;
			return -1;
		}
		done += static_cast<std::size_t>(n);
	}
	return 0;
}

char *
load_open_file(int fd, const char *path, std::size_t *size_out)
{
	// The size is the opened file's, whatever stood at the path before.
	// Sizes are 32-bit counts; a file of 4 GiB or more is refused.
	struct stat st;
	int error = 0;
	if (fstat(fd, &st) != 0)
		error = errno;
	else if (S_ISDIR(st.st_mode))
		error = EISDIR;
	else if (static_cast<std::uint64_t>(st.st_size) >= UINT32_MAX)
		error = EFBIG;
	if (error != 0) {
		errno = error;
		say_error(path);
		return nullptr;
	}
	std::size_t size = static_cast<std::size_t>(st.st_size);
	char *text = static_cast<char *>(platform_alloc_text(size + 1));
	if (text == nullptr) {
		say_error("malloc failure");
		return nullptr;
	}
	ssize_t got = read_full(fd, text, size, 0);
	if (got < 0) {
		say_error(path);
		std::free(text);
		return nullptr;
	}
	if (static_cast<std::size_t>(got) != size) {
		say(stderr, "%s: file changed size while being read\n", path);
		std::free(text);
		return nullptr;
	}
	text[size] = '\0';
	if (size_out != nullptr)
		*size_out = size;
	return text;
}
