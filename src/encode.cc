#include "encode.h"

#include <array>
#include <bit>
#include <cstring>

// SSE2 tests 16 bytes at once; QUORIL_PORTABLE_ENCODER asks for the plain
// loop that serves other processors.
#if (defined(__SSE2__) || defined(_M_X64)) && !defined(QUORIL_PORTABLE_ENCODER)
#define QUORIL_SSE2
#include <emmintrin.h>
#endif

namespace {

constexpr size_t BLOCK = 16;

using Reference = std::array<char, 6>;

// "&#128;" to "&#255;", worked out once at compile time.
constexpr std::array<Reference, 128>
make_references()
{
	std::array<Reference, 128> table{};

	for (unsigned v = 128; v < 256; v++) {
		table[v - 128] = {'&', '#', static_cast<char>('0' + v / 100),
		    static_cast<char>('0' + v / 10 % 10),
		    static_cast<char>('0' + v % 10), ';'};
	}
	return table;
}

constexpr std::array<Reference, 128> REFERENCES = make_references();

// The same references as 8-byte words, so that each is written with one
// store: its 6 characters and 2 bytes that the next piece overwrites.
// Indexed by the byte itself; the low half is never used.
constexpr std::array<uint64_t, 256>
make_reference_words()
{
	std::array<uint64_t, 256> words{};

	for (size_t v = 128; v < 256; v++) {
		for (size_t k = 0; k < sizeof(Reference); k++) {
			auto c = static_cast<unsigned char>(REFERENCES[v - 128][k]);
			words[v] |= uint64_t{c} << (std::endian::native ==
			    std::endian::little ? 8 * k : 8 * (7 - k));
		}
	}
	return words;
}

constexpr std::array<uint64_t, 256> REFERENCE_WORDS = make_reference_words();

// Bit i of special is set when byte i of the block at p is 0x00 or 0x80
// and up; bit i of high when it is 0x80 and up.
struct Masks {
	unsigned special;
	unsigned high;
};

#ifdef QUORIL_SSE2
Masks
block_masks(const unsigned char *p)
{
	__m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
	__m128i zero = _mm_cmpeq_epi8(bytes, _mm_setzero_si128());
	auto high = static_cast<unsigned>(_mm_movemask_epi8(bytes));
	auto zeros = static_cast<unsigned>(_mm_movemask_epi8(zero));
	return {high | zeros, high};
}
#else
Masks
block_masks(const unsigned char *p)
{
	Masks m = {0, 0};

	for (unsigned i = 0; i < BLOCK; i++) {
		m.high |= static_cast<unsigned>(p[i] >= 0x80) << i;
		m.special |= static_cast<unsigned>(p[i] >= 0x80 || p[i] == 0) << i;
	}
	return m;
}
#endif

// Appends one byte as it appears in the output and returns the new end.
char *
append_byte(char *out, unsigned char b)
{
	if (b >= 0x80) {
		std::memcpy(out, REFERENCES[b - 128].data(), sizeof(Reference));
		return out + sizeof(Reference);
	}
	if (b != 0x00)
		*out++ = static_cast<char>(b);
	return out;
}

// The well-formed UTF-8 sequence at p, of which n bytes are there: its
// length, with its code point in *code_point; 0 where none starts at p;
// -1 where the n bytes begin one that the end cuts short.
int
utf8_sequence(const unsigned char *p, uint32_t n, uint32_t *code_point)
{
	unsigned char b = p[0];
	unsigned char low = 0x80;
	unsigned char high = 0xBF;
	uint32_t more;
	uint32_t c;

	// The ranges of the second byte that rule out overlong forms,
	// surrogates and code points past U+10FFFF.
	if (b >= 0xC2 && b <= 0xDF) {
		more = 1;
		c = b & 0x1Fu;
	} else if (b >= 0xE0 && b <= 0xEF) {
		more = 2;
		c = b & 0x0Fu;
		low = b == 0xE0 ? 0xA0 : 0x80;
		high = b == 0xED ? 0x9F : 0xBF;
	} else if (b >= 0xF0 && b <= 0xF4) {
		more = 3;
		c = b & 0x07u;
		low = b == 0xF0 ? 0x90 : 0x80;
		high = b == 0xF4 ? 0x8F : 0xBF;
	} else {
		return 0;
	}
	for (uint32_t k = 1; k <= more; k++) {
		if (k == n)
			return -1;
		if (p[k] < low || p[k] > high)
			return 0;
		low = 0x80;
		high = 0xBF;
		c = c << 6 | (p[k] & 0x3Fu);
	}
	*code_point = c;
	return static_cast<int>(more) + 1;
}

// Appends "&#N;" for a code point and returns the new end.
char *
append_code_point(char *out, uint32_t c)
{
	char digits[8];
	int n = 0;

	do {
		digits[n++] = static_cast<char>('0' + c % 10);
		c /= 10;
	} while (c != 0);
	*out++ = '&';
	*out++ = '#';
	while (n > 0)
		*out++ = digits[--n];
	*out++ = ';';
	return out;
}

// Decodes the sequence at input_data[i] and appends its piece: the byte
// itself for ASCII (none for 0x00), one reference for a well-formed
// sequence or a byte that starts none. Returns the bytes used, or 0 for a
// sequence cut short by the end of a slice that is not the last.
uint32_t
append_utf8(char *&out, const unsigned char *input_data, uint32_t i,
    uint32_t size, int32_t &replaced_count, bool last)
{
	unsigned char b = input_data[i];
	uint32_t c;

	if (b < 0x80) {
		if (b != 0x00)
			*out++ = static_cast<char>(b);
		return 1;
	}
	int n = utf8_sequence(input_data + i, size - i, &c);
	if (n < 0 && !last)
		return 0;
	replaced_count++;
	if (n > 0) {
		out = append_code_point(out, c);
		return static_cast<uint32_t>(n);
	}
	out = append_byte(out, b);
	return 1;
}

} // namespace

