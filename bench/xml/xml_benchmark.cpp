// Load, destroy, memory and indented save of a generated device database, beside pugixml in the same run.

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "common/generate_database.h"
#include "common/xml_save_loop.h"
#include "xml/xml_document.h"
#include "xml/xml_node_ref.h"

namespace {

using vantrel::XmlDocument;

constexpr int kChannels = 16;

// The database file for a device count, generated once per run.
const std::string& DatabasePath(int devices) {
    static std::map<int, std::string> paths;
    auto found = paths.find(devices);
    if (found != paths.end())
        return found->second;
    std::string text = vantrel::bench::GenerateDatabase({devices, kChannels, 8});
    std::string path = "/tmp/vantrel_bench_" + std::to_string(getpid()) + "_" + std::to_string(devices) + ".xml";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size())
        std::abort();
    std::fclose(file);
    return paths.emplace(devices, path).first->second;
}

std::string OutputPath() {
    return "/tmp/vantrel_bench_" + std::to_string(getpid()) + "_out.xml";
}

char* ReadWhole(const std::string& path, std::size_t* size) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        std::abort();
    std::fseek(file, 0, SEEK_END);
    long length = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    auto* buffer = static_cast<char*>(std::malloc(static_cast<std::size_t>(length) + 1));
    *size = std::fread(buffer, 1, static_cast<std::size_t>(length), file);
    std::fclose(file);
    buffer[*size] = '\0';
    return buffer;
}

std::size_t g_pugiBytes = 0;

void* CountingAllocate(std::size_t size) {
    auto* block = static_cast<std::size_t*>(std::malloc(size + 16));
    if (block == nullptr)
        return nullptr;
    block[0] = size;
    g_pugiBytes += size;
    return reinterpret_cast<char*>(block) + 16;
}

void CountingDeallocate(void* pointer) {
    if (pointer == nullptr)
        return;
    auto* block = reinterpret_cast<std::size_t*>(static_cast<char*>(pointer) - 16);
    g_pugiBytes -= block[0];
    std::free(block);
}

struct PugiDocument {
    pugi::xml_document document;
    char* buffer = nullptr;
    ~PugiDocument() { std::free(buffer); }
    void Load(const std::string& path) {
        std::size_t size = 0;
        buffer = ReadWhole(path, &size);
        pugi::xml_parse_result result = document.load_buffer_inplace(buffer, size, pugi::parse_default);
        if (!result)
            std::abort();
    }
};

std::uint64_t ElementCount(int devices) {
    return 1 + 1 + 1 + 8 + 1 + static_cast<std::uint64_t>(devices) * (1 + 2 * kChannels);
}

void VantrelLoad(benchmark::State& state) {
    const std::string& path = DatabasePath(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto* document = new XmlDocument();
        document->LoadFile(path.c_str());
        benchmark::DoNotOptimize(document->root);
        state.PauseTiming();
        delete document;
        state.ResumeTiming();
    }
    XmlDocument document;
    document.LoadFile(path.c_str());
    state.counters["tree_bytes_per_element"] =
        static_cast<double>(vantrel::XmlTreeMemory(document.root)) / static_cast<double>(ElementCount(state.range(0)));
}

void PugiLoad(benchmark::State& state) {
    const std::string& path = DatabasePath(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto* document = new PugiDocument();
        document->Load(path);
        benchmark::DoNotOptimize(document->buffer);
        state.PauseTiming();
        delete document;
        state.ResumeTiming();
    }
    g_pugiBytes = 0;
    pugi::set_memory_management_functions(CountingAllocate, CountingDeallocate);
    {
        PugiDocument document;
        document.Load(path);
        state.counters["tree_bytes_per_element"] =
            static_cast<double>(g_pugiBytes) / static_cast<double>(ElementCount(state.range(0)));
    }
    pugi::set_memory_management_functions(std::malloc, std::free);
}

void VantrelDestroy(benchmark::State& state) {
    const std::string& path = DatabasePath(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        auto* document = new XmlDocument();
        document->LoadFile(path.c_str());
        state.ResumeTiming();
        delete document;
    }
}

void PugiDestroy(benchmark::State& state) {
    const std::string& path = DatabasePath(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        auto* document = new PugiDocument();
        document->Load(path);
        state.ResumeTiming();
        delete document;
    }
}

void VantrelSave(benchmark::State& state) {
    const std::string& path = DatabasePath(static_cast<int>(state.range(0)));
    vantrel::bench::TimeIndentedSave(state, path, OutputPath());
}

void PugiSave(benchmark::State& state) {
    const std::string& path = DatabasePath(static_cast<int>(state.range(0)));
    std::string out = OutputPath();
    PugiDocument document;
    document.Load(path);
    for (auto _ : state) {
        if (!document.document.save_file(out.c_str(), "\t", pugi::format_indent))
            state.SkipWithError("write failed");
    }
    std::remove(out.c_str());
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
}

BENCHMARK(VantrelLoad)->Apply(Sizes);
BENCHMARK(PugiLoad)->Apply(Sizes);
// Each iteration needs an untimed load, so the count is fixed rather than grown to fill a second.
BENCHMARK(VantrelDestroy)->Apply(Sizes)->Iterations(20)->Unit(benchmark::kMicrosecond);
BENCHMARK(PugiDestroy)->Apply(Sizes)->Iterations(20)->Unit(benchmark::kMicrosecond);
BENCHMARK(VantrelSave)->Apply(Sizes);
BENCHMARK(PugiSave)->Apply(Sizes);

}  // namespace

// Times one load in a forked child, so that the tree's memory is new to the process as at start-up.
template <typename Load>
double FreshLoadMilliseconds(Load load) {
    int fds[2];
    if (pipe(fds) != 0)
        std::abort();
    pid_t child = fork();
    if (child == 0) {
        auto start = std::chrono::steady_clock::now();
        load();
        double elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (write(fds[1], &elapsed, sizeof elapsed) != sizeof elapsed)
            _exit(1);
        _exit(0);
    }
    double elapsed = -1;
    if (read(fds[0], &elapsed, sizeof elapsed) != sizeof elapsed)
        elapsed = -1;
    close(fds[0]);
    close(fds[1]);
    waitpid(child, nullptr, 0);
    return elapsed;
}

void ReportFreshLoads() {
    constexpr int kRuns = 15;
    for (int devices : {1000, 10000}) {
        const std::string& path = DatabasePath(devices);
        std::vector<double> ours, pugi;
        for (int run = 0; run < kRuns; ++run) {
            ours.push_back(FreshLoadMilliseconds([&] {
                auto* document = new XmlDocument();
                document->LoadFile(path.c_str());
                benchmark::DoNotOptimize(document->root);
            }));
            pugi.push_back(FreshLoadMilliseconds([&] {
                auto* document = new PugiDocument();
                document->Load(path);
                benchmark::DoNotOptimize(document->buffer);
            }));
        }
        std::sort(ours.begin(), ours.end());
        std::sort(pugi.begin(), pugi.end());
        std::printf("FreshLoad/%d (median of %d, new process each): vantrel %.2f ms, pugixml %.2f ms, ratio %.2f\n",
                    devices, kRuns, ours[kRuns / 2], pugi[kRuns / 2], ours[kRuns / 2] / pugi[kRuns / 2]);
    }
}

int main(int argc, char** argv) {
    ReportFreshLoads();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (int devices : {1000, 10000}) std::remove(DatabasePath(devices).c_str());
    return 0;
}
