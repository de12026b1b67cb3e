// Figures next to their anchors: a Google Benchmark reporter that remembers
// each benchmark's time, and the lines that print a figure, its anchor and
// their ratio once all have run.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

class CompareReporter : public benchmark::ConsoleReporter {
public:
    CompareReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override;

    struct Times {
        double wallMs = 0;
        double cpuMs = 0;
    };
    // Per iteration; zeros when the benchmark did not run.
    Times times(const std::string& name) const;

    // "what: anchor X ms, ours Y ms, ratio R (goal ...)", by wall and by CPU
    // time (other work on a shared machine moves the first, seldom the
    // second). With slowerIsOurs the ratio is ours / anchor, else anchor /
    // ours: how many times faster.
    void printRatio(const char* what, const std::string& anchor, const std::string& ours,
                    bool slowerIsOurs, const char* goal) const;

private:
    std::map<std::string, Times> m_times;
};

// Runs the registered benchmarks (arguments as Google Benchmark takes them)
// with a CompareReporter; returns it for the ratios.
CompareReporter& runAll(int argc, char** argv);

}  // namespace bench
