// Reading a ports tree's own history from its git repository: the one
// place that knows the repository's format, through libgit2 when the build
// has it (git_reader.cc) and without it when it has not
// (git_reader_none.cc). Nothing here runs a program.
#pragma once

#include <cstddef>
#include <string_view>

// A commit as the walk hands it on: its full hash, its committer time, its
// author's name and its subject line, and the port directories
// ("category/port") it changed. The texts last until the next commit.
struct walked_commit {
	std::string_view hash; // 40 hexadecimal digits
	long long time;	       // seconds since the epoch
	std::string_view author;
	std::string_view subject;
	const std::string_view *ports;
	std::size_t port_count;
};

// Where a walk begins and how far back it may go.
struct walk_request {
	const char *top;	  // the top of the tree, which holds .git
	const char *categories;	  // packed list: the directories that hold ports
	std::string_view since;	  // the hash a previous walk ended at; empty:
				  // none, or not to be trusted
	long long max_age;	  // a first walk's bound in time: seconds
				  // before the head's commit time
	std::size_t max_commits;  // and in commits
	// Called for every commit that changed a port, newest first; a result
	// other than 0 ends the walk with that result.
	int (*take)(void *data, const walked_commit &commit);
	void *data;
};

enum class walk_outcome {
	read,	     // walked from since to the head
	read_anew,   // since was not an ancestor of the head: walked from the
		     // bound instead
	not_built,   // this build cannot read repositories
	unreadable,  // the repository could not be opened or walked
};

// What a walk found besides the commits.
struct walk_summary {
	walk_outcome outcome;
	char head[41];	       // the head's hash, when read
	std::size_t walked;    // the commits walked
	bool shallow;	       // the repository is a shallow clone
	bool bounded;	       // a first walk stopped at its bound
	char why[256];	       // unreadable: the library's reason
};

// Walks the repository at request.top from its head. Returns 0, or the
// take function's result when it ended the walk. Reports nothing itself.
[[nodiscard]] int walk_history(const walk_request &request, walk_summary *summary);

// The library that reads repositories, as -V says it ("libgit2 1.5.1"), or
// null in a build without it.
[[nodiscard]] const char *history_library();
