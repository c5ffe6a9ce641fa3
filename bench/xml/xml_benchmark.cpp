// Load, destroy, memory, indented save and serialization of a generated device database, beside pugixml in the
// same run, repeated in one process. xml_fresh_load measures the load in a new process each time.

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "common/generate_database.h"
#include "common/xml_save_loop.h"
#include "xml/xml_document.h"
#include "xml/xml_node_ref.h"
#include "xml/xml_writer.h"

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
        benchmark::DoNotOptimize(document);
        state.PauseTiming();
        delete document;
        state.ResumeTiming();
    }
    XmlDocument document;
    document.LoadFile(path.c_str());
    state.counters["tree_bytes_per_element"] =
        static_cast<double>(document.TreeBytes()) / static_cast<double>(ElementCount(state.range(0)));
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

// The writer alone: the bytes go nowhere, so neither the kernel nor the disk is timed.
class DiscardingSink : public vantrel::XmlSink {
public:
    bool Write(const char*, std::size_t size) override {
        bytes += size;
        return true;
    }
    std::size_t bytes = 0;
};

class PugiDiscardingWriter : public pugi::xml_writer {
public:
    void write(const void*, std::size_t size) override { bytes += size; }
    std::size_t bytes = 0;
};

// range(1): 1 for CR LF line ends (what a save writes), 0 for LF (pugixml's only line end).
void VantrelSerialize(benchmark::State& state) {
    XmlDocument document;
    document.LoadFile(DatabasePath(static_cast<int>(state.range(0))).c_str());
    auto lineEnd = state.range(1) != 0 ? vantrel::XmlLineEnd::CrLf : vantrel::XmlLineEnd::Lf;
    DiscardingSink sink;
    for (auto _ : state) {
        if (!vantrel::XmlWrite(sink, document.Root(), vantrel::XmlLayout::Indented, lineEnd))
            state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(sink.bytes));
}

void PugiSerialize(benchmark::State& state) {
    PugiDocument document;
    document.Load(DatabasePath(static_cast<int>(state.range(0))));
    PugiDiscardingWriter writer;
    for (auto _ : state) document.document.save(writer, "\t", pugi::format_indent);
    state.SetBytesProcessed(static_cast<std::int64_t>(writer.bytes));
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
BENCHMARK(VantrelSerialize)->ArgsProduct({{1000, 10000}, {1, 0}})->Unit(benchmark::kMillisecond);
BENCHMARK(PugiSerialize)->Apply(Sizes);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (int devices : {1000, 10000}) std::remove(DatabasePath(devices).c_str());
    return 0;
}
