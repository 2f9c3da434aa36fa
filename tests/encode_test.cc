#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "encode.h"

namespace {

struct Encoded {
	std::string text;
	int32_t replaced;
};

Encoded
encode(const std::string &input)
{
	std::vector<char> out(6 * input.size() + 1, '\x7f');
	int32_t replaced = 0;

	encode_high_bytes(reinterpret_cast<const unsigned char *>(input.data()),
	    static_cast<uint32_t>(input.size()), out.data(), replaced);
	return {std::string(out.data()), replaced};
}

struct EncodeCase {
	std::string input;
	std::string output;
	int32_t replaced;
};

TEST(EncodeHighBytes, KnownInputs)
{
	using namespace std::string_literals;
	const EncodeCase cases[] = {
		{"", "", 0},
		{"caf\xE9", "caf&#233;", 1},
		{"\x80", "&#128;", 1},
		{"\xA0", "&#160;", 1},
		{"\xFF", "&#255;", 1},
		{"A\0B"s, "AB", 0},
		{"\0\0\0"s, "", 0},
		{"a&b<c>\"'", "a&b<c>\"'", 0},
		{"line\r\nnext\n\r", "line\r\nnext\n\r", 0},
		{"\t\x01\x1F\x7F", "\t\x01\x1F\x7F", 0},
		{"&#233;", "&#233;", 0},
		{"\xE9\0\xE8"s, "&#233;&#232;", 2},
		{"Gr\xFC\xDF Gott\r\n", "Gr&#252;&#223; Gott\r\n", 2},
	};
	for (const EncodeCase &c : cases) {
		Encoded got = encode(c.input);
		EXPECT_EQ(got.text, c.output);
		EXPECT_EQ(got.replaced, c.replaced) << c.output;
	}
}

TEST(EncodeHighBytes, EveryByteValue)
{
	std::string all;

	for (int b = 0; b < 256; b++) {
		std::string input(1, static_cast<char>(b));
		std::string expected;
		if (b >= 0x80) {
			char piece[8];
			std::snprintf(piece, sizeof piece, "&#%d;", b);
			expected = piece;
		} else if (b != 0) {
			expected = input;
		}
		Encoded got = encode(input);
		EXPECT_EQ(got.text, expected) << "byte " << b;
		EXPECT_EQ(got.replaced, b >= 0x80 ? 1 : 0) << "byte " << b;
		all += input;
	}
	// size - zeros + 5 * replaced
	Encoded got = encode(all);
	EXPECT_EQ(got.text.size(), 256u - 1u + 5u * 128u);
	EXPECT_EQ(got.replaced, 128);
}

// Byte by byte, the plainest way to say what the output must be.
Encoded
reference(const std::string &input)
{
	Encoded r = {"", 0};

	for (char c : input) {
		auto b = static_cast<unsigned char>(c);
		if (b >= 0x80) {
			r.text += "&#" + std::to_string(b) + ";";
			r.replaced++;
		} else if (b != 0) {
			r.text += c;
		}
	}
	return r;
}

// The encoder works in blocks of 16 bytes; a byte to replace or drop at
// each place in and around a block, alone or with others, must come out
// the same as byte by byte.
TEST(EncodeHighBytes, SpecialBytesAnywhereInBlocks)
{
	const char specials[] = {'\0', '\x80', '\xE9', '\xFF'};
	for (size_t length : {15u, 16u, 17u, 31u, 32u, 33u, 50u}) {
		for (size_t pos = 0; pos < length; pos++) {
			for (char special : specials) {
				std::string input(length, 'a');
				input[pos] = special;
				input[length - 1 - pos / 2] = '\xC9';
				Encoded want = reference(input);
				Encoded got = encode(input);
				EXPECT_EQ(got.text, want.text) << length << " " << pos;
				EXPECT_EQ(got.replaced, want.replaced);
			}
		}
	}
}

TEST(EncodeHighBytes, MixesOfEveryDensity)
{
	uint32_t state = 1;
	for (unsigned percent : {0u, 1u, 5u, 30u, 50u, 90u, 99u, 100u}) {
		std::string input(1000 + percent, 'x');
		for (char &c : input) {
			state = state * 1103515245u + 12345u;
			auto r = static_cast<unsigned char>(state >> 16);
			if ((state >> 8) % 100 < percent)
				c = static_cast<char>(r % 3 == 0 ? 0 : r | 0x80);
			else
				c = static_cast<char>(1 + r % 127);
		}
		Encoded want = reference(input);
		Encoded got = encode(input);
		EXPECT_EQ(got.text, want.text) << percent << "%";
		EXPECT_EQ(got.replaced, want.replaced) << percent << "%";
	}
}

TEST(EncodeHighBytes, AddsToTheCount)
{
	char out[16];
	const unsigned char input[] = {0xE9, 'x'};
	int32_t replaced = 7;

	encode_high_bytes(input, sizeof input, out, replaced);
	EXPECT_EQ(replaced, 8);
	EXPECT_STREQ(out, "&#233;x");
}

TEST(EncodeHighBytes, LargestInputFillsTheOutputExactly)
{
	std::vector<unsigned char> input(MAX_INPUT_BYTES, 0xFF);
	// Exactly the program's capacity, on the heap, so a sanitizer or the
	// guard byte sees any overrun.
	std::vector<char> out(OUTPUT_TEXT_CAPACITY + 1, '\x7f');
	int32_t replaced = 0;

	encode_high_bytes(input.data(), MAX_INPUT_BYTES, out.data(), replaced);
	EXPECT_EQ(replaced, 65536);
	EXPECT_EQ(std::string(out.data()).size(), OUTPUT_TEXT_CAPACITY - 1);
	EXPECT_EQ(out[OUTPUT_TEXT_CAPACITY - 1], '\0');
	EXPECT_EQ(out[OUTPUT_TEXT_CAPACITY], '\x7f');
	EXPECT_EQ(std::string(out.data() + OUTPUT_TEXT_CAPACITY - 7), "&#255;");
}

// UTF-8 mode, on a whole input, with the exact room it asks for.
Encoded
encode_utf8_text(const std::string &input)
{
	std::vector<char> out(6 * input.size() + 1, '\x7f');
	int32_t replaced = 0;

	uint32_t used = encode_utf8(
	    reinterpret_cast<const unsigned char *>(input.data()),
	    static_cast<uint32_t>(input.size()), out.data(), replaced, true);
	EXPECT_EQ(used, input.size());
	return {std::string(out.data()), replaced};
}

TEST(EncodeUtf8, OneReferencePerCharacter)
{
	using namespace std::string_literals;
	const EncodeCase cases[] = {
		{"caf\xC3\xA9", "caf&#233;", 1},
		{"\xE2\x82\xAC", "&#8364;", 1},
		{"\xF0\x9F\x98\x80", "&#128512;", 1},
		{"\xC2\x80 \xDF\xBF \xEF\xBF\xBF \xF4\x8F\xBF\xBF",
		    "&#128; &#2047; &#65535; &#1114111;", 4},
		{"plain <a&b>\r\n", "plain <a&b>\r\n", 0},
		// Latin-1 read as UTF-8 still comes out right.
		{"caf\xE9", "caf&#233;", 1},
		// Each kind of malformed input: its bytes one by one.
		{"\xC0\xAF", "&#192;&#175;", 2},             // overlong
		{"\xE0\x9F\xBF", "&#224;&#159;&#191;", 3},  // overlong
		{"\xF0\x8F\xBF\xBF", "&#240;&#143;&#191;&#191;", 4},
		{"\xED\xA0\x80", "&#237;&#160;&#128;", 3},  // surrogate
		{"\xF4\x90\x80\x80", "&#244;&#144;&#128;&#128;", 4}, // > U+10FFFF
		{"\xF5\x80", "&#245;&#128;", 2},
		{"\x80x", "&#128;x", 1},                      // lone continuation
		{"\xE2\x82", "&#226;&#130;", 2},              // cut at the end
		{"\xE2\x82x", "&#226;&#130;x", 2},            // cut inside
		// NUL is dropped, after decoding: it splits a sequence.
		{"a\0b"s, "ab", 0},
		{"\xC3\0\xA9"s, "&#195;&#169;", 2},
		// A byte-order mark is a character here; the caller drops it
		// at the very start.
		{"\xEF\xBB\xBF", "&#65279;", 1},
	};
	for (const EncodeCase &c : cases) {
		Encoded got = encode_utf8_text(c.input);
		EXPECT_EQ(got.text, c.output);
		EXPECT_EQ(got.replaced, c.replaced) << c.output;
	}
	const unsigned char bom[] = {0xEF, 0xBB, 0xBF, 'x'};
	EXPECT_EQ(utf8_bom_length(bom, 4), 3u);
	EXPECT_EQ(utf8_bom_length(bom, 2), 0u);
	EXPECT_EQ(utf8_bom_length(bom + 1, 3), 0u);
}

// A slice that ends inside a sequence leaves it for the next call; the
// pieces together are the whole.
TEST(EncodeUtf8, SequenceAcrossSlices)
{
	const std::string text = std::string(20, 'a') + "\xF0\x9F\x98\x80" +
	    std::string(20, 'b') + "\xE2\x82\xAC";
	const auto *p = reinterpret_cast<const unsigned char *>(text.data());
	const std::string whole = encode_utf8_text(text).text;
	for (uint32_t cut = 0; cut <= text.size(); cut++) {
		std::vector<char> out(6 * text.size() + 1);
		int32_t replaced = 0;
		uint32_t used = encode_utf8(p, cut, out.data(), replaced,
		    cut == text.size());
		EXPECT_LE(cut - used, 3u) << cut;
		std::string got = out.data();
		encode_utf8(p + used, static_cast<uint32_t>(text.size()) - used,
		    out.data(), replaced, true);
		EXPECT_EQ(got + out.data(), whole) << cut;
		EXPECT_EQ(replaced, 2) << cut;
	}
}

} // namespace
