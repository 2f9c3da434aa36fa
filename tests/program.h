#pragma once

// Runs the program under test as a separate process, the way a user or a
// script would, on Linux directly or, for the Windows build, under Wine.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Which build is under test. Set from the environment by CTest:
// QUORIL_PROGRAM (default: the Linux build), QUORIL_LAUNCHER (e.g. wine64),
// QUORIL_TARGET ("windows" for the Windows build), QUORIL_HOLD (the
// Windows helper that holds a file open).
struct Target {
	std::string program;
	std::string launcher;
	std::string hold;
	bool windows;
};

const Target &target();

struct Result {
	std::string out;
	std::string err;
	int status; // the low 8 bits a POSIX parent sees; -1 if it did not exit
};

// Runs command (launched as the target says) in folder cwd, its standard
// output and error caught in files under scratch, its standard input fed
// from input or else empty.
Result run_program(const std::vector<std::string> &command,
    const std::filesystem::path &cwd, const std::filesystem::path &scratch,
    const std::optional<std::string> &input = std::nullopt);

// Starts command in folder cwd, its standard input read from in (which the
// caller still owns and closes), its standard output and error written to
// the files out and err. Returns the child's pid, or -1.
pid_t start_program(const std::vector<std::string> &command,
    const std::filesystem::path &cwd, int in,
    const std::filesystem::path &out, const std::filesystem::path &err);

// The same with standard output on out, a descriptor the caller still
// owns and closes.
pid_t start_program(const std::vector<std::string> &command,
    const std::filesystem::path &cwd, int in, int out,
    const std::filesystem::path &err);

// Waits for a started program: its exit status, or -1 if it did not exit.
int wait_program(pid_t pid);

// The whole content of a file, or "" if it cannot be read.
std::string slurp(const std::filesystem::path &path);

// The launcher, if any, followed by program.
std::vector<std::string> launch(const std::string &program);

// A child process that runs until this object ends; its standard input is
// a pipe that the destructor closes, and its first output line can be read.
class Child {
public:
	Child(const std::vector<std::string> &command,
	    const std::filesystem::path &cwd);
	~Child();
	Child(const Child &) = delete;
	Child &operator=(const Child &) = delete;

	std::string read_line();

private:
	pid_t pid_ = -1;
	int to_child_ = -1;
	int from_child_ = -1;
};
