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
