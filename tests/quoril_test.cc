// End-to-end tests: the built program, run in a temporary folder of its own,
// judged by its exact standard output, an empty standard error, its exit
// status and the files it leaves behind. The same cases run against the
// Linux build and, under Wine, the Windows build.

#include <sys/file.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "messages.h"
#include "program.h"

namespace fs = std::filesystem;

namespace {

// A folder's content: file name to bytes, "<dir>" for a folder and
// "-> target" for a symbolic link.
using Files = std::map<std::string, std::string>;
const std::string DIR = "<dir>";

// Why a call failed, as each platform's error code says it.
enum Fault {
	NO_CODE,
	NOT_FOUND,
	PATH_NOT_FOUND,
	IS_DIRECTORY,
	ALREADY_EXISTS,
	LOCKED,
	TOO_LARGE,
	DISK_FULL,
	NAME_TOO_LONG,
	IO_ERROR,
};

int
code(Fault fault)
{
	struct Codes {
		int posix;
		int windows;
	};
	static const Codes codes[] = {
		{0, 0},
		{ENOENT, 2},       // ERROR_FILE_NOT_FOUND
		{ENOENT, 3},       // ERROR_PATH_NOT_FOUND
		{EISDIR, 5},       // ERROR_ACCESS_DENIED
		{EEXIST, 80},      // ERROR_FILE_EXISTS
		{EWOULDBLOCK, 32}, // ERROR_SHARING_VIOLATION
		{EFBIG, 223},      // ERROR_FILE_TOO_LARGE
		{ENOSPC, 112},     // ERROR_DISK_FULL
		{ENAMETOOLONG, 206}, // ERROR_FILENAME_EXCED_RANGE
		{EIO, 1117},       // ERROR_IO_DEVICE
	};
	const Codes &c = codes[fault];
	return target().windows ? c.windows : c.posix;
}

// What a run should print and return.
struct Outcome {
	bool usage;
	run_error error;
	Fault fault;
	int32_t count;
};

Outcome
usage()
{
	return {true, RUN_OK, NO_CODE, -1};
}

Outcome
replaced(int32_t count)
{
	return {false, RUN_OK, NO_CODE, count};
}

Outcome
failed(run_error error, Fault fault)
{
	return {false, error, fault, -1};
}

// Windows writes standard output in text mode: each line feed arrives as
// a carriage return and a line feed.
std::string
console(const std::string &text)
{
	std::string out;

	for (char c : text) {
		if (c == '\n' && target().windows)
			out += '\r';
		out += c;
	}
	return out;
}

std::string
expected_out(const Outcome &o)
{
	char line[256];

	if (o.usage)
		return console(USAGE_TEXT);
	if (o.error != RUN_OK)
		std::snprintf(line, sizeof line, error_format(o.error), code(o.fault));
	else
		std::snprintf(line, sizeof line, SUCCESS_FORMAT, o.count);
	return console(BANNER_TEXT + std::string(line));
}

// The exit status as a POSIX parent sees it. On POSIX the program maps -1
// to 255 and counts from 254 up to 254. Windows keeps the full code, of
// which Wine passes on the low 8 bits, or 1 where those are 0 in a code
// that is not.
int
expected_status(const Outcome &o)
{
	int32_t result = o.usage || o.error != RUN_OK ? -1 : o.count;

	if (target().windows)
		return (result & 0xFF) == 0 && result != 0 ? 1 : result & 0xFF;
	if (result < 0)
		return 255;
	return result > 254 ? 254 : result;
}

std::string
repeat(const std::string &piece, size_t times)
{
	std::string s;

	for (size_t i = 0; i < times; i++)
		s += piece;
	return s;
}

// Owns a temporary folder: the program runs in work_, its captured output
// lands beside it.
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

	Result
	run(const std::vector<std::string> &args,
	    const std::optional<std::string> &input = std::nullopt)
	{
		std::vector<std::string> command = launch(target().program);
		command.insert(command.end(), args.begin(), args.end());
		return run_program(command, work_, root_, input);
	}

