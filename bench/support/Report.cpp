#include "support/Report.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Run = benchmark::BenchmarkReporter::Run;

// Three significant digits or so, never in exponent form.
std::string number(double value)
{
    double const size = std::fabs(value);
    char const* const format = size >= 100 || size == 0 ? "%.0f" : size >= 10 ? "%.1f" : size >= 1 ? "%.2f" : "%.3f";
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A coefficient of variation: "±3.4%", "±12%".
std::string spread(double fraction)
{
    char text[32];
    std::snprintf(text, sizeof text, fraction >= 0.1 ? "±%.0f%%" : "±%.1f%%", fraction * 100);
    return text;
}

std::string duration(double seconds)
{
    if (seconds >= 1)
        return number(seconds) + " s";
    if (seconds >= 1e-3)
        return number(seconds * 1e3) + " ms";
    return number(seconds * 1e6) + " us";
}

bool endsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// "peak_extra_MiB" as "peak extra 96.1 MiB", from the unit its name ends in.
std::string counterText(std::string name, double value)
{
    struct Unit {
        std::string_view suffix;
        std::string_view shown;
    };
    static constexpr Unit units[] = { { "_MiB", " MiB" }, { "_ms", " ms" }, { "_s", " s" }, { "_x", "x" }, { "_count", "" } };
    std::string shown;
    if (endsWith(name, "_per_s")) {
        name.resize(name.size() - 6);
        std::size_t const cut = name.rfind('_');
        shown = " " + name.substr(cut == std::string::npos ? 0 : cut + 1) + "/s";
        name.resize(cut == std::string::npos ? 0 : cut);
    } else {
        auto const unit = std::find_if(std::begin(units), std::end(units), [&](Unit const& u) { return endsWith(name, u.suffix); });
        if (unit != std::end(units)) {
            name.resize(name.size() - unit->suffix.size());
            shown = unit->shown;
        }
    }
    // A few hundred bytes read better as such than as 0.000381 MiB.
    if (shown == " MiB" && value != 0 && std::fabs(value) < 1) {
        double const bytes = value * 1048576;
        value = std::fabs(bytes) < 1024 ? bytes : bytes / 1024;
        shown = std::fabs(bytes) < 1024 ? " B" : " KiB";
    }
    std::replace(name.begin(), name.end(), '_', ' ');
    return (name.empty() ? "" : name + " ") + number(value) + shown;
}

std::string caseName(Run const& run)
{
    std::string name = run.run_name.function_name;
    if (name.rfind("BM_", 0) == 0)
        name.erase(0, 3);
    if (!run.run_name.args.empty())
        name += "/" + run.run_name.args;
    return name;
}

// Prints each case as it ends, on one line. The library's own context block
// is left out: it would warn, on every program, that Debian's build of the
// library keeps its debug checks, which cost nothing at the times measured here.
class LineReporter : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(Context const& context) override
    {
        std::string program = Context::executable_name ? Context::executable_name : "";
        program.erase(0, program.rfind('/') + 1);
        std::ostream& out = GetOutputStream();
        out << "\n" << program << " (" << context.cpu_info.num_cpus << " CPUs; load average";
        for (double load : context.cpu_info.load_avg)
            out << " " << number(load);
        out << ")\n";
        return true;
    }

    void ReportRuns(std::vector<Run> const& runs) override
    {
        Run const* const median = aggregate(runs, "median");
        if (median) {
            Run const* const variation = aggregate(runs, "cv");
            printLine(*median, variation ? spread(variation->real_accumulated_time) : "");
            return;
        }
        for (Run const& run : runs) {
            if (run.run_type == Run::RT_Iteration)
                printLine(run, "");
        }
    }

private:
    static Run const* aggregate(std::vector<Run> const& runs, std::string_view name)
    {
        auto const found = std::find_if(runs.begin(), runs.end(), [&](Run const& run) { return run.run_type == Run::RT_Aggregate && run.aggregate_name == name; });
        return found == runs.end() ? nullptr : &*found;
    }

    void printLine(Run const& run, std::string const& spreadText)
    {
        std::ostream& out = GetOutputStream();
        out << "  " << std::left << std::setw(34) << caseName(run) << std::right;
        if (run.error_occurred) {
            out << "  failed: " << run.error_message << "\n";
            return;
        }
        double const seconds = run.iterations > 0 ? run.real_accumulated_time / static_cast<double>(run.iterations) : 0;
        // "±" takes two bytes and one column.
        std::size_t const spreadColumns = spreadText.empty() ? 0 : spreadText.size() - 1;
        out << std::setw(9) << duration(seconds) << " " << spreadText << std::string(7 - std::min<std::size_t>(spreadColumns, 7), ' ');
        for (auto const& [name, counter] : run.counters)
            out << "   " << counterText(name, counter.value);
        out << "\n" << std::flush;
    }
};

}

int runBenchmarks(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    LineReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
