// CSV and JSON of the found list, and the registered set the rows are marked from.
#include "discovery/found_export.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "discovery/registered_devices.h"

namespace vantrel {
namespace {

std::uint32_t Ip(const char* text) {
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

FoundRow Row(std::uint32_t number, const char* address, std::uint16_t port) {
    FoundRow row;
    row.number = number;
    row.device.address = Ip(address);
    row.device.subnetMask = Ip("255.255.255.0");
    row.device.gateway = Ip("10.1.0.254");
    row.device.port = port;
    std::strcpy(row.device.addressText, address);
    row.senderAddress = row.device.address;
    row.adapterIndex = 2;
    std::strcpy(row.adapterName, "eth0");
    row.adapterAddress = Ip("10.1.0.1");
    row.adapterMask = Ip("255.255.255.0");
    row.probesSeen = 2;
    row.replies = 4;
    row.lastReplyNs = 1714564800123456789LL;  // 2024-05-01T12:00:00.123456789Z
    row.protocols = kProtocolNative;
    row.senders = {row.device.address};
    return row;
}

constexpr const char* kHeader =
    "no,address,port,subnetMask,gateway,registered,adapter,adapterAddress,adapterMask,outsideAdapterSubnet,"
    "sender,senderMismatch,seenInProbes,probes,replies,lastReply,protocols,name,model,location,serviceUrls,mac,"
    "vendor,conflict,senders,warning\r\n";

TEST(FoundExport, CsvHasOneLinePerRowUnderTheFieldNames) {
    FoundRow second = Row(2, "192.168.1.108", 37777);
    second.registered = true;
    second.outsideAdapterSubnet = true;
    second.senderAddress = Ip("10.1.0.9");
    second.senderMismatch = true;
    EXPECT_EQ(FoundRowsToCsv({Row(1, "10.1.0.20", 8000), second}, 3),
              std::string(kHeader) +
                  "1,10.1.0.20,8000,255.255.255.0,10.1.0.254,false,eth0,10.1.0.1,255.255.255.0,false,10.1.0.20,false,"
                  "2,3,4,2024-05-01T12:00:00.123Z,native,,,,,,,false,10.1.0.20,\r\n"
                  "2,192.168.1.108,37777,255.255.255.0,10.1.0.254,true,eth0,10.1.0.1,255.255.255.0,true,10.1.0.9,"
                  "true,2,3,4,2024-05-01T12:00:00.123Z,native,,,,,,,false,192.168.1.108,\r\n");
    EXPECT_EQ(FoundRowsToCsv({}, 0), kHeader);
}

TEST(FoundExport, CsvQuotesFieldsWithSeparatorsQuotesOrLineBreaks) {
    struct Case {
        const char* adapter;
        const char* field;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\rhere", "\"cr\rhere\""},
        {"\"", "\"\"\"\""},
        {"semi;colon", "semi;colon"},
    };
    for (const Case& c : cases) {
        FoundRow row = Row(1, "10.1.0.20", 8000);
        std::memset(row.adapterName, 0, sizeof row.adapterName);
        std::strncpy(row.adapterName, c.adapter, sizeof row.adapterName - 1);
        const std::string csv = FoundRowsToCsv({row}, 1);
        EXPECT_NE(csv.find(",false," + std::string(c.field) + ",10.1.0.1,"), std::string::npos) << c.adapter << "\n"
                                                                                                << csv;
    }
    FoundRow unknown = Row(1, "10.1.0.20", 8000);
    unknown.adapterAddress = 0;
    unknown.adapterMask = 0;
    std::memset(unknown.adapterName, 0, sizeof unknown.adapterName);
    EXPECT_NE(FoundRowsToCsv({unknown}, 1).find(",false,,,,false,"), std::string::npos)
        << "an unknown adapter leaves its fields empty";
}

TEST(FoundExport, JsonKeepsTheScanFieldsFirstAndEscapesTexts) {
    const std::string json = FoundRowsToJson({Row(1, "10.1.0.20", 8000)}, 3);
    EXPECT_EQ(json,
              "[\n  {\"no\": 1, \"address\": \"10.1.0.20\", \"port\": 8000, \"subnetMask\": \"255.255.255.0\", "
              "\"gateway\": \"10.1.0.254\", \"registered\": false, \"adapter\": \"eth0\", \"adapterAddress\": "
              "\"10.1.0.1\", \"adapterMask\": \"255.255.255.0\", \"outsideAdapterSubnet\": false, \"sender\": "
              "\"10.1.0.20\", \"senderMismatch\": false, \"seenInProbes\": 2, \"probes\": 3, \"replies\": 4, "
              "\"lastReply\": \"2024-05-01T12:00:00.123Z\", \"protocols\": [\"native\"], \"name\": \"\", "
              "\"model\": \"\", \"location\": \"\", \"serviceUrls\": [], \"mac\": \"\", \"vendor\": \"\", "
              "\"conflict\": false, \"senders\": [\"10.1.0.20\"], \"warning\": \"\"}\n]\n");
    EXPECT_EQ(FoundRowsToJson({}, 0), "[]\n");

    struct Case {
        const char* adapter;
        const char* escaped;
    };
    const Case cases[] = {
        {"q\"b\\s", "\"q\\\"b\\\\s\""},
        {"tab\tnl\n", "\"tab\\u0009nl\\u000a\""},
        {"caf\xC3\xA9", "\"caf\xC3\xA9\""},                   // UTF-8 passes
        {"bad\xFFx", "\"bad\\ufffdx\""},                      // a stray byte does not
        {"cut\xE2\x82", "\"cut\\ufffd\\ufffd\""},             // nor a cut sequence
        {"over\xC0\xAF", "\"over\\ufffd\\ufffd\""},           // nor an overlong one
        {"sur\xED\xA0\x80", "\"sur\\ufffd\\ufffd\\ufffd\""},  // nor a surrogate
    };
    for (const Case& c : cases) {
        FoundRow row = Row(1, "10.1.0.20", 8000);
        std::memset(row.adapterName, 0, sizeof row.adapterName);
        std::strncpy(row.adapterName, c.adapter, sizeof row.adapterName - 1);
        const std::string text = FoundRowsToJson({row}, 1);
        EXPECT_NE(text.find("\"adapter\": " + std::string(c.escaped) + ","), std::string::npos) << text;
    }
}

TEST(FoundExport, OnvifFieldsAreArraysAndAnOnvifOnlyRowHasANullPort) {
    FoundRow onvifOnly = Row(1, "10.1.0.30", 0);
    onvifOnly.portKnown = false;
    onvifOnly.device.subnetMask = 0;
    onvifOnly.device.gateway = 0;
    onvifOnly.protocols = kProtocolOnvif;
    onvifOnly.name = "Gate \"East\"";
    onvifOnly.model = "NVT-200";
    onvifOnly.location = "site/building 2";
    onvifOnly.serviceUrls = {"http://10.1.0.30/onvif/device_service", "http://[fe80::1]/onvif"};
    onvifOnly.mac = "00:1a:2b:3c:4d:5e";
    onvifOnly.vendor = "Maker, Inc.";
    FoundRow both = Row(2, "10.1.0.31", 8000);
    both.protocols = kProtocolNative | kProtocolOnvif;
    both.conflict = true;
    both.senders = {Ip("10.1.0.31"), Ip("10.1.0.66")};
    both.warning = "subnet mask 0.0.0.0";

    const std::string json = FoundRowsToJson({onvifOnly, both}, 1);
    for (const char* expected : {
             "\"port\": null, \"subnetMask\": \"\", \"gateway\": \"\",",
             "\"protocols\": [\"onvif\"], \"name\": \"Gate \\\"East\\\"\", \"model\": \"NVT-200\", "
             "\"location\": \"site/building 2\", \"serviceUrls\": [\"http://10.1.0.30/onvif/device_service\", "
             "\"http://[fe80::1]/onvif\"], \"mac\": \"00:1a:2b:3c:4d:5e\", \"vendor\": \"Maker, Inc.\", "
             "\"conflict\": false,",
             "\"protocols\": [\"native\", \"onvif\"],",
             "\"conflict\": true, \"senders\": [\"10.1.0.31\", \"10.1.0.66\"], \"warning\": \"subnet mask 0.0.0.0\"}",
         }) {
        EXPECT_NE(json.find(expected), std::string::npos) << expected << "\n" << json;
    }
    const std::string csv = FoundRowsToCsv({onvifOnly, both}, 1);
    EXPECT_NE(csv.find("\r\n1,10.1.0.30,,,,false,"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",onvif,\"Gate \"\"East\"\"\",NVT-200,site/building 2,"
                       "http://10.1.0.30/onvif/device_service http://[fe80::1]/onvif,00:1a:2b:3c:4d:5e,"
                       "\"Maker, Inc.\",false,"),
              std::string::npos)
        << csv;
    EXPECT_NE(csv.find(",native onvif,,,,,,,true,10.1.0.31 10.1.0.66,subnet mask 0.0.0.0\r\n"), std::string::npos)
        << csv;
}

TEST(FoundExport, TimesAreUtcWithMilliseconds) {
    EXPECT_EQ(IsoUtcText(0), "");
    EXPECT_EQ(IsoUtcText(1000000), "1970-01-01T00:00:00.001Z");
    EXPECT_EQ(IsoUtcText(951782400999000000LL), "2000-02-29T00:00:00.999Z");
    EXPECT_EQ(IsoUtcText(-1000000), "1969-12-31T23:59:59.999Z");
}

TEST(RegisteredDevices, MatchesHostAndPortAsStoredAndNamesExactly) {
    RegisteredDevices registered;
    EXPECT_TRUE(registered.Empty());
    registered.Add("192.168.1.100", 8000);
    registered.Add("10.0.0.5", 65536 + 80);  // the store keeps the low 16 bits
    registered.Add("camera.example", 37777);
    registered.Add("192.168.001.100", 9000);  // not how the search writes an address: matches only itself
    registered.AddName("Lobby1");
    EXPECT_EQ(registered.Size(), 4u);

    FoundDevice device;
    device.address = Ip("192.168.1.100");
    device.port = 8000;
    EXPECT_TRUE(registered.Contains(device));
    device.port = 8001;
    EXPECT_FALSE(registered.Contains(device));
    device.port = 9000;
    EXPECT_FALSE(registered.Contains(device));
    device.address = Ip("10.0.0.5");
    device.port = 80;
    EXPECT_TRUE(registered.Contains(device));

    EXPECT_TRUE(registered.ContainsHost("10.0.0.5", 80));
    EXPECT_TRUE(registered.ContainsHost("camera.example", 37777));
    EXPECT_FALSE(registered.ContainsHost("camera.example", 37778));
    EXPECT_TRUE(registered.ContainsHost("192.168.001.100", 9000));
    EXPECT_FALSE(registered.ContainsHost("192.168.1.100", 9000));
    EXPECT_FALSE(registered.ContainsHost("", 0));
    EXPECT_TRUE(registered.ContainsName("Lobby1"));
    EXPECT_FALSE(registered.ContainsName("lobby1"));
    EXPECT_FALSE(registered.ContainsName("Lobby"));
}

}  // namespace
}  // namespace vantrel
