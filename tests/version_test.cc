// The order of package versions, on the examples of the format and on a
// table of pairs whose answers were worked out by hand.
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "treedata/version.h"

namespace {

int
sign(int c)
{
	return c < 0 ? -1 : c > 0 ? 1 : 0;
}

struct pair_case {
	std::string_view a;
	std::string_view b;
	int expected; // the sign of compare_versions(a, b)
};

// Checks both directions of every pair: the answer, and its mirror.
void
check_pairs(const std::vector<pair_case> &cases)
{
	for (const pair_case &c : cases) {
		EXPECT_EQ(sign(compare_versions(c.a, c.b)), c.expected)
		    << '"' << c.a << "\" vs \"" << c.b << '"';
		EXPECT_EQ(sign(compare_versions(c.b, c.a)), -c.expected)
		    << '"' << c.b << "\" vs \"" << c.a << '"';
	}
}

// Each version of the chain is older than the next.
void
check_chain(const std::vector<std::string_view> &chain)
{
	for (std::size_t i = 0; i + 1 < chain.size(); i++)
		for (std::size_t k = i + 1; k < chain.size(); k++)
			EXPECT_LT(compare_versions(chain[i], chain[k]), 0)
			    << '"' << chain[i] << "\" vs \"" << chain[k] << '"';
}

} // namespace

TEST(VersionOrder, ExamplesOfTheFormat)
{
	check_pairs({
	    {"10", "10.0", 0},
	    {"10", "10.0.0", 0},
	    {"1.d2", "1.dev2", 0},
	    {"10alpha", "10.a", 0},
	    {"a", "0", -1},
	    {"10.a", "10", -1},
	    // An epoch decides before the version, a revision after it.
	    {"3.0.20", "3.0.19,1", -1},
	    {"14.3", "14.3_8", -1},
	    {"14.3_7", "14.3_8", -1},
	    {"1.9.17p1", "1.9.17", 1},
	});
	check_chain({"10", "10a", "10b"});
	check_chain({"10alpha", "10", "10a"});
	check_chain({"pl11", "alpha3", "0.1beta2", "0.1"});
	check_chain({"2.*", "2pl1", "2alpha3", "2.9f7", "3.*"});
}

TEST(VersionOrder, TableOfPairs)
{
	check_pairs({
	    // Numbers, by value, however long.
	    {"1.0", "1.1", -1},
	    {"1.9", "1.10", -1},
	    {"1.10", "1.9.9", 1},
	    {"1.01", "1.1", 0},
	    {"144.0.7559.109", "144.0.7559.96", 1},
	    {"99999999999999999999999", "9999999999999999999999", 1},
	    {"18446744073709551617", "18446744073709551616", 1},
	    // Missing components are zeros; separators of any kind and in
	    // a row are one.
	    {"1.0.0", "1", 0},
	    {"", "0.0.0", 0},
	    {"1.2.3", "1..2...3", 0},
	    {"1.2-3", "1.2.3", 0},
	    {"1.2~rc1", "1.2", -1},
	    {".5", "5", 0},
	    // Revisions and epochs are numbers.
	    {"1.0_1", "1.0", 1},
	    {"1.0_1", "1.0.1", -1},
	    {"1.2.3_10", "1.2.3_9", 1},
	    {"1.2.3_04", "1.2.3_4", 0},
	    {"1.0,1", "2.0", 1},
	    {"2.0,1", "1.0,1", 1},
	    {"1.0_2,1", "1.0_1,1", 1},
	    {"1.0_1,1", "1.1,1", -1},
	    {"1.0,2", "9.9_9,1", 1},
	    {"147.0.2,2", "147.0.0,2", 1},
	    {"147.0.2", "147.0.0,2", -1},
	    {"1.0_1", "1.0_1,0", 0},
	    {"1,a", "1", 0},
	    {"1,2,3", "1,2,2", 1}, // the epoch follows the last ','
	    {"1_2_3", "1_2_2", 1}, // the revision the last '_' 
	    // Letters, and the words that make components of their own.
	    {"1.0rc1", "1.0", -1},
	    {"1.0rc1", "1.0rc2", -1},
	    {"1.0beta9", "1.0rc1", -1},
	    {"1.0pre1", "1.0rc1", -1},
	    {"1.0alpha2", "1.0beta1", -1},
	    {"1.0a", "1.0", 1},
	    {"1.0a", "1.0b", -1},
	    {"1.0a", "1.0.1", 1},
	    {"1.0A", "1.0a", 0},
	    {"1.0RC1", "1.0rc1", 0},
	    {"1.0.rc1", "1.0rc1", 0},
	    {"5.2p1", "5.2", 1},
	    {"5.2pl1", "5.2", -1},
	    {"5.2pl1", "5.2pl2", -1},
	    {"1.0b2", "1.0beta2", 1},
	    {"1.0.b2", "1.0beta2", 0},
	    {"1.0b", "1.0b0", 0},
	    {"1.0dev", "1.0e", -1},
	    {"1.0.dev", "1.0.d", 0},
	    {"2.9f7", "2.9f10", -1},
	    {"1.0plus", "1.0p", 0},
	    {"1.0prerelease", "1.0p", 0},
	    {"r123", "123", -1},
	    // '*' below everything else.
	    {"1.*", "1.0", -1},
	    {"1.*", "0.9", 1},
	    {"3.*,1", "3.9", 1},
	    {"1.*", "1.a", -1},
	    // Blocks after '+', in turn.
	    {"1.0+1", "1.0", 1},
	    {"1.0+1", "1.0+2", -1},
	    {"1.0+1", "1.1", -1},
	    {"1.0", "1.0+0", 0},
	    {"1+a", "1", -1},
	});
}

TEST(VersionOrder, PackageNameSplitsAtItsLastDash)
{
	std::string_view name, version;
	split_package("py311-django-4.2.1_1,1", &name, &version);
	EXPECT_EQ(name, "py311-django");
	EXPECT_EQ(version, "4.2.1_1,1");
	split_package("nodash", &name, &version);
	EXPECT_EQ(name, "nodash");
	EXPECT_EQ(version, "");
}
