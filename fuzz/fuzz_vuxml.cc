// Fuzzes the reading of the vulnerability database.
//
// Input: vuln.xml, then after chunk separators the files vuln/a.xml and
// vuln/b.xml that it may include, a package name and a version. The
// database is read from a scratch tree, and must be read or refused whole:
// refused, it has no entries; read, every entry's texts and CVE names can
// be walked, and a search gives each entry at most once, in order, each
// one naming the package.
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "state/state.h"
#include "support.h"
#include "treedata/vuxml.h"

using namespace qmfuzz;

namespace {

std::string top;

} // namespace

extern "C" int
LLVMFuzzerInitialize(int *, char ***)
{
	top = scratch_dir() + "/tree";
	std::string dir = top + "/security/vuxml/vuln";
	for (std::string d :
	    {top, top + "/security", top + "/security/vuxml", dir})
		check(mkdir(d.c_str(), 0755) == 0, "mkdir");
	return 0;
}

extern "C" int
LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	std::vector<std::string_view> chunks = split_chunks(data, size);
	chunks.resize(5);
	std::string dir = top + "/security/vuxml/";
	put_file(dir + "vuln.xml", chunks[0]);
	put_file(dir + "vuln/a.xml", chunks[1]);
	put_file(dir + "vuln/b.xml", chunks[2]);
	set_top(top);

	int r = load_vuxml();
	check(r == 0 || r == 1, "read or refused");
	check((r == 0) == vuxml_usable(), "usable when read");
	if (r != 0)
		check(vuxml_entry_count() == 0, "refused whole");
	auto collapsed = [](std::string_view t) {
		return t.find_first_of("\t\n\r") == t.npos &&
		    t.find("  ") == t.npos &&
		    (t.empty() || (t.front() != ' ' && t.back() != ' '));
	};
	for (std::size_t i = 0; i < vuxml_entry_count(); i++) {
		vuxml_entry e = vuxml_entry_at(i);
		check(collapsed(e.vid) && collapsed(e.topic) &&
			collapsed(e.discovery) && collapsed(e.entry),
		    "blanks collapsed");
		for (std::size_t k = 0; k < e.cve_count; k++)
			check(
			    collapsed(vuxml_cve(i, k)), "CVE names collapsed");
	}
	vuxml_search s = vuxml_find(chunks[3], chunks[4]);
	std::size_t entry, last = 0;
	bool first = true;
	while (vuxml_next(&s, &entry)) {
		check(entry < vuxml_entry_count(), "an entry that was read");
		check(first || entry > last, "each entry once, in order");
		first = false;
		last = entry;
	}
	release_vuxml();
	clean_up();
	return 0;
}
