// Spawns the tool with a controlled argument vector, environment and working
// directory, and reads both of its output streams without deadlocking on
// either pipe.
#include "harness.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace qmtest {

std::vector<std::string>
base_env()
{
	return {"PATH=/usr/bin:/bin", "UNAME_r=15.0-RELEASE"};
}

std::string
source_dir()
{
	return QUILLMARK_SOURCE_DIR;
}

std::string
binary_path()
{
	return QUILLMARK_BIN;
}

std::string
testing_binary_path()
{
	return QUILLMARK_TESTING_BIN;
}

bool
running_as_root()
{
	return geteuid() == 0;
}

std::string
copy_for_others(const std::string &program)
{
	// One directory of /tmp open to all, made once per test program and
	// removed when it ends; a numbered directory in it for each program,
	// so that every copy keeps its name.
	static TempDir dir;
	static std::mutex lock;
	static std::map<std::string, std::string> copies;
	std::lock_guard<std::mutex> held(lock);
	auto [it, fresh] = copies.try_emplace(program);
	if (fresh) {
		std::string place = dir / std::to_string(copies.size());
		fs::create_directory(place);
		chmod(place.c_str(), 0755);
		it->second = place + "/" + fs::path(program).filename().string();
		fs::copy_file(program, it->second);
		chmod(it->second.c_str(), 0755);
	}
	return it->second;
}

// What the child tells the parent, through a pipe closed by a successful
// exec, when it could not start the tool.
struct StartFailure {
	int step;	// index into start_steps
	int error;	// errno
};
static const char *const start_steps[] = {"chdir to the working directory",
    "setrlimit(RLIMIT_FSIZE)", "switch to uid/gid 65534", "execve"};

Result
run_tool(const std::vector<std::string> &args, const RunOptions &opt)
{
	int out_pipe[2], err_pipe[2], fail_pipe[2];
	if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0 ||
	    pipe2(fail_pipe, O_CLOEXEC) != 0)
		throw std::runtime_error("pipe");
	if (opt.err_on_terminal) {
		// Standard error is the pty's other end; its output comes back
		// through the master as it would from a pipe.
		int master = posix_openpt(O_RDWR | O_NOCTTY);
		if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
			throw std::runtime_error("posix_openpt");
		int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
		if (terminal < 0)
			throw std::runtime_error("open the pty");
		struct termios tio;
		if (tcgetattr(terminal, &tio) == 0) {
			tio.c_oflag &= ~static_cast<tcflag_t>(OPOST); // no "\r\n"
			tcsetattr(terminal, TCSANOW, &tio);
		}
		close(err_pipe[0]);
		close(err_pipe[1]);
		err_pipe[0] = master;
		err_pipe[1] = terminal;
	}
	std::string bin = !opt.binary.empty() ? opt.binary : binary_path();
	if (opt.as_nobody)
		bin = copy_for_others(bin);
	pid_t pid = fork();
	if (pid < 0)
		throw std::runtime_error("fork");
	if (pid == 0) {
		auto fail = [&](int step) {
			StartFailure f = {step, errno};
			(void)!write(fail_pipe[1], &f, sizeof f);
			_exit(127);
		};
		dup2(out_pipe[1], 1);
		dup2(opt.err_to_out ? out_pipe[1] : err_pipe[1], 2);
		if (!opt.out_path.empty())
			dup2(open(opt.out_path.c_str(), O_WRONLY), 1);
		if (opt.out_closed) {
			// As a shell leaves it: SIGPIPE at its default.
			int gone[2];
			if (pipe(gone) == 0) {
				dup2(gone[1], 1);
				close(gone[0]);
				close(gone[1]);
			}
			signal(SIGPIPE, SIG_DFL);
		}
		close(out_pipe[0]);
		close(out_pipe[1]);
		close(err_pipe[0]);
		close(err_pipe[1]);
		close(fail_pipe[0]);
		int devnull = open("/dev/null", O_RDONLY);
		if (devnull >= 0)
			dup2(devnull, 0);
		if (!opt.cwd.empty() && chdir(opt.cwd.c_str()) != 0)
			fail(0);
		if (opt.fsize_limit >= 0) {
			signal(SIGXFSZ, SIG_IGN);
			struct rlimit rl = {(rlim_t)opt.fsize_limit, (rlim_t)opt.fsize_limit};
			if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
				fail(1);
		}
		if (opt.as_nobody) {
			if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 ||
			    setuid(65534) != 0)
				fail(2);
		}
		std::vector<char *> argv, envp;
		argv.push_back(bin.data());
		std::vector<std::string> a = args, e = opt.env;
		for (auto &s : a)
			argv.push_back(s.data());
		argv.push_back(nullptr);
		for (auto &s : e)
			envp.push_back(s.data());
		envp.push_back(nullptr);
		execve(bin.c_str(), argv.data(), envp.data());
		fail(3);
	}
	close(out_pipe[1]);
	close(err_pipe[1]);
	close(fail_pipe[1]);
	Result r;
	struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
	std::string *sinks[2] = {&r.out, &r.err};
	int open_fds = 2;
	char buf[65536];
	auto deadline = std::chrono::steady_clock::now() +
	    std::chrono::seconds(opt.timeout_seconds);
	bool killed = false;
	while (open_fds > 0) {
		auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
		    deadline - std::chrono::steady_clock::now()).count();
		if (left <= 0 && !killed) {
			// A tool that hangs must fail its test, not stall the suite.
			kill(pid, SIGKILL);
			killed = true;
			ADD_FAILURE() << "quillmark did not finish within "
				      << opt.timeout_seconds << " s and was killed";
		}
		int ready = poll(fds, 2, killed ? -1 : static_cast<int>(left));
		if (ready < 0) {
			if (errno == EINTR)
				continue;
			break;
		}
		for (int i = 0; i < 2; i++) {
			if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
				continue;
			ssize_t n = read(fds[i].fd, buf, sizeof buf);
			if (n > 0) {
				sinks[i]->append(buf, (size_t)n);
			} else {
				close(fds[i].fd);
				fds[i].fd = -1;
				open_fds--;
			}
		}
	}
	int status = 0;
	while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
		;
	StartFailure f;
	ssize_t got = read(fail_pipe[0], &f, sizeof f);
	close(fail_pipe[0]);
	if (got == (ssize_t)sizeof f)
		throw std::runtime_error("the tool was not run: " +
		    std::string(start_steps[f.step]) + " failed for " + bin +
		    (opt.as_nobody ? " as uid 65534" : "") + ": " +
		    std::strerror(f.error));
	if (WIFEXITED(status))
		r.status = WEXITSTATUS(status);
	else if (WIFSIGNALED(status))
		r.status = 128 + WTERMSIG(status);
	return r;
}

