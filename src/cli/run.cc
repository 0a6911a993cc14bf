// Options and the run driver.
//
// Options are acted on the moment getopt returns them, so their order
// matters: -p and -t resolve their pathnames with the settings made so far,
// and -v shows the messages only of the options after it. Every option error
// is counted and reading goes on, so that one run reports them all.
//
// The exit status is a count (of option errors, of failed pathnames, or in
// a whole-tree run of the pages that could not be written), and the system
// keeps only its low 8 bits, so a count is capped below 255, the status of
// a failed start-up. Standard
// output is line-buffered, so that progress lines and messages keep their
// order in one file or pipe, and its error state is checked at the end: a
// page of progress lost on a full disk is a failure like any other.
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "catalogue/catalogue.h"
#include "cli/cli.h"
#include "history/history.h"
#include "platform/platform.h"
#include "site/site.h"
#include "pages/crew.h"
#include "pages/pages.h"
#include "sitefiles/sitefiles.h"
#include "state/pathnames.h"
#include "state/state.h"
#include "text/bounded.h"

static constexpr char help_text[] = R"(
quillmark -- Make README.html files for the FreeBSD Ports Collection

Usage: quillmark [options] [pathname-list]

Options:
-c url         Link each commit on port pages to url, where "%s" is its hash.
-h             Display this help.
-j count       Make pages on count threads (0: every online processor).
-n             Use normal handling of relative paths, instead of making them
               relative to ${PORTSDIR} (paths beginning with "." or ".."
               are always treated normally).
-o pathname    Write the README.html files below pathname instead of the tree.
-p pathname    Use pathname as the top level of the ports tree.  Any relative
               paths in pathname-list will be relative to this, unless "-n"
               is used.  Defaults to "/usr/ports", or the setting of the
               ${PORTSDIR} environment variable, if defined.
-q             Quiet mode.  Don't display anything except error messages.
-t pathname    Use the template files stored under pathname instead of the
               default )" QUILLMARK_TEMPLATES_DIR R"(.
-u url         The site's public address: write its sitemap, and its feeds
               when publishing through a link with -o.
-V             Display program version.
-v             Increase verbosity.  May be repeated to display progressively
               more detailed information about the program's progress.

pathname-list is an optional whitespace-separated list of port and category
pathnames.  If none is provided, the default is to make all of the README.html
files for the entire ports tree (top-level, categories and ports).

)";

static constexpr char hint_text[] =
    "Try \"quillmark -h\" or \"man quillmark\" for more information.\n";

// The address of the site, the -u option: an absolute http or https URL
// of a directory, which the pages are served below. 0, or -1 after the
// message.
static int
set_site_url(const char *url)
{
	std::string_view text = url;
	const char *rest = nullptr;
	if (strncasecmp(url, "http://", 7) == 0)
		rest = url + 7;
	else if (strncasecmp(url, "https://", 8) == 0)
		rest = url + 8;
	// The host: a name, an IPv4 or bracketed IPv6 address, and a port.
	std::size_t host = rest == nullptr
	    ? 0
	    : std::strspn(rest,
		  "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
		  "0123456789.-:[]");
	// The path: characters that stand in a URL and in XML as they
	// are, without a query or a fragment.
	bool path_ok = host > 0 && rest[0] != ':' && rest[0] != '.' &&
	    rest[host] == '/' && text.back() == '/' &&
	    text.size() < sizeof state.site_url;
	for (const char *c = rest + host; path_ok && *c != '\0'; c++) {
		auto b = static_cast<unsigned char>(*c);
		path_ok = b > 0x20 && b < 0x7f &&
		    std::strchr("\"<>\\^`{|}?#&'", b) == nullptr;
	}
	if (!path_ok) {
		std::fprintf(stderr,
		    "Bad URL \"%s\" for option \"-u\": it must be an "
		    "absolute http or https URL that ends in \"/\", such as "
		    "\"https://ports.example.org/\"\n",
		    url);
		std::fputs(hint_text, stderr);
		return -1;
	}
	(void)copy_text(startup_state().site_url, sizeof state.site_url, text);
	if (state.verbosity != 0)
		std::fprintf(stderr, "Serving the site at \"%s\"\n", url);
	return 0;
}

// The -j option: how many threads make pages, from 0 (every online
// processor) to max_page_threads. 0, or -1 after the message.
static int
set_page_threads(const char *count)
{
	char *end = nullptr;
	errno = 0;
	long n = std::strtol(count, &end, 10);
	if (count[0] < '0' || count[0] > '9' || *end != '\0' || errno != 0 ||
	    n > max_page_threads) {
		std::fprintf(stderr,
		    "Bad count \"%s\" for option \"-j\": it must be a whole "
		    "number from 0 to %d, 0 for every online processor\n",
		    count, max_page_threads);
		std::fputs(hint_text, stderr);
		return -1;
	}
	if (n == 0) {
		long online = sysconf(_SC_NPROCESSORS_ONLN);
		n = online < 1 ? 1
				: online > max_page_threads ? max_page_threads
							    : online;
	}
	// Said nowhere: a run's output is the same whatever the count.
	startup_state().page_threads = static_cast<int>(n);
	return 0;
}

