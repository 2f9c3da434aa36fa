// Writes the three benchmark inputs into a folder, for timing whole runs:
//
//   build/bench/make_inputs DIR   ->  DIR/ascii.txt DIR/latin1.txt DIR/all_high.txt

#include <cstdio>
#include <string>

#include "inputs.h"

static bool
write_file(const std::string &path, const std::string &bytes)
{
	std::FILE *f = std::fopen(path.c_str(), "wb");

	if (f == nullptr)
		return false;
	bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
	return std::fclose(f) == 0 && ok;
}

int
main(int argc, char *argv[])
{
	if (argc != 2) {
		std::fputs("usage: make_inputs DIR\n", stderr);
		return 2;
	}
	std::string dir = argv[1];
	if (!write_file(dir + "/ascii.txt", ascii_text()) ||
	    !write_file(dir + "/latin1.txt", latin1_text()) ||
	    !write_file(dir + "/all_high.txt", all_high())) {
		std::perror("make_inputs");
		return 1;
	}
	return 0;
}
