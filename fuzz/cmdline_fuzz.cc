// Fuzzes the option scan and the name comparison against plain references.
// The input is split at NUL bytes into an argument vector.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cmdline.h"

static std::string
ascii_upper(std::string s)
{
	for (char &c : s) {
		if (c >= 'a' && c <= 'z')
			c = static_cast<char>(c - 'a' + 'A');
	}
	return s;
}

static void
check(bool ok, const char *what)
{
	if (!ok) {
		std::fprintf(stderr, "cmdline_fuzz: %s\n", what);
		std::abort();
	}
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::vector<std::string> args(1);
	for (size_t i = 0; i < size; i++) {
		if (data[i] == 0)
			args.emplace_back();
		else
			args.back() += static_cast<char>(data[i]);
	}

	std::vector<const char *> argv = {"quoril"};
	bool expected_overwrite = false;
	for (size_t i = 0; i < args.size(); i++) {
		argv.push_back(args[i].c_str());
		if (i >= 2 && ascii_upper(args[i]).find("/O") != std::string::npos)
			expected_overwrite = true;
	}
	check(overwrite_requested(static_cast<int>(argv.size()), argv.data()) ==
	    expected_overwrite, "overwrite_requested differs from the reference");

	if (args.size() >= 2) {
		bool expected_same = ascii_upper(args[0]) == ascii_upper(args[1]);
		check(same_name(args[0].c_str(), args[1].c_str()) == expected_same,
		    "same_name differs from the reference");
	}
	return 0;
}
