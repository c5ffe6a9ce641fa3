#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/xml_database_text.h"
#include "xml/xml_document.h"
#include "xml/xml_node_ref.h"

namespace vantrel {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // the sanitizers reserve terabytes of address space up front
#else
constexpr bool kSanitized = false;
#endif

// Address space the process holds now, from /proc/self/statm.
std::uint64_t AddressSpaceBytes() {
    unsigned long pages = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr)
        return 0;
    if (std::fscanf(statm, "%lu", &pages) != 1)
        pages = 0;
    std::fclose(statm);
    return std::uint64_t{pages} * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// Runs load in a child whose address space may grow by at most headroom bytes; the child's exit code is
// what load returns (0 to 100), or 101 when an exception escaped.
int InLimitedChild(std::uint64_t headroom, int (*load)(const std::string&), const std::string& text) {
    pid_t pid = fork();
    if (pid == 0) {
        struct rlimit limit {};
        limit.rlim_cur = limit.rlim_max = AddressSpaceBytes() + headroom;
        if (setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(102);
        try {
            _exit(load(text));
        } catch (...) {
            _exit(101);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200 + WTERMSIG(status);
}

int Judge(const XmlDocument& document, const XmlLoadResult& result) {
    if (result.status == FileReadStatus::OutOfMemory && !result.damaged && document.Root().ChildCount() == 0)
        return 0;
    return result.damaged ? 1 : 2;
}

int LoadText(const std::string& text) {
    XmlDocument document;
    XmlLoadResult result = document.LoadText(text);
    return Judge(document, result);
}

int LoadFile(const std::string& path) {
    XmlDocument document;
    XmlLoadResult result = document.LoadFile(path.c_str());
    return Judge(document, result);
}

// A well-formed database that does not fit in what the process may take is refused as too large for the
// machine: never called damaged, nothing thrown, nothing of it kept.
TEST(XmlMemory, OutOfMemoryIsItsOwnOutcome) {
    if (kSanitized)
        GTEST_SKIP() << "address-space limits do not work under a sanitizer";
    std::string database = test::GenerateDatabaseText({4000, 16, 8});
    EXPECT_EQ(InLimitedChild(24u << 20, LoadText, database), 0);

    // the same through a file: whether the text or the tree does not fit, the outcome is the same
    char path[] = "/tmp/vantrel_xml_memory_XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, database.data(), database.size()), static_cast<ssize_t>(database.size()));
    close(fd);
    std::string().swap(database);
    for (std::uint64_t headroom : {std::uint64_t{4} << 20, std::uint64_t{24} << 20}) {
        EXPECT_EQ(InLimitedChild(headroom, LoadFile, path), 0) << headroom;
    }

    // with room to spare the same file loads clean
    XmlDocument document;
    XmlLoadResult result = document.LoadFile(path);
    EXPECT_TRUE(result.Clean());
    EXPECT_EQ(result.Description(), "");
    std::remove(path);
}

// A text of nothing but tiny elements needs far more tree than text: it is refused at its budget instead of
// taking the machine's memory, and the memory goes back.
TEST(XmlMemory, HostileTextIsRefusedAtItsBudget) {
    std::string hostile;
    hostile.reserve(16u << 20);
    while (hostile.size() < (16u << 20)) hostile += "<a/>";
    XmlDocument document;
    XmlLoadResult result = document.LoadText(hostile);
    EXPECT_EQ(result.status, FileReadStatus::OutOfMemory);
    EXPECT_FALSE(result.damaged);
    EXPECT_EQ(result.Description(), "is too large for this machine's memory");
    ASSERT_TRUE(document.Root().IsValid());
    EXPECT_EQ(document.Root().ChildCount(), 0u);
    EXPECT_TRUE(document.Text().empty());

    EXPECT_LE(XmlTreeBudget(hostile.size()), kXmlTreeBaseBytes + 8 * hostile.size());
    EXPECT_EQ(XmlTreeBudget(std::uint64_t{1} << 40), kXmlTreeMaxBytes);
}

}  // namespace
}  // namespace vantrel