	void
	expect(const std::vector<std::string> &args, const Outcome &outcome,
	    const std::optional<std::string> &input = std::nullopt)
	{
		Result r = run(args, input);
		EXPECT_EQ(r.out, expected_out(outcome));
		EXPECT_EQ(r.err, "");
		EXPECT_EQ(r.status, expected_status(outcome));
	}
};

#define POSIX_ONLY()                                                          \
	do {                                                                  \
		if (target().windows)                                         \
			GTEST_SKIP() << "POSIX only";                         \
	} while (0)

#define WINDOWS_ONLY()                                                        \
	do {                                                                  \
		if (!target().windows)                                        \
			GTEST_SKIP() << "Windows only";                       \
	} while (0)

struct Case {
	const char *name;
	Files before;
	std::vector<std::string> args;
	Outcome outcome;
	Files changed; // what the run adds or rewrites; the rest stays
	bool posix_only = false;
};

void
PrintTo(const Case &c, std::ostream *os)
{
	*os << c.name;
}

std::vector<Case>
cases()
{
	const std::string cafe = "caf\xE9";
	const std::string cafe_html = "caf&#233;";
	const std::string e9 = "\xE9";
	const std::string ref = "&#233;";

	return {
	    {"no arguments", {}, {}, usage(), {}},
	    {"one argument", {{"a.txt", "x"}}, {"a.txt"}, usage(), {}},
	    {"converts", {{"a.txt", cafe}}, {"a.txt", "a.htm"}, replaced(1),
		{{"a.htm", cafe_html}}},
	    {"drops NUL and keeps the rest",
		{{"a.txt", std::string("A\0B&<\r\n\n\r", 9)}}, {"a.txt", "a.htm"},
		replaced(0), {{"a.htm", "AB&<\r\n\n\r"}}},
	    {"empty input", {{"a.txt", ""}}, {"a.txt", "a.htm"}, replaced(0),
		{{"a.htm", ""}}},
	    {"names differ only in case", {{"A.HTM", cafe}}, {"A.HTM", "a.htm"},
		failed(ERROR_SAME_NAMES, NO_CODE), {}},
	    {"output exists", {{"a.txt", cafe}, {"a.htm", "old"}},
		{"a.txt", "a.htm"}, failed(ERROR_OUTPUT_EXISTS, NO_CODE), {}},
	    {"output exists is checked before the input", {{"a.htm", "old"}},
		{"missing.txt", "a.htm"}, failed(ERROR_OUTPUT_EXISTS, NO_CODE), {}},
	    {"/O overwrites", {{"a.txt", cafe}, {"a.htm", "a much longer old text"}},
		{"a.txt", "a.htm", "/O"}, replaced(1), {{"a.htm", cafe_html}}},
	    {"/o overwrites", {{"a.txt", cafe}, {"a.htm", "old"}},
		{"a.txt", "a.htm", "/o"}, replaced(1), {{"a.htm", cafe_html}}},
	    {"/Overwrite overwrites", {{"a.txt", cafe}, {"a.htm", "old"}},
		{"a.txt", "a.htm", "/Overwrite"}, replaced(1), {{"a.htm", cafe_html}}},
	    {"x/oy overwrites", {{"a.txt", cafe}, {"a.htm", "old"}},
		{"a.txt", "a.htm", "junk", "x/oy"}, replaced(1), {{"a.htm", cafe_html}}},
	    {"O is no option", {{"a.txt", cafe}, {"a.htm", "old"}},
		{"a.txt", "a.htm", "O"}, failed(ERROR_OUTPUT_EXISTS, NO_CODE), {}},
	    {"dash O is no option", {{"a.txt", cafe}, {"a.htm", "old"}},
		{"a.txt", "a.htm", "-O"}, failed(ERROR_OUTPUT_EXISTS, NO_CODE), {}},
	    {"/O first is the input name", {{"a.htm", "old"}}, {"/O", "a.htm"},
		failed(ERROR_OUTPUT_EXISTS, NO_CODE), {}},
	    {"/O first, missing input", {}, {"/O", "a.htm"},
		failed(ERROR_OPEN_INPUT, NOT_FOUND), {}},
	    {"in place with /O", {{"a.htm", cafe}}, {"./a.htm", "a.htm", "/O"},
		replaced(1), {{"a.htm", cafe_html}}},
	    {"in place without /O", {{"a.htm", cafe}}, {"./a.htm", "a.htm"},
		failed(ERROR_OUTPUT_EXISTS, NO_CODE), {}},
	    {"missing input", {}, {"missing.txt", "a.htm"},
		failed(ERROR_OPEN_INPUT, NOT_FOUND), {}},
	    {"directory as input", {{"d", DIR}}, {"d", "a.htm"},
		failed(ERROR_OPEN_INPUT, IS_DIRECTORY), {}},
	    {"directory as output", {{"a.txt", cafe}, {"d", DIR}}, {"a.txt", "d"},
		failed(ERROR_CREATE_OUTPUT, ALREADY_EXISTS), {}},
	    {"directory as output with /O", {{"a.txt", cafe}, {"d", DIR}},
		{"a.txt", "d", "/O"}, failed(ERROR_CREATE_OUTPUT, IS_DIRECTORY), {}},
	    {"output in a missing folder", {{"a.txt", cafe}}, {"a.txt", "no/a.htm"},
		failed(ERROR_CREATE_OUTPUT, PATH_NOT_FOUND), {}},
	    {"full disk", {{"a.txt", cafe}}, {"a.txt", "/dev/full", "/O"},
		failed(ERROR_WRITE_OUTPUT, DISK_FULL), {}},
	    {"largest input", {{"a.txt", repeat("a", 65536)}}, {"a.txt", "a.htm"},
		replaced(0), {{"a.htm", repeat("a", 65536)}}},
	    {"largest input, all replaced", {{"a.txt", repeat("\xFF", 65536)}},
		{"a.txt", "a.htm"}, replaced(65536),
		{{"a.htm", repeat("&#255;", 65536)}}},
	    {"input one byte too large", {{"a.txt", repeat("a", 65537)}},
		{"a.txt", "a.htm"}, failed(ERROR_INPUT_TOO_LARGE, TOO_LARGE), {}},
	    {"253 replaced", {{"a.txt", repeat(e9, 253)}}, {"a.txt", "a.htm"},
		replaced(253), {{"a.htm", repeat(ref, 253)}}},
	    {"254 replaced", {{"a.txt", repeat(e9, 254)}}, {"a.txt", "a.htm"},
		replaced(254), {{"a.htm", repeat(ref, 254)}}},
	    {"255 replaced", {{"a.txt", repeat(e9, 255)}}, {"a.txt", "a.htm"},
		replaced(255), {{"a.htm", repeat(ref, 255)}}},
	    {"256 replaced", {{"a.txt", repeat(e9, 256)}}, {"a.txt", "a.htm"},
		replaced(256), {{"a.htm", repeat(ref, 256)}}},
	    // Reading process memory at address 0 fails with EIO.
	    {"unreadable input", {}, {"/proc/self/mem", "a.htm"},
		failed(ERROR_READ_INPUT, IO_ERROR), {}, true},
	};
}

