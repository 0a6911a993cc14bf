// Directory settings and pathname resolution.
//
// -p and -t act while the options are still being read, so a relative
// pathname given to them is joined with the settings of that moment: the
// top set by an earlier -p, unless -n came first. The default top directory
// is made canonical like the others when it exists, so that pathname
// arguments, which are made canonical too, lie inside it even when it is a
// symbolic link; a missing one is taken literally and shows when its
// Makefile cannot be opened.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "cli/cli.h"
#include "state/pathnames.h"
#include "state/state.h"
#include "text/bounded.h"

char *
resolve_dir(const char *pathname)
{
	char joined[path_size];
	bool from_cwd = pathname[0] == '.' ||
	    (pathname[0] != '/' && state.normal_paths != 0);
	bool fits;
	if (from_cwd) {
		char cwd[path_size];
		if (getcwd(cwd, sizeof cwd) == nullptr) {
			std::perror("getcwd");
			return nullptr;
		}
		fits = join_text(joined, sizeof joined, {cwd, "/", pathname});
	} else if (pathname[0] == '/') {
		fits = copy_text(joined, sizeof joined, pathname);
	} else {
		// While no top is set, top_dir_slash is empty and the system
		// takes the pathname from the working directory.
		fits = join_text(
		    joined, sizeof joined, {state.top_dir_slash, pathname});
	}
	if (!fits) {
		report_too_long({pathname});
		return nullptr;
	}

	char *real = realpath(joined, nullptr);
	if (real == nullptr) {
		std::perror(joined);
		return nullptr;
	}
	// realpath may give up to PATH_MAX characters; a path setting holds
	// at most 1023.
	if (std::strlen(real) >= path_size) {
		report_too_long({real});
		std::free(real);
		return nullptr;
	}
	struct stat st;
	if (stat(real, &st) != 0) {
		std::perror(real);
		std::free(real);
		return nullptr;
	}
	if (!S_ISDIR(st.st_mode)) {
		std::fprintf(stderr, "%s is not a directory\n", real);
		std::free(real);
		return nullptr;
	}
	return real;
}

int
check_dir(const char *path)
{
	struct stat st;
	if (stat(path, &st) != 0) {
		std::perror(path);
		return -1;
	}
	if (!S_ISDIR(st.st_mode)) {
		std::fprintf(stderr, "%s is not a directory\n", path);
		return -1;
	}
	return 0;
}

// A resolved path that leaves no room for the slash of top_dir_slash is
// refused like any path resolve_dir refuses: null after a message.
static char *
resolve_top_dir(const char *pathname)
{
	char *resolved = resolve_dir(pathname);
	if (resolved != nullptr && std::strlen(resolved) + 1 >= path_size) {
		report_too_long({resolved});
		std::free(resolved);
		return nullptr;
	}
	return resolved;
}

// Takes a resolved path as the top: checks it, copies it and its slashed
// form, frees it. 0, or -1 with the fields unchanged.
static int
take_top_dir(char *resolved)
{
	if (check_dir(resolved) != 0) {
		std::free(resolved);
		return -1;
	}
	// resolve_top_dir left room for the slash.
	(void)copy_text(startup_state().top_dir, sizeof state.top_dir, resolved);
	std::free(resolved);
	return 0;
}

static void
set_top_dir_slash()
{
	(void)join_text(startup_state().top_dir_slash, sizeof state.top_dir_slash,
	    {state.top_dir, "/"});
}

// Sets top_dir to the default: its canonical path when it has one that
// leaves room for the slash, else the default as written, so that whatever
// is wrong with it is reported, as ever, when its Makefile is opened.
static void
take_default_top()
{
	char *real = realpath(path_default_top, nullptr);
	bool fits = real != nullptr && std::strlen(real) + 1 < path_size;
	(void)copy_text(startup_state().top_dir, sizeof state.top_dir,
	    fits ? real : path_default_top);
	std::free(real);
	startup_state().top_by_default = true;
}

