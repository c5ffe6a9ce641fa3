#include "discovery/datagram_send.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <cstring>

namespace vantrel {

ssize_t SendDatagramVia(int fd, const void* data, std::size_t length, const sockaddr_in& to, const in_pktinfo* via,
                        int flags) {
    iovec part{const_cast<void*>(data), length};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_in*>(&to);
    message.msg_namelen = sizeof to;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (via != nullptr) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        std::memcpy(CMSG_DATA(header), via, sizeof *via);
    }
    return sendmsg(fd, &message, flags);
}

}  // namespace vantrel
