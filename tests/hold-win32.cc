// Test helper for the Windows build: holds a file open the way another
// program would, until its standard input ends.
//
//   quoril_hold FILE exclusive   read access, sharing nothing
//   quoril_hold FILE reader      read access, sharing reading
//   quoril_hold FILE writer      write access, sharing reading and writing
//
// Prints "held" once the file is open, or "failed N" with the error code.

#include <windows.h>

#include <cstdio>
#include <cstring>

int
main(int argc, char *argv[])
{
	DWORD access = GENERIC_READ;
	DWORD share = 0;
	HANDLE file;

	if (argc != 3) {
		std::fputs("usage: quoril_hold file exclusive|reader|writer\n",
		    stderr);
		return 2;
	}
	if (std::strcmp(argv[2], "reader") == 0) {
		share = FILE_SHARE_READ;
	} else if (std::strcmp(argv[2], "writer") == 0) {
		access = GENERIC_WRITE;
		share = FILE_SHARE_READ | FILE_SHARE_WRITE;
	}
	file = CreateFileA(argv[1], access, share, nullptr, OPEN_EXISTING,
	    FILE_ATTRIBUTE_NORMAL, nullptr);
	if (file == INVALID_HANDLE_VALUE) {
		std::printf("failed %lu\n", GetLastError());
		return 1;
	}
	std::puts("held");
	std::fflush(stdout);
	while (std::getchar() != EOF)
		continue;
	return CloseHandle(file) ? 0 : 1;
}
