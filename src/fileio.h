#pragma once

#include <cstdint>

#include "messages.h"

// File access and the few other things that differ between platforms.
// One implementation per platform: fileio-posix.cc, fileio-win32.cc.

// True when name can be opened for reading while others may read it too.
// A directory, a file we may not read, or one that another process holds
// locked counts as absent.
bool file_exists(const char *name);

// Reads the whole input into input_data, which holds MAX_INPUT_BYTES, and
// sets *size. Nobody else may read or write the file meanwhile, and it is
// closed again before this returns.
run_error load_input(const char *name, unsigned char *input_data,
    uint32_t *size);

// Writes output_text, without its NUL, as the whole content of the output.
// With overwrite an existing file is emptied and rewritten; without it an
// existing file is never touched and the create fails.
run_error store_output(const char *name, const char *output_text,
    bool overwrite);

// The platform's code for the last failed system call, and its reset.
int last_error_code();
void clear_last_error();

// What the process should exit with for a run's result: -1 for an error,
// otherwise the number of replaced bytes, as far as the platform can say it.
int exit_status(int32_t result);
