#include <windows.h>

#include <cstring>

#include "encode.h"
#include "fileio.h"

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
	HANDLE file = open_file(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);

	if (file == INVALID_HANDLE_VALUE)
		return false;
	// Nothing was written through the handle, so a failed close loses
	// nothing; the exclusive create of the output guards against a wrong
	// answer.
	return CloseHandle(file) != 0;
}

// Reads up to size bytes and sets *size to what was read. No one else may
// open the file meanwhile, so it ends early only if the size was wrong.
static run_error
read_all(HANDLE file, unsigned char *input_data, uint32_t *size)
{
	uint32_t total = 0;
	DWORD got;

	while (total < *size) {
		if (!ReadFile(file, input_data + total, *size - total, &got, nullptr))
			return ERROR_READ_INPUT;
		if (got == 0)
			break;
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
	if (!GetFileSizeEx(file, &file_size))
		return close_failing(file, ERROR_INPUT_TOO_LARGE);
	if (file_size.QuadPart > LONGLONG{MAX_INPUT_BYTES}) {
		SetLastError(ERROR_FILE_TOO_LARGE);
		return close_failing(file, ERROR_INPUT_TOO_LARGE);
	}
	*size = static_cast<uint32_t>(file_size.QuadPart);
	error = read_all(file, input_data, size);
	if (error != RUN_OK)
		return close_failing(file, error);
	if (!CloseHandle(file))
		return ERROR_READ_INPUT;
	return RUN_OK;
}

static bool
write_all(HANDLE file, const char *text, size_t length)
{
	DWORD written;

	while (length > 0) {
		DWORD chunk = length > 0x40000000 ? 0x40000000
		    : static_cast<DWORD>(length);
		if (!WriteFile(file, text, chunk, &written, nullptr))
			return false;
		if (written == 0) {
			SetLastError(ERROR_WRITE_FAULT);
			return false;
		}
		text += written;
		length -= written;
	}
	return true;
}

run_error
store_output(const char *name, const char *output_text, bool overwrite)
{
	size_t length = std::strlen(output_text);
	HANDLE file;

	// CREATE_NEW without overwrite: a file the probe could not see is
	// still never replaced.
	file = open_file(name, GENERIC_WRITE, 0,
	    overwrite ? CREATE_ALWAYS : CREATE_NEW);
	if (file == INVALID_HANDLE_VALUE)
		return ERROR_CREATE_OUTPUT;
	if (!write_all(file, output_text, length))
		return close_failing(file, ERROR_WRITE_OUTPUT);
	if (!CloseHandle(file))
		return ERROR_WRITE_OUTPUT;
	return RUN_OK;
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
