#pragma once

// Datagrams the kernel dropped because a socket's receive buffer was full, read from the UDP counters of the
// calling thread's network namespace (a thread moved by setns reads its new namespace's counters).

#include <fstream>
#include <sstream>
#include <string>

namespace vantrel::bench {

// RcvbufErrors so far in this thread's network namespace; -1 when the kernel does not say.
inline long long UdpReceiveBufferDrops() {
    std::ifstream snmp("/proc/thread-self/net/snmp");
    std::string names;
    std::string values;
    while (std::getline(snmp, names) && names.rfind("Udp:", 0) != 0) {
    }
    std::getline(snmp, values);
    std::istringstream nameWords(names);
    std::istringstream valueWords(values);
    std::string name;
    std::string value;
    while (nameWords >> name && valueWords >> value) {
        if (name == "RcvbufErrors") {
            return std::stoll(value);
        }
    }
    return -1;
}

}  // namespace vantrel::bench
