#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// Network namespaces joined by veth links, made for one test and deleted with it, so that every datagram the
// test sends stays inside them. Names carry the process id, so parallel tests never meet.
class NetnsLab {
public:
    NetnsLab();
    ~NetnsLab();
    NetnsLab(const NetnsLab&) = delete;
    NetnsLab& operator=(const NetnsLab&) = delete;

    // Creates a namespace with loopback up; gives its full name, or an empty string (see Error).
    std::string AddNamespace(const std::string& shortName);
    // A veth pair between two namespaces, each end up with its address ("10.1.0.1/24") and carrying traffic
    // when this returns; false on failure.
    bool Link(const std::string& namespaceA, const std::string& addressA, const std::string& namespaceB,
              const std::string& addressB);
    // Runs a shell command (such as "ip -n NAME route add ..."); false on failure.
    bool Run(const std::string& command);
    // What failed first, empty while everything worked.
    const std::string& Error() const { return error; }

private:
    static constexpr std::chrono::seconds kLinkUpTimeout{5};
    bool WaitUntilUp(const std::string& inNamespace, const std::string& device);

    std::vector<std::string> namespaces;
    int links = 0;
    std::string error;
};

// Moves the calling thread into a namespace until destroyed; threads it starts meanwhile stay there.
class NetnsScope {
public:
    explicit NetnsScope(const std::string& name);
    ~NetnsScope();
    NetnsScope(const NetnsScope&) = delete;
    NetnsScope& operator=(const NetnsScope&) = delete;
    bool Entered() const { return entered; }

private:
    int original = -1;
    bool entered = false;
};

// A program started in a namespace with its standard output on a pipe; stopped (SIGTERM) when destroyed.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const std::string& inNamespace, const std::vector<std::string>& arguments);
    // Reads output until a line containing text arrives; false on time-out or end of output.
    bool WaitForLine(const std::string& text, std::chrono::milliseconds timeout);
    // Stops the program and gives its exit status (-1 if it did not exit normally).
    int Stop();

private:
    pid_t pid = -1;
    int output = -1;
    std::string buffered;
};

// Runs a program in a namespace to its end; gives the exit status and its standard output and error.
int RunInNamespace(const std::string& inNamespace, const std::vector<std::string>& arguments, std::string& output,
                   std::string& errors);

// Where the test's programs are built.
std::string ToolPath(const std::string& name);
