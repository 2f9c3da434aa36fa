#pragma once

// Every text the program prints, in one place. The tests build their
// expected output from these same texts.

// How a run ended. Each error has exactly one message.
enum run_error {
	RUN_OK,
	ERROR_SAME_NAMES,
	ERROR_OUTPUT_EXISTS,
	ERROR_OPEN_INPUT,
	ERROR_INPUT_TOO_LARGE,
	ERROR_READ_INPUT,
	ERROR_CREATE_OUTPUT,
	ERROR_WRITE_OUTPUT,
};

// The version comes from the build (the CMake project version).
#ifndef QUORIL_VERSION
#error "QUORIL_VERSION must be defined by the build"
#endif

inline constexpr char BANNER_TEXT[] =
    "Quoril v" QUORIL_VERSION ": Copyright (C) 2026 The Quoril developers\n"
    "\n";

inline constexpr char USAGE_TEXT[] =
    "Quoril v" QUORIL_VERSION "a: Copyright (C) 2026 The Quoril developers\n"
    "\n"
    "Replace 8-bit characters by the corresponding &# code for use on HTML pages\n"
    "\n"
    "Syntax:  Quoril input_file output_file [options]\n"
    "\n"
    "Options: /O : Overwrite output file (default=fail if output file exists)\n"
    "\n"
    "         /U : Read input as UTF-8, one &# code per character (default=per byte)\n"
    "Report bugs on the Quoril issue tracker.\n";

// Takes the number of replaced bytes.
inline constexpr char SUCCESS_FORMAT[] = "%d character(s) replaced.\n";

// The printf format of an error's message; it takes the last-error code.
// RUN_OK has no message and yields an empty format.
const char *error_format(run_error error);
