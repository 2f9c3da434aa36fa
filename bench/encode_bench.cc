// Times encode_high_bytes on the three benchmark inputs, and memcpy of the
// same output size beside it, then prints each ratio encoder / memcpy.
//
//   build/bench/encode_bench [--benchmark_repetitions=N ...]

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "encode.h"
#include "inputs.h"

namespace {

const BenchInput INPUTS[] = {
	{"ascii", ascii_text()},
	{"latin1", latin1_text()},
	{"all_high", all_high()},
};

char output_text[OUTPUT_TEXT_CAPACITY];
char copy_target[OUTPUT_TEXT_CAPACITY];

size_t
output_size(const std::string &input)
{
	int32_t replaced = 0;

	encode_high_bytes(reinterpret_cast<const unsigned char *>(input.data()),
	    static_cast<uint32_t>(input.size()), output_text, replaced);
	return std::strlen(output_text);
}

void
encode(benchmark::State &state, const BenchInput *in)
{
	const auto *data = reinterpret_cast<const unsigned char *>(in->bytes.data());
	auto size = static_cast<uint32_t>(in->bytes.size());

	for (auto _ : state) {
		int32_t replaced = 0;
		encode_high_bytes(data, size, output_text, replaced);
		benchmark::DoNotOptimize(replaced);
		benchmark::ClobberMemory();
	}
	state.SetBytesProcessed(state.iterations() * size);
}

// UTF-8 mode on the same input, as one last slice.
void
encode_utf8_mode(benchmark::State &state, const BenchInput *in)
{
	const auto *data = reinterpret_cast<const unsigned char *>(in->bytes.data());
	auto size = static_cast<uint32_t>(in->bytes.size());

	for (auto _ : state) {
		int32_t replaced = 0;
		encode_utf8(data, size, output_text, replaced, true);
		benchmark::DoNotOptimize(replaced);
		benchmark::ClobberMemory();
	}
	state.SetBytesProcessed(state.iterations() * size);
}

void
copy(benchmark::State &state, const BenchInput *in)
{
	size_t size = output_size(in->bytes);

	for (auto _ : state) {
		std::memcpy(copy_target, output_text, size);
		benchmark::ClobberMemory();
	}
	state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
}

// Prints the usual table, then each input's encoder time over its memcpy
// time, from the same run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
	void
	ReportRuns(const std::vector<Run> &runs) override
	{
		ConsoleReporter::ReportRuns(runs);
		for (const Run &run : runs) {
			if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median")
				times_[run.run_name.function_name] = run.GetAdjustedRealTime();
		}
	}

	void
	Finalize() override
	{
		std::printf("\n%-10s %12s %12s %8s %12s %10s\n", "input", "encode",
		    "memcpy", "ratio", "utf8 mode", "/ encode");
		for (const BenchInput &in : INPUTS) {
			double e = times_["encode/" + std::string(in.name)];
			double m = times_["memcpy/" + std::string(in.name)];
			double u = times_["utf8/" + std::string(in.name)];
			if (e > 0 && m > 0 && u > 0)
				std::printf("%-10s %9.2f us %9.2f us %8.2f %9.2f us %10.2f\n",
				    in.name, e / 1000, m / 1000, e / m, u / 1000, u / e);
		}
		ConsoleReporter::Finalize();
	}

private:
	std::map<std::string, double> times_;
};

} // namespace

int
main(int argc, char **argv)
{
	for (const BenchInput &in : INPUTS) {
		benchmark::RegisterBenchmark(("encode/" + std::string(in.name)).c_str(),
		    encode, &in);
		benchmark::RegisterBenchmark(("memcpy/" + std::string(in.name)).c_str(),
		    copy, &in);
		benchmark::RegisterBenchmark(("utf8/" + std::string(in.name)).c_str(),
		    encode_utf8_mode, &in);
	}
	benchmark::Initialize(&argc, argv);
	RatioReporter reporter;
	benchmark::RunSpecifiedBenchmarks(&reporter);
	benchmark::Shutdown();
	return 0;
}
