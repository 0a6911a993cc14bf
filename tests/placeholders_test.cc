// The placeholder table against what the manual page documents.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "readme/placeholders.h"

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
