// The README of one port, filled from its INDEX record.
//
// The caller has found the record: a category walking its ports goes on
// from where the previous port's lookup stopped, and only a port named on
// the command line selects its category itself. Nothing is opened before
// the port's line is found, so a port missing from the INDEX keeps its old
// README.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "readme/description.h"
#include "readme/readme.h"
#include "state/pathnames.h"
#include "state/state.h"

namespace {

struct port_context {
	const index_record *port;
	const char *relative; // the port path below the top, "www/foo"
	int depth;	      // its number of directories, 2 there
	// The description file, read on first need, once per page.
	bool description_read;
	std::string_view description;
};

std::string_view
description_of(port_context *ctx)
{
	if (!ctx->description_read) {
		ctx->description = read_port_description(*ctx->port);
		ctx->description_read = true;
	}
	return ctx->description;
}

constexpr std::string_view build_sentence =
    "This port requires the following ports to build:<br><br>";
constexpr std::string_view run_sentence =
    "This port requires the following ports to run:<br><br>";

// Field k between before and after, or nothing at all when it is empty.
char *
append_field(char *pos, char *end, std::string_view field, tree_text what,
    std::string_view before, std::string_view after = {})
{
	if (field.empty())
		return pos;
	pos = append(pos, end, before);
	pos = insert(pos, end, what, field);
	return append(pos, end, after);
}

char *
port_substitution(int code, char *pos, char *end, void *context)
{
	auto *ctx = static_cast<port_context *>(context);
	const index_record &port = *ctx->port;
	switch (code) {
	case ph_pkg:
		return insert(
		    pos, end, tree_text::package, port[index_field::package]);
	case ph_port:
		return insert(pos, end, tree_text::port_path, ctx->relative);
	case ph_comment:
		return insert(pos, end, tree_text::port_comment,
		    port[index_field::comment]);
	case ph_descr: {
		std::string_view descr = port[index_field::descr];
		if (descr.starts_with(path_index_ports))
			descr.remove_prefix(path_index_ports.size());
		pos = insert(pos, end, tree_text::top_dir, state.top_dir);
		return insert(pos, end, tree_text::descr_path, descr);
	}
	case ph_email:
		return insert(pos, end, tree_text::maintainer,
		    port[index_field::maintainer]);
	case ph_build_depends:
		return append_field(pos, end, port[index_field::build_depends],
		    tree_text::depends_field, build_sentence);
	case ph_run_depends:
		return append_field(pos, end, port[index_field::run_depends],
		    tree_text::depends_field, run_sentence);
	case ph_website:
		return append_field(pos, end, port[index_field::website],
		    tree_text::website, " or <a href=\"",
		    "\">visit the website</a>");
	case ph_top:
		return insert(pos, end, tree_text::top_dir, state.top_dir);
	case ph_descr_text: {
		// Up to a NUL, as this placeholder has always read the file.
		std::string_view text = description_of(ctx);
		return insert(pos, end, tree_text::description,
		    text.substr(0, text.find('\0')));
	}
	case ph_build_depends_links:
		return append_depends_links(pos, end, port,
		    index_field::build_depends, build_sentence, ctx->depth);
	case ph_run_depends_links:
		return append_depends_links(pos, end, port,
		    index_field::run_depends, run_sentence, ctx->depth);
	case ph_required_by:
		return append_required_by(pos, end, port, ctx->depth);
	case ph_pkgname:
		return insert(pos, end, tree_text::port_text,
		    package_base(port[index_field::package]));
	case ph_pkgversion:
		return insert(pos, end, tree_text::port_text,
		    package_version(port[index_field::package]));
	case ph_origin:
		return insert(
		    pos, end, tree_text::port_text, port_origin(port));
	case ph_comment_text:
		return insert(pos, end, tree_text::port_text,
		    port[index_field::comment]);
	case ph_descr_html:
		return render_description(
		    pos, end, description_of(ctx), nullptr);
	case ph_website_link: {
		std::string_view address = port[index_field::website];
		if (address.empty())
			address = description_website(description_of(ctx));
		return append_website_link(pos, end, address);
	}
	case ph_also_listed:
		return append_also_listed(pos, end, port, ctx->depth);
	case ph_build_depends_list:
	case ph_run_depends_list:
	case ph_extract_depends_list:
	case ph_patch_depends_list:
	case ph_fetch_depends_list:
	case ph_required_by_list:
		return append_depends_list(pos, end, port,
		    static_cast<std::size_t>(code - ph_build_depends_list),
		    ctx->depth);
	default:
		return pos; // %%PREFIX%%, %%CATEGORY%%, %%SUBDIR%%
	}
}

// A page whose lists the fixed buffer cannot hold (the dependents of a core
// port on a large tree) is made again in a buffer that doubles until the
// page fits, and freed once written. 0, or 1 after the report.
int
make_large_page(const char *path, port_context *ctx)
{
	for (std::size_t size = 2 * port_readme_extended_size;
	     size <= large_page_max; size *= 2) {
		char *out = static_cast<char *>(std::malloc(size));
		if (out == nullptr) {
			std::fprintf(stderr,
			    "%s/README.html: cannot allocate %zu bytes: %s\n",
			    path, size, std::strerror(errno));
			return 1;
		}
		char *text_end = expand_template(state.port_template, out,
		    out + size, port_substitution, ctx);
		if (text_end != nullptr || 2 * size > large_page_max) {
			int result = finish_readme(path, out, text_end, size);
			std::free(out);
			return result;
		}
		std::free(out);
	}
	return 1;
}

} // namespace

int
make_port_readme(
    const char *path, int kind, const index_record &port, int *unwritten)
{
	// Static: port READMEs never nest inside one another. A template
	// without extensions has the classic room only.
	static char out[port_readme_extended_size];

	port_context ctx = {
	    &port, skip_prefix(path, state.top_dir_slash), 1, false, {}};
	for (const char *c = ctx.relative; *c != '\0'; c++)
		ctx.depth += *c == '/';

	if (state.verbosity > 2 || (kind == kind_port && state.quiet == 0))
		std::printf("Making README.html for port %s\n", ctx.relative);

	std::size_t size =
	    state.port_template_uses >= placeholder_bit(ph_descr_text)
	    ? sizeof out
	    : port_readme_size;
	char *text_end = expand_template(
	    state.port_template, out, out + size, port_substitution, &ctx);
	int result;
	if (text_end == nullptr &&
	    (state.port_template_uses & unbounded_placeholders) != 0)
		result = make_large_page(path, &ctx);
	else
		result = finish_readme(path, out, text_end, size);
	*unwritten += result;
	return result;
}
