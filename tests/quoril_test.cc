// End-to-end tests: the built program, run in a temporary folder of its own,
// judged by its exact standard output, an empty standard error, its exit
// status and the files it leaves behind.

#include <sys/file.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "messages.h"

namespace fs = std::filesystem;

namespace {

// A folder's content: file name to bytes, "<dir>" for a folder and
// "-> target" for a symbolic link.
using Files = std::map<std::string, std::string>;
const std::string DIR = "<dir>";

struct Result {
	std::string out;
	std::string err;
	int status;
};

std::string
error_line(run_error error, int code)
{
	char line[256];

	std::snprintf(line, sizeof line, error_format(error), code);
	return BANNER_TEXT + std::string(line);
}

std::string
success_line(int count)
{
	char line[64];

	std::snprintf(line, sizeof line, SUCCESS_FORMAT, count);
	return BANNER_TEXT + std::string(line);
}

std::string
repeat(const std::string &piece, size_t times)
{
	std::string s;

	for (size_t i = 0; i < times; i++)
		s += piece;
	return s;
}

std::string
slurp(const fs::path &path)
{
	std::ifstream in(path, std::ios::binary);
	return std::string(std::istreambuf_iterator<char>(in), {});
}

class Quoril : public ::testing::Test {
protected:
	fs::path root_;
	fs::path work_;

	void
	SetUp() override
	{
		std::string pattern =
		    (fs::temp_directory_path() / "quoril-test-XXXXXX").string();
		ASSERT_NE(mkdtemp(pattern.data()), nullptr);
		root_ = pattern;
		work_ = root_ / "work";
		fs::create_directory(work_);
		// A run that stops reading its piped input early must not
		// kill the test.
		std::signal(SIGPIPE, SIG_IGN);
	}

	void
	TearDown() override
	{
		std::error_code ignored;
		fs::remove_all(root_, ignored);
	}

	void
	make(const Files &files)
	{
		for (const auto &[name, content] : files) {
			if (content == DIR) {
				fs::create_directories(work_ / name);
				continue;
			}
			fs::create_directories((work_ / name).parent_path());
			std::ofstream(work_ / name, std::ios::binary) << content;
		}
	}

	Files
	snapshot()
	{
		Files files;

		for (const fs::directory_entry &e : fs::directory_iterator(work_)) {
			std::string name = e.path().filename().string();
			if (e.is_symlink())
				files[name] = "-> " + fs::read_symlink(e.path()).string();
			else if (e.is_directory())
				files[name] = DIR;
			else
				files[name] = slurp(e.path());
		}
		return files;
	}

	// Runs the program with args in work_, its standard input fed from
	// input or, without it, from /dev/null.
	Result
	run(const std::vector<std::string> &args,
	    const std::optional<std::string> &input = std::nullopt)
	{
		fs::path out = root_ / "stdout";
		fs::path err = root_ / "stderr";
		int fds[2];
		int status;

		if (pipe(fds) == -1)
			return {"", "pipe failed", -1};
		pid_t pid = fork();
		if (pid == 0)
			exec_program(args, fds, input.has_value(), out, err);
		close(fds[0]);
		if (input.has_value())
			feed(fds[1], *input);
		close(fds[1]);
		if (pid == -1 || waitpid(pid, &status, 0) == -1)
			return {"", "fork or wait failed", -1};
		if (!WIFEXITED(status))
			return {slurp(out), "killed by a signal", -1};
		return {slurp(out), slurp(err), WEXITSTATUS(status)};
	}

	[[noreturn]] void
	exec_program(const std::vector<std::string> &args, const int fds[2],
	    bool piped, const fs::path &out, const fs::path &err)
	{
		std::vector<char *> argv;
		int in = piped ? fds[0] : open("/dev/null", O_RDONLY);

		argv.push_back(const_cast<char *>(QUORIL_PROGRAM));
		for (const std::string &a : args)
			argv.push_back(const_cast<char *>(a.c_str()));
		argv.push_back(nullptr);
		std::signal(SIGPIPE, SIG_DFL);
		if (chdir(work_.c_str()) == -1 || dup2(in, 0) == -1 ||
		    !redirect(out, 1) || !redirect(err, 2))
			_exit(126);
		// The program must see the end of a piped input.
		close(fds[0]);
		close(fds[1]);
		execv(argv[0], argv.data());
		_exit(127);
	}

