#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <cstddef>

namespace vantrel {

// Sends one UDP datagram to `to`. With `via`, an IP_PKTINFO control message goes along, so the datagram leaves by
// via->ipi_ifindex (and from via->ipi_spec_dst when that is set); without it the routing table decides.
// flags go to sendmsg (MSG_DONTWAIT). Gives what sendmsg gives: the bytes sent, or -1 with errno set.
ssize_t SendDatagramVia(int fd, const void* data, std::size_t length, const sockaddr_in& to, const in_pktinfo* via,
                        int flags = 0);

}  // namespace vantrel
