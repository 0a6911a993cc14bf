// measure: runs one command and reports what it cost.
//
// usage: measure [-o FILE] [-q] command [argument ...]
//
// The command runs as a child with the same standard input, output and error
// (with -q its standard output goes to /dev/null). When it ends, one line is
// appended to FILE (or written to standard output):
//
//	wall=SECONDS user=SECONDS sys=SECONDS maxrss_kib=N minflt=N majflt=N
//	    nvcsw=N nivcsw=N status=N
//
// Wall time is taken on the monotonic clock from just before fork to just
// after wait4; user and system time, the peak resident set, the page faults
// and the context switches (voluntary ones are mostly waits for the disk)
// come from the child's rusage. The exit status of measure is that of the
// command, or 128 plus the signal that ended it.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

double
seconds(const struct timeval &tv)
{
	return static_cast<double>(tv.tv_sec) +
	    static_cast<double>(tv.tv_usec) / 1e6;
}

double
seconds(const struct timespec &ts)
{
	return static_cast<double>(ts.tv_sec) +
	    static_cast<double>(ts.tv_nsec) / 1e9;
}

int
usage()
{
	std::fputs("usage: measure [-o file] [-q] command [argument ...]\n",
	    stderr);
	return 2;
}

} // namespace

int
main(int argc, char **argv)
{
	const char *out_path = nullptr;
	bool quiet = false;
	int i = 1;
	for (; i < argc && argv[i][0] == '-'; i++) {
		if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc)
			out_path = argv[++i];
		else if (std::strcmp(argv[i], "-q") == 0)
			quiet = true;
		else if (std::strcmp(argv[i], "--") == 0) {
			i++;
			break;
		} else
			return usage();
	}
	if (i >= argc)
		return usage();

	struct timespec start, stop;
	(void)clock_gettime(CLOCK_MONOTONIC, &start);
	pid_t pid = fork();
	if (pid < 0) {
		std::perror("fork");
		return 125;
	}
	if (pid == 0) {
		if (quiet) {
			int fd = open("/dev/null", O_WRONLY);
			if (fd >= 0) {
				(void)dup2(fd, STDOUT_FILENO);
				(void)close(fd);
			}
		}
		execvp(argv[i], argv + i);
		std::perror(argv[i]);
		_exit(127);
	}

	int status;
	struct rusage ru;
	while (wait4(pid, &status, 0, &ru) < 0) {
		if (errno != EINTR) {
			std::perror("wait4");
			return 125;
		}
	}
	(void)clock_gettime(CLOCK_MONOTONIC, &stop);

	int code = WIFEXITED(status) ? WEXITSTATUS(status) :
	    WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 125;

	FILE *out = stdout;
	if (out_path != nullptr && (out = std::fopen(out_path, "a")) == nullptr) {
		std::perror(out_path);
		return 125;
	}
	// ru_maxrss is in kilobytes on Linux and FreeBSD alike.
	std::fprintf(out, "wall=%.6f user=%.6f sys=%.6f maxrss_kib=%ld "
	    "minflt=%ld majflt=%ld nvcsw=%ld nivcsw=%ld status=%d\n",
	    seconds(stop) - seconds(start), seconds(ru.ru_utime),
	    seconds(ru.ru_stime), ru.ru_maxrss, ru.ru_minflt, ru.ru_majflt,
	    ru.ru_nvcsw, ru.ru_nivcsw, code);
	if (out != stdout && std::fclose(out) != 0) {
		std::perror(out_path);
		return 125;
	}
	return code;
}
