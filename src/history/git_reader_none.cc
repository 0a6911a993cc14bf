// A build without libgit2: no history is read, and -V -v says so.
#include "history/git_reader.h"

int
walk_history(const walk_request &, walk_summary *summary)
{
	*summary = walk_summary{};
	summary->outcome = walk_outcome::not_built;
	return 0;
}

const char *
history_library()
{
	return nullptr;
}
