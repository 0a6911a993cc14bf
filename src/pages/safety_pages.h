// What a port page shows of a port's safety (port_safety.cc), and the two
// pages beside the top-level README.html that list every port at risk:
// the ports with known vulnerabilities in their version, and the
// deprecated or expiring ones (safety_pages.cc).
#pragma once

#include <cstddef>
#include <string_view>

#include "engine/placeholders.h"
#include "treedata/port_status.h"

// The port's status, flavors and options from its own Makefile, read on the
// first call for the page and kept with it.
[[nodiscard]] const port_status &port_page_status(port_page &page);

// Whether text is a date as YYYY-MM-DD that the calendar has.
[[nodiscard]] bool iso_date(std::string_view text);

// A date as a <time> element when iso_date holds, else as escaped text.
[[nodiscard]] char *append_date(char *pos, char *end, std::string_view date);

// Entry i of the vulnerability database as a list item: its topic linked
// to its page, its discovery date and its CVE names; with entered, the date
// it was entered first ("entered DATE, discovered DATE", the discovery only
// where it differs).
[[nodiscard]] char *append_vuxml_item(
    char *pos, char *end, std::size_t i, bool entered = false);

// The pages' file names, beside the top-level README.html; what
// %%VULNERABLE_PAGE%% and %%EXPIRING_PAGE%% give as their URLs relative to
// it.
inline constexpr std::string_view vulnerable_page_name = "vulnerable.html";
inline constexpr std::string_view expiring_page_name = "expiring.html";

// Before the walk of a whole-tree run: the pages that the loaded top
// template links, with their templates (README.vulnerable and
// README.expiring of the templates directory). A page whose template
// cannot be loaded is reported by load_file and later counted unwritten;
// a page the top template does not link is neither read nor made.
void ready_safety_pages();

// Notes the port of a page being made, for the pages the run makes:
// nothing when it makes none. Reads its Makefile (once per page) for the
// expiring page; searches the vulnerability database for the other.
void note_safety(port_page &page);

// After the walk: writes the pages that ready_safety_pages found wanted
// into dir (the top of the tree), as pages are written. The number of them
// that could not be made or written, each reported.
[[nodiscard]] int write_safety_pages(const char *dir);

// Frees what the pages needed. Safe to run more than once.
void release_safety_pages();
