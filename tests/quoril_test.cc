// End-to-end tests: the built program, run in a temporary folder of its own,
// judged by its exact standard output, an empty standard error, its exit
// status and the files it leaves behind. The same cases run against the
// Linux build and, under Wine, the Windows build.

#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// A folder's content: file name to bytes, "<dir>" for a folder, "<fifo>"
// for a FIFO and "-> target" for a symbolic link.
using Files = std::map<std::string, std::string>;
const std::string DIR = "<dir>";
const std::string FIFO = "<fifo>";

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
	CROSS_DEVICE,
	SIZE_LIMIT,
	ACCESS_DENIED,
	REPLACE_REFUSED,
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
		{EEXIST, 183},     // ERROR_ALREADY_EXISTS, from the final move
		{EWOULDBLOCK, 32}, // ERROR_SHARING_VIOLATION
		{EFBIG, 223},      // ERROR_FILE_TOO_LARGE
		{ENOSPC, 112},     // ERROR_DISK_FULL
		{ENAMETOOLONG, 206}, // ERROR_FILENAME_EXCED_RANGE
		{EIO, 1117},       // ERROR_IO_DEVICE
		{EXDEV, 17},       // ERROR_NOT_SAME_DEVICE
		{EFBIG, 223},      // RLIMIT_FSIZE, POSIX only
		{EACCES, 5},       // ERROR_ACCESS_DENIED
		{EBUSY, 1176},     // ERROR_UNABLE_TO_MOVE_REPLACEMENT, Windows only
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
	// Put before the program on its command line (strace, sh, setpriv).
	std::vector<std::string> wrapper_;

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
			else if (e.is_fifo())
				files[name] = FIFO;
			else
				files[name] = slurp(e.path());
		}
		return files;
	}

	Result
	run(const std::vector<std::string> &args,
	    const std::optional<std::string> &input = std::nullopt)
	{
		std::vector<std::string> command = wrapper_;
		std::vector<std::string> program = launch(target().program);
		command.insert(command.end(), program.begin(), program.end());
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
	// Every byte value in turn, 256 times over: the output's writes end
	// inside references, ASCII runs and dropped NULs alike.
	std::string every_byte, every_byte_html;
	for (int i = 0; i < 65536; i++) {
		auto c = static_cast<unsigned char>(i);
		every_byte += static_cast<char>(c);
		if (c >= 0x80)
			every_byte_html += "&#" + std::to_string(c) + ";";
		else if (c != 0)
			every_byte_html += static_cast<char>(c);
	}

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
	    {"largest input, every byte value", {{"a.txt", every_byte}},
		{"a.txt", "a.htm"}, replaced(32768), {{"a.htm", every_byte_html}}},
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
	    // UTF-8 mode.
	    {"/U decodes UTF-8", {{"a.txt", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"}},
		{"a.txt", "a.htm", "/U"}, replaced(3),
		{{"a.htm", "caf&#233; &#8364; &#128512;"}}},
	    {"/u keeps Latin-1 right", {{"a.txt", cafe}}, {"a.txt", "a.htm", "/u"},
		replaced(1), {{"a.htm", cafe_html}}},
	    {"/U drops a byte-order mark at the start only",
		{{"a.txt", "\xEF\xBB\xBF" "a\xEF\xBB\xBF"}}, {"a.txt", "a.htm", "/U"},
		replaced(1), {{"a.htm", "a&#65279;"}}},
	    {"/U then /O", {{"a.txt", "caf\xC3\xA9"}, {"a.htm", "old"}},
		{"a.txt", "a.htm", "/U", "/O"}, replaced(1), {{"a.htm", cafe_html}}},
	    {"/O then /U", {{"a.txt", "caf\xC3\xA9"}, {"a.htm", "old"}},
		{"a.txt", "a.htm", "/O", "/U"}, replaced(1), {{"a.htm", cafe_html}}},
	    // "/UO" holds no "/O" and is not "/U": it is ignored.
	    {"/UO is no UTF-8", {{"a.txt", "caf\xC3\xA9"}},
		{"a.txt", "a.htm", "/UO"}, replaced(2),
		{{"a.htm", "caf&#195;&#169;"}}},
	    {"/UO is no overwrite", {{"a.txt", "caf\xC3\xA9"}, {"a.htm", "old"}},
		{"a.txt", "a.htm", "/UO"}, failed(ERROR_OUTPUT_EXISTS, NO_CODE), {}},
	    {"/U 300 characters", {{"a.txt", repeat("\xC3\xA9", 300)}},
		{"a.txt", "a.htm", "/U"}, replaced(300), {{"a.htm", repeat(ref, 300)}}},
	    {"/U largest input of three-byte characters",
		{{"a.txt", repeat("\xE2\x82\xAC", 21845) + "a"}},
		{"a.txt", "a.htm", "/U"}, replaced(21845),
		{{"a.htm", repeat("&#8364;", 21845) + "a"}}},
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

// A replaced output is a new file under the old name: a symbolic link to
// it stays a link, its mode stays, other hard links keep the old text.
TEST_F(Quoril, ReplacedOutputKeepsItsLinksAndMode)
{
	POSIX_ONLY();
	make({{"a.txt", "caf\xE9"}, {"dir/target.htm", "old"}});
	fs::create_symlink("dir/target.htm", work_ / "link.htm");
	fs::create_hard_link(work_ / "dir/target.htm", work_ / "hard.htm");
	ASSERT_EQ(chmod((work_ / "dir/target.htm").c_str(), 0640), 0);

	expect({"a.txt", "link.htm", "/O"}, replaced(1));
	EXPECT_TRUE(fs::is_symlink(work_ / "link.htm"));
	EXPECT_EQ(slurp(work_ / "dir/target.htm"), "caf&#233;");
	EXPECT_EQ(slurp(work_ / "hard.htm"), "old");
	struct stat st;
	ASSERT_EQ(stat((work_ / "dir/target.htm").c_str(), &st), 0);
	EXPECT_EQ(st.st_mode & 07777, 0640u);
	// A new output gets the usual mode of a new file.
	mode_t mask = umask(022);
	expect({"a.txt", "new.htm"}, replaced(1));
	umask(mask);
	ASSERT_EQ(stat((work_ / "new.htm").c_str(), &st), 0);
	EXPECT_EQ(st.st_mode & 07777, 0644u);
	EXPECT_EQ(fs::directory_iterator(work_ / "dir")->path().filename(),
	    "target.htm");
}

// The replacing file starts with a mode that the umask may cut down, and
// is given the old file's mode and owner afterwards.
TEST_F(Quoril, ReplacedOutputKeepsModesTheUmaskWouldCut)
{
	POSIX_ONLY();
	mode_t mask = umask(027);
	const mode_t modes[] = {0600, 0604, 0640, 0664, 0666, 04755};
	for (mode_t mode : modes) {
		SCOPED_TRACE(mode);
		make({{"a.txt", "caf\xE9"}, {"a.htm", "old"}});
		ASSERT_EQ(chmod((work_ / "a.htm").c_str(), mode), 0);
		expect({"a.txt", "a.htm", "/O"}, replaced(1));
		struct stat st;
		ASSERT_EQ(stat((work_ / "a.htm").c_str(), &st), 0);
		EXPECT_EQ(st.st_mode & 07777, mode);
	}
	umask(mask);
	if (geteuid() != 0)
		GTEST_SKIP() << "giving a file away needs root";
	ASSERT_EQ(chown((work_ / "a.htm").c_str(), 65534, 65534), 0);
	ASSERT_EQ(chmod((work_ / "a.htm").c_str(), 04755), 0);
	expect({"a.txt", "a.htm", "/O"}, replaced(1));
	struct stat st;
	ASSERT_EQ(stat((work_ / "a.htm").c_str(), &st), 0);
	EXPECT_EQ(st.st_uid, 65534u);
	EXPECT_EQ(st.st_gid, 65534u);
	EXPECT_EQ(st.st_mode & 07777, 04755u);
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
// /O and racing to create another without it, readers converting those
// same files as their input. Each version has its own length, so a torn
// read or a mixed write cannot pass for a whole one, and neither can an
// output that a run has not finished. Every run either succeeds or stops
// at the other's lock or file.
TEST_F(Quoril, ConcurrentRunsNeverMixOrTear)
{
	// Under Wine, fewer at once: 16 Wine programs starting together
	// made Wine itself fail a start now and then (status 1, no output).
	const int writers = target().windows ? 2 : 4;
	const int readers = target().windows ? 2 : 4;
	const int rounds = target().windows ? 4 : 25;
	std::vector<std::string> versions = {"initial"};
	Files sources;
	for (int k = 0; k < writers; k++) {
		std::string text = repeat(std::string(1, static_cast<char>('a' + k)),
		    3000 * static_cast<size_t>(k + 1));
		// Two copies: a run locks its input, and runs of the same
		// input would stop each other.
		sources["src" + std::to_string(k) + ".txt"] = text + "\xE9";
		sources["new" + std::to_string(k) + ".txt"] = text + "\xE9";
		versions.push_back(text + "&#233;");
	}
	make(sources);
	make({{"shared.htm", versions[0]}});

	const std::string wrote = expected_out(replaced(1));
	const std::string copied = expected_out(replaced(0));
	std::vector<std::string> write_refusals = {
	    expected_out(failed(ERROR_CREATE_OUTPUT, LOCKED))};
	std::vector<std::string> create_refusals = {
	    expected_out(failed(ERROR_OUTPUT_EXISTS, NO_CODE)),
	    expected_out(failed(ERROR_CREATE_OUTPUT, ALREADY_EXISTS))};
	std::vector<std::string> read_refusals = {
	    expected_out(failed(ERROR_OPEN_INPUT, LOCKED)),
	    expected_out(failed(ERROR_OPEN_INPUT, NOT_FOUND))};
	if (target().windows) {
		// Windows refuses to open a file that another run is just
		// replacing (ERROR_ACCESS_DENIED), and to replace one that
		// another run opened in that instant
		// (ERROR_UNABLE_TO_MOVE_REPLACEMENT).
		write_refusals.push_back(
		    expected_out(failed(ERROR_CREATE_OUTPUT, ACCESS_DENIED)));
		write_refusals.push_back(
		    expected_out(failed(ERROR_CREATE_OUTPUT, REPLACE_REFUSED)));
		create_refusals.push_back(
		    expected_out(failed(ERROR_CREATE_OUTPUT, ACCESS_DENIED)));
		read_refusals.push_back(
		    expected_out(failed(ERROR_OPEN_INPUT, ACCESS_DENIED)));
	}
	auto is_version = [&](const std::string &text) {
		return std::find(versions.begin(), versions.end(), text) !=
		    versions.end();
	};
	struct Run {
		std::vector<std::string> args;
		bool reader;
		const std::vector<std::string> &refusals;
	};

	for (int round = 0; round < rounds; round++) {
		SCOPED_TRACE("round " + std::to_string(round));
		fs::remove(work_ / "new.htm");
		std::vector<Run> runs;
		for (int k = 0; k < writers; k++) {
			std::string n = std::to_string(k);
			runs.push_back({{"src" + n + ".txt", "shared.htm", "/O"}, false,
			    write_refusals});
			runs.push_back({{"new" + n + ".txt", "new.htm"}, false,
			    create_refusals});
		}
		for (int j = 0; j < readers; j++) {
			std::string n = std::to_string(j);
			runs.push_back({{"shared.htm", "copy" + n + ".htm", "/O"}, true,
			    read_refusals});
			runs.push_back({{"new.htm", "new" + n + ".htm", "/O"}, true,
			    read_refusals});
		}

		std::vector<pid_t> pids;
		int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
		for (size_t i = 0; i < runs.size(); i++) {
			std::vector<std::string> command = launch(target().program);
			command.insert(command.end(), runs[i].args.begin(),
			    runs[i].args.end());
			std::string n = std::to_string(i);
			pids.push_back(start_program(command, work_, in,
			    root_ / ("out" + n), root_ / ("err" + n)));
		}
		close(in);

		for (size_t i = 0; i < runs.size(); i++) {
			const Run &run = runs[i];
			SCOPED_TRACE(run.args[0] + " " + run.args[1]);
			std::string n = std::to_string(i);
			int status = wait_program(pids[i]);
			std::string out = slurp(root_ / ("out" + n));
			EXPECT_EQ(slurp(root_ / ("err" + n)), "");
			if (out == (run.reader ? copied : wrote)) {
				EXPECT_EQ(status, expected_status(replaced(run.reader ? 0 : 1)));
				if (run.reader) {
					EXPECT_TRUE(is_version(slurp(work_ / run.args[1])));
				}
			} else {
				EXPECT_NE(std::find(run.refusals.begin(), run.refusals.end(),
				    out), run.refusals.end()) << out;
				EXPECT_EQ(status, 255);
			}
		}
		EXPECT_TRUE(is_version(slurp(work_ / "shared.htm")));
		EXPECT_TRUE(is_version(slurp(work_ / "new.htm")));
		for (int j = 0; j < readers; j++)
			fs::remove(work_ / ("new" + std::to_string(j) + ".htm"));
	}
	// No run left a temporary file behind.
	for (const auto &[name, content] : snapshot())
		EXPECT_EQ(name.find("quoril"), std::string::npos) << name;
}

// A file system of 64 KiB over the work folder, where we may mount one
// (as root). Every case's output is larger than that.
class FullDisk : public Quoril {
protected:
	bool mounted_ = false;

	void
	SetUp() override
	{
		Quoril::SetUp();
		if (mount("tmpfs", work_.c_str(), "tmpfs", 0, "size=64k") != 0)
			GTEST_SKIP() << "cannot mount a tmpfs here: "
				     << std::strerror(errno);
		mounted_ = true;
	}

	void
	TearDown() override
	{
		if (mounted_)
			umount2(work_.c_str(), MNT_DETACH);
		Quoril::TearDown();
	}
};

// Whatever the output was, it is exactly that after a failed write, and
// no temporary file is left behind.
TEST_F(FullDisk, FailedWriteLeavesEverythingAsItWas)
{
	const std::string big = repeat("\xE9", 12000);
	struct {
		const char *name;
		Files before;
		std::vector<std::string> args;
	} cases[] = {
	    {"new output", {{"a.txt", big}}, {"a.txt", "a.htm"}},
	    {"replacing an output", {{"a.txt", big}, {"a.htm", "old"}},
		{"a.txt", "a.htm", "/O"}},
	    {"in place", {{"a.txt", big}}, {"./a.txt", "a.txt", "/O"}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.name);
		make(c.before);
		expect(c.args, failed(ERROR_WRITE_OUTPUT, DISK_FULL));
		EXPECT_EQ(snapshot(), c.before);
		for (const auto &[name, content] : c.before)
			fs::remove(work_ / name);
	}
}

// Failures of single system calls, made with strace on the program.
TEST_F(Quoril, FailingCallsLeaveEverythingAsItWas)
{
	POSIX_ONLY();
	if (!fs::exists("/usr/bin/strace"))
		GTEST_SKIP() << "needs strace";
	// big.txt's output takes two writes of the output buffer.
	const Files before = {{"a.txt", "caf\xE9"}, {"a.htm", "old"},
	    {"big.txt", repeat("\xE9", 10000)}};
	struct {
		const char *inject;
		std::vector<std::string> args;
		Outcome outcome;
		Files changed;
	} cases[] = {
	    {"write:error=EIO:when=1", {"a.txt", "a.htm", "/O"},
		failed(ERROR_WRITE_OUTPUT, IO_ERROR), {}},
	    {"write:error=EIO:when=2", {"big.txt", "a.htm", "/O"},
		failed(ERROR_WRITE_OUTPUT, IO_ERROR), {}},
	    {"write:error=EIO:when=2", {"big.txt", "new.htm"},
		failed(ERROR_WRITE_OUTPUT, IO_ERROR), {}},
	    // A file system that cannot lock: the check's refused lock
	    // leaves no code behind.
	    {"flock:error=ENOLCK:when=1", {"a.txt", "a.htm"},
		failed(ERROR_OUTPUT_EXISTS, NO_CODE), {}},
	    {"rename,renameat,renameat2:error=EXDEV", {"a.txt", "a.htm", "/O"},
		failed(ERROR_CREATE_OUTPUT, CROSS_DEVICE), {}},
	    // A new output that another program creates after the check.
	    {"renameat2:error=EEXIST", {"a.txt", "new.htm"},
		failed(ERROR_CREATE_OUTPUT, ALREADY_EXISTS), {}},
	    // A file system that cannot refuse to replace in one call.
	    {"renameat2:error=EINVAL", {"a.txt", "new.htm"}, replaced(1),
		{{"new.htm", "caf&#233;"}}},
	};
	for (const auto &c : cases) {
		SCOPED_TRACE(c.inject);
		make(before);
		// LeakSanitizer cannot work under ptrace.
		wrapper_ = {"/usr/bin/env", "ASAN_OPTIONS=detect_leaks=0",
		    "/usr/bin/strace", "-qq", "-o", "/dev/null",
		    "-e", std::string("inject=") + c.inject};
		expect(c.args, c.outcome);
		Files expected = before;
		for (const auto &[name, content] : c.changed)
			expected[name] = content;
		EXPECT_EQ(snapshot(), expected);
		fs::remove(work_ / "new.htm");
	}
}

// A file-size limit fails the write (EFBIG) instead of killing the run.
TEST_F(Quoril, FileSizeLimitIsAnError)
{
	POSIX_ONLY();
	const Files before = {{"a.txt", repeat("\xE9", 500)}, {"a.htm", "old"}};
	make(before);
	wrapper_ = {"/bin/sh", "-c", "ulimit -f 1 && exec \"$0\" \"$@\""};
	expect({"a.txt", "a.htm", "/O"}, failed(ERROR_WRITE_OUTPUT, SIZE_LIMIT));
	expect({"a.txt", "b.htm"}, failed(ERROR_WRITE_OUTPUT, SIZE_LIMIT));
	EXPECT_EQ(snapshot(), before);
}

// A folder that refuses new files, holding an output we may write: the
// output is written in place.
TEST_F(Quoril, ReadOnlyFolderWithWritableOutput)
{
	POSIX_ONLY();
	make({{"a.txt", "caf\xE9"}, {"ro/a.htm", "old"}});
	fs::permissions(work_ / "ro/a.htm", fs::perms(0666));
	fs::permissions(work_ / "ro", fs::perms(0555));
	if (geteuid() == 0) {
		// Root may write anywhere: run as nobody.
		fs::permissions(root_, fs::perms(0755));
		fs::permissions(work_, fs::perms(0755));
		wrapper_ = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
		    "--clear-groups"};
		if (run({}).status != expected_status(usage()))
			GTEST_SKIP() << "nobody cannot run the program here";
	}
	expect({"a.txt", "ro/a.htm", "/O"}, replaced(1));
	EXPECT_EQ(slurp(work_ / "ro/a.htm"), "caf&#233;");
	EXPECT_EQ(std::distance(fs::directory_iterator(work_ / "ro"),
	    fs::directory_iterator()), 1);
	fs::permissions(work_ / "ro", fs::perms(0755));
}

// A FIFO is judged by its type: the check never opens it, so a writer
// waiting on it keeps waiting and loses nothing.
TEST_F(Quoril, FifoWithWaitingWriterAsOutput)
{
	POSIX_ONLY();
	make({{"a.txt", "caf\xE9"}});
	const fs::path fifo = work_ / "out.fifo";
	ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
	pid_t writer = fork();
	if (writer == 0) {
		int fd = open(fifo.c_str(), O_WRONLY);
		_exit(fd != -1 && write(fd, "text", 4) == 4 ? 0 : 1);
	}
	// Wait until it sleeps in its open, for want of a reader.
	for (int i = 0; i < 500; i++) {
		std::string stat = slurp("/proc/" + std::to_string(writer) + "/stat");
		size_t end = stat.rfind(')');
		if (end != std::string::npos && stat.compare(end, 4, ") S ") == 0)
			break;
		usleep(10000);
	}

	expect({"a.txt", "out.fifo"}, failed(ERROR_OUTPUT_EXISTS, NO_CODE));
	int status;
	ASSERT_EQ(waitpid(writer, &status, WNOHANG), 0) << "the writer has ended";
	int fd = open(fifo.c_str(), O_RDONLY);
	char text[8] = {};
	EXPECT_EQ(read(fd, text, sizeof text), 4);
	close(fd);
	EXPECT_STREQ(text, "text");
	ASSERT_EQ(waitpid(writer, &status, 0), writer);
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Input from a FIFO, which has no size to check: read to its end.
TEST_F(Quoril, FifoAsInput)
{
	const fs::path fifo = work_ / "in.fifo";
	ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
	struct {
		std::string text;
		Outcome outcome;
		Files changed;
	} cases[] = {
	    {"caf\xE9", replaced(1), {{"a.htm", "caf&#233;"}}},
	    {repeat("a", 65537), failed(ERROR_INPUT_TOO_LARGE, TOO_LARGE), {}},
	};
	for (const auto &c : cases) {
		pid_t writer = fork();
		if (writer == 0) {
			std::signal(SIGPIPE, SIG_IGN);
			int fd = open(fifo.c_str(), O_WRONLY);
			(void)write(fd, c.text.data(), c.text.size());
			_exit(0);
		}
		expect({"in.fifo", "a.htm"}, c.outcome);
		waitpid(writer, nullptr, 0);
		Files expected = {{"in.fifo", FIFO}};
		expected.insert(c.changed.begin(), c.changed.end());
		EXPECT_EQ(snapshot(), expected);
		fs::remove(work_ / "a.htm");
	}
}

// A report that cannot be written is a failed run: the file work stands,
// the exit status says error.
TEST_F(Quoril, UnwritableStandardOutputIsAnError)
{
	make({{"a.txt", "caf\xE9"}});
	std::vector<std::string> command = launch(target().program);
	command.insert(command.end(), {"a.txt", "a.htm", "/O"});
	int in = open("/dev/null", O_RDONLY | O_CLOEXEC);

	pid_t pid = start_program(command, work_, in, "/dev/full", root_ / "err");
	EXPECT_EQ(wait_program(pid), expected_status(failed(ERROR_WRITE_OUTPUT, NO_CODE)));
	EXPECT_EQ(slurp(work_ / "a.htm"), "caf&#233;");
	fs::remove(work_ / "a.htm");

	int fds[2];
	ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
	close(fds[0]);
	pid = start_program(command, work_, in, fds[1], root_ / "err");
	close(fds[1]);
	EXPECT_EQ(wait_program(pid), expected_status(failed(ERROR_WRITE_OUTPUT, NO_CODE)));
	EXPECT_EQ(slurp(work_ / "a.htm"), "caf&#233;");
	close(in);
}

} // namespace
