// FreeBSD and Linux branches of the platform calls.
#include "platform/platform.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#if __has_include(<signal.h>)
#include <csignal>
#endif
// Every system the tool runs on has these; the FreeBSD header set of the
// compile check has not, and there listing and locking fail with ENOSYS.
#if __has_include(<dirent.h>) && __has_include(<sys/file.h>)
#define HAVE_DIRENT_FLOCK 1
#include <dirent.h>
#include <sys/file.h>
#endif

#ifdef __FreeBSD__
#include <sys/types.h> // rtprio(2) asks for it first
#include <sys/rtprio.h>
#else
#include <linux/openat2.h>
#include <sched.h>
#include <sys/syscall.h>
#endif

#include <cerrno>

#ifdef __FreeBSD__
const char platform_optstring[] = ":c:hj:no:p:qt:u:Vv";
#else
// glibc reorders arguments unless the option string begins with '+'; the
// ':' after it still keeps getopt silent about errors.
const char platform_optstring[] = "+:c:hj:no:p:qt:u:Vv";
#endif

void
platform_reset_getopt()
{
#ifdef __FreeBSD__
	optind = 1;
	optreset = 1;
#else
	optind = 0; // glibc: a full re-initialisation
#endif
}

int
platform_release(char *buf, std::size_t size)
{
	const char *release = std::getenv("UNAME_r");
	struct utsname names;
	if (release == nullptr) {
		if (uname(&names) != 0) {
			std::perror("uname()");
			return -1;
		}
		release = names.release;
	}
	std::snprintf(buf, size, "%s", release);
	return 0;
}

int
platform_direct_flag()
{
#if defined(__FreeBSD__) || defined(QUILLMARK_DIRECT_IO)
	return O_DIRECT;
#else
	return 0;
#endif
}

bool
platform_drop_direct(int fd)
{
	int direct = platform_direct_flag();
	if (direct == 0)
		return false;
	int flags = fcntl(fd, F_GETFL);
	if (flags < 0 || (flags & direct) == 0)
		return false;
	return fcntl(fd, F_SETFL, flags & ~direct) == 0;
}

int
platform_dir_flags()
{
#if defined(O_PATH)
	return O_PATH | O_DIRECTORY;
#elif defined(O_SEARCH)
	return O_SEARCH | O_DIRECTORY;
#else
	return O_RDONLY | O_DIRECTORY;
#endif
}

void
platform_raise_priority()
{
#ifdef __FreeBSD__
	struct rtprio rtp = {RTP_PRIO_REALTIME, 0};
	(void)rtprio(RTP_SET, 0, &rtp);
#else
	struct sched_param param = {};
	param.sched_priority = sched_get_priority_max(SCHED_FIFO);
	if (param.sched_priority >= 0)
		(void)sched_setscheduler(0, SCHED_FIFO, &param);
#endif
}

int
platform_walk_parent(int dirfd, const char *rel, bool make, const char **last)
{
	char part[name_buffer_size];
	int fd = dirfd;
	const char *pos = rel;
	for (;;) {
		std::size_t n = std::strcspn(pos, "/");
		if (pos[n] == '\0') {
			*last = pos;
			return fd;
		}
		int saved = 0;
		if (n >= sizeof part)
			saved = ENAMETOOLONG;
		else if (n == 2 && pos[0] == '.' && pos[1] == '.')
			saved = platform_leads_out_error();
		int next = -1;
		if (saved == 0) {
			std::memcpy(part, pos, n);
			part[n] = '\0';
			if (!make || mkdirat(fd, part, 0755) == 0 ||
			    errno == EEXIST)
				next = openat(fd, part,
				    platform_dir_flags() | O_NOFOLLOW |
					O_CLOEXEC);
			saved = errno;
			struct stat st;
			if (next < 0 && (saved == ELOOP || saved == ENOTDIR) &&
			    fstatat(fd, part, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
			    S_ISLNK(st.st_mode))
				saved = platform_leads_out_error(); // never followed
		}
		if (fd != dirfd)
			close(fd);
		if (next < 0) {
			errno = saved;
			return -1;
		}
		fd = next;
		pos += n + 1;
	}
}

#ifndef __FreeBSD__
// For kernels without openat2: walk the directories one by one, refusing
// every symbolic link on the way, which is stricter than needed but never
// leads out.
int
platform_open_walking(int dirfd, const char *rel, int flags, int mode)
{
	const char *name;
	int fd = platform_walk_parent(dirfd, rel, false, &name);
	if (fd < 0)
		return -1;
	// The last name is not followed either: a link there could lead
	// anywhere.
	int file = openat(fd, name, flags | O_NOFOLLOW, mode);
	int saved = errno;
	struct stat st;
	if (file < 0 && (flags & O_NOFOLLOW) == 0 && saved == ELOOP &&
	    fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
	    S_ISLNK(st.st_mode))
		saved = EXDEV;
	if (fd != dirfd)
		close(fd);
	errno = saved;
	return file;
}
#endif

#ifndef __FreeBSD__
// openat2, which the C library does not wrap.
static long
call_openat2(int dirfd, const char *rel, struct open_how *how)
{
#ifdef QUILLMARK_TEST_SEAMS
	// QUILLMARK_TEST_NO_OPENAT2=ERRNO fails every call with errno ERRNO,
	// as a kernel without openat2 (ENOSYS) or a sandbox that filters it
	// out (EPERM) does.
	const char *error = std::getenv("QUILLMARK_TEST_NO_OPENAT2");
	if (error != nullptr) {
		errno = std::atoi(error);
		return -1;
	}
#endif
	return syscall(SYS_openat2, dirfd, rel, how, sizeof *how);
}
#endif

int
platform_open_beneath(int dirfd, const char *rel, int flags, int mode)
{
#ifdef __FreeBSD__
	return openat(dirfd, rel, flags | O_RESOLVE_BENEATH, mode);
#else
	struct open_how how = {};
	how.flags = static_cast<unsigned long long>(flags);
	how.mode =
	    (flags & O_CREAT) != 0 ? static_cast<unsigned long long>(mode) : 0;
	how.resolve = RESOLVE_BENEATH;
	long fd = call_openat2(dirfd, rel, &how);
	// Without openat2 (an old kernel, or a sandbox that filters it out,
	// answering ENOSYS or EPERM), walk the path by hand.
	if (fd < 0 && (errno == ENOSYS || errno == EPERM))
		return platform_open_walking(dirfd, rel, flags, mode);
	return static_cast<int>(fd);
#endif
}

bool
platform_leads_out(int error)
{
#ifdef __FreeBSD__
	return error == ENOTCAPABLE;
#else
	return error == EXDEV;
#endif
}

int
platform_close_output(int fd, [[maybe_unused]] const char *path)
{
	int result = close(fd);
#ifdef QUILLMARK_TEST_SEAMS
	// QUILLMARK_TEST_FAIL_CLOSE=ERRNO:SUFFIX fails the close of a path
	// that ends in SUFFIX with errno ERRNO.
	const char *fail = std::getenv("QUILLMARK_TEST_FAIL_CLOSE");
	char *suffix = nullptr;
	long error = fail != nullptr ? std::strtol(fail, &suffix, 10) : 0;
	if (error > 0 && *suffix++ == ':') {
		std::size_t n = std::strlen(path);
		std::size_t m = std::strlen(suffix);
		if (n >= m && std::strcmp(path + n - m, suffix) == 0) {
			errno = static_cast<int>(error);
			return -1;
		}
	}
#endif
	return result;
}

int
platform_leads_out_error()
{
#ifdef __FreeBSD__
	return ENOTCAPABLE;
#else
	return EXDEV;
#endif
}

void *
platform_alloc_text(std::size_t size)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
	constexpr std::size_t huge = std::size_t{2} << 20;
	if (size >= huge) {
		std::size_t rounded = (size + huge - 1) / huge * huge;
		void *text = std::aligned_alloc(huge, rounded);
		if (text != nullptr)
			(void)madvise(text, rounded, MADV_HUGEPAGE);
		return text;
	}
#endif
	return std::malloc(size);
}

