#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cmdline.h"
#include "encode.h"
#include "fileio.h"
#include "messages.h"

static int32_t	convert(const char *, const char *, bool);
static int32_t	fail(run_error);
static int	finish(int32_t);
static void	print_usage();
static run_error store_output(const char *, const char *, bool);

int
main(int argc, char *argv[])
{
	bool overwrite;

	prepare_process();
	if (argc <= 2) {
		print_usage();
		return finish(-1);
	}
	std::fputs(BANNER_TEXT, stdout);
	// Printing may leave a code behind (stdout not a terminal); the
	// argument errors report no system call, so they must print 0.
	clear_last_error();
	overwrite = overwrite_requested(argc, argv);
	return finish(convert(argv[1], argv[2], overwrite));
}

// A run whose report could not be written did not do what it was asked:
// a script reading its output would see nothing, or half a line.
static int
finish(int32_t result)
{
	if (std::fflush(stdout) != 0 || std::ferror(stdout))
		return exit_status(-1);
	return exit_status(result);
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

// Writes the text through a temporary output that takes the output's
// name only once it is whole.
static run_error
store_output(const char *name, const char *text, bool overwrite)
{
	output_file *output;
	run_error error;

	error = open_output(name, overwrite, &output);
	if (error != RUN_OK)
		return error;
	error = write_output(output, text, std::strlen(text));
	if (error != RUN_OK) {
		discard_output(output);
		return error;
	}
	return commit_output(output);
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
