#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "encode.h"
#include "fileio.h"

// Room for any path the system opens, and for a temporary name beside it.
constexpr size_t PATH_CAPACITY = PATH_MAX + 16;

// The temporary file's name, in the output's folder: this prefix and
// TEMP_LETTERS random letters and digits.
constexpr char TEMP_PREFIX[] = ".quoril-";
constexpr size_t TEMP_LETTERS = 6;

// Names tried before the temporary file counts as impossible to create.
constexpr int TEMP_TRIES = 100;

// Symbolic links followed before giving up, as the kernel does.
constexpr int MAX_LINKS = 40;

struct output_file {
	int fd;            // what the text goes to
	int held;          // the existing output, locked, or -1
	bool in_place;     // fd is the output itself, no temporary file
	bool overwrite;
	char target[PATH_CAPACITY];  // the name the text ends up under
	char temp[PATH_CAPACITY];
};

static output_file the_output;

void
prepare_process()
{
	// A reader that goes away (EPIPE) or a file-size limit (EFBIG) then
	// fails the write, which the run reports.
	(void)std::signal(SIGPIPE, SIG_IGN);
	(void)std::signal(SIGXFSZ, SIG_IGN);
}

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

// Whether a regular file can be shared for reading: opened, and not locked
// by another run.
static bool
readable_unlocked(const char *name)
{
	bool unlocked;
	int fd;

	fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
	if (fd == -1)
		return false;
	unlocked = lock_file(fd, LOCK_SH);
	// Nothing was written through fd, so a failed close loses nothing;
	// the output is never moved onto an existing name without overwrite.
	if (close(fd) == -1)
		return false;
	return unlocked;
}

