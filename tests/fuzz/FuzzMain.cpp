// OrdwellFuzz [--driver NAME]... [--count N] [--seed S] [--from INDEX] [--time-limit-ms MS] [--list]
// Runs N generated inputs (default 1,000,000) through each named parser's driver, or through
// every parser's when none is named, and prints a line per driver. Exit code: 0 all defined,
// 1 undefined results, 2 usage, 3 a fault, 4 an input over the time limit (3 and 4 name the
// input and seed on stderr).

#include "tests/fuzz/FuzzHarness.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    std::vector<std::string> drivers;
    Fuzz::RunOptions options;
    options.count = 1000000;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(arg, "--list") == 0) {
            for (const std::string& name : Fuzz::DriverNames(true)) std::printf("%s\n", name.c_str());
            return 0;
        }
        if (value == nullptr) {
            std::fprintf(stderr, "usage: OrdwellFuzz [--driver NAME]... [--count N] [--seed S] [--from INDEX] "
                                 "[--time-limit-ms MS] [--list]\n");
            return Fuzz::kExitUsage;
        }
        ++i;
        if (std::strcmp(arg, "--driver") == 0) {
            drivers.emplace_back(value);
        } else if (std::strcmp(arg, "--count") == 0) {
            options.count = std::strtoull(value, nullptr, 10);
        } else if (std::strcmp(arg, "--seed") == 0) {
            options.seed = std::strtoull(value, nullptr, 10);
        } else if (std::strcmp(arg, "--from") == 0) {
            options.first = std::strtoull(value, nullptr, 10);
        } else if (std::strcmp(arg, "--time-limit-ms") == 0) {
            options.timeLimitMs = static_cast<DWORD>(std::strtoul(value, nullptr, 10));
        } else {
            std::fprintf(stderr, "unknown option %s\n", arg);
            return Fuzz::kExitUsage;
        }
    }
    if (drivers.empty()) drivers = Fuzz::DriverNames(false);

    int status = 0;
    for (const std::string& name : drivers) {
        const auto driver = Fuzz::CreateDriver(name);
        if (!driver) {
            std::fprintf(stderr, "no driver named %s (see --list)\n", name.c_str());
            return Fuzz::kExitUsage;
        }
        const Fuzz::RunReport report = Fuzz::RunDriver(*driver, options);
        std::printf("%-16s %llu inputs (seed %llu from %llu, %llu past the limit, largest %llu bytes) in %.1f s: "
                    "%llu undefined results, no fault, no hang\n",
                    name.c_str(), static_cast<unsigned long long>(report.inputs),
                    static_cast<unsigned long long>(options.seed), static_cast<unsigned long long>(options.first),
                    static_cast<unsigned long long>(report.pastLimit), static_cast<unsigned long long>(report.largest),
                    report.seconds, static_cast<unsigned long long>(report.undefinedResults));
        for (const std::string& failure : report.failures) std::printf("  %s\n", failure.c_str());
        std::fflush(stdout);
        if (report.undefinedResults != 0) status = Fuzz::kExitUndefinedResult;
    }
    return status;
}
