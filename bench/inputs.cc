#include "inputs.h"

#include <cstdint>

#include "encode.h"

static const char PARAGRAPH[] =
    "It was the best of times, it was the worst of times, it was the age "
    "of wisdom, it was the age of foolishness, it was the epoch of belief, "
    "it was the epoch of incredulity, it was the season of Light, it was "
    "the season of Darkness.\r\n"
    "There were a king with a large jaw and a queen with a plain face, on "
    "the throne of England; there were a king with a large jaw and a queen "
    "with a fair face, on the throne of France.\n";

std::string
ascii_text()
{
	std::string text;

	while (text.size() < MAX_INPUT_BYTES)
		text += PARAGRAPH;
	text.resize(MAX_INPUT_BYTES);
	return text;
}

// Every twentieth byte, in a fixed pseudo-random pattern, becomes one of
// the accented letters of French and German.
std::string
latin1_text()
{
	static const char ACCENTED[] = "\xE0\xE2\xE7\xE8\xE9\xEA\xEB\xEE\xEF"
	    "\xF4\xF9\xFB\xE4\xF6\xFC\xDF\xC9\xC0";
	std::string text = ascii_text();
	uint32_t state = 12345;

	for (char &c : text) {
		state = state * 1103515245u + 12345u;
		if ((state >> 16) % 20 == 0)
			c = ACCENTED[(state >> 8) % (sizeof ACCENTED - 1)];
	}
	return text;
}

std::string
all_high()
{
	std::string text(MAX_INPUT_BYTES, '\0');

	for (size_t i = 0; i < text.size(); i++)
		text[i] = static_cast<char>(0x80 + i % 128);
	return text;
}
