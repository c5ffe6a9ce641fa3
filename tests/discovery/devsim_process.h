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