std::string
read_file(const std::string &path)
{
	std::ifstream in(path, std::ios::binary);
	if (!in)
		return "<missing>";
	std::ostringstream s;
	s << in.rdbuf();
	return s.str();
}

void
write_file(const std::string &path, const std::string &text)
{
	fs::create_directories(fs::path(path).parent_path());
	std::ofstream out(path, std::ios::binary | std::ios::trunc);
	out << text;
	if (!out)
		throw std::runtime_error("cannot write " + path);
}

TempDir::TempDir()
{
	char tmpl[] = "/tmp/quillmark-test.XXXXXX";
	if (!mkdtemp(tmpl))
		throw std::runtime_error("mkdtemp");
	path_ = tmpl;
	chmod(path_.c_str(), 0755);
}

TempDir::~TempDir()
{
	// Give back every permission a test took away, so that all can go.
	std::error_code ec;
	for (auto it = fs::recursive_directory_iterator(path_, ec);
	     !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
		if (it->is_directory(ec) && !it->is_symlink(ec))
			chmod(it->path().c_str(), 0755);
	}
	fs::remove_all(path_, ec);
}

std::string
TempDir::operator/(const std::string &rel) const
{
	return path_ + "/" + rel;
}

void
TempDir::put(const std::string &rel, const std::string &text) const
{
	write_file(*this / rel, text);
}

void
TempDir::mkdir(const std::string &rel) const
{
	fs::create_directories(*this / rel);
}

std::string
TempDir::get(const std::string &rel) const
{
	return read_file(*this / rel);
}

bool
TempDir::exists(const std::string &rel) const
{
	struct stat st;
	return lstat((*this / rel).c_str(), &st) == 0;
}

void
put_simple_templates(const TempDir &dir, const std::string &rel)
{
	dir.put(rel + "/README.port",
	    "port [%%PKG%%] [%%PORT%%] [%%COMMENT%%] [%%DESCR%%] [%%EMAIL%%] "
	    "[%%BUILD_DEPENDS%%] [%%RUN_DEPENDS%%] [%%WEBSITE%%] [%%TOP%%]\n");
	dir.put(rel + "/README.category",
	    "cat [%%CATEGORY%%] [%%COMMENT%%]\n%%SUBDIR%%end\n");
	dir.put(rel + "/README.top", "top\n%%SUBDIR%%end\n");
}

void
put_small_tree(const TempDir &dir, const std::string &rel)
{
	dir.put(rel + "/Makefile",
	    "# the ports tree\n"
	    "SUBDIR += archivers\n"
	    "SUBDIR += misc\n"
	    "\n"
	    ".include <bsd.port.subdir.mk>\n");
	dir.put(rel + "/archivers/Makefile",
	    "    COMMENT = Archivers & compression\n"
	    "\n"
	    "    SUBDIR += zip\n"
	    "\n"
	    ".include <bsd.port.subdir.mk>\n");
	dir.put(rel + "/misc/Makefile",
	    "    COMMENT = Miscellaneous utilities\n"
	    "\n"
	    "    SUBDIR += bar\n"
	    "    SUBDIR += foo\n"
	    "\n"
	    ".include <bsd.port.subdir.mk>\n");
	dir.mkdir(rel + "/archivers/zip");
	dir.mkdir(rel + "/misc/bar");
	dir.mkdir(rel + "/misc/foo");
	dir.put(rel + "/INDEX-15",
	    "zip-3.0|/usr/ports/archivers/zip|/usr/local|Create zip archives|"
	    "/usr/ports/archivers/zip/pkg-descr|arch@example.org|archivers|"
	    "||https://zip.example.org/||||\n"
	    "bar-2.3|/usr/ports/misc/bar|/usr/local|Bar <beta>|"
	    "/usr/ports/misc/bar/pkg-descr|misc@example.org|misc|"
	    "gmake-4.4|zip-3.0 foo-1.0||||\n"
	    "foo-1.0|/usr/ports/misc/foo|/usr/local|Foo & Bar tools|"
	    "/usr/ports/misc/foo/pkg-descr|misc@example.org|misc sysutils|"
	    "||||||\n");
}

}  // namespace qmtest
