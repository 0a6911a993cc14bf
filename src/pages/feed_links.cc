// The links of the top, category and maintainer pages to their own feed,
// feed.atom beside them: one in the head, for feed readers, and one that a
// visitor sees. Nothing where the page has no feed, so that no page links
// a file that is not there.
#include <string_view>

#include "pages/pages.h"
#include "text/bounded.h"
#include "text/text.h"

namespace {

constexpr std::string_view feed_name = "feed.atom";

} // namespace

namespace fills {

// The feed's title, as the feed itself gives it.
char *
feed_alternate(char *pos, char *end, page_context &page)
{
	if (!page_feed_beside(page))
		return pos;
	pos = append(pos, end,
	    "<link rel=\"alternate\" type=\"application/atom+xml\" "
	    "title=\"FreeBSD ports: changes");
	if (page.kind == on_category) {
		pos = append(pos, end, " in ");
		pos = insert_as(pos, end, insertion::text, category(page));
	} else if (page.kind == on_maintainer) {
		pos = append(pos, end, " of ");
		pos = insert_as(pos, end, insertion::text, maintainer(page));
	}
	pos = append(pos, end, "\" href=\"");
	pos = append(pos, end, feed_name);
	return append(pos, end, "\">\n");
}

char *
feed_link(char *pos, char *end, page_context &page)
{
	if (!page_feed_beside(page))
		return pos;
	pos = append(pos, end, "<p class=\"feed\"><a href=\"");
	pos = append(pos, end, feed_name);
	pos = append(pos, end, "\" type=\"application/atom+xml\">");
	pos = append(pos, end,
	    page.kind == on_category	? "Changes to this category"
		: page.kind == on_maintainer ? "Changes to these ports"
					     : "Changes to the collection");
	return append(pos, end, "</a> (Atom feed)</p>\n");
}

} // namespace fills
