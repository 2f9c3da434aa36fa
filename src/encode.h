#pragma once

#include <cstddef>
#include <cstdint>

// The largest input accepted, in bytes, inclusive.
inline constexpr uint32_t MAX_INPUT_BYTES = 65536;

// Every input byte becomes at most six characters ("&#255;"), and the text
// ends in a NUL: this holds the whole output of any input we accept.
inline constexpr size_t OUTPUT_TEXT_CAPACITY = 6 * size_t{MAX_INPUT_BYTES} + 1;

// Converts the first size bytes of input_data into the NUL-terminated
// output_text: each byte 0x80 to 0xFF becomes "&#NNN;" with its value,
// 0x00 is dropped, any other byte is copied. Adds the number of replaced
// bytes to replaced_count. output_text must hold 6 * size + 1 bytes.
void encode_high_bytes(const unsigned char *input_data, uint32_t size,
    char *output_text, int32_t &replaced_count);

// The same in UTF-8 mode: each well-formed UTF-8 sequence (strictly as
// Unicode defines it) for a code point from U+0080 up becomes one "&#N;"
// with that code point; every other byte is converted as above, so a
// byte that starts no well-formed sequence becomes "&#NNN;" and decoding
// goes on at the next byte. Adds the number of references written to
// replaced_count. output_text must hold 6 * size + 1 bytes.
//
// Returns how many input bytes were used: all of them when last is true.
// Otherwise a sequence cut short by the end of the slice is left for the
// next call, which must start at the first byte not used.
uint32_t encode_utf8(const unsigned char *input_data, uint32_t size,
    char *output_text, int32_t &replaced_count, bool last);

// How many bytes of a UTF-8 byte-order mark input_data starts with: 3 or 0.
uint32_t utf8_bom_length(const unsigned char *input_data, uint32_t size);