// Reads the options. Returns the number of option errors, or -2 when -h or
// -V has ended the run (successfully) where it stood.
static int
read_options(int argc, char **argv)
{
	int errors = 0;
	int ch;

	platform_reset_getopt();
	while ((ch = getopt(argc, argv, platform_optstring)) != -1) {
		switch (ch) {
		case 'c':
			if (set_commit_url(optarg) != 0)
				errors++;
			break;
		case 'h':
			std::fputs(help_text, stdout);
			return -2;
		case 'j':
			if (set_page_threads(optarg) != 0)
				errors++;
			break;
		case 'n':
			if (state.normal_paths == 0 && state.verbosity != 0)
				std::fputs(
				    "Using normal handling of relative paths\n",
				    stderr);
			startup_state().normal_paths++;
			break;
		case 'o':
			if (set_out_dir(optarg) != 0)
				errors++;
			break;
		case 'p':
			if (set_top_dir(optarg) != 0)
				errors++;
			break;
		case 'q':
			if (state.verbosity != 0) {
				std::fputs("option \"-q\" is incompatible with "
					   "\"-v\"\n",
				    stderr);
				errors++;
			} else {
				startup_state().quiet++;
			}
			break;
		case 't':
			if (set_templates_dir(optarg) != 0)
				errors++;
			break;
		case 'u':
			if (set_site_url(optarg) != 0)
				errors++;
			break;
		case 'V':
			std::fputs("quillmark version 1.3\n", stdout);
			if (state.verbosity != 0)
				print_history_build();
			return -2;
		case 'v':
			if (state.quiet != 0) {
				std::fputs("option \"-v\" is incompatible with "
					   "\"-q\"\n",
				    stderr);
				errors++;
			} else {
				if (state.verbosity == 0)
					std::fputs(
					    "Increasing verbosity level\n",
					    stderr);
				startup_state().verbosity++;
			}
			break;
		case ':':
			std::fprintf(stderr,
			    "Missing %s argument to option \"-%c\"\n",
			    optopt == 'u' || optopt == 'c' ? "URL"
				: optopt == 'j'		  ? "count"
							  : "pathname",
			    optopt);
			std::fputs(hint_text, stderr);
			errors++;
			break;
		case '?':
			std::fprintf(stderr, "Unknown option: -%c\n", optopt);
			std::fputs(hint_text, stderr);
			errors++;
			break;
		default:
			std::fprintf(stderr,
			    "?? getopt returned character code %d ??\n", ch);
			break;
		}
	}
	return errors;
}

// Makes the README that one pathname argument asks for. Returns 0 when it
// and every README below it that it asked for were made or are right
// already, 1 when any failed (the reason has been reported), -1 when what
// the templates need could not be had. Adds the README.html files that
// could not be written to *pages_unwritten: with any, a publishing run
// does not switch.
static int
request_pathname(const char *pathname, int *pages_unwritten)
{
	char *path = resolve_dir(pathname);
	if (path == nullptr)
		return 1;

	int kind;
	if (std::strcmp(path, state.top_dir) == 0) {
		kind = kind_top;
	} else {
		const char *below = skip_prefix(path, state.top_dir_slash);
		if (below == path) {
			std::fprintf(stderr,
			    "\"%s\" is not inside the ports tree\n", path);
			std::free(path);
			return 1;
		}
		// A directory below a port's is requested as a port too.
		kind = std::strchr(below, '/') == nullptr ? kind_category
							  : kind_port;
	}
	int unwritten = 0;
	int result = make_readme(path, kind, &unwritten);
	std::free(path);
	*pages_unwritten += unwritten;
	if (result == -1 &&
	    (package_index_failed() || builders_memory_failed()))
		return -1;
	return result != 0 || unwritten != 0 ? 1 : 0;
}

// The highest count that the exit status reports as it is.
static constexpr int max_count_status = 254;

static int
count_status(int count)
{
	return count < max_count_status ? count : max_count_status;
}

// The run itself; its result is the exit status before the check of
// standard output.
static int
run_requests(int argc, char **argv)
{
	int errors = read_options(argc, argv);
	if (errors == -2)
		return 0;
	if (errors != 0)
		return count_status(errors);

	if (state.top_dir[0] == '\0' && set_top_dir(nullptr) != 0)
		return -1;
	if (state.templates_dir[0] == '\0' && set_templates_dir(nullptr) != 0)
		return -1;
	take_run_lock();
	if (start_up() == -1 || prepare_output() == -1)
		return -1;

	// A whole-tree run counts the pages it could not write.
	if (optind >= argc) {
		int unwritten = 0;
		if (make_readme(state.top_dir, kind_top, &unwritten) == -1) {
			abandon_output();
			return -1;
		}
		(void)write_shared_files(&unwritten);
		unwritten += write_history_record();
		report_page_failures();
		return count_status(unwritten + finish_output(unwritten, true));
	}

	int pages_unwritten = 0;
	for (int i = optind; i < argc; i++) {
		int result = request_pathname(argv[i], &pages_unwritten);
		if (result == -1) {
			abandon_output();
			return -1;
		}
		errors += result;
	}
	// The files the pages share, once all of them are made.
	errors += write_shared_files(&pages_unwritten);
	pages_unwritten += write_history_record();
	report_page_failures();
	return count_status(errors + finish_output(pages_unwritten, false));
}

// Flushes standard output and reports a failure of any write to it. Returns
// status, or 1 in place of a 0 when output was lost.
static int
check_stdout(int status)
{
	if (std::fflush(stdout) != 0) {
		std::perror("standard output");
	} else if (std::ferror(stdout)) {
		// glibc drops what it could not write, so the flush had
		// nothing left to try and the reason is lost; FreeBSD's libc
		// keeps it and the flush above reports why.
		std::fputs("standard output: write error\n", stderr);
	} else {
		return status;
	}
	return status == 0 ? 1 : status;
}

int
run(int argc, char **argv)
{
	// A reader that goes away (a pipe into head) must not end the run
	// half done: the pages matter more than the progress lines, whose
	// loss is reported at the end.
	platform_ignore_broken_pipe();
	(void)std::setvbuf(stdout, nullptr, _IOLBF, 0);
	int status = run_requests(argc, argv);
	// The threads that made pages end with the run.
	release_crew();
	return check_stdout(status);
}