int
set_top_dir(const char *pathname)
{
	startup_state().top_by_default = false;
	if (pathname != nullptr) {
		if (state.top_dir[0] != '\0')
			std::fprintf(stderr,
			    "Changing top-level directory from \"%s\" to "
			    "\"%s\"\n",
			    state.top_dir, pathname);
		char *resolved = resolve_top_dir(pathname);
		if (resolved == nullptr) {
			std::fprintf(stderr,
			    "Invalid pathname argument: \"%s\"\n", pathname);
			return -1;
		}
		if (take_top_dir(resolved) != 0)
			return -1;
		if (state.verbosity != 0)
			std::fprintf(stderr,
			    "Setting top-level directory to \"%s\"\n",
			    state.top_dir);
	} else if (const char *portsdir = std::getenv("PORTSDIR")) {
		char *resolved = resolve_top_dir(portsdir);
		if (resolved == nullptr) {
			std::fprintf(stderr,
			    "Invalid pathname in PORTSDIR environment "
			    "variable: \"%s\"\n",
			    portsdir);
			return -1;
		}
		if (take_top_dir(resolved) != 0) {
			std::fputs("Unusable PORTSDIR setting\n", stderr);
			return -1;
		}
		if (state.verbosity != 0)
			std::fprintf(stderr,
			    "Using PORTSDIR (\"%s\") as top-level directory\n",
			    state.top_dir);
	} else {
		take_default_top();
		if (state.verbosity != 0)
			std::fputs("Using default top-level directory "
				   "\"/usr/ports\"\n",
			    stderr);
	}
	set_top_dir_slash();
	return 0;
}

int
set_templates_dir(const char *pathname)
{
	if (pathname == nullptr) {
		(void)copy_text(startup_state().templates_dir, sizeof state.templates_dir,
		    path_default_templates);
		if (check_dir(state.templates_dir) != 0)
			return -1;
		if (state.verbosity != 0)
			std::fprintf(stderr,
			    "Using default templates directory \"%s\"\n",
			    state.templates_dir);
		return 0;
	}
	char *resolved = resolve_dir(pathname);
	if (resolved == nullptr) {
		std::fprintf(
		    stderr, "Invalid pathname argument: \"%s\"\n", pathname);
		return -1;
	}
	if (check_dir(resolved) != 0) {
		std::free(resolved);
		return -1;
	}
	(void)copy_text(
	    startup_state().templates_dir, sizeof state.templates_dir, resolved);
	std::free(resolved);
	if (state.verbosity != 0)
		std::fprintf(stderr, "Setting templates directory to \"%s\"\n",
		    state.templates_dir);
	return 0;
}

int
set_out_dir(const char *pathname)
{
	// Taken as named, from the working directory when relative: the
	// output root may be a link, and is used as one. Slashes at its end
	// would make it its target.
	std::size_t n = std::strlen(pathname);
	while (n > 1 && pathname[n - 1] == '/')
		n--;
	std::string_view named(pathname, n);
	bool fits;
	if (pathname[0] == '/') {
		fits = copy_text(startup_state().out_dir, sizeof state.out_dir, named);
	} else {
		char cwd[path_size];
		if (getcwd(cwd, sizeof cwd) == nullptr) {
			std::perror("getcwd");
			return -1;
		}
		fits = join_text(startup_state().out_dir, sizeof state.out_dir,
		    {cwd, std::strcmp(cwd, "/") == 0 ? "" : "/", named});
	}
	if (!fits || n == 0) {
		if (!fits)
			report_too_long({pathname});
		startup_state().out_dir[0] = '\0';
		std::fprintf(
		    stderr, "Invalid pathname argument: \"%s\"\n", pathname);
		return -1;
	}
	if (state.verbosity != 0)
		std::fprintf(stderr, "Setting output directory to \"%s\"\n",
		    state.out_dir);
	return 0;
}