void *
platform_alloc(std::size_t size)
{
#ifdef QUILLMARK_TEST_SEAMS
	// QUILLMARK_TEST_FAIL_ALLOC=N fails the Nth allocation of the run,
	// as a memory limit would.
	static int made = 0;
	const char *fail = std::getenv("QUILLMARK_TEST_FAIL_ALLOC");
	if (fail != nullptr && ++made == std::atoi(fail)) {
		errno = ENOMEM;
		return nullptr;
	}
#endif
	return std::calloc(1, size);
}

long long
platform_now()
{
#ifdef QUILLMARK_TEST_SEAMS
	// QUILLMARK_TEST_NOW=SECONDS stands for the clock.
	const char *now = std::getenv("QUILLMARK_TEST_NOW");
	if (now != nullptr)
		return std::atoll(now);
#endif
	return static_cast<long long>(std::time(nullptr));
}

void
platform_ignore_broken_pipe()
{
#if __has_include(<signal.h>)
	(void)std::signal(SIGPIPE, SIG_IGN);
#endif
}

#ifdef HAVE_DIRENT_FLOCK
// A listing is the system's DIR, under a name of this layer's.
static DIR *
dir_of(platform_list *list)
{
	return reinterpret_cast<DIR *>(list);
}

platform_list *
platform_list_dir(int fd)
{
	DIR *dir = fdopendir(fd);
	if (dir == nullptr)
		return nullptr;
	// A descriptor duplicated from one listed before shares its offset.
	rewinddir(dir);
	return reinterpret_cast<platform_list *>(dir);
}

bool
platform_next_entry(
    platform_list *list, int dirfd, const char **name, entry_kind *kind)
{
	struct dirent *e;
	do {
		e = readdir(dir_of(list));
		if (e == nullptr)
			return false;
	} while (std::strcmp(e->d_name, ".") == 0 ||
	    std::strcmp(e->d_name, "..") == 0);
	*name = e->d_name;
	if (e->d_type != DT_UNKNOWN) {
		*kind = e->d_type == DT_DIR ? entry_kind::directory
		    : e->d_type == DT_REG   ? entry_kind::regular
					    : entry_kind::other;
		return true;
	}
	struct stat st;
	if (fstatat(dirfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
		*kind = entry_kind::unknown;
	else
		*kind = S_ISDIR(st.st_mode) ? entry_kind::directory
		    : S_ISREG(st.st_mode)   ? entry_kind::regular
					    : entry_kind::other;
	return true;
}

void
platform_close_list(platform_list *list)
{
	closedir(dir_of(list));
}

int
platform_lock(int fd, bool wait)
{
	int result;
	while ((result = flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB)) != 0 &&
	    errno == EINTR) {
	}
	return result;
}
#else

platform_list *
platform_list_dir(int)
{
	errno = ENOSYS;
	return nullptr;
}

bool
platform_next_entry(platform_list *, int, const char **, entry_kind *)
{
	return false;
}

void
platform_close_list(platform_list *)
{
}

int
platform_lock(int, bool)
{
	errno = ENOSYS;
	return -1;
}
#endif
