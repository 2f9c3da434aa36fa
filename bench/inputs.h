#pragma once

#include <string>

// The three inputs the benchmarks measure, MAX_INPUT_BYTES long each and
// the same on every run.
struct BenchInput {
	const char *name;
	std::string bytes;
};

// English text, ASCII only; Latin-1 text with about 5% of its bytes 0x80
// and up; every byte from 0x80 to 0xFF over and over.
std::string ascii_text();
std::string latin1_text();
std::string all_high();
