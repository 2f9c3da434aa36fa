// Fuzzes encode_high_bytes against a plain byte-by-byte reference.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "encode.h"

static void
check(bool ok, const char *what)
{
	if (!ok) {
		std::fprintf(stderr, "encode_fuzz: %s\n", what);
		std::abort();
	}
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size > MAX_INPUT_BYTES)
		return -1;

	std::string expected;
	size_t zeros = 0;
	int32_t high = 0;
	for (size_t i = 0; i < size; i++) {
		char piece[8];
		if (data[i] >= 0x80) {
			std::snprintf(piece, sizeof piece, "&#%d;", data[i]);
			expected += piece;
			high++;
		} else if (data[i] == 0) {
			zeros++;
		} else {
			expected += static_cast<char>(data[i]);
		}
	}

	// Exactly the room the encoder asks for, on the heap, so that
	// AddressSanitizer sees any write past it.
	std::vector<char> out(6 * size + 1);
	int32_t replaced = 0;
	encode_high_bytes(data, static_cast<uint32_t>(size), out.data(), replaced);

	size_t length = std::strlen(out.data());
	check(replaced == high, "count differs from the bytes 0x80 and up");
	check(length == size - zeros + 5 * static_cast<size_t>(replaced),
	    "length is not size - zeros + 5 * replaced");
	check(expected == out.data(), "output differs from the reference");
	for (size_t i = 0; i < length; i++)
		check(static_cast<unsigned char>(out[i]) < 0x80, "high byte in output");

	// The program encodes in slices, each appended where the last one's
	// text ended; cut the input in two where its first byte says.
	size_t cut = size == 0 ? 0 : data[0] * size / 256;
	std::vector<char> first(6 * cut + 1);
	std::vector<char> second(6 * (size - cut) + 1);
	int32_t sliced = 0;
	encode_high_bytes(data, static_cast<uint32_t>(cut), first.data(), sliced);
	encode_high_bytes(data + cut, static_cast<uint32_t>(size - cut),
	    second.data(), sliced);
	check(sliced == high, "sliced count differs");
	check(expected == std::string(first.data()) + second.data(),
	    "sliced output differs from the reference");
	return 0;
}
