// What the start-of-search checks say for the set-ups that hide devices.
#include "search_checks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel {
namespace {

AdapterFacts Adapter(const char* name, bool isVirtual, int rpFilter = 0) {
    AdapterFacts adapter;
    adapter.name = name;
    adapter.up = true;
    adapter.isVirtual = isVirtual;
    adapter.rpFilter = rpFilter;
    return adapter;
}

TEST(SearchChecks, NameTheLikelyCauseOfMissingDevices) {
    AdapterFacts loopback = Adapter("lo", false);
    loopback.loopback = true;
    AdapterFacts down = Adapter("eth1", false);
    down.up = false;
    struct Case {
        std::vector<AdapterFacts> adapters;
        std::vector<std::string> starts;  // the beginning of each problem, in order
    };
    const Case cases[] = {
        {{}, {"no network adapter has an IPv4 address"}},
        {{loopback, down}, {"no network adapter has an IPv4 address"}},
        {{loopback, Adapter("eth0", false)}, {}},
        {{Adapter("eth0", false, 2)}, {}},  // loose filtering lets foreign subnets in
        {{Adapter("veth0", true), Adapter("docker0", true)}, {"only virtual network adapters are up (veth0, docker0)"}},
        {{Adapter("veth0", true), Adapter("eth0", false)}, {}},
        {{Adapter("eth0", false, 1), Adapter("eth1", false, 1)},
         {"adapter eth0 drops replies from other subnets", "adapter eth1 drops replies from other subnets"}},
        {{Adapter("veth0", true, 1)}, {"only virtual network adapters are up (veth0)", "adapter veth0 drops"}},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> problems = DescribeSearchChecks(c.adapters);
        ASSERT_EQ(problems.size(), c.starts.size()) << (problems.empty() ? "" : problems.front());
        for (std::size_t i = 0; i < problems.size(); ++i) {
            EXPECT_EQ(problems[i].rfind(c.starts[i], 0), 0u) << problems[i];
        }
    }
}

}  // namespace
}  // namespace vantrel
