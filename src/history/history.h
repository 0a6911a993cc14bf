// What the tree's own history says of its ports: for a tree that is a git
// work tree, the commits that changed each port directory, read once per
// run on the first page that asks, and kept beside the site in a record
// from which the next run goes on (history.cc). The repository is read by
// git_reader.h alone; a build without libgit2 has this module still, and
// its pages simply show no commits.
#pragma once

#include <cstddef>
#include <string_view>

#include "history/history_record.h"

// The commits a port page shows at most.
inline constexpr std::size_t port_commits_shown = 10;
// How far back a run without a record reads: the twelve months before the
// newest commit, and no more than this many commits.
inline constexpr long long history_first_age = 365LL * 24 * 60 * 60;
inline constexpr std::size_t history_first_commits = 50000;

// -c: the address of a commit's page, "%s" standing for its full hash
// (once). 0, or -1 after the message.
[[nodiscard]] int set_commit_url(const char *url);
// The part of the address before "%s" and after it; both empty without -c.
[[nodiscard]] std::string_view commit_url_before();
[[nodiscard]] std::string_view commit_url_after();

// The commits that changed the port directory dir ("category/port"), newest
// first, at most port_commits_shown, into out; their number. Reads the
// history on the first call of the run (said at -v): none for a tree that
// is not a git work tree or whose repository cannot be read. With
// new_only, only those this run read anew since the last run's record: the
// commits a feed entry of the port can carry (none after a run without a
// record).
[[nodiscard]] std::size_t port_history(std::string_view dir,
    history_commit (&out)[port_commits_shown], bool new_only = false);

// At the end of a run that read the history: writes its record beside the
// top page. 0, or 1 after the report; 0 when nothing was read.
[[nodiscard]] int write_history_record();

// What -V adds at -v: the library that reads repositories, or that the
// build has none.
void print_history_build();

// Frees what the run read. Safe to run more than once.
void history_release();
