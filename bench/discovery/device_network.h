#pragma once

// The discovery benchmarks' network: a host namespace joined by a veth link to a namespace where
// vantrel-devsim plays the devices. Both namespaces are made by the benchmark and deleted with it, so nothing
// sent during a run leaves them.

#include <arpa/inet.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "netns_lab.h"

namespace vantrel::bench {

class DeviceNetwork {
public:
    // The host is 10.77.0.1/16, the devices' side of the link 10.77.0.2/16. False (see Error) on failure.
    bool Make() {
        host_ = lab_.AddNamespace("bhost");
        devices_ = lab_.AddNamespace("bdev");
        return !host_.empty() && !devices_.empty() && lab_.Link(host_, "10.77.0.1/16", devices_, "10.77.0.2/16");
    }

    // Gives the devices' namespace count more addresses counting up from first (on its loopback, reached across
    // the link), so that simulated devices can answer from their own addresses (vantrel-devsim --source
    // announced).
    bool AddDeviceAddresses(const std::string& first, int count) {
        in_addr start{};
        if (inet_pton(AF_INET, first.c_str(), &start) != 1) {
            return Fail("not an address: " + first);
        }
        FILE* batch = popen(("ip -n " + devices_ + " -batch -").c_str(), "w");
        if (batch == nullptr) {
            return Fail("cannot run ip -batch");
        }
        for (int i = 0; i < count; ++i) {
            const in_addr next{htonl(ntohl(start.s_addr) + static_cast<std::uint32_t>(i))};
            std::fprintf(batch, "addr add %s/32 dev lo\n", inet_ntoa(next));
        }
        return pclose(batch) == 0 || Fail("ip -batch could not add the devices' addresses");
    }

    // Starts vantrel-devsim with these options among the devices and waits until it listens.
    bool StartSimulator(ChildProcess& simulator, const std::vector<std::string>& options) {
        std::vector<std::string> arguments = {ToolPath("vantrel-devsim")};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return (simulator.Start(devices_, arguments) && simulator.WaitForLine("listening", std::chrono::seconds(5))) ||
               Fail("vantrel-devsim did not start");
    }

    const std::string& Host() const { return host_; }
    std::string Error() const { return error_.empty() ? lab_.Error() : error_; }

private:
    bool Fail(const std::string& error) {
        if (error_.empty()) {
            error_ = error;
        }
        return false;
    }

    NetnsLab lab_;
    std::string host_;
    std::string devices_;
    std::string error_;
};

}  // namespace vantrel::bench
