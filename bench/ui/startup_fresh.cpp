// Start-up of the installed program to its first painted window, in a new process each time: from before the
// fork until the search window's first frame reaches the (offscreen) screen, over a data folder holding the
// generated database (passwords enciphered under a real key, as the program would find them) and over an
// empty one, interleaved in one run. The preloaded first_paint_probe library reports the first frame and ends
// the program there.
//
//     startup_fresh VANTREL PROBE [rounds] [devices]   (default 20 rounds, 10,000 devices)
//
// Prints wall time and the program's CPU (user + system, from wait4) as median, 90th percentile and slowest,
// and the peak resident memory. Starts the real program, whose search probes go out at once: it refuses to run
// outside a network namespace that has nothing but loopback (run it under `unshare -n`).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/generate_database.h"
#include "common/only_loopback.h"
#include "password/key_file.h"
#include "password/password.h"

namespace {

constexpr const char* kPlaceholderCipher = "3f9a1c07b2e4d8a65c0e7f19b3d2a4c8";

long long NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// A data folder with Data.xml of that many devices (none: no database yet) and, with devices, the key that
// deciphers their passwords.
std::string MakeDataFolder(const std::string& base, int devices) {
    std::string folder = base + "/" + std::to_string(devices) + "/";
    std::filesystem::create_directories(folder);
    if (devices == 0) {
        return folder;
    }
    std::string database = folder + "Data.xml";
    vantrel::KeyFile key = vantrel::KeyFile::ForDatabase(database);
    char cipher[vantrel::kCipherBufferSize] = {};
    if (vantrel::EncryptStringEX("admin123", cipher, 1, key) != 1) {
        std::fprintf(stderr, "startup_fresh: no key: %s\n", key.State().problem.c_str());
        std::exit(2);
    }
    std::string text = vantrel::bench::GenerateDatabase({devices, 16, 8});
    const std::string placeholder = kPlaceholderCipher;
    for (std::size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at)) {
        text.replace(at, placeholder.size(), cipher);
        at += std::strlen(cipher);
    }
    std::ofstream(database, std::ios::binary) << text;
    return folder;
}

struct Sample {
    double wallMs = 0;
    double cpuMs = 0;
    double peakMiB = 0;
};

// What the program says on its standard error goes to this file, shown when it fails.
std::string gLogPath;

Sample StartOnce(const char* program, const char* probe, const std::string& folder) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        std::perror("pipe2");
        std::exit(2);
    }
    long long start = NowNs();
    pid_t child = fork();
    if (child == 0) {
        int reportFd = dup(pipeFds[1]);  // without O_CLOEXEC: the program keeps it
        setenv("VANTREL_FIRST_PAINT_FD", std::to_string(reportFd).c_str(), 1);
        setenv("LD_PRELOAD", probe, 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        int log = open(gLogPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (log >= 0) {
            dup2(log, STDERR_FILENO);
        }
        execl(program, program, "--data-dir", folder.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[1]);
    char line[64] = {};
    ssize_t got = read(pipeFds[0], line, sizeof line - 1);
    close(pipeFds[0]);
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "startup_fresh: %s never painted a window (status %d); it said:\n", program, status);
        std::ifstream log(gLogPath);
        std::fprintf(stderr, "%s", std::string(std::istreambuf_iterator<char>(log), {}).c_str());
        std::exit(2);
    }
    auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
    Sample sample;
    sample.wallMs = static_cast<double>(std::atoll(line) - start) / 1e6;
    sample.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
    sample.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return sample;
}

double Quantile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    auto index = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

void Print(const char* label, const std::vector<Sample>& samples) {
    std::vector<double> wall, cpu, peak;
    for (const Sample& s : samples) {
        wall.push_back(s.wallMs);
        cpu.push_back(s.cpuMs);
        peak.push_back(s.peakMiB);
    }
    std::printf(
        "%-14s wall ms: median %6.1f  p90 %6.1f  slowest %6.1f | CPU ms: median %6.1f  p90 %6.1f  slowest "
        "%6.1f | peak MiB %5.1f\n",
        label, Quantile(wall, 0.5), Quantile(wall, 0.9), Quantile(wall, 1.0), Quantile(cpu, 0.5), Quantile(cpu, 0.9),
        Quantile(cpu, 1.0), Quantile(peak, 0.5));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: startup_fresh VANTREL PROBE [rounds] [devices]\n");
        return 2;
    }
    if (!vantrel::bench::OnlyLoopback()) {
        std::fprintf(stderr, "startup_fresh: run under unshare -n (the program searches the network at once)\n");
        return 2;
    }
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 20;
    const int devices = argc > 4 ? std::atoi(argv[4]) : 10000;
    char pattern[] = "/tmp/vantrel-startup-XXXXXX";
    const std::string base = mkdtemp(pattern);
    gLogPath = base + "/program.log";
    setenv("XDG_RUNTIME_DIR", base.c_str(), 1);
    // whatever the program remembers stays in the run's folder, which goes at the end
    setenv("XDG_CONFIG_HOME", (base + "/config").c_str(), 1);
    const std::string empty = MakeDataFolder(base, 0);
    const std::string full = MakeDataFolder(base, devices);
    std::vector<Sample> emptySamples, fullSamples;
    StartOnce(argv[1], argv[2], full);  // the program and its libraries in the page cache
    for (int round = 0; round < rounds; ++round) {
        emptySamples.push_back(StartOnce(argv[1], argv[2], empty));
        fullSamples.push_back(StartOnce(argv[1], argv[2], full));
    }
    double load[3] = {};
    getloadavg(load, 3);
    std::printf("%d rounds, load average %.2f\n", rounds, load[0]);
    Print("no database", emptySamples);
    Print((std::to_string(devices) + " devices").c_str(), fullSamples);
    std::filesystem::remove_all(base);
    return 0;
}
