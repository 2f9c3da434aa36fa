// rand_s, for names no one can guess.
#define _CRT_RAND_S

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "encode.h"
#include "fileio.h"

// The temporary file's name, in the output's folder; the X's become a
// random number in hexadecimal.
constexpr char TEMP_PATTERN[] = "quoril-XXXXXXXX.tmp";
constexpr size_t TEMP_DIGITS = 8;

// Names that collide with existing files before one is free.
constexpr int TEMP_TRIES = 16;

struct output_file {
	HANDLE file;       // what the text goes to
	HANDLE held;       // the existing output, shared with no one
	bool in_place;     // file is the output itself, no temporary file
	bool overwrite;
	char target[MAX_PATH];  // the output's full name
	char temp[MAX_PATH];
};

static output_file the_output;

// Nothing to do: a failing write already comes back as an error here.
void
prepare_process()
{
}

static HANDLE
open_file(const char *name, DWORD access, DWORD share, DWORD disposition)
{
	return CreateFileA(name, access, share, nullptr, disposition,
	    FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Closes a handle on a path that already failed. The failure that got us
// here is the one to report, so its code survives the close.
static run_error
close_failing(HANDLE file, run_error error)
{
	DWORD saved = GetLastError();

	(void)CloseHandle(file);
	SetLastError(saved);
	return error;
}

bool
file_exists(const char *name)
{
	DWORD saved = GetLastError();
	HANDLE file = open_file(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
	bool exists = file != INVALID_HANDLE_VALUE;

	// Nothing was written through the handle, so a failed close loses
	// nothing; the output is never moved onto an existing name without
	// overwrite.
	if (exists && !CloseHandle(file))
		exists = false;
	SetLastError(saved);
	return exists;
}

// Reads to the end of the input: a disk file, or a pipe whose size cannot
// be had. One byte past MAX_INPUT_BYTES is enough to know it is too large.
static run_error
read_all(HANDLE file, unsigned char *input_data, uint32_t *size)
{
	uint32_t total = 0;
	unsigned char extra;
	BOOL ok;
	DWORD got;

	for (;;) {
		if (total < MAX_INPUT_BYTES)
			ok = ReadFile(file, input_data + total,
			    MAX_INPUT_BYTES - total, &got, nullptr);
		else
			ok = ReadFile(file, &extra, 1, &got, nullptr);
		// A pipe ends when its writer closes it.
		if (!ok && GetLastError() == ERROR_BROKEN_PIPE)
			break;
		if (!ok)
			return ERROR_READ_INPUT;
		if (got == 0)
			break;
		if (total == MAX_INPUT_BYTES) {
			SetLastError(ERROR_FILE_TOO_LARGE);
			return ERROR_INPUT_TOO_LARGE;
		}
		total += got;
	}
	*size = total;
	return RUN_OK;
}

run_error
load_input(const char *name, unsigned char *input_data, uint32_t *size)
{
	LARGE_INTEGER file_size;
	run_error error;
	HANDLE file;

	file = open_file(name, GENERIC_READ, 0, OPEN_EXISTING);
	if (file == INVALID_HANDLE_VALUE)
		return ERROR_OPEN_INPUT;
	// Only a disk file has a size to check before reading.
	if (GetFileType(file) == FILE_TYPE_DISK) {
		if (!GetFileSizeEx(file, &file_size))
			return close_failing(file, ERROR_INPUT_TOO_LARGE);
		if (file_size.QuadPart > LONGLONG{MAX_INPUT_BYTES}) {
			SetLastError(ERROR_FILE_TOO_LARGE);
			return close_failing(file, ERROR_INPUT_TOO_LARGE);
		}
	}
	error = read_all(file, input_data, size);
	if (error != RUN_OK)
		return close_failing(file, error);
	if (!CloseHandle(file))
		return ERROR_READ_INPUT;
	return RUN_OK;
}

// Sets path to the full name of name, which the file calls that replace
// a file need; fails as the system does with a name too long for them.
static bool
full_path(const char *name, char *path)
{
	DWORD length = GetFullPathNameA(name, MAX_PATH, path, nullptr);

	if (length >= MAX_PATH)
		SetLastError(ERROR_FILENAME_EXCED_RANGE);
	return length > 0 && length < MAX_PATH;
}

// Puts a random name from TEMP_PATTERN after the folder part of temp.
static bool
make_temp_name(char *temp, size_t folder)
{
	static const char digits[] = "0123456789abcdef";
	unsigned int random;

	if (folder + sizeof TEMP_PATTERN > MAX_PATH) {
		SetLastError(ERROR_FILENAME_EXCED_RANGE);
		return false;
	}
	if (rand_s(&random) != 0) {
		SetLastError(ERROR_GEN_FAILURE);
		return false;
	}
	std::memcpy(temp + folder, TEMP_PATTERN, sizeof TEMP_PATTERN);
	char *x = std::strchr(temp + folder, 'X');
	for (size_t i = 0; i < TEMP_DIGITS; i++, random >>= 4)
		x[i] = digits[random & 0xF];
	return true;
}

// Creates the temporary file, new and shared with no one, in the folder
// of out->target.
static bool
create_temp(output_file *out)
{
	const char *slash = std::strrchr(out->target, '\\');
	size_t folder = slash == nullptr ? 0
	    : static_cast<size_t>(slash - out->target) + 1;

	std::memcpy(out->temp, out->target, folder);
	for (int tries = 0; tries < TEMP_TRIES; tries++) {
		if (!make_temp_name(out->temp, folder))
			break;
		out->file = open_file(out->temp, GENERIC_WRITE, 0, CREATE_NEW);
		if (out->file != INVALID_HANDLE_VALUE)
			return true;
		out->file = nullptr;
		if (GetLastError() != ERROR_FILE_EXISTS)
			break;
	}
	out->temp[0] = '\0';
	return false;
}

// With overwrite: the existing output is opened sharing nothing, so one
// that another run holds is refused and no one else writes it meanwhile.
// A device (NUL, CON) is written in place; so is a file in a folder that
// refuses new files, emptied first.
static run_error
open_existing(output_file *out, const char *name)
{
	out->held = open_file(name, GENERIC_WRITE, 0, OPEN_EXISTING);
	if (out->held == INVALID_HANDLE_VALUE) {
		out->held = nullptr;
		if (GetLastError() == ERROR_FILE_NOT_FOUND && create_temp(out))
			return RUN_OK;
		return ERROR_CREATE_OUTPUT;
	}
	if (GetFileType(out->held) == FILE_TYPE_DISK) {
		if (create_temp(out))
			return RUN_OK;
		if (GetLastError() != ERROR_ACCESS_DENIED ||
		    !SetEndOfFile(out->held))
			return ERROR_CREATE_OUTPUT;
	}
	out->file = out->held;
	out->held = nullptr;
	out->in_place = true;
	return RUN_OK;
}

static run_error
start_output(output_file *out, const char *name)
{
	if (!full_path(name, out->target))
		return ERROR_CREATE_OUTPUT;
	if (out->overwrite)
		return open_existing(out, name);
	return create_temp(out) ? RUN_OK : ERROR_CREATE_OUTPUT;
}

run_error
open_output(const char *name, bool overwrite, output_file **result)
{
	output_file *out = &the_output;
	run_error error;

	out->file = nullptr;
	out->held = nullptr;
	out->in_place = false;
	out->overwrite = overwrite;
	out->temp[0] = '\0';
	error = start_output(out, name);
	if (error != RUN_OK)
		discard_output(out);
	*result = out;
	return error;
}

run_error
write_output(output_file *out, const char *text, size_t length)
{
	DWORD written;

	while (length > 0) {
		DWORD chunk = length > 0x40000000 ? 0x40000000
		    : static_cast<DWORD>(length);
		if (!WriteFile(out->file, text, chunk, &written, nullptr))
			return ERROR_WRITE_OUTPUT;
		if (written == 0) {
			SetLastError(ERROR_WRITE_FAULT);
			return ERROR_WRITE_OUTPUT;
		}
		text += written;
		length -= written;
	}
	return RUN_OK;
}

// Gives the temporary file the output's name. An existing output is
// replaced keeping its attributes and security; without overwrite an
// existing name, even one that appeared since the check, is never
// replaced.
static bool
move_into_place(output_file *out)
{
	if (out->held != nullptr) {
		// Released only now, as replacing needs it free.
		(void)CloseHandle(out->held);
		out->held = nullptr;
		return ReplaceFileA(out->target, out->temp, nullptr,
		    REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0;
	}
	return MoveFileExA(out->temp, out->target,
	    out->overwrite ? MOVEFILE_REPLACE_EXISTING : 0) != 0;
}

run_error
commit_output(output_file *out)
{
	HANDLE file = out->file;

	out->file = nullptr;
	if (!CloseHandle(file)) {
		discard_output(out);
		return ERROR_WRITE_OUTPUT;
	}
	if (!out->in_place && !move_into_place(out)) {
		discard_output(out);
		return ERROR_CREATE_OUTPUT;
	}
	return RUN_OK;
}

void
discard_output(output_file *out)
{
	DWORD saved = GetLastError();

	if (out->file != nullptr)
		(void)CloseHandle(out->file);
	if (out->held != nullptr)
		(void)CloseHandle(out->held);
	if (out->temp[0] != '\0')
		(void)DeleteFileA(out->temp);
	out->file = nullptr;
	out->held = nullptr;
	out->temp[0] = '\0';
	SetLastError(saved);
}

// Through the C library, whose text mode turns each line feed into CR LF
// as Windows programs print them.
bool
write_stdout(const char *text, size_t length)
{
	return std::fwrite(text, 1, length, stdout) == length &&
	    std::fflush(stdout) == 0;
}

int
last_error_code()
{
	return static_cast<int>(GetLastError());
}

void
clear_last_error()
{
	SetLastError(0);
}

// Windows keeps the whole 32-bit exit code: -1 for an error, the count
// itself otherwise.
int
exit_status(int32_t result)
{
	return result;
}
