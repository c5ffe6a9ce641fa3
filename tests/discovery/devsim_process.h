#pragma once

// Simulated devices for the tests that cross veth links: vantrel-devsim started in a test's namespace.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "netns_lab.h"

namespace vantrel {

// Starts vantrel-devsim with these arguments in a namespace and waits until it listens.
inline ::testing::AssertionResult StartDevices(ChildProcess& devices, const std::string& inNamespace,
                                               const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {ToolPath("vantrel-devsim")};
    all.insert(all.end(), arguments.begin(), arguments.end());
    if (!devices.Start(inNamespace, all) || !devices.WaitForLine("listening", std::chrono::seconds(5))) {
        return ::testing::AssertionFailure() << "vantrel-devsim did not start in " << inNamespace;
    }
    return ::testing::AssertionSuccess();
}

// Runs vantrel-scan with these options in a namespace; gives its exit status, output and errors.
inline int RunScan(const std::string& inNamespace, const std::vector<std::string>& options, std::string& output,
                   std::string& errors) {
    std::vector<std::string> arguments = {ToolPath("vantrel-scan")};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return RunInNamespace(inNamespace, arguments, output, errors);
}

// A host (10.1.0.1/24 on va0) joined to one device network (10.1.0.2/24 on vb0).
class OneDeviceNetwork : public ::testing::Test {
protected:
    void SetUp() override {
        host = lab.AddNamespace("host");
        devices = lab.AddNamespace("dev");
        ASSERT_FALSE(host.empty() || devices.empty()) << lab.Error();
        ASSERT_TRUE(lab.Link(host, "10.1.0.1/24", devices, "10.1.0.2/24")) << lab.Error();
    }

    NetnsLab lab;
    std::string host;
    std::string devices;
};

// count dotted-decimal addresses counting up from first
inline std::set<std::string> Addresses(const std::string& first, int count) {
    in_addr address{};
    inet_pton(AF_INET, first.c_str(), &address);
    std::set<std::string> texts;
    for (int i = 0; i < count; ++i) {
        in_addr next{htonl(ntohl(address.s_addr) + static_cast<std::uint32_t>(i))};
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &next, text, sizeof text);
        texts.insert(text);
    }
    return texts;
}

}  // namespace vantrel
