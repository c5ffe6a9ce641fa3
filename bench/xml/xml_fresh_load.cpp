// Load of a generated device database in a new process each time, ours beside pugixml, interleaved in the
// same run: the program starts with no memory of its own, as at start-up, so page faults on the text and the
// tree count. The rounds of the sizes are interleaved as well. Each table is run twice: with transparent huge
// pages turned off for the children (prctl(PR_SET_THP_DISABLE) before exec) and with the system's setting.
//
//     xml_fresh_load [rounds] [devices...]   the tables (default 15 rounds of 10,000 and 100,000 devices)
//     xml_fresh_load --warm [rounds]         parse of the same text again and again in one process
//     xml_fresh_load --resident [devices]    resident memory before a load and after the document is gone
//     xml_fresh_load --child KIND PATH       one load (KIND: vantrel, pugixml or none) and exit
//
// Figures come from wait4 on each child: CPU (user + system) as median, 90th percentile and slowest; user,
// system, peak resident memory and minor faults as medians. "none" is the same program without a load.

#include <pugixml.hpp>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "support/xml_database_text.h"
#include "xml/xml_document.h"
#include "xml/xml_node_ref.h"

namespace {

constexpr int kChannels = 16;
constexpr int kOrganizations = 8;
constexpr const char* kKinds[] = {"none", "vantrel", "pugixml"};

[[noreturn]] void Fail(const char* what) {
    std::perror(what);
    std::exit(2);
}

// pugixml's cheapest load: the file read whole into one buffer and parsed in place.
bool PugixmlLoad(const char* path, pugi::xml_document& document) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return false;
    std::fseek(file, 0, SEEK_END);
    long length = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    auto* buffer = static_cast<char*>(pugi::get_memory_allocation_function()(static_cast<std::size_t>(length) + 1));
    std::size_t size = std::fread(buffer, 1, static_cast<std::size_t>(length), file);
    std::fclose(file);
    return document.load_buffer_inplace_own(buffer, size, pugi::parse_default) && document.first_child();
}

// One load, then exit at once without tearing anything down (destruction is measured elsewhere).
int Child(const char* kind, const char* path) {
    if (std::strcmp(kind, "vantrel") == 0) {
        auto* document = new vantrel::XmlDocument();
        bool loaded = document->LoadFile(path).Clean() && document->Root().ChildCount() > 0;
        _exit(loaded ? 0 : 1);
    }
    if (std::strcmp(kind, "pugixml") == 0) {
        auto* document = new pugi::xml_document();
        _exit(PugixmlLoad(path, *document) ? 0 : 1);
    }
    _exit(0);
}

struct Sample {
    double user = 0;    // ms
    double system = 0;  // ms
    double peakMiB = 0;
    double faults = 0;
    double Cpu() const { return user + system; }
};

Sample RunChild(const char* self, const char* kind, const std::string& path, bool thpOff) {
    pid_t pid = fork();
    if (pid < 0)
        Fail("fork");
    if (pid == 0) {
        if (thpOff && prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0) != 0)
            _exit(126);
        execl(self, self, "--child", kind, path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid)
        Fail("wait4");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "load by %s failed (status %d)\n", kind, status);
        std::exit(2);
    }
    auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
    return Sample{ms(usage.ru_utime), ms(usage.ru_stime), static_cast<double>(usage.ru_maxrss) / 1024.0,
                  static_cast<double>(usage.ru_minflt)};
}

// The value below which the given share of values lie (0.5: median, 1: the largest).
double Quantile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    std::size_t index = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

template <typename Field>
std::vector<double> Column(const std::vector<Sample>& samples, Field field) {
    std::vector<double> values;
    for (const Sample& sample : samples) values.push_back(field(sample));
    return values;
}

