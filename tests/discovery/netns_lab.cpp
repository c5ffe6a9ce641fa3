#include "netns_lab.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace {

std::atomic<int> labCount{0};

void ExecInNamespace(const std::string& inNamespace, const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"ip", "netns", "exec", inNamespace};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    execvp("ip", argv.data());
    _exit(127);
}

std::string ReadAll(int fd) {
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
    return text;
}

}  // namespace

NetnsLab::NetnsLab() = default;

NetnsLab::~NetnsLab() {
    // deleting a namespace takes its veth ends, and with them the peers, along
    for (const std::string& name : namespaces) {
        Run("ip netns del " + name + " 2>/dev/null");
    }
}

bool NetnsLab::Run(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status != 0 && error.empty()) {
        error = "'" + command + "' failed (status " + std::to_string(status) +
                "); the discovery tests need root and iproute2 to make network namespaces";
    }
    return status == 0;
}

std::string NetnsLab::AddNamespace(const std::string& shortName) {
    const std::string name =
        "vt" + std::to_string(getpid()) + "_" + std::to_string(labCount.fetch_add(1)) + "_" + shortName;
    if (!Run("ip netns add " + name)) {
        return {};
    }
    namespaces.push_back(name);
    if (!Run("ip -n " + name + " link set lo up")) {
        return {};
    }
    return name;
}

bool NetnsLab::Link(const std::string& namespaceA, const std::string& addressA, const std::string& namespaceB,
                    const std::string& addressB) {
    const std::string a = "va" + std::to_string(links);
    const std::string b = "vb" + std::to_string(links);
    ++links;
    return Run("ip link add " + a + " netns " + namespaceA + " type veth peer name " + b + " netns " + namespaceB) &&
           Run("ip -n " + namespaceA + " addr add " + addressA + " dev " + a) &&
           Run("ip -n " + namespaceB + " addr add " + addressB + " dev " + b) &&
           Run("ip -n " + namespaceA + " link set " + a + " up") &&
           Run("ip -n " + namespaceB + " link set " + b + " up") && WaitUntilUp(namespaceA, a) &&
           WaitUntilUp(namespaceB, b);
}

bool NetnsLab::WaitUntilUp(const std::string& inNamespace, const std::string& device) {
    // the kernel reports a new link's carrier later, by up to a second on a busy machine; a datagram sent
    // before that is dropped, so a test's only probe would vanish
    const std::string command = "ip -n " + inNamespace + " -o link show dev " + device + " 2>/dev/null";
    const auto end = std::chrono::steady_clock::now() + kLinkUpTimeout;
    for (;;) {
        std::string state;
        if (FILE* output = popen(command.c_str(), "r")) {
            char chunk[512];
            while (std::fgets(chunk, sizeof chunk, output) != nullptr) {
                state += chunk;
            }
            pclose(output);
        }
        if (state.find("state UP") != std::string::npos) {
            return true;
        }
        if (std::chrono::steady_clock::now() > end) {
            if (error.empty()) {
                error = device + " in " + inNamespace + " did not come up: " + state;
            }
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

NetnsScope::NetnsScope(const std::string& name) {
    original = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int target = open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (original >= 0 && target >= 0) {
        entered = setns(target, CLONE_NEWNET) == 0;
    }
    if (target >= 0) {
        close(target);
    }
}

NetnsScope::~NetnsScope() {
    if (entered && setns(original, CLONE_NEWNET) != 0) {
        // a thread left in a test namespace would send the next test's datagrams there: better stop
        std::abort();
    }
    if (original >= 0) {
        close(original);
    }
}

ChildProcess::~ChildProcess() {
    Stop();
}

bool ChildProcess::Start(const std::string& inNamespace, const std::vector<std::string>& arguments) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return false;
    }
    pid = fork();
    if (pid < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return false;
    }
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        ExecInNamespace(inNamespace, arguments);
    }
    close(pipeFds[1]);
    output = pipeFds[0];
    return true;
}

bool ChildProcess::WaitForLine(const std::string& text, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::size_t newline;
        while ((newline = buffered.find('\n')) != std::string::npos) {
            const std::string line = buffered.substr(0, newline);
            buffered.erase(0, newline + 1);
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd watched{output, POLLIN, 0};
        if (left.count() <= 0 || poll(&watched, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char chunk[1024];
        const ssize_t n = read(output, chunk, sizeof chunk);
        if (n <= 0) {
            return false;
        }
        buffered.append(chunk, static_cast<std::size_t>(n));
    }
}

int ChildProcess::Stop() {
    if (pid <= 0) {
        return -1;
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    if (output >= 0) {
        close(output);
        output = -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunInNamespace(const std::string& inNamespace, const std::vector<std::string>& arguments, std::string& output,
                   std::string& errors) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return -1;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return -1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        ExecInNamespace(inNamespace, arguments);
    }
    close(out[1]);
    close(err[1]);
    // the programs write little to standard error, so reading it after the output cannot block them
    output = pid > 0 ? ReadAll(out[0]) : std::string();
    errors = pid > 0 ? ReadAll(err[0]) : std::string();
    close(out[0]);
    close(err[0]);
    if (pid < 0) {
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ToolPath(const std::string& name) {
    return std::string(VANTREL_BIN_DIR) + "/" + name;
}
