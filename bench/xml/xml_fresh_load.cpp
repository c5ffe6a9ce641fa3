// Load of a generated device database in a new process each time, ours beside pugixml in the same run: the
// program starts with no memory of its own, as at start-up, so page faults on the text and the tree count.
//
//     xml_fresh_load [samples]            runs the table (default 11 samples per figure)
//     xml_fresh_load --child KIND PATH    one load (KIND: vantrel, pugixml or none) and exit
//
// Figures are medians of user time, system time and peak resident memory taken from wait4 on each child;
// "none" is the same program starting and ending without a load.

#include <pugixml.hpp>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// One load, then exit at once without tearing anything down (destruction is measured elsewhere).
int Child(const char* kind, const char* path) {
    if (std::strcmp(kind, "vantrel") == 0) {
        auto* document = new vantrel::XmlDocument();
        if (!document->LoadFile(path).Clean())
            return 1;
        _exit(document->Root().ChildCount() > 0 ? 0 : 1);
    }
    if (std::strcmp(kind, "pugixml") == 0) {
        // the file read whole into one buffer and parsed in place: pugixml's cheapest load
        FILE* file = std::fopen(path, "rb");
        if (file == nullptr)
            return 1;
        std::fseek(file, 0, SEEK_END);
        long length = std::ftell(file);
        std::fseek(file, 0, SEEK_SET);
        auto* buffer = static_cast<char*>(std::malloc(static_cast<std::size_t>(length) + 1));
        std::size_t size = std::fread(buffer, 1, static_cast<std::size_t>(length), file);
        std::fclose(file);
        auto* document = new pugi::xml_document();
        pugi::xml_parse_result result = document->load_buffer_inplace(buffer, size, pugi::parse_default);
        _exit(result && document->first_child() ? 0 : 1);
    }
    _exit(0);
}

struct Sample {
    double user = 0;    // ms
    double system = 0;  // ms
    double peakMiB = 0;
    double faults = 0;
};

Sample RunChild(const char* self, const char* kind, const std::string& path) {
    pid_t pid = fork();
    if (pid < 0)
        Fail("fork");
    if (pid == 0) {
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

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0)
        return Child(argv[2], argv[3]);
    int samples = argc > 1 ? std::atoi(argv[1]) : 11;
    if (samples < 1)
        samples = 1;
    char exe[4096];
    ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length <= 0)
        Fail("readlink");
    exe[length] = '\0';

    std::printf("%-8s %-8s %9s %9s %9s %9s %10s\n", "devices", "loader", "user ms", "sys ms", "cpu ms", "peak MiB",
                "faults");
    for (int devices : {1000, 10000}) {
        std::string path =
            "/tmp/vantrel_fresh_load_" + std::to_string(getpid()) + "_" + std::to_string(devices) + ".xml";
        {
            // gone before the first child: a child's peak counts the parent's memory from before exec
            std::string text = vantrel::test::GenerateDatabaseText({devices, kChannels, kOrganizations});
            FILE* file = std::fopen(path.c_str(), "wb");
            if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size() ||
                std::fclose(file) != 0)
                Fail(path.c_str());
        }

        std::vector<Sample> results[3];
        for (int s = 0; s < samples; ++s) {
            for (int k = 0; k < 3; ++k) results[k].push_back(RunChild(exe, kKinds[k], path));
        }
        double cpu[3] = {};
        for (int k = 0; k < 3; ++k) {
            std::vector<double> user, system, total, peak, faults;
            for (const Sample& sample : results[k]) {
                user.push_back(sample.user);
                system.push_back(sample.system);
                total.push_back(sample.user + sample.system);
                peak.push_back(sample.peakMiB);
                faults.push_back(sample.faults);
            }
            cpu[k] = Median(total);
            std::printf("%-8d %-8s %9.1f %9.1f %9.1f %9.1f %10.0f\n", devices, kKinds[k], Median(user), Median(system),
                        cpu[k], Median(peak), Median(faults));
        }
        std::printf("%-8d cpu ratio vantrel/pugixml %.2f (less the empty process: %.2f)\n", devices, cpu[1] / cpu[2],
                    (cpu[1] - cpu[0]) / (cpu[2] - cpu[0]));
        std::remove(path.c_str());
    }
    return 0;
}