std::string WriteDatabase(int devices) {
    std::string path = "/tmp/vantrel_fresh_load_" + std::to_string(getpid()) + "_" + std::to_string(devices) + ".xml";
    std::string text = vantrel::test::GenerateDatabaseText({devices, kChannels, kOrganizations});
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fclose(file) != 0)
        Fail(path.c_str());
    return path;
}

// Prints the figures of one database size and gives vantrel's median CPU, for the linearity check.
double PrintTable(int devices, const std::array<std::vector<Sample>, 3>& results, bool thpOff) {
    double median[3] = {}, slowest[3] = {};
    for (int k = 0; k < 3; ++k) {
        const std::vector<Sample>& r = results[k];
        std::vector<double> cpu = Column(r, [](const Sample& s) { return s.Cpu(); });
        median[k] = Quantile(cpu, 0.5);
        slowest[k] = Quantile(cpu, 1.0);
        std::printf("%-4s %8d %-8s %8.1f %8.1f %8.1f %8.1f %8.1f %9.1f %9.0f\n", thpOff ? "off" : "sys", devices,
                    kKinds[k], median[k], Quantile(cpu, 0.9), slowest[k],
                    Quantile(Column(r, [](const Sample& s) { return s.user; }), 0.5),
                    Quantile(Column(r, [](const Sample& s) { return s.system; }), 0.5),
                    Quantile(Column(r, [](const Sample& s) { return s.peakMiB; }), 0.5),
                    Quantile(Column(r, [](const Sample& s) { return s.faults; }), 0.5));
    }
    // a round's two loads run one after the other: their ratio is steadier than a ratio of medians
    std::vector<double> ratios;
    for (std::size_t round = 0; round < results[1].size(); ++round)
        ratios.push_back(results[1][round].Cpu() / results[2][round].Cpu());
    std::printf("%-4s %8d ratio vantrel/pugixml: median %.2f, slowest %.2f (%s); median of the rounds' ratios %.2f\n",
                thpOff ? "off" : "sys", devices, median[1] / median[2], slowest[1] / slowest[2],
                slowest[1] < slowest[2] ? "slowest load faster" : "SLOWEST LOAD NOT FASTER", Quantile(ratios, 0.5));
    std::fflush(stdout);
    return median[1];
}

// One table per size, their rounds interleaved: on a shared machine the load changes within minutes, and the
// sizes (and loaders) must meet the same conditions for their ratios to mean something. Vantrel's median CPU
// per size, for the linearity check.
std::vector<double> Tables(const char* self, const std::vector<int>& sizes, int rounds, bool thpOff) {
    std::vector<std::string> paths;
    for (int devices : sizes) paths.push_back(WriteDatabase(devices));  // each text is gone before the children
    std::vector<std::array<std::vector<Sample>, 3>> results(sizes.size());
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            for (int k = 0; k < 3; ++k) results[i][k].push_back(RunChild(self, kKinds[k], paths[i], thpOff));
        }
    }
    std::vector<double> medians;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        std::remove(paths[i].c_str());
        medians.push_back(PrintTable(sizes[i], results[i], thpOff));
    }
    return medians;
}

void PrintHugePageSetting() {
    char setting[256] = "unknown";
    if (FILE* file = std::fopen("/sys/kernel/mm/transparent_hugepage/enabled", "r")) {
        if (std::fgets(setting, sizeof setting, file) == nullptr)
            std::strcpy(setting, "unknown\n");
        std::fclose(file);
    }
    std::printf("transparent_hugepage/enabled: %s", setting);
}

