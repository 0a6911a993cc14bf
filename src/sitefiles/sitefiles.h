// Files beside the pages that are not pages: the feeds and their record,
// the search data and word index, the sitemap, and the files every page
// shares.
#pragma once

#include <string_view>

// With -u, publishing through a link: the Atom feeds of the ports added,
// updated and removed since the generation the link points to, beside the
// top page, in each category and (with maintainer pages) each maintainer's
// folder, and the run's record of them (feeds.cc). 0, or 1 after the
// report; *unwritten counts the files not written.
[[nodiscard]] int make_feeds(int *unwritten);
// Whether a run that makes the top page writes the feeds: with -u,
// publishing through a link.
[[nodiscard]] bool feeds_written();

// The files that the pages share, copied from the templates directory to
// beside the top-level README.html (shared_files.cc): the names that
// %%STYLESHEET%% and %%SCRIPT%% give, relative to the page.
inline constexpr std::string_view shared_stylesheet_name = "site.css";
inline constexpr std::string_view shared_script_name = "site.js";

// At the end of a run, once every page is made: writes beside the top the
// shared files that its pages asked for. A file that the templates
// directory lacks, or that cannot be written, is reported and added to
// *unwritten. 0, or 1 after a report.
[[nodiscard]] int write_shared_files(int *unwritten);
// Notes the shared files that a page asked for (its shared_asked), once it
// is made; on the run's own thread.
struct page_context;
void note_shared_files(const page_context &page);
// Forgets which files were asked for. Safe to run more than once.
void release_shared_files();

// The sitemap (sitemap.cc), with -u: a run that makes the top page begins
// it before the first page; write_file notes every page (.html) it wrote or
// left holding its bytes, with its modification time; once the top page
// is written, write_sitemap writes sitemap.xml beside it (and with more
// pages than one sitemap holds, sitemap-N.xml and sitemap.xml their
// index). write_sitemap: 0, or 1 after the report; 0 without -u.
void sitemap_begin();
void sitemap_note(const char *path, int fd);
[[nodiscard]] int write_sitemap();
void sitemap_release();
