#include "discovery/search_protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "discovery/found_device.h"
#include "discovery/search_reply_builder.h"

namespace vantrel {
namespace {

std::vector<unsigned char> ValidReply(std::size_t extra = 0) {
    std::vector<unsigned char> reply(120 + extra, 0);
    reply[0] = 0xB3;
    reply[2] = static_cast<unsigned char>(extra);
    reply[4] = 88;
    reply[16] = 2;
    for (std::size_t i = 32; i < 120; ++i) {
        reply[i] = static_cast<unsigned char>(i);
    }
    return reply;
}

int DecodeExact(const std::vector<unsigned char>& datagram, ReplyPayload& payload) {
    // a heap copy of exactly the datagram's size lets AddressSanitizer catch any read past its end
    auto* exact = new unsigned char[datagram.size() + (datagram.empty() ? 1 : 0)];
    std::copy(datagram.begin(), datagram.end(), exact);
    const int result = ReplyDecoder().Decode(exact, datagram.size(), payload.data());
    delete[] exact;
    return result;
}

TEST(SearchProtocol, ProbeIsExactlyThe32DocumentedBytes) {
    const SearchProbe probe = BuildSearchProbe();
    const unsigned char expected[32] = {0xA3, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                        0x02, 0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(probe.size(), 32u);
    EXPECT_TRUE(std::equal(probe.begin(), probe.end(), expected));
}

TEST(SearchProtocol, DecodeAcceptsReplyWhateverTheUnreadHeaderBytesHold) {
    std::vector<unsigned char> reply = ValidReply();
    for (std::size_t i : {1u, 3u, 8u, 12u, 15u, 17u, 24u, 31u}) {
        reply[i] = 0x5A;
    }
    ReplyPayload payload{};
    ASSERT_EQ(DecodeExact(reply, payload), 1);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), reply.begin() + 32));
}

TEST(SearchProtocol, DecodeCountsExtraLengthBytesAndIgnoresThem) {
    std::vector<unsigned char> reply = ValidReply(4);
    ReplyPayload payload{};
    EXPECT_EQ(DecodeExact(reply, payload), 1);
    reply.resize(120);
    EXPECT_EQ(DecodeExact(reply, payload), 0);

    std::vector<unsigned char> longest = ValidReply(255);
    EXPECT_EQ(DecodeExact(longest, payload), 1);
}

TEST(SearchProtocol, DecodeRejectsMalformedDatagramsAndLeavesPayloadUntouched) {
    struct Case {
        const char* what;
        std::vector<unsigned char> datagram;
    };
    auto with = [](std::vector<unsigned char> d, std::size_t at, unsigned char value) {
        d[at] = value;
        return d;
    };
    auto resized = [](std::vector<unsigned char> d, std::size_t size) {
        d.resize(size);
        return d;
    };
    auto payloadLength = [](std::vector<unsigned char> d, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            d[4 + i] = static_cast<unsigned char>(value >> (8 * i));
        }
        return d;
    };
    const SearchProbe probe = BuildSearchProbe();
    const std::vector<unsigned char> ownProbe(probe.begin(), probe.end());
    std::vector<unsigned char> headerOnly = resized(payloadLength(ValidReply(), 0), 32);
    // 32 + 255 + 0xFFFFFF59 is 120 in 32-bit arithmetic
    std::vector<unsigned char> wrapping = payloadLength(with(ValidReply(), 2, 255), 0xFFFFFF59u);
    const std::vector<Case> cases = {
        {"empty", {}},
        {"one byte", {0xB3}},
        {"header only, payload length 0", headerOnly},
        {"own probe", ownProbe},
        {"probe code", with(ValidReply(), 0, 0xA3)},
        {"zero code", with(ValidReply(), 0, 0x00)},
        {"one byte short", resized(ValidReply(), 119)},
        {"one byte long", resized(ValidReply(), 121)},
        {"extra length not present", with(ValidReply(), 2, 1)},
        {"payload length 87, length agreeing", resized(payloadLength(ValidReply(), 87), 119)},
        {"payload length 89, length agreeing", resized(payloadLength(ValidReply(), 89), 121)},
        {"payload length in high byte", payloadLength(ValidReply(), 88u << 24)},
        {"payload length wrapping the sum", wrapping},
        {"byte 16 is 3", with(ValidReply(), 16, 3)},
        {"byte 16 is 0", with(ValidReply(), 16, 0)},
    };
    ReplyPayload untouched;
    untouched.fill(0xCC);
    for (const Case& c : cases) {
        ReplyPayload payload;
        payload.fill(0xCC);
        EXPECT_EQ(DecodeExact(c.datagram, payload), 0) << c.what;
        EXPECT_EQ(payload, untouched) << c.what;
    }
}

