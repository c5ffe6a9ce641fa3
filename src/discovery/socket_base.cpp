#include "discovery/socket_base.h"

#include <cstring>

std::atomic<bool> SocketBase::networkStarted{false};

SocketBase::SocketBase() {
    networkStarted.store(true);
    std::memset(receiveBuffer, 0, sizeof receiveBuffer);
}

SocketBase::~SocketBase() {
    networkStarted.store(false);
}

bool SocketBase::NetworkStarted() {
    return networkStarted.load();
}
