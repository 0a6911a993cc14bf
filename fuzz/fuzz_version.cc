// Fuzzes the order of package versions.
//
// Input: up to three versions separated by chunk separators (missing ones
// are empty). The order must be a total preorder: every version equals
// itself, swapping two versions swaps the answer, and the answers on the
// three pairs of the triple are transitive, ties included.
#include <cstdint>
#include <string_view>
#include <vector>

#include "support.h"
#include "treedata/version.h"

using namespace qmfuzz;

namespace {

int
sign(int c)
{
	return c < 0 ? -1 : c > 0 ? 1 : 0;
}

} // namespace

extern "C" int
LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
	std::vector<std::string_view> v = split_chunks(data, size);
	v.resize(3);
	int c[3][3];
	for (int i = 0; i < 3; i++)
		for (int k = 0; k < 3; k++)
			c[i][k] = sign(compare_versions(v[i], v[k]));
	for (int i = 0; i < 3; i++) {
		check(c[i][i] == 0, "a version equals itself");
		for (int k = 0; k < 3; k++)
			check(c[i][k] == -c[k][i], "swapping swaps the answer");
	}
	for (int x = 0; x < 3; x++) {
		for (int y = 0; y < 3; y++) {
			for (int z = 0; z < 3; z++) {
				if (c[x][y] <= 0 && c[y][z] <= 0)
					check(c[x][z] <= 0,
					    "not above is transitive");
				if (c[x][y] == 0 && c[y][z] == 0)
					check(c[x][z] == 0,
					    "equality is transitive");
				if (c[x][y] < 0 && c[y][z] <= 0)
					check(
					    c[x][z] < 0, "below is transitive");
			}
		}
	}
	return 0;
}
