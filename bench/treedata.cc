// treedata: the tree's other data files read alone, as the tool reads them.
//
// usage: treedata TREE
//
// Reads TREE/security/vuxml (vuln.xml and the year files it includes) once,
// then the Makefile of every port that TREE/INDEX-15 lists, and looks up
// every INDEX package in the database. Prints one line:
//
//	vuxml_ms=T entries=N makefiles_ms=T makefiles=N lookup_ms=T
//	    affected=N deprecated=N expiring=N broken=N forbidden=N ignored=N
//	    licensed=N read_ms=T read_cpu_ms=T flavored=N flavors=N
//	    optioned=N options=N
//
// The times are of each step alone on the monotonic clock; run it under
// measure for the peak resident set. It is the cost of reading and parsing
// the files, with nothing built from them. read_ms is a last pass that
// reads every Makefile again without parsing it: the floor of what is
// taken from them, in time and in processor time (user and system).
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "catalogue/catalogue.h"
#include "state/state.h"
#include "text/bounded.h"
#include "treedata/port_status.h"
#include "treedata/tree_file.h"
#include "treedata/version.h"
#include "treedata/vuxml.h"

namespace {

double
now_ms()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) * 1e3 +
	    static_cast<double>(ts.tv_nsec) / 1e6;
}

// The processor time of the process, user and system.
double
cpu_ms()
{
	timespec ts;
	clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
	return static_cast<double>(ts.tv_sec) * 1e3 +
	    static_cast<double>(ts.tv_nsec) / 1e6;
}

} // namespace

int
main(int argc, char **argv)
{
	if (argc != 2) {
		std::fputs("usage: treedata TREE\n", stderr);
		return 2;
	}
	std::string top = argv[1];
	run_state &setting = startup_state();
	if (!copy_text(setting.top_dir, sizeof setting.top_dir, top) ||
	    !join_text(setting.top_dir_slash, sizeof setting.top_dir_slash,
		{top, "/"})) {
		std::fputs("treedata: path too long\n", stderr);
		return 2;
	}
	std::size_t index_size = 0;
	char *index = load_file((top + "/INDEX-15").c_str(), &index_size);
	if (index == nullptr)
		return 1;

	double t0 = now_ms();
	if (load_vuxml() != 0)
		return 1;
	double t1 = now_ms();

	std::size_t ports = 0;
	std::size_t counts[status_var_count] = {};
	run_buffer files{};
	std::size_t flavored = 0, flavors = 0, optioned = 0, options = 0;
	choice_book *book = new_choice_book();
	constexpr std::string_view usr_ports = "/usr/ports/";
	for (char *line = index; *line != '\0';) {
		char *nl = std::strchr(line, '\n');
		std::string_view l(
		    line, nl != nullptr ? nl - line : std::strlen(line));
		std::size_t a = l.find('|');
		std::size_t b = l.find('|', a + 1);
		std::string_view origin = l.substr(a + 1, b - a - 1);
		if (origin.starts_with(usr_ports)) {
			std::string dir = top + "/";
			dir += origin.substr(usr_ports.size());
			port_status s;
			if (read_port_status(dir.c_str(), &files, book, &s) == 0) {
				for (std::size_t v = 0; v < status_var_count;
				     v++)
					counts[v] += s.values[v] != nullptr;
				port_choices c = port_status_choices(s, book);
				flavored += !c.flavors.empty();
				flavors += c.flavors.size();
				optioned += !c.options.empty();
				options += c.options.size();
			}
			ports++;
		}
		line = nl != nullptr ? nl + 1 : line + l.size();
	}
	double t2 = now_ms();

	std::size_t affected = 0;
	for (char *line = index; *line != '\0';) {
		char *nl = std::strchr(line, '\n');
		std::string_view l(
		    line, nl != nullptr ? nl - line : std::strlen(line));
		std::string_view name, version;
		split_package(l.substr(0, l.find('|')), &name, &version);
		vuxml_search s = vuxml_find(name, version);
		std::size_t e;
		affected += vuxml_next(&s, &e);
		line = nl != nullptr ? nl + 1 : line + l.size();
	}
	double t3 = now_ms();
	double c3 = cpu_ms();

	for (char *line = index; *line != '\0';) {
		char *nl = std::strchr(line, '\n');
		std::string_view l(
		    line, nl != nullptr ? nl - line : std::strlen(line));
		std::size_t a = l.find('|');
		std::size_t b = l.find('|', a + 1);
		std::string_view origin = l.substr(a + 1, b - a - 1);
		if (origin.starts_with(usr_ports)) {
			std::string dir = top + "/";
			dir += origin.substr(usr_ports.size());
			port_file_text file;
			(void)read_port_file(
			    dir.c_str(), port_file::makefile, &files, &file);
		}
		line = nl != nullptr ? nl + 1 : line + l.size();
	}
	double t4 = now_ms();
	double c4 = cpu_ms();

	auto n = [&](status_var v) { return counts[static_cast<int>(v)]; };
	std::printf("vuxml_ms=%.1f entries=%zu makefiles_ms=%.1f makefiles=%zu "
		    "lookup_ms=%.1f affected=%zu deprecated=%zu expiring=%zu "
		    "broken=%zu forbidden=%zu ignored=%zu licensed=%zu "
		    "read_ms=%.1f read_cpu_ms=%.1f flavored=%zu flavors=%zu "
		    "optioned=%zu options=%zu\n",
	    t1 - t0, vuxml_entry_count(), t2 - t1, ports, t3 - t2, affected,
	    n(status_var::deprecated), n(status_var::expiration_date),
	    n(status_var::broken), n(status_var::forbidden),
	    n(status_var::ignore), n(status_var::license), t4 - t3, c4 - c3,
	    flavored,
	    flavors, optioned, options);
	release_vuxml();
	release_buffer(&files);
	free_choice_book(book);
	std::free(index);
	clean_up();
	return 0;
}
