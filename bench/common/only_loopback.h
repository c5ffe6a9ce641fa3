#pragma once

// Whether this process's network namespace has no interface but loopback: the benchmarks that open the search
// window or start the program run only there, so that their probes reach nothing outside.

#include <net/if.h>

#include <cstring>

namespace vantrel::bench {

inline bool OnlyLoopback() {
    struct if_nameindex* interfaces = if_nameindex();
    if (interfaces == nullptr) {
        return false;
    }
    bool onlyLoopback = true;
    for (struct if_nameindex* i = interfaces; i->if_index != 0; ++i) {
        onlyLoopback = onlyLoopback && std::strcmp(i->if_name, "lo") == 0;
    }
    if_freenameindex(interfaces);
    return onlyLoopback;
}

}  // namespace vantrel::bench
