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

// An endpoint that keeps what arrives, the way the search window does, for tests to wait on.
class CollectingEndpoint : public UdpBroadcastEndpoint {
public:
    using UdpBroadcastEndpoint::UdpBroadcastEndpoint;
    ~CollectingEndpoint() override { Close(); }

    struct Datagram {
        std::vector<unsigned char> bytes;
        sockaddr_in sender;
    };

    std::chrono::microseconds workPerDatagram{0};

    bool WaitFor(std::size_t datagramCount, std::size_t deviceCount, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex);
        return arrived.wait_for(lock, timeout,
                                [&] { return datagrams.size() >= datagramCount && devices.size() >= deviceCount; });
    }
    std::vector<Datagram> Datagrams() {
        std::lock_guard<std::mutex> lock(mutex);
        return datagrams;
    }
    std::vector<FoundDevice> Devices() {
        std::lock_guard<std::mutex> lock(mutex);
        return devices;
    }
    std::set<std::string> AddressTexts() {
        std::set<std::string> texts;
        for (const FoundDevice& device : Devices()) {
            texts.insert(device.addressText);
        }
        return texts;
    }
    std::size_t DatagramCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return datagrams.size();
    }

protected:
    void OnReceive(const unsigned char* data, std::size_t length, const sockaddr_in& sender) override {
        if (workPerDatagram.count() > 0) {
            const auto until = std::chrono::steady_clock::now() + workPerDatagram;
            while (std::chrono::steady_clock::now() < until) {
            }
        }
        ReplyPayload payload{};
        const bool isReply = decoder.Decode(data, length, payload.data()) == 1;
        std::lock_guard<std::mutex> lock(mutex);
        datagrams.push_back({std::vector<unsigned char>(data, data + length), sender});
        if (isReply) {
            const FoundDevice device = MakeFoundDevice(payload.data());
            bool known = false;
            for (const FoundDevice& listed : devices) {
                known = known || SameDevice(listed, device);
            }
            if (!known) {
                devices.push_back(device);
            }
        }
        arrived.notify_all();
    }

private:
    ReplyDecoder decoder;
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Datagram> datagrams;
    std::vector<FoundDevice> devices;
};
