#include "discovery/socket_base.h"

#include <cstring>

std::atomic<int> SocketBase::endpointsInUse{0};

SocketBase::SocketBase() {
    endpointsInUse.fetch_add(1);
    std::memset(receiveBuffer, 0, sizeof receiveBuffer);
}

SocketBase::~SocketBase() { endpointsInUse.fetch_sub(1); }

bool SocketBase::NetworkStarted() { return endpointsInUse.load() > 0; }
