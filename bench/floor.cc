// The floor of a run: the system calls that converting one of the three
// benchmark inputs needs, and nothing else. It reads the input, writes the
// right output, embedded at build time, to a temporary file beside the
// output, renames that into place and prints the two lines with one write.
// Whole runs of quoril are measured against it. With --piece it writes
// the output in writes of at most BYTES, to see what the size of a write
// costs.
//
//   build/bench/floor [--piece BYTES] ascii|latin1|all_high INPUT OUTPUT

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#ifndef QUORIL_FLOOR_DATA
#error "QUORIL_FLOOR_DATA must name the folder of the converted inputs"
#endif

#define EMBED(name)                                                          \
	asm(".section .rodata\n"                                             \
	    ".global " #name "_text\n" #name "_text:\n"                      \
	    ".incbin \"" QUORIL_FLOOR_DATA "/" #name ".htm\"\n"              \
	    ".global " #name "_end\n" #name "_end:\n"                        \
	    ".previous\n");                                                  \
	extern "C" const char name##_text[], name##_end[]

EMBED(ascii);
EMBED(latin1);
EMBED(all_high);

namespace {

struct Output {
	const char *name;
	const char *text;
	const char *end;
	const char *report;
	int status;
};

const Output OUTPUTS[] = {
	{"ascii", ascii_text, ascii_end,
	    "Quoril v1.0: Copyright (C) 2026 The Quoril developers\n\n"
	    "0 character(s) replaced.\n", 0},
	{"latin1", latin1_text, latin1_end,
	    "Quoril v1.0: Copyright (C) 2026 The Quoril developers\n\n"
	    "3282 character(s) replaced.\n", 254},
	{"all_high", all_high_text, all_high_end,
	    "Quoril v1.0: Copyright (C) 2026 The Quoril developers\n\n"
	    "65536 character(s) replaced.\n", 254},
};

bool
write_all(int fd, const char *p, size_t n)
{
	while (n > 0) {
		ssize_t w = write(fd, p, n);
		if (w <= 0)
			return false;
		p += w;
		n -= static_cast<size_t>(w);
	}
	return true;
}

} // namespace

int
main(int argc, char *argv[])
{
	static char input[65537];
	const Output *out = nullptr;
	size_t piece = 0;

	if (argc == 6 && std::strcmp(argv[1], "--piece") == 0) {
		piece = std::strtoul(argv[2], nullptr, 10);
		argc -= 2;
		argv += 2;
	}
	for (const Output &o : OUTPUTS) {
		if (argc == 4 && std::strcmp(argv[1], o.name) == 0)
			out = &o;
	}
	if (out == nullptr) {
		std::fputs("usage: floor [--piece BYTES] ascii|latin1|all_high "
		    "INPUT OUTPUT\n", stderr);
		return 2;
	}
	auto size = static_cast<size_t>(out->end - out->text);
	if (piece == 0)
		piece = size;
	int fd = open(argv[2], O_RDONLY | O_CLOEXEC);
	if (fd == -1)
		return 1;
	while (read(fd, input, sizeof input) > 0) {
	}
	close(fd);

	std::string temp = std::string(argv[3]) + ".floor";
	fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
	if (fd == -1)
		return 1;
	for (size_t done = 0; done < size; done += piece) {
		if (!write_all(fd, out->text + done, std::min(piece, size - done)))
			return 1;
	}
	if (close(fd) == -1 || rename(temp.c_str(), argv[3]) == -1)
		return 1;
	if (!write_all(1, out->report, std::strlen(out->report)))
		return 1;
	return out->status;
}
