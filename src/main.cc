#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cmdline.h"
#include "encode.h"
#include "fileio.h"
#include "messages.h"

// The output goes out in writes of OUTPUT_BUFFER_BYTES, a whole number of
// pages, so that every write but the last starts and ends on a page
// boundary of the file: a write ending inside a page makes the next one
// write that page again, which costs the file system more than the whole
// encoding. A slice of input is encoded only where its whole output fits
// (6 characters a byte); the slack past OUTPUT_BUFFER_BYTES holds what a
// slice puts beyond it, which moves to the front after the write.
constexpr size_t OUTPUT_BUFFER_BYTES = 32768;
constexpr size_t OUTPUT_SLACK_BYTES = 6 * 1024;

// What the options ask for.
struct options {
	bool overwrite;
	bool utf8;
};

static int32_t	convert(const char *, const char *, options);
static run_error encode_into(output_file *, const unsigned char *, uint32_t,
		    bool, int32_t &);
static int32_t	fail(run_error);
static int	finish(int32_t);
static void	print(const char *, size_t);
static void	print_usage();
static void	report(const char *, int);
static run_error store_output(const char *, const unsigned char *, uint32_t,
		    options, int32_t &);

// Whether something the run printed could not be written.
static bool print_failed;

int
main(int argc, char *argv[])
{
	options opts;

	prepare_process();
	if (argc <= 2) {
		print_usage();
		return finish(-1);
	}
	// The argument errors report no system call, so they must print 0.
	clear_last_error();
	opts.overwrite = overwrite_requested(argc, argv);
	opts.utf8 = utf8_requested(argc, argv);
	return finish(convert(argv[1], argv[2], opts));
}

// A run whose report could not be written did not do what it was asked:
// a script reading its output would see nothing, or half a line.
static int
finish(int32_t result)
{
	return exit_status(print_failed ? -1 : result);
}

// The run proper: check the names, probe, load, then encode and store,
// and report. The input is read whole and closed before the output is
// created, so a file can be converted in place.
static int32_t
convert(const char *input_name, const char *output_name, options opts)
{
	static unsigned char input_data[MAX_INPUT_BYTES];
	int32_t replaced_count = 0;
	uint32_t size = 0;
	run_error error;

	if (same_name(input_name, output_name))
		return fail(ERROR_SAME_NAMES);
	if (!opts.overwrite && file_exists(output_name))
		return fail(ERROR_OUTPUT_EXISTS);
	error = load_input(input_name, input_data, &size);
	if (error != RUN_OK)
		return fail(error);
	error = store_output(output_name, input_data, size, opts,
	    replaced_count);
	if (error != RUN_OK)
		return fail(error);
	report(SUCCESS_FORMAT, replaced_count);
	return replaced_count;
}

// Encodes the input into a temporary output that takes the output's name
// only once it is whole.
static run_error
store_output(const char *name, const unsigned char *input, uint32_t size,
    options opts, int32_t &replaced_count)
{
	output_file *output;
	run_error error;

	error = open_output(name, opts.overwrite, &output);
	if (error != RUN_OK)
		return error;
	// A byte-order mark at the very start marks UTF-8 and is not text.
	if (opts.utf8) {
		uint32_t bom = utf8_bom_length(input, size);
		input += bom;
		size -= bom;
	}
	error = encode_into(output, input, size, opts.utf8, replaced_count);
	if (error != RUN_OK) {
		discard_output(output);
		return error;
	}
	return commit_output(output);
}

// Encodes the input slice by slice into the output buffer, and writes the
// buffer to the output whenever it is full, and at the end. In UTF-8 mode
// a slice may end inside a sequence: its bytes begin the next.
static run_error
encode_into(output_file *output, const unsigned char *input, uint32_t size,
    bool utf8, int32_t &replaced_count)
{
	// One byte more for the NUL that the encoder ends its text with.
	static char buffer[OUTPUT_BUFFER_BYTES + OUTPUT_SLACK_BYTES + 1];
	size_t used = 0;
	run_error error;

	while (size > 0) {
		if (used >= OUTPUT_BUFFER_BYTES) {
			error = write_output(output, buffer, OUTPUT_BUFFER_BYTES);
			if (error != RUN_OK)
				return error;
			used -= OUTPUT_BUFFER_BYTES;
			std::memmove(buffer, buffer + OUTPUT_BUFFER_BYTES, used);
		}
		auto room = static_cast<uint32_t>(
		    (OUTPUT_BUFFER_BYTES + OUTPUT_SLACK_BYTES - used) / 6);
		uint32_t slice = std::min(size, room);
		if (utf8) {
			slice = encode_utf8(input, slice, buffer + used,
			    replaced_count, slice == size);
		} else {
			encode_high_bytes(input, slice, buffer + used,
			    replaced_count);
		}
		used += std::strlen(buffer + used);
		input += slice;
		size -= slice;
	}
	return used > 0 ? write_output(output, buffer, used) : RUN_OK;
}

static int32_t
fail(run_error error)
{
	report(error_format(error), last_error_code());
	return -1;
}

// Prints the banner and the run's one line, formatted from format and
// value, with a single write.
static void
report(const char *format, int value)
{
	char text[sizeof BANNER_TEXT + 128];
	size_t length = sizeof BANNER_TEXT - 1;
	int n;

	std::memcpy(text, BANNER_TEXT, length);
	n = std::snprintf(text + length, sizeof text - length, format, value);
	if (n > 0)
		length += std::min(static_cast<size_t>(n), sizeof text - length - 1);
	print(text, length);
}

// Everything a run prints goes out with one write.
static void
print(const char *text, size_t length)
{
	if (!write_stdout(text, length))
		print_failed = true;
}

static void
print_usage()
{
	print(USAGE_TEXT, sizeof USAGE_TEXT - 1);
}
