// Host figures over the project's platform layer, with Google Benchmark:
//
//   sweep.N   DeleteDriverPackages of the package's class over a store of N INFs of another
//             class: microseconds per INF, and the log's bytes per INF;
//   heap.devices.N   UpdateDeviceDriver over N present devices of the class;
//   heap.store.N     a sweep over a store of N INFs, then the update of one device;
//             both: the heap's peak blocks and bytes, and what is left alive afterwards.
//
// Each run prints one line "sample NAME VALUE" per value; bench.sh takes the median, the
// least and the most of them. The store sizes, device counts and rounds of sweeps come from
// the command line:
//
//   host_bench --stores=1000,10000 --heap-devices=1,100,1000 --heap-stores=1000,10000 --repetitions=5
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include "host_setup.h"
#include "exports.h"
#include "installer.h"

namespace {

const int DEFAULT_REPETITIONS = 5;

// Every value is one line for bench.sh; aggregates are bench.sh's business. Lines go to
// std::cout.
class SampleReporter : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration) continue;
            const std::string& name = run.run_name.function_name;
            if (run.error_occurred) {
                std::cout << "error " << name << " " << run.error_message << std::endl;
                continue;
            }
            std::cout << std::fixed << std::setprecision(3);
            // The process's CPU time per iteration, in microseconds, over the INFs of one sweep:
            // the platform layer simulates the machine in this process, so that is the sweep's
            // whole cost, and the time other work on the machine takes does not count.
            if (run.counters.count("per_inf"))
                std::cout << "sample " << name << ".us_per_inf "
                          << run.GetAdjustedCPUTime() / run.counters.at("per_inf").value << "\n";
            for (const auto& counter : run.counters) {
                if (counter.first == "per_inf") continue;
                std::cout << "sample " << name << "." << counter.first << " " << counter.second.value << "\n";
            }
            std::cout.flush();
        }
    }
};

const WCHAR* Wide(const char16_t* text) { return reinterpret_cast<const WCHAR*>(text); }

void Sweep(benchmark::State& state, int infs)
{
    bench::UseStore(infs);
    DeviceDriverInstaller installer;
    size_t logBytes = 0;
    for (auto _ : state) {
        if (installer.DeleteDriverPackages(DeviceClassGuid, 0) != RESULT_SUCCESS) {
            state.SkipWithError("the sweep failed");
            break;
        }
        state.PauseTiming();
        logBytes = bench::LogBytes();
        int swept = bench::LogCount("infFile: ");
        bench::RemoveLog();
        if (swept != infs) {
            state.SkipWithError(
                ("the sweep logged " + std::to_string(swept) + " store INFs, not " + std::to_string(infs)).c_str());
            break;
        }
        state.ResumeTiming();
    }
    state.counters["per_inf"] = infs;
    state.counters["log_bytes_per_inf"] = static_cast<double>(logBytes) / infs;
}

void ReportHeap(benchmark::State& state)
{
    bench::HeapUse heap = bench::HeapSoFar();
    state.counters["peak_blocks"] = static_cast<double>(heap.peakBlocks);
    state.counters["peak_bytes"] = static_cast<double>(heap.peakBytes);
    state.counters["live_blocks"] = static_cast<double>(heap.liveBlocks);
    state.counters["live_bytes"] = static_cast<double>(heap.liveBytes);
}

void HeapOverDevices(benchmark::State& state, int devices)
{
    bench::FreshMachine();
    bench::PutPackageInf();
    bench::PutDevices(devices);
    bench::WatchHeap();
    DeviceDriverInstaller installer;
    for (auto _ : state) installer.UpdateDeviceDriver(Wide(bench::PackageInf()));
    ReportHeap(state);
}

void HeapOverStore(benchmark::State& state, int infs)
{
    bench::UseStore(infs);
    bench::PutPackageInf();
    bench::PutDevices(1);
    bench::WatchHeap();
    DeviceDriverInstaller installer;
    for (auto _ : state) {
        installer.DeleteDriverPackages(DeviceClassGuid, 0);
        installer.UpdateDeviceDriver(Wide(bench::PackageInf()));
    }
    ReportHeap(state);
}

// "--name=1,2,3" into its numbers; false when the argument is another one. Anything but
// positive numbers ends the program.
bool NumbersOf(const char* argument, const char* name, std::vector<int>* numbers)
{
    std::string prefix = std::string("--") + name + "=";
    if (std::strncmp(argument, prefix.c_str(), prefix.size()) != 0) return false;
    numbers->clear();
    const char* p = argument + prefix.size();
    for (;;) {
        char* end = nullptr;
        long number = std::strtol(p, &end, 10);
        if (end == p || number <= 0 || (*end != ',' && *end != 0)) {
            std::cerr << "host_bench: " << prefix << " wants positive numbers separated by commas" << std::endl;
            std::exit(2);
        }
        numbers->push_back(static_cast<int>(number));
        if (*end == 0) return true;
        p = end + 1;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<int> stores, heapDevices, heapStores, repetitions{DEFAULT_REPETITIONS};
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (!NumbersOf(argv[i], "stores", &stores) && !NumbersOf(argv[i], "heap-devices", &heapDevices) &&
            !NumbersOf(argv[i], "heap-stores", &heapStores) && !NumbersOf(argv[i], "repetitions", &repetitions))
            rest.push_back(argv[i]);
    }
    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data());
    if (benchmark::ReportUnrecognizedArguments(restCount, rest.data())) return 1;

    // The benchmarks run in the order they are registered: the store sizes alternate, round
    // after round, so that a change of the machine's load meets each of them alike. Every
    // sample sweeps about as many INFs as the largest store holds. The heap figures come
    // last: those over stores use the sweeps' stores, and those over devices a new machine.
    int largest = 1;
    for (int infs : stores) largest = std::max(largest, infs);
    for (int round = 0; round < repetitions[0]; ++round) {
        for (int infs : stores) {
            benchmark::RegisterBenchmark(("sweep." + std::to_string(infs)).c_str(), Sweep, infs)
                ->Iterations(std::max(1, largest / infs))
                ->Unit(benchmark::kMicrosecond);
        }
    }
    for (int infs : heapStores)
        benchmark::RegisterBenchmark(("heap.store." + std::to_string(infs)).c_str(), HeapOverStore, infs)
            ->Iterations(1);
    for (int devices : heapDevices)
        benchmark::RegisterBenchmark(("heap.devices." + std::to_string(devices)).c_str(), HeapOverDevices, devices)
            ->Iterations(1);

    SampleReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
