// The benchmark runner: Google Benchmark's own main, except that it exits
// with status 1 when any benchmark reported an error (SkipWithError, for
// instance a missing real capture), so that a run which measured nothing
// cannot pass for a result.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Forwards to the reporter of the chosen output format, counting the runs
// that ended in an error.
template <class Reporter>
class ErrorCountingReporter : public Reporter {
public:
    using Reporter::Reporter;

    void ReportRuns(const std::vector<benchmark::BenchmarkReporter::Run>& runs) override {
        for (const auto& run : runs)
            if (run.error_occurred) ++errors_;
        Reporter::ReportRuns(runs);
    }

    int errors() const { return errors_; }

private:
    int errors_ = 0;
};

// The value of --benchmark_format (console when absent).
std::string output_format(int argc, char** argv) {
    constexpr const char* kFlag = "--benchmark_format=";
    std::string format = "console";
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], kFlag, std::strlen(kFlag)) == 0) format = argv[i] + std::strlen(kFlag);
    return format;
}

template <class Reporter>
int run(Reporter& reporter) {
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.errors() == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string format = output_format(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (format == "json") {
        ErrorCountingReporter<benchmark::JSONReporter> reporter;
        return run(reporter);
    }
    if (format != "console") {
        std::fprintf(stderr, "fpbench: --benchmark_format=%s is not supported (console or json)\n", format.c_str());
        return 1;
    }
    // Colour only on a terminal, as the default console reporter does.
    ErrorCountingReporter<benchmark::ConsoleReporter> reporter(
        isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Color : benchmark::ConsoleReporter::OO_None);
    return run(reporter);
}
