#pragma once

#include <cstddef>
#include <cstdint>

#include "messages.h"

// File access and the few other things that differ between platforms.
// One implementation per platform: fileio-posix.cc, fileio-win32.cc.

// Sets the process up so that a failing write comes back as an error to
// report, never as a signal that ends the run unannounced.
void prepare_process();

// True when name exists and may be in use: a regular file that can be
// opened for reading while others may read it too, or anything else that
// is not a directory (a device, a FIFO), which is never opened here. A
// directory, a file we may not read, or one that another process holds
// locked counts as absent. Leaves the last error code as it was.
bool file_exists(const char *name);

// Reads the whole input into input_data, which holds MAX_INPUT_BYTES, and
// sets *size. Nobody else may read or write the file meanwhile, and it is
// closed again before this returns.
run_error load_input(const char *name, unsigned char *input_data,
    uint32_t *size);

// The output is written to a new temporary file beside it and moved onto
// its name only once it is whole, so that a failing run leaves the old
// output, or its absence, exactly as it was, and nobody ever sees a partial
// one. Devices and FIFOs, and a writable output in a folder that refuses
// new files, are written in place instead. There is one output per run;
// its state lives in the file layer.
struct output_file;

// Starts the output for name. Without overwrite an existing file is never
// replaced; with it an existing one that another run holds is refused.
run_error open_output(const char *name, bool overwrite, output_file **out);

// Appends length bytes of text to the output.
run_error write_output(output_file *out, const char *text, size_t length);

// Closes the output and moves it into place. On failure it is discarded.
run_error commit_output(output_file *out);

// Drops the output, leaving the old one, or its absence, as it was. The
// last error code survives, so the failure that led here can be reported.
void discard_output(output_file *out);

// Writes text to standard output, all of it, and says whether it could.
// Windows writes it in text mode, each line feed as CR LF.
bool write_stdout(const char *text, size_t length);

// The platform's code for the last failed system call, and its reset.
int last_error_code();
void clear_last_error();

// What the process should exit with for a run's result: -1 for an error,
// otherwise the number of replaced bytes, as far as the platform can say it.
int exit_status(int32_t result);
