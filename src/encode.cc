#include "encode.h"

// Writes "&#NNN;" for a byte 128 to 255 and returns the new end.
static char *
append_reference(char *out, unsigned char b)
{
	*out++ = '&';
	*out++ = '#';
	*out++ = static_cast<char>('0' + b / 100);
	*out++ = static_cast<char>('0' + b / 10 % 10);
	*out++ = static_cast<char>('0' + b % 10);
	*out++ = ';';
	return out;
}

void
encode_high_bytes(const unsigned char *input_data, uint32_t size,
    char *output_text, int32_t &replaced_count)
{
	char *out = output_text;

	for (uint32_t i = 0; i < size; i++) {
		unsigned char b = input_data[i];
		if (b >= 0x80) {
			out = append_reference(out, b);
			replaced_count++;
		} else if (b != 0x00) {
			*out++ = static_cast<char>(b);
		}
	}
	*out = '\0';
}
