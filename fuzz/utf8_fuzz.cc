// Fuzzes encode_utf8 against a plain reference decoder written here from
// Unicode's table of well-formed byte sequences, whole and in two slices.

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
		std::fprintf(stderr, "utf8_fuzz: %s\n", what);
		std::abort();
	}
}

// The length of the well-formed sequence at data[i], or 0.
static size_t
well_formed(const uint8_t *data, size_t size, size_t i, uint32_t *c)
{
	static const struct {
		uint8_t lead_low, lead_high, second_low, second_high;
		size_t length;
	} table[] = {
		{0xC2, 0xDF, 0x80, 0xBF, 2},
		{0xE0, 0xE0, 0xA0, 0xBF, 3},
		{0xE1, 0xEC, 0x80, 0xBF, 3},
		{0xED, 0xED, 0x80, 0x9F, 3},
		{0xEE, 0xEF, 0x80, 0xBF, 3},
		{0xF0, 0xF0, 0x90, 0xBF, 4},
		{0xF1, 0xF3, 0x80, 0xBF, 4},
		{0xF4, 0xF4, 0x80, 0x8F, 4},
	};
	for (const auto &row : table) {
		uint8_t b = data[i];
		if (b < row.lead_low || b > row.lead_high)
			continue;
		if (i + row.length > size)
			return 0;
		if (data[i + 1] < row.second_low || data[i + 1] > row.second_high)
			return 0;
		for (size_t k = 2; k < row.length; k++) {
			if (data[i + k] < 0x80 || data[i + k] > 0xBF)
				return 0;
		}
		uint32_t v = b & (row.length == 2 ? 0x1F : row.length == 3 ? 0x0F : 0x07);
		for (size_t k = 1; k < row.length; k++)
			v = v << 6 | (data[i + k] & 0x3F);
		*c = v;
		return row.length;
	}
	return 0;
}

extern "C" int
LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size > MAX_INPUT_BYTES)
		return -1;

	std::string expected;
	int32_t references = 0;
	for (size_t i = 0; i < size;) {
		uint32_t c;
		size_t n = data[i] >= 0x80 ? well_formed(data, size, i, &c) : 0;
		if (n == 0 && data[i] >= 0x80) {
			c = data[i];
			n = 1;
		}
		if (n == 0) {
			if (data[i] != 0)
				expected += static_cast<char>(data[i]);
			i++;
			continue;
		}
		expected += "&#" + std::to_string(c) + ";";
		references++;
		i += n;
	}

	// Exactly the room the encoder asks for, on the heap.
	std::vector<char> out(6 * size + 1);
	int32_t replaced = 0;
	uint32_t used = encode_utf8(data, static_cast<uint32_t>(size), out.data(),
	    replaced, true);
	check(used == size, "a last call did not use every byte");
	check(replaced == references, "count differs from the reference");
	check(expected == out.data(), "output differs from the reference");

	// Cut in two where the first byte says; the second call starts where
	// the first one stopped.
	size_t cut = size == 0 ? 0 : data[0] * size / 256;
	std::vector<char> first(6 * cut + 1);
	int32_t sliced = 0;
	used = encode_utf8(data, static_cast<uint32_t>(cut), first.data(), sliced,
	    cut == size);
	check(used <= cut && cut - used <= 3, "a slice stopped too early");
	std::vector<char> second(6 * (size - used) + 1);
	encode_utf8(data + used, static_cast<uint32_t>(size - used),
	    second.data(), sliced, true);
	check(sliced == references, "sliced count differs");
	check(expected == std::string(first.data()) + second.data(),
	    "sliced output differs from the reference");
	return 0;
}
