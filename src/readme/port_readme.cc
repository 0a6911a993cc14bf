// The README of one port, filled from its INDEX line.
//
// Inside a category the group is already selected and the lookup goes on
// from where the previous port's stopped; only a port named on the command
// line selects its category itself. Nothing is opened before the port's
// line is found, so a port missing from the INDEX keeps its old README.
#include <cstdio>
#include <cstring>

#include "catalogue/catalogue.h"
#include "readme/readme.h"
#include "state/pathnames.h"
#include "state/state.h"

namespace {

struct port_context {
	const char *relative; // the port path below the top, "www/foo"
	int depth;	      // its number of directories, 2 there
};

constexpr std::string_view build_sentence =
    "This port requires the following ports to build:<br><br>";
constexpr std::string_view run_sentence =
    "This port requires the following ports to run:<br><br>";

// INDEX field k (numbered from 1) of the port's line.
const char *
field(int k)
{
	return state.index_fields[k - 1];
}

// Field k between before and after, or nothing at all when it is empty.
char *
append_field(char *pos, char *end, int k, std::string_view before,
    std::string_view after = {})
{
	if (field(k)[0] == '\0')
		return pos;
	pos = append(pos, end, before);
	pos = append(pos, end, field(k));
	return append(pos, end, after);
}

char *
port_substitution(int code, char *pos, char *end, void *context)
{
	auto *port = static_cast<port_context *>(context);
	switch (code) {
	case ph_pkg:
		return append(pos, end, field(1));
	case ph_port:
		return append(pos, end, port->relative);
	case ph_comment:
		return html_escape(pos, end, field(4));
	case ph_descr:
		pos = append(pos, end, state.top_dir);
		return append(
		    pos, end, skip_prefix(field(5), path_index_ports));
	case ph_email:
		return append(pos, end, field(6));
	case ph_build_depends:
		return append_field(pos, end, 8, build_sentence);
	case ph_run_depends:
		return append_field(pos, end, 9, run_sentence);
	case ph_website:
		return append_field(
		    pos, end, 10, " or <a href=\"", "\">visit the website</a>");
	case ph_top:
		return append(pos, end, state.top_dir);
	case ph_descr_text:
		return append_description(pos, end, field(5));
	case ph_build_depends_links:
		return append_depends_links(
		    pos, end, field(8), build_sentence, port->depth, false);
	case ph_run_depends_links:
		return append_depends_links(
		    pos, end, field(9), run_sentence, port->depth, true);
	case ph_required_by:
		return append_required_by(pos, end, field(1), port->depth);
	default:
		return pos; // %%PREFIX%%, %%CATEGORY%%, %%SUBDIR%%
	}
}

} // namespace

int
make_port_readme(const char *path, int kind, bool *found)
{
	// Static: port READMEs never nest inside one another. A template
	// without extensions has the classic room only.
	static char out[port_readme_extended_size];

	if (found != nullptr)
		*found = false;
	port_context port = {skip_prefix(path, state.top_dir_slash), 1};
	for (const char *c = port.relative; *c != '\0'; c++)
		port.depth += *c == '/';

	if (kind == kind_port) {
		// The category is the first component of the path below the
		// top, which fits a path buffer as the path itself does.
		char category[path_size];
		(void)copy_text(category, sizeof category,
		    std::string_view(
			port.relative, std::strcspn(port.relative, "/")));
		if (select_category(category) != 0)
			return 1;
	}
	if (find_port(path) == 0) {
		std::fprintf(
		    stderr, "Port %s not found in INDEX\n", port.relative);
		return 1;
	}
	if (found != nullptr)
		*found = true;

	if (state.verbosity > 2 || (kind == kind_port && state.quiet == 0))
		std::printf("Making README.html for port %s\n", port.relative);

	std::size_t size =
	    port_template_extended() ? sizeof out : port_readme_size;
	char *text_end = expand_template(
	    state.port_template, out, out + size, port_substitution, &port);
	return finish_readme(path, out, text_end, size);
}