	static bool
	redirect(const fs::path &path, int target)
	{
		int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
		return fd != -1 && dup2(fd, target) != -1;
	}

	// Writes as much of data as the program reads; it may stop early.
	static void
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

	void
	expect_run(const std::vector<std::string> &args,
	    const std::string &expected_out, int expected_status,
	    const std::optional<std::string> &input = std::nullopt)
	{
		Result r = run(args, input);
		EXPECT_EQ(r.out, expected_out);
		EXPECT_EQ(r.err, "");
		EXPECT_EQ(r.status, expected_status);
	}
};

struct Case {
	const char *name;
	Files before;
	std::vector<std::string> args;
	std::string out;
	int status;
	Files changed; // what the run adds or rewrites; the rest stays
};

void
PrintTo(const Case &c, std::ostream *os)
{
	*os << c.name;
}

std::vector<Case>
cases()
{
	const std::string usage = USAGE_TEXT;
	const std::string cafe = "caf\xE9";
	const std::string cafe_html = "caf&#233;";
	const std::string e9 = "\xE9";
	const std::string ref = "&#233;";

	return {
	    {"no arguments", {}, {}, usage, 255, {}},
	    {"one argument", {{"a.txt", "x"}}, {"a.txt"}, usage, 255, {}},
	    {"converts", {{"a.txt", cafe}}, {"a.txt", "a.htm"},
		success_line(1), 1, {{"a.htm", cafe_html}}},
	    {"drops NUL and keeps the rest", {{"a.txt", std::string("A\0B&<\r\n", 7)}},
		{"a.txt", "a.htm"}, success_line(0), 0, {{"a.htm", "AB&<\r\n"}}},
	    {"empty input", {{"a.txt", ""}}, {"a.txt", "a.htm"},
		success_line(0), 0, {{"a.htm", ""}}},
	    {"names differ only in case", {{"A.HTM", cafe}}, {"A.HTM", "a.htm"},
		error_line(ERROR_SAME_NAMES, 0), 255, {}},
	    {"output exists", {{"a.txt", cafe}, {"a.htm", "old"}},
		{"a.txt", "a.htm"}, error_line(ERROR_OUTPUT_EXISTS, 0), 255, {}},
	    {"output exists is checked before the input",
		{{"a.htm", "old"}}, {"missing.txt", "a.htm"},
		error_line(ERROR_OUTPUT_EXISTS, 0), 255, {}},
	    {"/O overwrites", {{"a.txt", cafe}, {"a.htm", "a much longer old text"}},
		{"a.txt", "a.htm", "/O"}, success_line(1), 1, {{"a.htm", cafe_html}}},
	    {"/o overwrites", {{"a.txt", cafe}, {"a.htm", "old"}},
		{"a.txt", "a.htm", "/o"}, success_line(1), 1, {{"a.htm", cafe_html}}},
	    {"/Overwrite overwrites", {{"a.txt", cafe}, {"a.htm", "old"}},
		{"a.txt", "a.htm", "/Overwrite"}, success_line(1), 1, {{"a.htm", cafe_html}}},
	    {"x/oy overwrites", {{"a.txt", cafe}, {"a.htm", "old"}},
		{"a.txt", "a.htm", "junk", "x/oy"}, success_line(1), 1, {{"a.htm", cafe_html}}},
	    {"O is no option", {{"a.txt", cafe}, {"a.htm", "old"}},
		{"a.txt", "a.htm", "O"}, error_line(ERROR_OUTPUT_EXISTS, 0), 255, {}},
	    {"dash O is no option", {{"a.txt", cafe}, {"a.htm", "old"}},
		{"a.txt", "a.htm", "-O"}, error_line(ERROR_OUTPUT_EXISTS, 0), 255, {}},
	    {"/O first is the input name", {{"a.htm", "old"}}, {"/O", "a.htm"},
		error_line(ERROR_OUTPUT_EXISTS, 0), 255, {}},
	    {"/O first, missing input", {}, {"/O", "a.htm"},
		error_line(ERROR_OPEN_INPUT, ENOENT), 255, {}},
	    {"in place with /O", {{"a.htm", cafe}}, {"./a.htm", "a.htm", "/O"},
		success_line(1), 1, {{"a.htm", cafe_html}}},
	    {"in place without /O", {{"a.htm", cafe}}, {"./a.htm", "a.htm"},
		error_line(ERROR_OUTPUT_EXISTS, 0), 255, {}},
	    {"missing input", {}, {"missing.txt", "a.htm"},
		error_line(ERROR_OPEN_INPUT, ENOENT), 255, {}},
	    {"directory as input", {{"d", DIR}}, {"d", "a.htm"},
		error_line(ERROR_OPEN_INPUT, EISDIR), 255, {}},
	    {"directory as output", {{"a.txt", cafe}, {"d", DIR}}, {"a.txt", "d"},
		error_line(ERROR_CREATE_OUTPUT, EEXIST), 255, {}},
	    {"directory as output with /O", {{"a.txt", cafe}, {"d", DIR}},
		{"a.txt", "d", "/O"}, error_line(ERROR_CREATE_OUTPUT, EISDIR), 255, {}},
	    {"output in a missing folder", {{"a.txt", cafe}}, {"a.txt", "no/a.htm"},
		error_line(ERROR_CREATE_OUTPUT, ENOENT), 255, {}},
	    {"unreadable input", {}, {"/proc/self/mem", "a.htm"},
		error_line(ERROR_READ_INPUT, EIO), 255, {}},
	    {"full disk", {{"a.txt", cafe}}, {"a.txt", "/dev/full", "/O"},
		error_line(ERROR_WRITE_OUTPUT, ENOSPC), 255, {}},
	    {"largest input", {{"a.txt", repeat("a", 65536)}}, {"a.txt", "a.htm"},
		success_line(0), 0, {{"a.htm", repeat("a", 65536)}}},
	    {"largest input, all replaced", {{"a.txt", repeat("\xFF", 65536)}},
		{"a.txt", "a.htm"}, success_line(65536), 254,
		{{"a.htm", repeat("&#255;", 65536)}}},
	    {"input one byte too large", {{"a.txt", repeat("a", 65537)}},
		{"a.txt", "a.htm"}, error_line(ERROR_INPUT_TOO_LARGE, EFBIG), 255, {}},
	    {"253 replaced", {{"a.txt", repeat(e9, 253)}}, {"a.txt", "a.htm"},
		success_line(253), 253, {{"a.htm", repeat(ref, 253)}}},
	    {"254 replaced", {{"a.txt", repeat(e9, 254)}}, {"a.txt", "a.htm"},
		success_line(254), 254, {{"a.htm", repeat(ref, 254)}}},
	    {"255 replaced", {{"a.txt", repeat(e9, 255)}}, {"a.txt", "a.htm"},
		success_line(255), 254, {{"a.htm", repeat(ref, 255)}}},
	    {"256 replaced", {{"a.txt", repeat(e9, 256)}}, {"a.txt", "a.htm"},
		success_line(256), 254, {{"a.htm", repeat(ref, 256)}}},
	};
}

class QuorilCase : public Quoril, public ::testing::WithParamInterface<Case> {
};

TEST_P(QuorilCase, Runs)
{
	const Case &c = GetParam();
	Files expected = c.before;
	for (const auto &[name, content] : c.changed)
		expected[name] = content;
	make(c.before);

	Result r = run(c.args);
	EXPECT_EQ(r.out, c.out);
	EXPECT_EQ(r.err, "");
	EXPECT_EQ(r.status, c.status);
	EXPECT_EQ(snapshot(), expected);
}

std::string
case_name(const ::testing::TestParamInfo<Case> &info)
{
	std::string name;

	for (const char *p = info.param.name; *p != '\0'; p++)
		name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
	return name;
}

INSTANTIATE_TEST_SUITE_P(Table, QuorilCase, ::testing::ValuesIn(cases()), case_name);

TEST_F(Quoril, PipeAsInput)
{
	expect_run({"/dev/stdin", "a.htm"}, success_line(1), 1,
	    std::string("caf\xE9"));
	EXPECT_EQ(slurp(work_ / "a.htm"), "caf&#233;");

	expect_run({"/dev/stdin", "b.htm"}, success_line(65536), 254,
	    repeat("\x80", 65536));
	EXPECT_EQ(slurp(work_ / "b.htm"), repeat("&#128;", 65536));

	expect_run({"/dev/stdin", "c.htm"},
	    error_line(ERROR_INPUT_TOO_LARGE, EFBIG), 255, repeat("a", 65537));
	EXPECT_FALSE(fs::exists(work_ / "c.htm"));
}

// Holds an exclusive lock on a file, as another run would.
class HeldLock {
public:
	explicit HeldLock(const fs::path &path)
	    : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC))
	{
		EXPECT_NE(fd_, -1);
		EXPECT_EQ(flock(fd_, LOCK_EX | LOCK_NB), 0);
	}
	~HeldLock() { close(fd_); }
	HeldLock(const HeldLock &) = delete;
	HeldLock &operator=(const HeldLock &) = delete;

