// Test support: run the built quillmark binary as a user would, and build
// small ports trees in temporary directories.
#pragma once

#include <string>
#include <vector>

namespace qmtest {

// The environment every run gets unless a test says otherwise: a PATH and
// UNAME_r=15.0-RELEASE, so the INDEX is named INDEX-15 on any machine.
std::vector<std::string> base_env();

// What one run of the binary left behind.
struct Result {
	int status = -1;	// exit status, or 128 + signal number
	std::string out;	// everything written to standard output
	std::string err;	// everything written to standard error
};

struct RunOptions {
	std::string cwd;			// working directory; empty: unchanged
	std::vector<std::string> env = base_env();
	long fsize_limit = -1;			// RLIMIT_FSIZE in bytes, SIGXFSZ ignored
	bool as_nobody = false;			// drop to uid/gid 65534 before exec
						// and run copy_for_others(binary)
	int timeout_seconds = 60;		// then the tool is killed as hung
	std::string binary;			// program to run; empty: the built quillmark
	std::string out_path;			// standard output to this file, not collected
	bool err_to_out = false;		// standard error into out, as 2>&1 does
	bool out_closed = false;		// standard output a pipe whose reader
						// has gone, as in "| head -0"
	bool err_on_terminal = false;		// standard error a terminal (a pty),
						// as for a person at a shell
};

// Runs the binary with argv[1..] = args, passed as they are (empty strings
// included), and collects both output streams and the exit status. A run
// that outlasts its timeout is killed and fails the current test. Throws,
// failing the test with the reason, when the tool could not be started at
// all (working directory, limit, user switch or exec), so that this never
// shows as a wrong exit status.
Result run_tool(const std::vector<std::string> &args, const RunOptions &opt = {});

// A directory below /tmp, removed with everything in it when the object goes.
class TempDir {
public:
	TempDir();
	~TempDir();
	TempDir(const TempDir &) = delete;
	TempDir &operator=(const TempDir &) = delete;
	const std::string &path() const { return path_; }
	std::string operator/(const std::string &rel) const;	// path()/rel
	// Writes text to path()/rel, creating parent directories.
	void put(const std::string &rel, const std::string &text) const;
	void mkdir(const std::string &rel) const;
	// Contents of path()/rel, or "<missing>" when it cannot be read.
	std::string get(const std::string &rel) const;
	bool exists(const std::string &rel) const;

private:
	std::string path_;
};

std::string read_file(const std::string &path);	// "<missing>" when unreadable
void write_file(const std::string &path, const std::string &text);
bool running_as_root();

// Three small templates below dir/rel that show every placeholder they use
// between brackets, so that a test can compare whole files byte for byte:
//   README.port:     "port [%%PKG%%] [%%PORT%%] [%%COMMENT%%] [%%DESCR%%]
//                     [%%EMAIL%%] [%%BUILD_DEPENDS%%] [%%RUN_DEPENDS%%]
//                     [%%WEBSITE%%] [%%TOP%%]\n"   (one line)
//   README.category: "cat [%%CATEGORY%%] [%%COMMENT%%]\n%%SUBDIR%%end\n"
//   README.top:      "top\n%%SUBDIR%%end\n"
void put_simple_templates(const TempDir &dir, const std::string &rel);

// A small well-formed tree below dir/rel: top Makefile listing archivers and
// misc; archivers with port zip, misc with ports bar and foo (INDEX order:
// archivers/zip, misc/bar, misc/foo); an INDEX-15 with 13-field lines.
void put_small_tree(const TempDir &dir, const std::string &rel);

std::string source_dir();	// the repository, for Templates/ and sample/
std::string binary_path();	// the built quillmark
// The tool built for the tests only (RunOptions::binary): its default top
// lies below the build tree, and it has the test seams, which the
// environment drives:
//   QUILLMARK_TEST_FAIL_CLOSE=ERRNO:SUFFIX  closing a README whose path
//       ends in SUFFIX fails with errno ERRNO (a number), as a delayed
//       write error does;
//   QUILLMARK_TEST_NO_OPENAT2=ERRNO  openat2 fails with errno ERRNO, as
//       on a kernel without it (ENOSYS) or in a sandbox that filters it
//       out (EPERM).
//   QUILLMARK_TEST_NOW=SECONDS  the clock that dates the feeds' entries,
//       so that a test's runs fall on days of its choosing.
std::string testing_binary_path();

// A copy of program that uid 65534 can run, in a directory of /tmp open to
// all, made once per program and test program and removed when it ends.
// The built binaries may lie below a directory that user cannot enter,
// such as a checkout in root's home or in a directory of mktemp -d (mode
// 0700): whatever runs as that user, or is named in its command line to be
// run, runs from such a copy.
std::string copy_for_others(const std::string &program);

}  // namespace qmtest
