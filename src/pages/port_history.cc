// What the tree's history says on a port page: the commits that changed the
// port's directory, newest first, and the day of the last. Each commit's
// author and subject come from whoever committed, so both are escaped; the
// hash links to the commit's page when -c names one.
#include <ctime>

#include "pages/pages.h"
#include "engine/placeholders.h"
#include "history/history.h"
#include "pages/safety_pages.h"
#include "text/bounded.h"
#include "text/text.h"

namespace {

// The day of a commit, in UTC, as a <time> element.
char *
append_day(char *pos, char *end, long long seconds)
{
	auto t = static_cast<std::time_t>(seconds);
	struct tm tm;
	char day[16];
	if (gmtime_r(&t, &tm) == nullptr ||
	    std::strftime(day, sizeof day, "%Y-%m-%d", &tm) == 0)
		return pos;
	return append_date(pos, end, day);
}

// A commit's short hash, linked to its page with -c.
char *
append_hash(char *pos, char *end, std::string_view hash)
{
	std::string_view before = commit_url_before();
	std::string_view after = commit_url_after();
	bool linked = !before.empty() || !after.empty();
	pos = append(pos, end, "<code>");
	if (linked) {
		pos = append(pos, end, "<a href=\"");
		pos = html_escape(pos, end, before);
		pos = append(pos, end, hash);
		pos = html_escape(pos, end, after);
		pos = append(pos, end, "\">");
	}
	pos = append(pos, end, hash.substr(0, 12));
	if (linked)
		pos = append(pos, end, "</a>");
	return append(pos, end, "</code>");
}

} // namespace

namespace fills {

char *
recent_commits(char *pos, char *end, page_context &page)
{
	history_commit commits[port_commits_shown];
	std::size_t n = port_history(port_origin(*port_of(page).port), commits);
	if (n == 0)
		return pos;
	pos = append(pos, end,
	    "<section class=\"commits\">\n<h2>Recent commits</h2>\n<ol>\n");
	for (std::size_t i = 0; i < n; i++) {
		const history_commit &c = commits[i];
		pos = append(pos, end, "<li>");
		pos = append_day(pos, end, c.time);
		pos = append(pos, end, " <span class=\"author\">");
		pos = insert(pos, end, tree_text::port_text, c.author);
		pos = append(pos, end, "</span> <span class=\"subject\">");
		pos = insert(pos, end, tree_text::port_text, c.subject);
		pos = append(pos, end, "</span> ");
		pos = append_hash(pos, end, c.hash);
		pos = append(pos, end, "</li>\n");
	}
	return append(pos, end, "</ol>\n</section>\n");
}

char *
last_changed(char *pos, char *end, page_context &page)
{
	history_commit commits[port_commits_shown];
	if (port_history(port_origin(*port_of(page).port), commits) == 0)
		return pos;
	pos = append(pos, end, "<dt>Last changed</dt>\n<dd>");
	pos = append_day(pos, end, commits[0].time);
	return append(pos, end, "</dd>\n");
}

} // namespace fills