uint32_t
utf8_bom_length(const unsigned char *input_data, uint32_t size)
{
	return size >= 3 && input_data[0] == 0xEF && input_data[1] == 0xBB &&
	    input_data[2] == 0xBF ? 3 : 0;
}

// Plain blocks of 16 bytes are copied whole as in encode_high_bytes; in
// any other block the plain bytes before the first special one are copied
// at once and one sequence is decoded there. No reference is longer than
// 6 characters per byte it stands for ("&#1114111;" for 4 bytes), so the
// output stays within its room.
uint32_t
encode_utf8(const unsigned char *input_data, uint32_t size,
    char *output_text, int32_t &replaced_count, bool last)
{
	char *out = output_text;
	uint32_t i = 0;
	uint32_t n;

	while (size - i >= BLOCK) {
		Masks m = block_masks(input_data + i);
		std::memcpy(out, input_data + i, BLOCK);
		if (m.special == 0) {
			out += BLOCK;
			i += BLOCK;
			continue;
		}
		auto plain = static_cast<uint32_t>(std::countr_zero(m.special));
		out += plain;
		i += plain;
		n = append_utf8(out, input_data, i, size, replaced_count, last);
		if (n == 0)
			break;
		i += n;
	}
	while (i < size) {
		n = append_utf8(out, input_data, i, size, replaced_count, last);
		if (n == 0)
			break;
		i += n;
	}
	*out = '\0';
	return i;
}

// Works through the input a block of 16 bytes at a time. A block with no
// byte to replace or drop is copied whole; a block of bytes that are all
// replaced is written at fixed offsets; in any other block the plain bytes
// before the first special one are copied at once. Every store stays
// within 6 output characters per input byte read so far, plus the NUL;
// an all-high block is written with 8-byte stores, so only where at least
// one more input byte follows it, whose room covers their last 2 bytes
// (the last block of all goes byte by byte).
void
encode_high_bytes(const unsigned char *input_data, uint32_t size,
    char *output_text, int32_t &replaced_count)
{
	char *out = output_text;
	uint32_t i = 0;

	while (size - i >= BLOCK) {
		Masks m = block_masks(input_data + i);
		if (m.special == 0) {
			std::memcpy(out, input_data + i, BLOCK);
			out += BLOCK;
			i += BLOCK;
		} else if (m.high == 0xFFFF && size - i > BLOCK) {
			for (size_t k = 0; k < BLOCK; k++) {
				std::memcpy(out + k * sizeof(Reference),
				    &REFERENCE_WORDS[input_data[i + k]],
				    sizeof(uint64_t));
			}
			out += BLOCK * sizeof(Reference);
			replaced_count += static_cast<int32_t>(BLOCK);
			i += BLOCK;
		} else {
			auto plain = static_cast<uint32_t>(std::countr_zero(m.special));
			std::memcpy(out, input_data + i, BLOCK);
			out += plain;
			i += plain;
			replaced_count += input_data[i] >= 0x80 ? 1 : 0;
			out = append_byte(out, input_data[i++]);
		}
	}
	for (; i < size; i++) {
		replaced_count += input_data[i] >= 0x80 ? 1 : 0;
		out = append_byte(out, input_data[i]);
	}
	*out = '\0';
}
