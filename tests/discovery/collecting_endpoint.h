#pragma once

#include <arpa/inet.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "discovery/found_device.h"
#include "discovery/search_protocol.h"
#include "discovery/udp_broadcast_endpoint.h"

namespace vantrel {

// An endpoint that keeps what arrives, for tests to wait on. It owns the endpoint and installs a handler, as
// an owner should: the endpoint is its last member, so it is closed (its thread joined) before the collected
// data goes.
class CollectingEndpoint {
public:
    CollectingEndpoint() : CollectingEndpoint(EndpointAddresses()) {}
    // Addresses and ports in host byte order.
    CollectingEndpoint(std::uint32_t destinationAddress, std::uint16_t destinationPort, std::uint32_t localAddress,
                       std::uint16_t localPort)
        : CollectingEndpoint(EndpointAddresses{destinationAddress, destinationPort, localAddress, localPort}) {}
    explicit CollectingEndpoint(const EndpointAddresses& addresses) : endpoint_(addresses) {
        endpoint_.SetReceiveHandler([this](const ReceivedDatagram& datagram) { Collect(datagram); });
    }

    struct Datagram {
        std::vector<unsigned char> bytes;
        sockaddr_in sender;
        int interfaceIndex;
        std::int64_t arrivalNs;
    };

    std::chrono::microseconds workPerDatagram{0};

    int Open() { return endpoint_.Open(); }
    void Close() { endpoint_.Close(); }
    bool IsOpen() const { return endpoint_.IsOpen(); }
    int Send(const void* data, std::size_t length) { return endpoint_.Send(data, length); }
    int LastError() const { return endpoint_.LastError(); }
    const std::string& LastErrorText() const { return endpoint_.LastErrorText(); }
    std::uint16_t LocalPort() const { return endpoint_.LocalPort(); }
    int SocketReceiveBuffer() const { return endpoint_.SocketReceiveBuffer(); }
    operator UdpBroadcastEndpoint&() { return endpoint_; }

    bool WaitFor(std::size_t datagramCount, std::size_t deviceCount, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived_.wait_for(lock, timeout,
                                 [&] { return datagrams_.size() >= datagramCount && devices_.size() >= deviceCount; });
    }
    std::vector<Datagram> Datagrams() {
        std::lock_guard<std::mutex> lock(mutex_);
        return datagrams_;
    }
    std::vector<FoundDevice> Devices() {
        std::lock_guard<std::mutex> lock(mutex_);
        return devices_;
    }
    std::set<std::string> AddressTexts() {
        std::set<std::string> texts;
        for (const FoundDevice& device : Devices()) {
            texts.insert(device.addressText);
        }
        return texts;
    }
    std::size_t DatagramCount() {
        std::lock_guard<std::mutex> lock(mutex_);
        return datagrams_.size();
    }

private:
    void Collect(const ReceivedDatagram& datagram) {
        if (workPerDatagram.count() > 0) {
            const auto until = std::chrono::steady_clock::now() + workPerDatagram;
            while (std::chrono::steady_clock::now() < until) {
            }
        }
        ReplyPayload payload{};
        const bool isReply = decoder_.Decode(datagram.data, datagram.length, payload.data()) == 1;
        std::lock_guard<std::mutex> lock(mutex_);
        datagrams_.push_back({std::vector<unsigned char>(datagram.data, datagram.data + datagram.length),
                              datagram.sender, datagram.interfaceIndex, datagram.arrivalNs});
        if (isReply) {
            const FoundDevice device = MakeFoundDevice(payload.data());
            bool known = false;
            for (const FoundDevice& listed : devices_) {
                known = known || SameDevice(listed, device);
            }
            if (!known) {
                devices_.push_back(device);
            }
        }
        arrived_.notify_all();
    }

    ReplyDecoder decoder_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Datagram> datagrams_;
    std::vector<FoundDevice> devices_;
    UdpBroadcastEndpoint endpoint_;  // last: destroyed, and so closed, first
};

}  // namespace vantrel
