#include <gtest/gtest.h>

#include <string>

#include "messages.h"

namespace {

// The end-to-end tests build their expectations from these same texts, so
// the texts themselves are pinned here, byte for byte.
TEST(Messages, Catalogue)
{
	EXPECT_STREQ(BANNER_TEXT,
	    "Quoril v1.0: Copyright (C) 2026 The Quoril developers\n\n");
	EXPECT_STREQ(SUCCESS_FORMAT, "%d character(s) replaced.\n");

	const struct {
		run_error error;
		const char *text;
	} errors[] = {
		{ERROR_SAME_NAMES, "Error: input and output files must be different (GetLastError()=%d)\n"},
		{ERROR_OUTPUT_EXISTS, "Error: output file exist, specify /O if you want to overwrite it (GetLastError()=%d)\n"},
		{ERROR_OPEN_INPUT, "Error: unable to open input file (GetLastError()=%d)\n"},
		{ERROR_INPUT_TOO_LARGE, "Error: input file too large (GetLastError()=%d)\n"},
		{ERROR_READ_INPUT, "Error: unable to read input file (GetLastError()=%d)\n"},
		{ERROR_CREATE_OUTPUT, "Error: unable to create/open output file (GetLastError()=%d)\n"},
		{ERROR_WRITE_OUTPUT, "Error: unable to write output file (GetLastError()=%d)\n"},
	};
	for (const auto &e : errors)
		EXPECT_STREQ(error_format(e.error), e.text);
}

TEST(Messages, UsageScreenHasTenLines)
{
	const std::string usage = USAGE_TEXT;
	const std::string fixed =
	    "Quoril v1.0a: Copyright (C) 2026 The Quoril developers\n"
	    "\n"
	    "Replace 8-bit characters by the corresponding &# code for use on HTML pages\n"
	    "\n"
	    "Syntax:  Quoril input_file output_file [options]\n"
	    "\n"
	    "Options: /O : Overwrite output file (default=fail if output file exists)\n"
	    "\n"
	    "         /U : Read input as UTF-8, one &# code per character (default=per byte)\n";

	ASSERT_EQ(usage.substr(0, fixed.size()), fixed);
	size_t lines = 0;
	for (char c : usage)
		lines += c == '\n' ? 1 : 0;
	EXPECT_EQ(lines, 10u);
	EXPECT_EQ(usage.back(), '\n');
	EXPECT_EQ(usage.find('%'), std::string::npos);
}

} // namespace
