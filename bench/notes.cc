// notes: the floor of the port page notes, read alone as the tool reads
// them.
//
// usage: notes TREE [--match]
//
// Reads and parses TREE/MOVED and TREE/UPDATING once, then reads the
// pkg-message of every port that TREE/INDEX-15 lists (most have none: the
// open fails). Prints one line:
//
//	moved_ms=T moved=N updating_ms=T notes=N messages_ms=T messages=N
//	    total_ms=T
//
// The times are of each step alone on the monotonic clock. It is the cost
// of reading the files, and of the one parse of MOVED and UPDATING, with
// nothing built from them and no page written.
//
// With --match it also asks UPDATING for every INDEX origin, as the port
// pages do, and prints how many notes named at least one port, and the
// AFFECTS words that named none.
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "catalogue/catalogue.h"
#include "state/state.h"
#include "text/bounded.h"
#include "treedata/moved.h"
#include "treedata/tree_file.h"
#include "treedata/updating.h"

namespace {

double
now_ms()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<double>(ts.tv_sec) * 1e3 +
	    static_cast<double>(ts.tv_nsec) / 1e6;
}

} // namespace

int
main(int argc, char **argv)
{
	bool match = argc == 3 && std::strcmp(argv[2], "--match") == 0;
	if (argc != 2 && !match) {
		std::fputs("usage: notes TREE [--match]\n", stderr);
		return 2;
	}
	std::string top = argv[1];
	run_buffer files{};
	updating_query query;
	run_state &setting = startup_state();
	if (!copy_text(setting.top_dir, sizeof setting.top_dir, top) ||
	    !join_text(setting.top_dir_slash, sizeof setting.top_dir_slash,
		{top, "/"})) {
		std::fputs("notes: path too long\n", stderr);
		return 2;
	}
	char *index = load_file((top + "/INDEX-15").c_str());
	if (index == nullptr)
		return 1;

	double t0 = now_ms();
	if (need_moved() != 0)
		return 1;
	double t1 = now_ms();
	if (need_updating() != 0)
		return 1;
	double t2 = now_ms();

	std::size_t messages = 0;
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
			port_file_text file;
			messages += read_port_file(dir.c_str(),
					port_file::pkg_message, &files, &file) == 0;
			std::uint32_t found[1];
			if (match)
				(void)updating_notes_for(
				    origin.substr(usr_ports.size()), found, 1,
				    &query);
		}
		line = nl != nullptr ? nl + 1 : line + l.size();
	}
	double t3 = now_ms();

	std::printf("moved_ms=%.1f moved=%zu updating_ms=%.1f notes=%zu "
		    "messages_ms=%.1f messages=%zu total_ms=%.1f\n",
	    t1 - t0, moved_count(), t2 - t1, updating_count(), t3 - t2,
	    messages, t3 - t0);
	if (match) {
		std::size_t matched = 0;
		for (std::size_t i = 0; i < updating_count(); i++)
			matched += updating_at(i).matched;
		std::printf("notes naming a port: %zu of %zu\n", matched,
		    updating_count());
		for (std::size_t i = 0; i < updating_form_count(); i++) {
			const affects_form &f = updating_form_at(i);
			if (!f.matched)
				std::printf("named no port: %.*s\n",
				    static_cast<int>(f.text.size()),
				    f.text.data());
		}
	}
	std::free(index);
	clean_up();
	return 0;
}
