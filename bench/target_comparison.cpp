#include "bench/target_comparison.h"

#include "bench/duration_text.h"
#include "bench/target_timing.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace {

struct Build {
    std::string kernel;
    std::vector<std::string> order;                    // the cases, as the first round listed them
    std::map<std::string, std::vector<double>> rounds; // each round's median, per case
};

bool readRound(const std::string& path, Build& build)
{
    std::ifstream in(path);
    if (!in)
        return false;
    const bool first = build.order.empty();
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("# kernel ", 0) == 0) {
            build.kernel = line.substr(9);
            continue;
        }
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string name;
        double median = 0;
        if (!std::getline(fields, name, '\t') || !(fields >> median))
            continue;
        if (first)
            build.order.push_back(name);
        build.rounds[name].push_back(median);
    }
    return true;
}

std::string spread(const std::vector<double>& values, std::string (*show)(double))
{
    const auto [least, most] = std::minmax_element(values.begin(), values.end());
    return show(*least) + " - " + show(*most);
}

std::string ratio(double value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

} // namespace

bool printTargetComparison(const std::string& directory, int rounds)
{
    Build native;
    Build windows;
    for (int round = 1; round <= rounds; ++round) {
        const std::string suffix = "-" + std::to_string(round) + ".tsv";
        if (!readRound(directory + "/native" + suffix, native) || !readRound(directory + "/windows" + suffix, windows)) {
            std::fprintf(stderr, "round %d of %d is missing in %s\n", round, rounds, directory.c_str());
            return false;
        }
    }
    std::printf("\nThe Windows build (32-bit, under Wine, kernel %s) against the native build (kernel %s):\n"
                "time per call, the median of %d rounds' medians, and the rounds' range\n\n",
                windows.kernel.c_str(), native.kernel.c_str(), rounds);
    std::printf("%-32s %10s %23s %10s %23s %10s %13s\n", "case", "native", "rounds", "Windows", "rounds",
                "x native", "rounds");
    for (const std::string& name : native.order) {
        const std::vector<double>& mine = native.rounds[name];
        const auto theirs = windows.rounds.find(name);
        if (theirs == windows.rounds.end() || theirs->second.size() != mine.size()) {
            std::printf("%-32s %10s %23s   (not run in the Windows build)\n", name.c_str(),
                        duration(median(mine)).c_str(), spread(mine, duration).c_str());
            continue;
        }
        std::vector<double> ratios;
        for (size_t i = 0; i < mine.size(); ++i)
            ratios.push_back(theirs->second[i] / mine[i]);
        std::printf("%-32s %10s %23s %10s %23s %10s %13s\n", name.c_str(), duration(median(mine)).c_str(),
                    spread(mine, duration).c_str(), duration(median(theirs->second)).c_str(),
                    spread(theirs->second, duration).c_str(), ratio(median(theirs->second) / median(mine)).c_str(),
                    spread(ratios, ratio).c_str());
    }
    return true;
}
