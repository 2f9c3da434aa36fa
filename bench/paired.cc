// Times commands side by side: each round runs every command once, in an
// order shuffled anew each round, so that a slow spell of a shared machine
// falls on all of them alike, and so does the work that a command leaves
// the file system to finish after it (cp's writeback, say) on whichever
// command runs next. For each command it prints the
// median time of a run and, from the second command on, the median over
// the rounds of the first command's time divided by this one's in the same
// round, with the quartiles of that ratio.
//
//   build/bench/paired ROUNDS COMMAND ARGS... [-- COMMAND ARGS...]...
//
// Commands run without a shell, standard output and error on /dev/null;
// their exit status is not checked (quoril exits with its count).

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <numeric>
#include <random>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using Command = std::vector<char *>;

std::vector<Command>
split_commands(int argc, char *argv[])
{
	std::vector<Command> commands(1);

	for (int i = 2; i < argc; i++) {
		if (std::strcmp(argv[i], "--") == 0) {
			commands.emplace_back();
			continue;
		}
		commands.back().push_back(argv[i]);
	}
	for (Command &c : commands) {
		if (c.empty())
			return {};
		c.push_back(nullptr);
	}
	return commands;
}

double
now_seconds()
{
	timespec t;

	if (clock_gettime(CLOCK_MONOTONIC, &t) == -1) {
		std::perror("clock_gettime");
		std::exit(1);
	}
	return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// One run of a command, in seconds from spawn to its end.
double
time_run(const Command &command, const posix_spawn_file_actions_t &actions)
{
	pid_t pid;
	int status;
	double start = now_seconds();

	if (posix_spawn(&pid, command[0], &actions, nullptr, command.data(),
	    environ) != 0) {
		std::fprintf(stderr, "paired: cannot run %s\n", command[0]);
		std::exit(1);
	}
	if (waitpid(pid, &status, 0) == -1) {
		std::perror("waitpid");
		std::exit(1);
	}
	return now_seconds() - start;
}

double
quantile(std::vector<double> v, double q)
{
	std::sort(v.begin(), v.end());
	return v[static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5)];
}

void
print_command(const Command &command)
{
	for (size_t i = 0; command[i] != nullptr; i++)
		std::printf(" %s", command[i]);
	std::printf("\n");
}

} // namespace

int
main(int argc, char *argv[])
{
	int rounds = argc > 2 ? std::atoi(argv[1]) : 0;
	std::vector<Command> commands = split_commands(argc, argv);
	posix_spawn_file_actions_t actions;

	if (rounds <= 0 || commands.empty()) {
		std::fputs("usage: paired ROUNDS COMMAND ARGS... "
		    "[-- COMMAND ARGS...]...\n", stderr);
		return 2;
	}
	if (posix_spawn_file_actions_init(&actions) != 0 ||
	    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) != 0 ||
	    posix_spawn_file_actions_adddup2(&actions, 1, 2) != 0) {
		std::fputs("paired: cannot set up the runs\n", stderr);
		return 1;
	}
	size_t n = commands.size();
	std::vector<std::vector<double>> times(n);
	std::vector<size_t> order(n);
	std::iota(order.begin(), order.end(), size_t{0});
	// Fixed seed: the same orders every time.
	std::mt19937 random(12345);
	// A few rounds first, not counted, to fill the caches.
	for (int r = -5; r < rounds; r++) {
		std::shuffle(order.begin(), order.end(), random);
		for (size_t i : order) {
			double t = time_run(commands[i], actions);
			if (r >= 0)
				times[i].push_back(t);
		}
	}
	for (size_t i = 0; i < n; i++) {
		std::printf("%8.3f ms", quantile(times[i], 0.5) * 1e3);
		if (i == 0) {
			std::printf("%19s", "");
		} else {
			std::vector<double> ratio;
			for (size_t r = 0; r < times[i].size(); r++)
				ratio.push_back(times[0][r] / times[i][r]);
			std::printf("  %.3f (%.3f-%.3f)", quantile(ratio, 0.5),
			    quantile(ratio, 0.25), quantile(ratio, 0.75));
		}
		print_command(commands[i]);
	}
	return 0;
}
