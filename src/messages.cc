#include "messages.h"

const char *
error_format(run_error error)
{
	switch (error) {
	case RUN_OK:
		return "";
	case ERROR_SAME_NAMES:
		return "Error: input and output files must be different (GetLastError()=%d)\n";
	case ERROR_OUTPUT_EXISTS:
		return "Error: output file exist, specify /O if you want to overwrite it (GetLastError()=%d)\n";
	case ERROR_OPEN_INPUT:
		return "Error: unable to open input file (GetLastError()=%d)\n";
	case ERROR_INPUT_TOO_LARGE:
		return "Error: input file too large (GetLastError()=%d)\n";
	case ERROR_READ_INPUT:
		return "Error: unable to read input file (GetLastError()=%d)\n";
	case ERROR_CREATE_OUTPUT:
		return "Error: unable to create/open output file (GetLastError()=%d)\n";
	case ERROR_WRITE_OUTPUT:
		return "Error: unable to write output file (GetLastError()=%d)\n";
	}
	return "";
}
