// Opening, saving and adding one device to a generated database, beside the XML library's own load and write
// of the same file in the same run.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/generate_database.h"
#include "common/xml_save_loop.h"
#include "store/xml_device_store.h"
#include "xml/xml_document.h"

namespace {

using vantrel::DeviceRecord;
using vantrel::XmlDeviceStore;
using vantrel::XmlDocument;

constexpr int kChannels = 16;

std::string& BenchFolder() {
    static std::string folder = [] {
        char pattern[] = "/tmp/vantrel-store-bench-XXXXXX";
        std::string made = mkdtemp(pattern);
        return made + "/";
    }();
    return folder;
}

// <folder>/<devices>/XML/Data.xml, generated once per run.
const std::string& DatabasePath(int devices) {
    static std::map<int, std::string> paths;
    auto found = paths.find(devices);
    if (found != paths.end()) {
        return found->second;
    }
    std::string folder = BenchFolder() + std::to_string(devices) + "/XML/";
    std::filesystem::create_directories(folder);
    std::string text = vantrel::bench::GenerateDatabase({devices, kChannels, 8});
    std::string path = folder + "Data.xml";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
        std::abort();
    }
    std::fclose(file);
    return paths.emplace(devices, path).first->second;
}

void XmlLoad(benchmark::State& state) {
    const std::string& path = DatabasePath(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto* document = new XmlDocument();
        document->LoadFile(path.c_str());
        benchmark::DoNotOptimize(document);
        state.PauseTiming();
        delete document;
        state.ResumeTiming();
    }
}

void StoreOpen(benchmark::State& state) {
    const std::string& path = DatabasePath(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto* store = new XmlDeviceStore(path);
        benchmark::DoNotOptimize(store);
        state.PauseTiming();
        delete store;
        state.ResumeTiming();
    }
}

void XmlWrite(benchmark::State& state) {
    const std::string& path = DatabasePath(static_cast<int>(state.range(0)));
    vantrel::bench::TimeIndentedSave(state, path, path + ".out");
}

void StoreSave(benchmark::State& state) {
    const std::string& source = DatabasePath(static_cast<int>(state.range(0)));
    // save into a copy so that the generated file stays as it is
    std::string folder = BenchFolder() + "save/XML/";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(source, folder + "Data.xml", std::filesystem::copy_options::overwrite_existing);
    XmlDeviceStore store(folder + "Data.xml");
    for (auto _ : state) {
        if (store.Save() != 1) {
            state.SkipWithError("save failed");
        }
    }
}

DeviceRecord NewDevice(int serial) {
    DeviceRecord record{};
    std::snprintf(record.name, sizeof record.name, "Added%06d", serial);
    std::snprintf(record.host, sizeof record.host, "10.%d.%d.%d", serial / 65536 % 256, serial / 256 % 256,
                  serial % 256);
    std::strcpy(record.username, "admin");
    std::strcpy(record.password, "secret");
    record.cameras = kChannels;
    record.port = 5050;
    record.orgId = 1;
    return record;
}

// What the catalogue does for one device: both duplicate checks, the add, the camera types.
void StoreAddDevice(benchmark::State& state) {
    const std::string& path = DatabasePath(static_cast<int>(state.range(0)));
    XmlDeviceStore store(path);
    std::vector<double> micros;
    int serial = 0;
    const std::int32_t types[kChannels] = {1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0};
    for (auto _ : state) {
        DeviceRecord record = NewDevice(++serial);
        auto start = std::chrono::steady_clock::now();
        if (store.FindDeviceByName(record.name) != 0 || store.FindDeviceByAddress(record.host, record.port) != 0 ||
            store.AddDevices(&record, sizeof record) != 1 ||
            store.SetCameraTypes(record.id, types, static_cast<std::int32_t>(record.cameras)) != 1) {
            state.SkipWithError("add failed");
            break;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    if (!micros.empty()) {
        state.counters["first_us"] = micros.front();
        std::sort(micros.begin(), micros.end());
        state.counters["median_us"] = micros[micros.size() / 2];
    }
    std::filesystem::remove(std::filesystem::path(path).parent_path() / "Data.key");
}

// The first add after opening, in fresh processes (nothing warm from an earlier store): each child opens the
// database and times one add as StoreAddDevice does; the figure is the median over the processes.
void StoreFirstAddFresh(benchmark::State& state) {
    const std::string& path = DatabasePath(static_cast<int>(state.range(0)));
    constexpr int kProcesses = 9;
    const std::int32_t types[kChannels] = {};
    for (auto _ : state) {
        std::vector<double> micros;
        // process 0 makes the password key (a one-time cost of a new folder, with its fsync) and is not counted
        for (int process = 0; process <= kProcesses; ++process) {
            int pipeEnds[2];
            if (pipe(pipeEnds) != 0) {
                std::abort();
            }
            pid_t child = fork();
            if (child == 0) {
                XmlDeviceStore store(path);
                DeviceRecord record = NewDevice(900000 + process);
                auto start = std::chrono::steady_clock::now();
                bool ok = store.FindDeviceByName(record.name) == 0 &&
                          store.FindDeviceByAddress(record.host, record.port) == 0 &&
                          store.AddDevices(&record, sizeof record) == 1 &&
                          store.SetCameraTypes(record.id, types, kChannels) == 1;
                double took =
                    std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
                double sent = ok ? took : -1;
                _exit(write(pipeEnds[1], &sent, sizeof sent) == sizeof sent ? 0 : 1);
            }
            close(pipeEnds[1]);
            double took = -1;
            if (read(pipeEnds[0], &took, sizeof took) != sizeof took || took < 0) {
                state.SkipWithError("first add failed");
            }
            close(pipeEnds[0]);
            waitpid(child, nullptr, 0);
            if (process > 0) {
                micros.push_back(took);
            }
        }
        std::sort(micros.begin(), micros.end());
        state.counters["first_add_median_us"] = micros[micros.size() / 2];
        state.counters["first_add_slowest_us"] = micros.back();
    }
    std::filesystem::remove(std::filesystem::path(path).parent_path() / "Data.key");
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
}

BENCHMARK(XmlLoad)->Apply(Sizes);
BENCHMARK(StoreOpen)->Apply(Sizes);
BENCHMARK(XmlWrite)->Apply(Sizes);
BENCHMARK(StoreSave)->Apply(Sizes);
// a fixed number of adds, so that the database grows by a few percent at most
BENCHMARK(StoreAddDevice)->Arg(1000)->Arg(10000)->Iterations(200)->Unit(benchmark::kMicrosecond);
BENCHMARK(StoreFirstAddFresh)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(BenchFolder(), ignored);
    return 0;
}