private:
	int fd_;
};

TEST_F(Quoril, LockedInputIsRefused)
{
	make({{"a.txt", "caf\xE9"}});
	HeldLock lock(work_ / "a.txt");

	expect_run({"a.txt", "a.htm"}, error_line(ERROR_OPEN_INPUT, EWOULDBLOCK), 255);
	EXPECT_EQ(snapshot(), (Files{{"a.txt", "caf\xE9"}}));
}

TEST_F(Quoril, LockedOutputIsLeftAlone)
{
	const Files before = {{"a.txt", "caf\xE9"}, {"a.htm", "old"}};
	make(before);
	HeldLock lock(work_ / "a.htm");

	expect_run({"a.txt", "a.htm", "/O"},
	    error_line(ERROR_CREATE_OUTPUT, EWOULDBLOCK), 255);
	EXPECT_EQ(snapshot(), before);
	// The probe cannot share a locked file, so it sees no output; the
	// exclusive create then still refuses to replace it.
	expect_run({"a.txt", "a.htm"}, error_line(ERROR_CREATE_OUTPUT, EEXIST), 255);
	EXPECT_EQ(snapshot(), before);
}

TEST_F(Quoril, DanglingLinkAsOutput)
{
	make({{"a.txt", "caf\xE9"}});
	fs::create_symlink("target.htm", work_ / "a.htm");

	expect_run({"a.txt", "a.htm"}, error_line(ERROR_CREATE_OUTPUT, EEXIST), 255);
	EXPECT_FALSE(fs::exists(work_ / "target.htm"));

	expect_run({"a.txt", "a.htm", "/O"}, success_line(1), 1);
	EXPECT_EQ(slurp(work_ / "target.htm"), "caf&#233;");
	EXPECT_TRUE(fs::is_symlink(work_ / "a.htm"));
}

TEST_F(Quoril, LongNamesAreUsedWhole)
{
	// Over 300 characters each, past any fixed name buffer.
	const std::string folder =
	    repeat("f", 100) + "/" + repeat("g", 100) + "/" + repeat("h", 100);
	const std::string input = folder + "/input.txt";
	const std::string output = folder + "/output.htm";
	make({{input, "caf\xE9"}});

	expect_run({input, output, repeat("x", 200) + "/o"}, success_line(1), 1);
	EXPECT_EQ(slurp(work_ / output), "caf&#233;");
}

} // namespace
