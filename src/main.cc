#include <cstdint>
#include <cstdio>

#include "cmdline.h"
#include "encode.h"
#include "fileio.h"
#include "messages.h"

static int32_t	convert(const char *, const char *, bool);
static int32_t	fail(run_error);
static void	print_usage();

int
main(int argc, char *argv[])
{
	bool overwrite;

	if (argc <= 2) {
		print_usage();
		return exit_status(-1);
	}
	std::fputs(BANNER_TEXT, stdout);
	// Printing may leave a code behind (stdout not a terminal); the
	// argument errors report no system call, so they must print 0.
	clear_last_error();
	overwrite = overwrite_requested(argc, argv);
	return exit_status(convert(argv[1], argv[2], overwrite));
}

// The run proper: check the names, probe, load, encode, store, report.
// The input is read whole and closed before the output is created, so a
// file can be converted in place.
static int32_t
convert(const char *input_name, const char *output_name, bool overwrite)
{
	static unsigned char input_data[MAX_INPUT_BYTES];
	static char output_text[OUTPUT_TEXT_CAPACITY];
	int32_t replaced_count = 0;
	uint32_t size = 0;
	run_error error;

	if (same_name(input_name, output_name))
		return fail(ERROR_SAME_NAMES);
	if (!overwrite && file_exists(output_name))
		return fail(ERROR_OUTPUT_EXISTS);
	error = load_input(input_name, input_data, &size);
	if (error != RUN_OK)
		return fail(error);
	encode_high_bytes(input_data, size, output_text, replaced_count);
	error = store_output(output_name, output_text, overwrite);
	if (error != RUN_OK)
		return fail(error);
	std::printf(SUCCESS_FORMAT, replaced_count);
	return replaced_count;
}

static int32_t
fail(run_error error)
{
	int code = last_error_code();

	std::printf(error_format(error), code);
	return -1;
}

static void
print_usage()
{
	std::fputs(USAGE_TEXT, stdout);
}
