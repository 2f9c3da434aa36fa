#include "program.h"

#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string
env_or(const char *name, const std::string &fallback)
{
	const char *value = std::getenv(name);
	return value != nullptr && *value != '\0' ? value : fallback;
}

[[noreturn]] void
exec(const std::vector<std::string> &command, const fs::path &cwd)
{
	std::vector<char *> argv;

	for (const std::string &a : command)
		argv.push_back(const_cast<char *>(a.c_str()));
	argv.push_back(nullptr);
	std::signal(SIGPIPE, SIG_DFL);
	if (chdir(cwd.c_str()) == 0)
		execv(argv[0], argv.data());
	_exit(127);
}

int
create(const fs::path &path)
{
	return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

bool
redirect(const fs::path &path, int target)
{
	int fd = create(path);
	return fd != -1 && dup2(fd, target) != -1;
}

// Writes as much of data as the child reads; it may stop early.
void
feed(int fd, const std::string &data)
{
	size_t done = 0;

	while (done < data.size()) {
		ssize_t n = write(fd, data.data() + done, data.size() - done);
		if (n <= 0)
			return;
		done += static_cast<size_t>(n);
	}
}

} // namespace

std::string
slurp(const fs::path &path)
{
	std::ifstream in(path, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), {});
}

const Target &
target()
{
	static const Target t = {
	    env_or("QUORIL_PROGRAM", QUORIL_PROGRAM),
	    env_or("QUORIL_LAUNCHER", ""),
	    env_or("QUORIL_HOLD", ""),
	    env_or("QUORIL_TARGET", "posix") == "windows",
	};
	return t;
}

std::vector<std::string>
launch(const std::string &program)
{
	if (target().launcher.empty())
		return {program};
	return {target().launcher, program};
}

pid_t
start_program(const std::vector<std::string> &command, const fs::path &cwd,
    int in, int out, const fs::path &err)
{
	// A child that stops reading its piped input early must not kill us.
	std::signal(SIGPIPE, SIG_IGN);
	pid_t pid = fork();
	if (pid == 0) {
		if (dup2(in, 0) == -1 || dup2(out, 1) == -1 || !redirect(err, 2))
			_exit(126);
		exec(command, cwd);
	}
	return pid;
}

pid_t
start_program(const std::vector<std::string> &command, const fs::path &cwd,
    int in, const fs::path &out, const fs::path &err)
{
	int fd = create(out);

	if (fd == -1)
		return -1;
	pid_t pid = start_program(command, cwd, in, fd, err);
	close(fd);
	return pid;
}

int
wait_program(pid_t pid)
{
	int status;

	if (pid == -1 || waitpid(pid, &status, 0) == -1 || !WIFEXITED(status))
		return -1;
	return WEXITSTATUS(status);
}

Result
run_program(const std::vector<std::string> &command, const fs::path &cwd,
    const fs::path &scratch, const std::optional<std::string> &input)
{
	fs::path out = scratch / "stdout";
	fs::path err = scratch / "stderr";
	int fds[2];

	if (input) {
		if (pipe2(fds, O_CLOEXEC) == -1)
			return {"", "pipe failed", -1};
	} else {
		fds[0] = open("/dev/null", O_RDONLY | O_CLOEXEC);
		fds[1] = -1;
	}
	pid_t pid = start_program(command, cwd, fds[0], out, err);
	close(fds[0]);
	if (input)
		feed(fds[1], *input);
	if (fds[1] != -1)
		close(fds[1]);
	int status = wait_program(pid);
	return {slurp(out), status == -1 ? "did not exit" : slurp(err), status};
}

Child::Child(const std::vector<std::string> &command, const fs::path &cwd)
{
	int in[2];
	int out[2];

	if (pipe2(in, O_CLOEXEC) == -1)
		return;
	if (pipe2(out, O_CLOEXEC) == -1) {
		close(in[0]);
		close(in[1]);
		return;
	}
	pid_ = fork();
	if (pid_ == 0) {
		if (dup2(in[0], 0) == -1 || dup2(out[1], 1) == -1)
			_exit(126);
		exec(command, cwd);
	}
	close(in[0]);
	close(out[1]);
	to_child_ = in[1];
	from_child_ = out[0];
}

Child::~Child()
{
	int status;

	if (to_child_ != -1)
		close(to_child_);
	if (from_child_ != -1)
		close(from_child_);
	if (pid_ > 0)
		waitpid(pid_, &status, 0);
}

std::string
Child::read_line()
{
	std::string line;
	char c;

	while (from_child_ != -1 && read(from_child_, &c, 1) == 1 && c != '\n') {
		if (c != '\r')
			line += c;
	}
	return line;
}
