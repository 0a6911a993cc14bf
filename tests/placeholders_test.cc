// The placeholder table against what the manual page documents, and
// against what the pages of each kind make of every placeholder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"
#include "engine/placeholders.h"

using namespace qmtest;

TEST(Placeholders, ManualPageNamesEveryPlaceholderAndNoOther)
{
	std::ifstream in(QUILLMARK_SOURCE_DIR "/src/cli/quillmark.1");
	ASSERT_TRUE(in) << "the manual page cannot be read";
	std::stringstream page;
	page << in.rdbuf();
	const std::string text = page.str();

	std::set<std::string> documented;
	const std::regex name("%%[A-Z_]+%%");
	for (auto it = std::sregex_iterator(text.begin(), text.end(), name);
	     it != std::sregex_iterator(); ++it)
		documented.insert(it->str());
	std::set<std::string> known;
	for (const placeholder_row &row : placeholder_table)
		known.insert(std::string(row.text));
	EXPECT_EQ(documented, known);
}

namespace {

// The kinds of page, by the word of their template, README.<word>.
const std::vector<std::pair<std::string, unsigned char>> page_kinds = {
    {"port", on_port}, {"category", on_category}, {"top", on_top},
    {"vulnerable", on_vulnerable}, {"expiring", on_expiring},
    {"moved", on_moved}, {"maintainer", on_maintainer},
    {"maintainers", on_maintainers}};

// A placeholder's name without its signs: "PKG" of "%%PKG%%".
std::string
bare(std::string_view text)
{
	return std::string(text.substr(2, text.size() - 4));
}

} // namespace

// Templates of every kind that hold every placeholder, each between
// markers, make a whole site of the sample tree below an output root: each
// placeholder fills some page of every kind that its row names, and is
// removed from every page of the other kinds. One port gets extract, patch
// and fetch dependencies, which the sample lacks, and one move a reason
// that is put in as escaped text.
TEST(Placeholders, EachFillsTheKindsOfPageThatItsRowNames)
{
	TempDir d;
	const std::string tree = d / "ports";
	ASSERT_EQ(std::system(("cp -R '" + source_dir() + "/sample/ports' '" +
			       tree + "'").c_str()),
	    0);
	std::istringstream index(d.get("ports/INDEX-15"));
	std::string lines;
	for (std::string line; std::getline(index, line);) {
		std::vector<std::string> fields;
		std::istringstream split(line);
		for (std::string field; std::getline(split, field, '|');)
			fields.push_back(field);
		fields.resize(13);
		if (fields[1] == "/usr/ports/archivers/unzip")
			fields[10] = fields[11] = fields[12] = "gmake-4.4.1";
		std::string joined = fields[0];
		for (std::size_t i = 1; i < fields.size(); i++)
			joined += "|" + fields[i];
		lines += joined + "\n";
	}
	d.put("ports/INDEX-15", lines);
	d.put("ports/MOVED", d.get("ports/MOVED") +
	    "misc/fortune-old||2024-03-01|Gone <for> \"good\" & all\n");
	// A git work tree of one commit, for the placeholders of its history.
	ASSERT_EQ(std::system(("cd '" + tree + "' && GIT_CONFIG_NOSYSTEM=1 "
			       "GIT_CONFIG_GLOBAL=/dev/null GIT_AUTHOR_NAME=A "
			       "GIT_AUTHOR_EMAIL=a@example.org GIT_COMMITTER_NAME=A "
			       "GIT_COMMITTER_EMAIL=a@example.org sh -c 'git init -q "
			       "&& git add -A && git commit -q -m Import' >/dev/null")
				  .c_str()),
	    0);

	for (const auto &[word, bit] : page_kinds) {
		std::string tmpl = "<" + word + ">\n";
		for (const placeholder_row &row : placeholder_table)
			tmpl += "<<" + bare(row.text) + "|" +
			    std::string(row.text) + "|" + bare(row.text) +
			    ">>\n";
		d.put("templates/README." + word, tmpl);
	}
	d.put("templates/site.css", "body {}\n");
	d.put("templates/site.js", "\"use strict\";\n");
	// Published through a link, so that the run writes the feeds that
	// the pages link.
	d.mkdir("site.first");
	std::filesystem::create_directory_symlink("site.first", d / "site");
	Result r = run_tool({"-q", "-p", tree, "-t", d / "templates", "-o",
	    d / "site", "-u", "https://ports.example.org/"});
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(r.err, "");

	// How many pages each kind made, and the placeholders that some page
	// of a kind filled.
	std::map<std::string, int> pages;
	std::set<std::pair<std::string, std::string>> filled;
	for (const auto &entry :
	    std::filesystem::recursive_directory_iterator(d / "site")) {
		if (entry.path().extension() != ".html")
			continue;
		std::string page = read_file(entry.path().string());
		std::string kind = page.substr(1, page.find(">\n") - 1);
		pages[kind]++;
		for (const placeholder_row &row : placeholder_table) {
			std::string name = bare(row.text);
			std::string open = "<<" + name + "|";
			std::size_t at = page.find(open);
			ASSERT_NE(at, std::string::npos) << name << " in " << entry;
			at += open.size();
			std::size_t close = page.find("|" + name + ">>", at);
			ASSERT_NE(close, std::string::npos) << name << " in " << entry;
			if (close > at)
				filled.insert({kind, name});
		}
	}
	for (const auto &[word, bit] : page_kinds) {
		EXPECT_GT(pages[word], 0) << "no " << word << " page";
		for (const placeholder_row &row : placeholder_table) {
			// A build without libgit2 shows no history.
			bool history = row.code == ph_recent_commits ||
			    row.code == ph_last_changed;
			EXPECT_EQ(filled.count({word, bare(row.text)}) != 0,
			    (row.pages & bit) != 0 && (QUILLMARK_WITH_GIT || !history))
			    << row.text << " on the " << word << " pages";
		}
	}
	EXPECT_NE(d.get("site/misc/fortune-old/README.html")
		      .find("<<MOVED_REASON|Gone &lt;for&gt; &quot;good&quot; "
			    "&amp; all|MOVED_REASON>>"),
	    std::string::npos);
}