class QuorilCase : public Quoril, public ::testing::WithParamInterface<Case> {
};

TEST_P(QuorilCase, Runs)
{
	const Case &c = GetParam();
	if (c.posix_only)
		POSIX_ONLY();
	Files expected = c.before;
	for (const auto &[name, content] : c.changed)
		expected[name] = content;
	make(c.before);

	expect(c.args, c.outcome);
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

TEST_F(Quoril, LongNamesAreUsedWhole)
{
	// Over 300 characters each, past any fixed name buffer.
	const std::string folder =
	    repeat("f", 100) + "/" + repeat("g", 100) + "/" + repeat("h", 100);
	const std::string input = folder + "/input.txt";
	const std::string output = folder + "/output.htm";
	const std::string option = repeat("x", 200) + "/o";
	make({{input, "caf\xE9"}, {output, "old"}});

	if (target().windows) {
		// The ANSI file calls take at most 259 characters.
		expect({input, output, option},
		    failed(ERROR_OPEN_INPUT, NAME_TOO_LONG));
		return;
	}
	expect({input, output, option}, replaced(1));
	EXPECT_EQ(slurp(work_ / output), "caf&#233;");
}

TEST_F(Quoril, PipeAsInput)
{
	POSIX_ONLY();
	expect({"/dev/stdin", "a.htm"}, replaced(1), std::string("caf\xE9"));
	EXPECT_EQ(slurp(work_ / "a.htm"), "caf&#233;");

	expect({"/dev/stdin", "b.htm"}, replaced(65536), repeat("\x80", 65536));
	EXPECT_EQ(slurp(work_ / "b.htm"), repeat("&#128;", 65536));

	expect({"/dev/stdin", "c.htm"}, failed(ERROR_INPUT_TOO_LARGE, TOO_LARGE),
	    repeat("a", 65537));
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
	POSIX_ONLY();
	make({{"a.txt", "caf\xE9"}});
	HeldLock lock(work_ / "a.txt");

	expect({"a.txt", "a.htm"}, failed(ERROR_OPEN_INPUT, LOCKED));
	EXPECT_EQ(snapshot(), (Files{{"a.txt", "caf\xE9"}}));
}

TEST_F(Quoril, LockedOutputIsLeftAlone)
{
	POSIX_ONLY();
	const Files before = {{"a.txt", "caf\xE9"}, {"a.htm", "old"}};
	make(before);
	HeldLock lock(work_ / "a.htm");

	expect({"a.txt", "a.htm", "/O"}, failed(ERROR_CREATE_OUTPUT, LOCKED));
	EXPECT_EQ(snapshot(), before);
	// The probe cannot share a locked file, so it sees no output; the
	// exclusive create then still refuses to replace it.
	expect({"a.txt", "a.htm"}, failed(ERROR_CREATE_OUTPUT, ALREADY_EXISTS));
	EXPECT_EQ(snapshot(), before);
}

TEST_F(Quoril, DanglingLinkAsOutput)
{
	POSIX_ONLY();
	make({{"a.txt", "caf\xE9"}});
	fs::create_symlink("target.htm", work_ / "a.htm");

	expect({"a.txt", "a.htm"}, failed(ERROR_CREATE_OUTPUT, ALREADY_EXISTS));
	EXPECT_FALSE(fs::exists(work_ / "target.htm"));

	expect({"a.txt", "a.htm", "/O"}, replaced(1));
	EXPECT_EQ(slurp(work_ / "target.htm"), "caf&#233;");
	EXPECT_TRUE(fs::is_symlink(work_ / "a.htm"));
}

// Another Windows program holding a file open, through the test helper.
class Holder {
public:
	Holder(const fs::path &cwd, const std::string &file, const char *mode)
	    : child_(with_launcher(file, mode), cwd)
	{
		EXPECT_EQ(child_.read_line(), "held");
	}

private:
	static std::vector<std::string>
	with_launcher(const std::string &file, const char *mode)
	{
		std::vector<std::string> command = launch(target().hold);
		command.push_back(file);
		command.push_back(mode);
		return command;
	}

	Child child_;
};

TEST_F(Quoril, InputHeldOpenIsRefused)
{
	WINDOWS_ONLY();
	make({{"a.txt", "caf\xE9"}});
	// The input is opened sharing nothing, so even a mere reader stops it.
	for (const char *mode : {"exclusive", "reader"}) {
		SCOPED_TRACE(mode);
		Holder holder(work_, "a.txt", mode);
		expect({"a.txt", "a.htm"}, failed(ERROR_OPEN_INPUT, LOCKED));
		EXPECT_EQ(snapshot(), (Files{{"a.txt", "caf\xE9"}}));
	}
}

TEST_F(Quoril, OutputHeldOpenIsLeftAlone)
{
	WINDOWS_ONLY();
	const Files before = {{"a.txt", "caf\xE9"}, {"a.htm", "old"}};
	make(before);
	{
		Holder holder(work_, "a.htm", "exclusive");
		expect({"a.txt", "a.htm", "/O"}, failed(ERROR_CREATE_OUTPUT, LOCKED));
		EXPECT_EQ(snapshot(), before);
	}
	// The probe shares reading only, so an output open for writing
	// elsewhere looks absent; the exclusive create still refuses it.
	Holder writer(work_, "a.htm", "writer");
	expect({"a.txt", "a.htm"}, failed(ERROR_CREATE_OUTPUT, ALREADY_EXISTS));
	EXPECT_EQ(snapshot(), before);
}

// Wine hands Linux only the low 8 bits of an exit code; cmd reads the
// whole code through Windows itself.
TEST_F(Quoril, FullExitCodeOnWindows)
{
	WINDOWS_ONLY();
	std::string program = "Z:" + target().program;
	for (char &c : program)
		c = c == '/' ? '\\' : c;
	make({{"a.txt", repeat("\xE9", 1000)},
	    {"status.bat", "@" + program + " a.txt a.htm > NUL\r\n"
		"@echo %ERRORLEVEL%\r\n"
		"@" + program + " a.txt a.htm > NUL\r\n"
		"@echo %ERRORLEVEL%\r\n"}});

	std::vector<std::string> command = launch("cmd");
	command.insert(command.end(), {"/c", "status.bat"});
	Result r = run_program(command, work_, root_);
	EXPECT_EQ(r.out, "1000\r\n-1\r\n");
	EXPECT_EQ(slurp(work_ / "a.htm"), repeat("&#233;", 1000));
}


// Many runs at once on the same files: writers replacing one output with
// /O, readers converting that same file as their input. Each version has
// its own length, so a torn read or a mixed write cannot pass for a whole
// one. Every run either succeeds or stops at the other's lock.
TEST_F(Quoril, ConcurrentRunsNeverMixOrTear)
{
	const int writers = 4;
	const int readers = 4;
	const int rounds = target().windows ? 3 : 25;
	std::vector<std::string> versions = {"initial"};
	Files sources;
	for (int k = 0; k < writers; k++) {
		std::string text = repeat(std::string(1, static_cast<char>('a' + k)),
		    3000 * static_cast<size_t>(k + 1));
		sources["src" + std::to_string(k) + ".txt"] = text + "\xE9";
		versions.push_back(text + "&#233;");
	}
	make(sources);
	make({{"shared.htm", versions[0]}});

	const std::string wrote = expected_out(replaced(1));
	const std::string copied = expected_out(replaced(0));
	const std::string write_locked =
	    expected_out(failed(ERROR_CREATE_OUTPUT, LOCKED));
	const std::string read_locked = expected_out(failed(ERROR_OPEN_INPUT, LOCKED));
	auto is_version = [&](const std::string &text) {
		return std::find(versions.begin(), versions.end(), text) !=
		    versions.end();
	};

	for (int round = 0; round < rounds; round++) {
		SCOPED_TRACE("round " + std::to_string(round));
		std::vector<std::vector<std::string>> runs;
		for (int k = 0; k < writers; k++)
			runs.push_back({"src" + std::to_string(k) + ".txt", "shared.htm", "/O"});
		for (int j = 0; j < readers; j++)
			runs.push_back({"shared.htm", "copy" + std::to_string(j) + ".htm", "/O"});

		std::vector<pid_t> pids;
		int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
		for (size_t i = 0; i < runs.size(); i++) {
			std::vector<std::string> command = launch(target().program);
			command.insert(command.end(), runs[i].begin(), runs[i].end());
			std::string n = std::to_string(i);
			pids.push_back(start_program(command, work_, in,
			    root_ / ("out" + n), root_ / ("err" + n)));
		}
		close(in);

		for (size_t i = 0; i < runs.size(); i++) {
			std::string n = std::to_string(i);
			int status = wait_program(pids[i]);
			std::string out = slurp(root_ / ("out" + n));
			EXPECT_EQ(slurp(root_ / ("err" + n)), "");
			bool reader = runs[i][0] == "shared.htm";
			if (out == (reader ? copied : wrote)) {
				EXPECT_EQ(status, expected_status(replaced(reader ? 0 : 1)));
				if (reader) {
					EXPECT_TRUE(is_version(slurp(work_ / runs[i][1])));
				}
			} else {
				EXPECT_EQ(out, reader ? read_locked : write_locked);
				EXPECT_EQ(status, 255);
			}
		}
		EXPECT_TRUE(is_version(slurp(work_ / "shared.htm")));
	}
}

} // namespace
