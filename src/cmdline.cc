#include "cmdline.h"

static char
fold_to_lower(char c)
{
	if (c >= 'A' && c <= 'Z')
		return static_cast<char>(c - 'A' + 'a');
	return c;
}

static bool
has_overwrite_option(const char *arg)
{
	for (; *arg != '\0'; arg++) {
		if (arg[0] == '/' && fold_to_lower(arg[1]) == 'o')
			return true;
	}
	return false;
}

bool
overwrite_requested(int argc, const char *const argv[])
{
	bool overwrite = false;

	for (int i = 3; i < argc; i++) {
		if (has_overwrite_option(argv[i]))
			overwrite = true;
	}
	return overwrite;
}

bool
utf8_requested(int argc, const char *const argv[])
{
	for (int i = 3; i < argc; i++) {
		if (argv[i][0] == '/' && fold_to_lower(argv[i][1]) == 'u' &&
		    argv[i][2] == '\0')
			return true;
	}
	return false;
}

bool
same_name(const char *a, const char *b)
{
	for (; fold_to_lower(*a) == fold_to_lower(*b); a++, b++) {
		if (*a == '\0')
			return true;
	}
	return false;
}