bool
file_exists(const char *name)
{
	int saved = errno;
	struct stat st;
	bool exists;

	// A FIFO or a device is judged from its type alone: opening a FIFO
	// would meet, and on closing kill, a writer waiting on it.
	if (stat(name, &st) == -1)
		exists = false;
	else if (S_ISDIR(st.st_mode))
		exists = false;
	else if (S_ISREG(st.st_mode))
		exists = readable_unlocked(name);
	else
		exists = true;
	errno = saved;
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

// Copies text into a buffer of PATH_CAPACITY bytes, or fails as the system
// does with a name it cannot take.
static bool
copy_path(char *to, const char *text)
{
	if (std::strlen(text) >= PATH_CAPACITY) {
		errno = ENAMETOOLONG;
		return false;
	}
	std::strcpy(to, text);
	return true;
}

// Length of the folder part of path, its last slash included; 0 for a name
// in the current folder.
static size_t
folder_length(const char *path)
{
	const char *slash = std::strrchr(path, '/');

	return slash == nullptr ? 0 : static_cast<size_t>(slash - path) + 1;
}

// Follows symbolic links from name to the file they end at, which need not
// exist: the text is put there and the links stay links. Sets *st to
// that file's lstat() and *exists to whether it exists; fails where the
// names cannot be followed (a missing folder is no failure here: creating
// the temporary file reports it).
static bool
resolve_links(const char *name, char *path, struct stat *st, bool *exists)
{
	char link[PATH_CAPACITY];
	ssize_t n;
	size_t keep;

	if (!copy_path(path, name))
		return false;
	for (int hops = 0; hops < MAX_LINKS; hops++) {
		*exists = lstat(path, st) == 0;
		if (!*exists && errno != ENOENT)
			return false;
		if (!*exists || !S_ISLNK(st->st_mode))
			return true;
		n = readlink(path, link, sizeof link - 1);
		if (n == -1)
			return false;
		link[n] = '\0';
		// A relative link is relative to the folder that holds it.
		keep = link[0] == '/' ? 0 : folder_length(path);
		if (keep + static_cast<size_t>(n) >= PATH_CAPACITY) {
			errno = ENAMETOOLONG;
			return false;
		}
		std::memcpy(path + keep, link, static_cast<size_t>(n) + 1);
	}
	errno = ELOOP;
	return false;
}

// Sets a random name's letters and digits, TEMP_LETTERS of them, at x.
// The clock's nanoseconds and the address of this run's stack, which the
// system places at random, seed them; a name that is taken is only a
// retry, as the file is created exclusively. (mkostemp would ask the
// kernel for random bytes, a system call the run does not otherwise need.)
static void
random_letters(char *x, uint64_t &state)
{
	static const char letters[] =
	    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

	if (state == 0) {
		timespec now{};
		(void)clock_gettime(CLOCK_REALTIME, &now);
		state = static_cast<uint64_t>(now.tv_nsec) ^
		    static_cast<uint64_t>(now.tv_sec) << 30 ^
		    reinterpret_cast<uintptr_t>(&now);
	}
	for (size_t i = 0; i < TEMP_LETTERS; i++) {
		// splitmix64
		state += 0x9E3779B97F4A7C15u;
		uint64_t z = state;
		z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
		z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
		x[i] = letters[(z ^ (z >> 31)) % (sizeof letters - 1)];
	}
}

// Creates the temporary file beside out->target, exclusively, with mode
// less the umask, as any new file.
static bool
create_temp(output_file *out, mode_t mode)
{
	size_t folder = folder_length(out->target);
	char *x = out->temp + folder + sizeof TEMP_PREFIX - 1;
	uint64_t state = 0;

	if (folder + sizeof TEMP_PREFIX + TEMP_LETTERS > PATH_CAPACITY) {
		errno = ENAMETOOLONG;
		return false;
	}
	std::memcpy(out->temp, out->target, folder);
	std::memcpy(out->temp + folder, TEMP_PREFIX, sizeof TEMP_PREFIX - 1);
	x[TEMP_LETTERS] = '\0';
	for (int tries = 0; tries < TEMP_TRIES; tries++) {
		random_letters(x, state);
		out->fd = open(out->temp, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
		    mode);
		if (out->fd != -1)
			return true;
		if (errno != EEXIST)
			break;
	}
	out->temp[0] = '\0';
	return false;
}

// Gives the temporary file the owner, group and mode of the output it
// replaces, where they differ. Only root may give a file away; where we
// may not, the new file stays ours. The owner goes first, as changing it
// clears the set-user-ID bit.
static bool
match_owner_and_mode(int fd, const struct stat &old)
{
	struct stat st;

	if (fstat(fd, &st) == -1)
		return false;
	if ((st.st_uid != old.st_uid || st.st_gid != old.st_gid) &&
	    fchown(fd, old.st_uid, old.st_gid) == -1 && errno != EPERM)
		return false;
	if ((st.st_mode & 07777) != (old.st_mode & 07777) &&
	    fchmod(fd, old.st_mode & 07777) == -1)
		return false;
	return true;
}

// The mode the temporary file for an output of the given mode starts
// with: the owner's part, and for others only what the output grants
// both its group and everyone, so that nobody who may not read the
// output could open the text while it is being written.
static mode_t
temp_mode(mode_t output_mode)
{
	mode_t shared = output_mode & (output_mode >> 3) & 07;

	return (output_mode & 0700) | shared << 3 | shared;
}

// Writes in place: a device or a FIFO, opened as it is. The lock keeps
// another run from mixing its text in.
static run_error
open_in_place(output_file *out)
{
	out->in_place = true;
	out->fd = open(out->target, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
	if (out->fd == -1 || !lock_file(out->fd, LOCK_EX))
		return ERROR_CREATE_OUTPUT;
	return RUN_OK;
}

// Replaces an existing regular file. It is held locked until the new text
// has taken its name, so no other run writes it meanwhile, and the new
// file gets its mode, owner and group.
static run_error
open_replacement(output_file *out)
{
	struct stat st;

	out->held = open(out->target, O_WRONLY | O_CLOEXEC);
	if (out->held == -1 || !lock_file(out->held, LOCK_EX) ||
	    fstat(out->held, &st) == -1)
		return ERROR_CREATE_OUTPUT;
	if (create_temp(out, temp_mode(st.st_mode))) {
		if (!match_owner_and_mode(out->fd, st))
			return ERROR_CREATE_OUTPUT;
		return RUN_OK;
	}
	// A folder that refuses new files may still hold a file we may
	// write: that one is emptied and written in place.
	if (errno != EACCES || ftruncate(out->held, 0) == -1)
		return ERROR_CREATE_OUTPUT;
	out->fd = out->held;
	out->held = -1;
	out->in_place = true;
	return RUN_OK;
}

static run_error
start_output(output_file *out, const char *name)
{
	struct stat st;
	bool exists = false;
	bool named;

	// Without overwrite nothing is replaced, not even a link, so the
	// name is used as it is and the final move refuses an existing one.
	if (out->overwrite)
		named = resolve_links(name, out->target, &st, &exists);
	else
		named = copy_path(out->target, name);
	if (!named)
		return ERROR_CREATE_OUTPUT;
	if (!exists)
		return create_temp(out, 0666) ? RUN_OK : ERROR_CREATE_OUTPUT;
	if (!S_ISREG(st.st_mode))
		return open_in_place(out);
	return open_replacement(out);
}

run_error
open_output(const char *name, bool overwrite, output_file **result)
{
	output_file *out = &the_output;
	run_error error;

	out->fd = -1;
	out->held = -1;
	out->in_place = false;
	out->overwrite = overwrite;
	out->temp[0] = '\0';
	error = start_output(out, name);
	if (error != RUN_OK)
		discard_output(out);
	*result = out;
	return error;
}

// Writes all of text to fd. A write that takes nothing is a failure, or
// the loop would never end.
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
write_output(output_file *out, const char *text, size_t length)
{
	return write_all(out->fd, text, length) ? RUN_OK : ERROR_WRITE_OUTPUT;
}

// Gives the temporary file the output's name. Without overwrite an
// existing name, even one that appeared since the check, is never
// replaced.
static bool
move_into_place(output_file *out)
{
	if (out->overwrite)
		return rename(out->temp, out->target) == 0;
#ifdef RENAME_NOREPLACE
	if (renameat2(AT_FDCWD, out->temp, AT_FDCWD, out->target,
	    RENAME_NOREPLACE) == 0)
		return true;
	// Some file systems cannot; a new link refuses an existing name too.
	if (errno != EINVAL && errno != ENOSYS)
		return false;
#endif
	if (link(out->temp, out->target) == -1)
		return false;
	// The output is whole under its name; a second name left on it
	// loses nothing.
	(void)unlink(out->temp);
	return true;
}

run_error
commit_output(output_file *out)
{
	int fd = out->fd;

	out->fd = -1;
	if (close(fd) == -1) {
		discard_output(out);
		return ERROR_WRITE_OUTPUT;
	}
	if (!out->in_place && !move_into_place(out)) {
		discard_output(out);
		return ERROR_CREATE_OUTPUT;
	}
	// Nothing was written through held, the old output: closing it
	// loses nothing, whatever close says.
	if (out->held != -1)
		(void)close(out->held);
	out->held = -1;
	return RUN_OK;
}

void
discard_output(output_file *out)
{
	int saved = errno;

	if (out->fd != -1)
		(void)close(out->fd);
	if (out->held != -1)
		(void)close(out->held);
	if (out->temp[0] != '\0')
		(void)unlink(out->temp);
	out->temp[0] = '\0';
	out->fd = -1;
	out->held = -1;
	errno = saved;
}

bool
write_stdout(const char *text, size_t length)
{
	return write_all(STDOUT_FILENO, text, length);
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
