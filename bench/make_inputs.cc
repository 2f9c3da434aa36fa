// Writes the three benchmark inputs into a folder, for timing whole runs,
// and each one's converted text beside it, for the floor program:
//
//   build/bench/make_inputs DIR   ->  DIR/ascii.txt DIR/latin1.txt DIR/all_high.txt
//                                     DIR/ascii.htm DIR/latin1.htm DIR/all_high.htm

#include <cstdio>
#include <string>
#include <vector>

#include "encode.h"
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

static std::string
encoded(const std::string &input)
{
	std::vector<char> out(OUTPUT_TEXT_CAPACITY);
	int32_t replaced = 0;

	encode_high_bytes(reinterpret_cast<const unsigned char *>(input.data()),
	    static_cast<uint32_t>(input.size()), out.data(), replaced);
	return out.data();
}

int
main(int argc, char *argv[])
{
	if (argc != 2) {
		std::fputs("usage: make_inputs DIR\n", stderr);
		return 2;
	}
	std::string dir = argv[1];
	const BenchInput inputs[] = {
		{"ascii", ascii_text()},
		{"latin1", latin1_text()},
		{"all_high", all_high()},
	};
	for (const BenchInput &in : inputs) {
		std::string name = dir + "/" + in.name;
		if (!write_file(name + ".txt", in.bytes) ||
		    !write_file(name + ".htm", encoded(in.bytes))) {
			std::perror("make_inputs");
			return 1;
		}
	}
	return 0;
}
