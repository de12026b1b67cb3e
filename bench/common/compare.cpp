#include "compare.h"

#include <cstdio>

namespace bench {

void CompareReporter::ReportRuns(const std::vector<Run>& runs) {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        if (run.error_occurred || run.iterations == 0 || run.run_type != Run::RT_Iteration)
            continue;
        // Named without the options suffix (".../min_time:1.000").
        std::string name = run.benchmark_name();
        name = name.substr(0, name.find('/'));
        // In the run's own unit; 1e3 / multiplier turns that into ms.
        const double toMs = 1e3 / benchmark::GetTimeUnitMultiplier(run.time_unit);
        m_times[name] = {run.GetAdjustedRealTime() * toMs, run.GetAdjustedCPUTime() * toMs};
    }
}

CompareReporter::Times CompareReporter::times(const std::string& name) const {
    const auto it = m_times.find(name);
    return it == m_times.end() ? Times{} : it->second;
}

void CompareReporter::printRatio(const char* what, const std::string& anchor,
                                 const std::string& ours, bool slowerIsOurs,
                                 const char* goal) const {
    const Times a = times(anchor), o = times(ours);
    if (a.wallMs <= 0 || o.wallMs <= 0 || a.cpuMs <= 0 || o.cpuMs <= 0) {
        std::printf("%-30s not measured\n", what);
        return;
    }
    const auto ratio = [&](double anchorMs, double oursMs) {
        return slowerIsOurs ? oursMs / anchorMs : anchorMs / oursMs;
    };
    std::printf(
        "%-30s anchor %-24s %8.2f ms | ours %8.2f ms | %s %5.2fx wall, %5.2fx cpu"
        " | goal %s\n",
        what, anchor.c_str(), a.wallMs, o.wallMs, slowerIsOurs ? "ours/anchor" : "faster by",
        ratio(a.wallMs, o.wallMs), ratio(a.cpuMs, o.cpuMs), goal);
}

CompareReporter& runAll(int argc, char** argv) {
    static CompareReporter reporter;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter;
}

}  // namespace bench
