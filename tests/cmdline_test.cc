#include <gtest/gtest.h>

#include <vector>

#include "cmdline.h"

namespace {

struct OverwriteCase {
	std::vector<const char *> argv;
	bool expected;
};

TEST(OverwriteRequested, ScansEveryOptionArgumentForSlashO)
{
	const OverwriteCase cases[] = {
		{{"quoril", "in", "out"}, false},
		{{"quoril", "in", "out", "/O"}, true},
		{{"quoril", "in", "out", "/o"}, true},
		{{"quoril", "in", "out", "/Overwrite"}, true},
		{{"quoril", "in", "out", "x/oy"}, true},
		{{"quoril", "in", "out", "junk", "/o"}, true},
		{{"quoril", "in", "out", "/o", "junk"}, true},
		{{"quoril", "in", "out", "O"}, false},
		{{"quoril", "in", "out", "-O"}, false},
		{{"quoril", "in", "out", "/"}, false},
		{{"quoril", "in", "out", "o/"}, false},
		{{"quoril", "in", "out", "/ O"}, false},
		// The names are never options.
		{{"quoril", "/O", "/O"}, false},
		{{"quoril", "/O", "out", "-O"}, false},
		// Any length: the "/O" is found after 100 other characters.
		{{"quoril", "in", "out",
		  "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
		  "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx/o"},
		    true},
	};
	for (const OverwriteCase &c : cases) {
		int argc = static_cast<int>(c.argv.size());
		EXPECT_EQ(overwrite_requested(argc, c.argv.data()), c.expected)
		    << "last argument: " << c.argv.back();
	}
}

struct NameCase {
	const char *a;
	const char *b;
	bool expected;
};

TEST(Utf8Requested, OnlyExactlySlashU)
{
	const OverwriteCase cases[] = {
		{{"quoril", "in", "out"}, false},
		{{"quoril", "in", "out", "/U"}, true},
		{{"quoril", "in", "out", "/u"}, true},
		{{"quoril", "in", "out", "/U", "/O"}, true},
		{{"quoril", "in", "out", "/O", "/U"}, true},
		{{"quoril", "in", "out", "/UO"}, false},
		{{"quoril", "in", "out", "/Utf8"}, false},
		{{"quoril", "in", "out", "x/U"}, false},
		{{"quoril", "in", "out", "/"}, false},
		{{"quoril", "/U", "/u"}, false},
	};
	for (const OverwriteCase &c : cases) {
		int argc = static_cast<int>(c.argv.size());
		EXPECT_EQ(utf8_requested(argc, c.argv.data()), c.expected)
		    << c.argv.back();
	}
}

TEST(SameName, FoldsOnlyAsciiLetters)
{
	const NameCase cases[] = {
		{"a.htm", "a.htm", true},
		{"A.HTM", "a.htm", true},
		{"Sample.TXT", "sAMPLE.txt", true},
		{"", "", true},
		{".\\a.htm", "a.htm", false},
		{"./a.htm", "a.htm", false},
		{"a.htm", "a.htm ", false},
		{"a", "ab", false},
		{"ab", "a", false},
		// Neighbours of the letters differ by the same bit, but are not
		// letters: @ ` [ { ] } must not be folded.
		{"@", "`", false},
		{"[", "{", false},
		{"]", "}", false},
		// No folding beyond ASCII: Latin-1 E-acute in both cases.
		{"\xC9", "\xE9", false},
	};
	for (const NameCase &c : cases) {
		EXPECT_EQ(same_name(c.a, c.b), c.expected)
		    << '"' << c.a << "\" vs \"" << c.b << '"';
		EXPECT_EQ(same_name(c.b, c.a), c.expected);
	}
}

} // namespace
