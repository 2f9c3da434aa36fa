#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "encode.h"
#include "fileio.h"

// Takes a lock without waiting. Only a lock that another process holds,
// or a real failure, refuses: a file system that cannot lock at all (some
// network homes) lets the run go on unlocked.
static bool
lock_file(int fd, int operation)
{
	if (flock(fd, operation | LOCK_NB) == 0)
		return true;
	if (errno == ENOLCK || errno == EOPNOTSUPP)
		return true;
	// NFS emulates flock with byte-range locks, which refuse an
	// exclusive lock on a descriptor opened for reading only.
	return errno == EBADF && operation == LOCK_EX;
}

// Closes a descriptor on a path that already failed. The failure that got
// us here is the one to report, so its errno survives the close.
static run_error
close_failing(int fd, run_error error)
{
	int saved = errno;

	(void)close(fd);
	errno = saved;
	return error;
}

bool
file_exists(const char *name)
{
	struct stat st;
	bool exists;
	int fd;

	// O_NONBLOCK: a FIFO without a writer must not hang the probe.
	fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd == -1)
		return false;
	exists = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode) &&
	    lock_file(fd, LOCK_SH);
	// Nothing was written through fd, so a failed close loses nothing;
	// the exclusive create of the output guards against a wrong answer.
	if (close(fd) == -1)
		return false;
	return exists;
}

// Reads to the end of the input. One byte past MAX_INPUT_BYTES is enough
// to know the input is too large.
static run_error
read_all(int fd, unsigned char *input_data, uint32_t *size)
{
	uint32_t total = 0;
	unsigned char extra;
	ssize_t n;

	for (;;) {
		if (total < MAX_INPUT_BYTES)
			n = read(fd, input_data + total, MAX_INPUT_BYTES - total);
		else
			n = read(fd, &extra, 1);
		if (n == -1 && errno == EINTR)
			continue;
		if (n == -1)
			return ERROR_READ_INPUT;
		if (n == 0)
			break;
		if (total == MAX_INPUT_BYTES) {
			errno = EFBIG;
			return ERROR_INPUT_TOO_LARGE;
		}
		total += static_cast<uint32_t>(n);
	}
	*size = total;
	return RUN_OK;
}

run_error
load_input(const char *name, unsigned char *input_data, uint32_t *size)
{
	struct stat st;
	run_error error;
	int fd;

	fd = open(name, O_RDONLY | O_CLOEXEC);
	if (fd == -1)
		return ERROR_OPEN_INPUT;
	if (fstat(fd, &st) == -1)
		return close_failing(fd, ERROR_INPUT_TOO_LARGE);
	if (S_ISDIR(st.st_mode)) {
		errno = EISDIR;
		return close_failing(fd, ERROR_OPEN_INPUT);
	}
	if (!lock_file(fd, LOCK_EX))
		return close_failing(fd, ERROR_OPEN_INPUT);
	if (S_ISREG(st.st_mode) && st.st_size > off_t{MAX_INPUT_BYTES}) {
		errno = EFBIG;
		return close_failing(fd, ERROR_INPUT_TOO_LARGE);
	}
	error = read_all(fd, input_data, size);
	if (error != RUN_OK)
		return close_failing(fd, error);
	if (close(fd) == -1)
		return ERROR_READ_INPUT;
	return RUN_OK;
}

// Opens the output for writing, locked and empty. Without overwrite the
// file must not exist yet; a file we cannot lock is left as it was.
static int
open_output(const char *name, bool overwrite)
{
	struct stat st;
	int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
	int fd;

	if (!overwrite)
		flags |= O_EXCL;
	// No O_TRUNC: another run may hold the file, and it is emptied only
	// once the lock is ours.
	fd = open(name, flags, 0666);
	if (fd == -1)
		return -1;
	if (!lock_file(fd, LOCK_EX) || fstat(fd, &st) == -1 ||
	    (S_ISREG(st.st_mode) && ftruncate(fd, 0) == -1)) {
		(void)close_failing(fd, ERROR_CREATE_OUTPUT);
		return -1;
	}
	return fd;
}

static bool
write_all(int fd, const char *text, size_t length)
{
	ssize_t n;

	while (length > 0) {
		n = write(fd, text, length);
		if (n == -1 && errno == EINTR)
			continue;
		if (n == -1)
			return false;
		if (n == 0) {
			errno = EIO;
			return false;
		}
		text += n;
		length -= static_cast<size_t>(n);
	}
	return true;
}

run_error
store_output(const char *name, const char *output_text, bool overwrite)
{
	size_t length = std::strlen(output_text);
	int fd;

	fd = open_output(name, overwrite);
	if (fd == -1)
		return ERROR_CREATE_OUTPUT;
	if (!write_all(fd, output_text, length))
		return close_failing(fd, ERROR_WRITE_OUTPUT);
	if (close(fd) == -1)
		return ERROR_WRITE_OUTPUT;
	return RUN_OK;
}

int
last_error_code()
{
	return errno;
}

void
clear_last_error()
{
	errno = 0;
}

// POSIX keeps only the low 8 bits of the exit status: 255 is the error,
// and counts from 254 up share 254, so no count can pass for another.
int
exit_status(int32_t result)
{
	if (result < 0)
		return 255;
	if (result > 254)
		return 254;
	return result;
}