TEST(SearchProtocol, FoundDeviceReadsDocumentedOffsets) {
    ReplyPayload payload{};
    const unsigned char address[4] = {0xC0, 0xA8, 0x01, 0x64};
    const unsigned char mask[4] = {255, 255, 254, 0};
    const unsigned char gateway[4] = {192, 168, 1, 1};
    const unsigned char fourth[4] = {1, 2, 3, 4};
    std::copy(address, address + 4, payload.begin() + 24);
    std::copy(mask, mask + 4, payload.begin() + 28);
    std::copy(gateway, gateway + 4, payload.begin() + 32);
    std::copy(fourth, fourth + 4, payload.begin() + 36);
    payload[66] = 0xBA;
    payload[67] = 0x13;

    const FoundDevice device = MakeFoundDevice(payload.data());
    EXPECT_STREQ(device.addressText, "192.168.1.100");
    EXPECT_EQ(AddressText(device), "192.168.1.100");
    EXPECT_EQ(device.port, 5050);
    EXPECT_EQ(PortText(device), "5050");
    EXPECT_EQ(SubnetMaskText(device), "255.255.254.0");
    EXPECT_EQ(GatewayText(device), "192.168.1.1");
    EXPECT_EQ(0, std::memcmp(&device.fourthValue, fourth, 4));

    payload[66] = 0xFF;
    payload[67] = 0xFF;
    EXPECT_EQ(PortText(MakeFoundDevice(payload.data())), "65535");
    std::fill(payload.begin() + 24, payload.begin() + 28, 255);
    EXPECT_STREQ(MakeFoundDevice(payload.data()).addressText, "255.255.255.255");
}

TEST(SearchProtocol, IdentityIsAddressAndPortOnly) {
    FoundDevice a;
    a.address = 0x6401A8C0;
    a.port = 8000;
    a.subnetMask = 0x00FFFFFF;
    FoundDevice sameOtherwiseDifferent = a;
    sameOtherwiseDifferent.subnetMask = 0;
    sameOtherwiseDifferent.gateway = 0x0101A8C0;
    sameOtherwiseDifferent.fourthValue = 7;
    FoundDevice otherPort = a;
    otherPort.port = 8001;
    FoundDevice otherAddress = a;
    otherAddress.address = 0x6501A8C0;

    EXPECT_TRUE(SameDevice(a, sameOtherwiseDifferent));
    EXPECT_EQ(DeviceIdentityKey(a), DeviceIdentityKey(sameOtherwiseDifferent));
    EXPECT_FALSE(SameDevice(a, otherPort));
    EXPECT_NE(DeviceIdentityKey(a), DeviceIdentityKey(otherPort));
    EXPECT_FALSE(SameDevice(a, otherAddress));
    EXPECT_NE(DeviceIdentityKey(a), DeviceIdentityKey(otherAddress));
}

TEST(SearchProtocol, BuiltReplyDecodesToTheSameDevice) {
    FoundDevice device;
    device.address = 0x0A01000A;
    device.subnetMask = 0x00FFFFFF;
    device.gateway = 0x0101000A;
    device.fourthValue = 0xDEADBEEF;
    device.port = 37777;
    for (unsigned extra : {0u, 9u}) {
        const std::vector<unsigned char> reply = BuildSearchReply(device, static_cast<unsigned char>(extra));
        ReplyPayload payload{};
        ASSERT_EQ(DecodeExact(reply, payload), 1);
        const FoundDevice decoded = MakeFoundDevice(payload.data());
        EXPECT_TRUE(SameDevice(decoded, device));
        EXPECT_EQ(decoded.subnetMask, device.subnetMask);
        EXPECT_EQ(decoded.gateway, device.gateway);
        EXPECT_EQ(decoded.fourthValue, device.fourthValue);
        EXPECT_STREQ(decoded.addressText, "10.0.1.10");
    }
}

}  // namespace
}  // namespace vantrel