// The same text parsed again and again in this process: the parsers' own speed with warm memory.
int Warm(int rounds) {
    std::string text = vantrel::test::GenerateDatabaseText({10000, kChannels, kOrganizations});
    std::vector<double> ours, theirs, ratios;
    // CPU time of this process: other work on a shared machine does not count
    auto now = [] {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
    };
    vantrel::XmlDocument document;
    pugi::xml_document pugi;
    for (int round = 0; round < rounds; ++round) {
        double start = now();
        if (!document.LoadText(text).Clean())
            return 1;
        ours.push_back(now() - start);
        start = now();
        // the copy is part of our LoadText too
        void* buffer = pugi::get_memory_allocation_function()(text.size());
        std::memcpy(buffer, text.data(), text.size());
        if (!pugi.load_buffer_inplace_own(buffer, text.size(), pugi::parse_default))
            return 1;
        theirs.push_back(now() - start);
        // the two loads of a round meet the same machine: their ratio is steadier than a ratio of medians
        ratios.push_back(ours.back() / theirs.back());
    }
    double a = Quantile(ours, 0.5), b = Quantile(theirs, 0.5);
    // on a shared machine the fastest round is the one least disturbed by other work
    double fastA = Quantile(ours, 0), fastB = Quantile(theirs, 0);
    std::printf(
        "warm 10000 devices: vantrel %.1f ms, pugixml %.1f ms, ratio %.2f (medians of %d); fastest %.1f, "
        "%.1f ms, ratio %.2f; median of the rounds' ratios %.2f\n",
        a, b, a / b, rounds, fastA, fastB, fastA / fastB, Quantile(ratios, 0.5));
    return 0;
}

double ResidentMiB() {
    unsigned long size = 0, resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr || std::fscanf(statm, "%lu %lu", &size, &resident) != 2)
        Fail("/proc/self/statm");
    std::fclose(statm);
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// In a fresh process: resident memory before the load, with the document loaded, and after it is destroyed.
int ResidentChild(const char* kind, const char* path) {
    double before = ResidentMiB(), loaded = 0;
    if (std::strcmp(kind, "vantrel") == 0) {
        auto* document = new vantrel::XmlDocument();
        if (!document->LoadFile(path).Clean())
            return 1;
        loaded = ResidentMiB();
        delete document;
    } else {
        auto* document = new pugi::xml_document();
        if (!PugixmlLoad(path, *document))
            return 1;
        loaded = ResidentMiB();
        delete document;
    }
    double after = ResidentMiB();
    std::printf("%-8s resident MiB: before %.1f, loaded %.1f, after destruction %.1f (%+.1f)\n", kind, before, loaded,
                after, after - before);
    return 0;
}

int Resident(const char* self, int devices) {
    std::string path = WriteDatabase(devices);
    std::printf("%d devices\n", devices);
    std::fflush(stdout);
    for (const char* kind : {"vantrel", "pugixml"}) {
        pid_t pid = fork();
        if (pid == 0) {
            execl(self, self, "--resident-child", kind, path.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
    }
    std::remove(path.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--resident-child") == 0)
        return ResidentChild(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0)
        return Child(argv[2], argv[3]);
    if (argc >= 2 && std::strcmp(argv[1], "--warm") == 0)
        return Warm(argc > 2 ? std::max(1, std::atoi(argv[2])) : 15);
    if (argc >= 2 && std::strcmp(argv[1], "--resident") == 0)
        return Resident(argv[0][0] == '/' ? argv[0] : "/proc/self/exe", argc > 2 ? std::atoi(argv[2]) : 10000);
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    std::vector<int> sizes;
    for (int i = 2; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {10000, 100000};
    char exe[4096];
    ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length <= 0)
        Fail("readlink");
    exe[length] = '\0';

    PrintHugePageSetting();
    std::printf("%-4s %8s %-8s %8s %8s %8s %8s %8s %9s %9s\n", "THP", "devices", "loader", "cpu med", "cpu p90",
                "cpu max", "user", "sys", "peak MiB", "faults");
    for (bool thpOff : {true, false}) {
        std::vector<double> medians = Tables(exe, sizes, rounds, thpOff);
        for (std::size_t i = 1; i < sizes.size(); ++i) {
            std::printf("%-4s %d devices take %.2f times the time of %d\n", thpOff ? "off" : "sys", sizes[i],
                        medians[i] / medians[0], sizes[0]);
        }
    }
    return 0;
}
