// Every operation that refuses leaves the document as it was: the next Save writes the same bytes.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "store_fixture.h"

using namespace vantrel;

namespace {

using StoreRefusal = StoreTest;

// Gate has no password attribute; Door's password is enciphered under a key file that is missing, so that
// no new key may be made without the operator's word.
const char kDatabase[] =
    "<DATAROOT><DEVINFO>"
    "<DEV id=\"1\" ip=\"0\" name=\"Gate\" host=\"10.0.0.1\" port=\"80\" cameras=\"1\" ddnsFlag=\"0\" DDNSHost=\"\" "
    "DDNSPort=\"0\" desc=\"\" username=\"admin\" OrgId=\"0\">"
    "<DEV id=\"2\" type=\"0\" name=\"Gate_1\" channel=\"0\" desc=\"\"/>"
    "<DEV id=\"3\" type=\"1\" name=\"Gate_alarm1\" channel=\"0\" desc=\"\"/></DEV>"
    "<DEV id=\"4\" ip=\"0\" name=\"Door\" host=\"10.0.0.2\" port=\"80\" cameras=\"0\" ddnsFlag=\"0\" DDNSHost=\"\" "
    "DDNSPort=\"0\" desc=\"\" username=\"admin\" OrgId=\"0\" password=\"v1:AAAAAAAAAAAAAAAAAAAAAAAA\"/>"
    "</DEVINFO><ORGINFO><ORG id=\"5\" name=\"North\"/></ORGINFO>"
    "<IMGINFO><IMG id=\"6\" name=\"Plan\" image=\"plan.png\" desc=\"\"/></IMGINFO>"
    "<MAPINFO><IIMG id=\"6\" pos=\"0\"><IDEV id=\"2\" pos=\"5\"/></IIMG></MAPINFO>"
    "<GLOBAL index=\"7\"/></DATAROOT>";

TEST_F(StoreRefusal, RefusedOperationsLeaveTheSavedBytesUnchanged) {
    XmlDeviceStore& store = OpenWith(kDatabase);
    const std::string before = Text();
    DeviceRecord gate = MakeDevice("Gate", 1, "10.0.0.1");
    DeviceRecord fresh = MakeDevice("Fresh", 1, "10.0.0.9");
    DeviceRecord quoted = MakeDevice("Gate", 1);
    std::strcpy(quoted.username, "a\"b");
    ChannelEntry entry{};
    std::strcpy(entry.name, "a<b");
    ImageRecord image{};
    std::strcpy(image.name, "a&b");
    const std::int32_t types[300] = {};
    struct Case {
        const char* what;
        std::function<std::uint32_t()> call;
    };
    const Case cases[] = {
        {"modify needing a new key", [&] { return store.ModifyDevice(1, &gate, sizeof gate, nullptr); }},
        {"modify of an unknown device", [&] { return store.ModifyDevice(99, &gate, sizeof gate, nullptr); }},
        {"modify with a quote", [&] { return store.ModifyDevice(1, &quoted, sizeof quoted, nullptr); }},
        {"modify of a short record", [&] { return store.ModifyDevice(1, &gate, sizeof gate - 1, nullptr); }},
        {"add of a taken name", [&] { return store.AddDevices(&gate, sizeof gate); }},
        {"add needing a new key", [&] { return store.AddDevices(&fresh, sizeof fresh); }},
        {"remove of an unknown device", [&] { return store.RemoveDevice(99, nullptr); }},
        {"entry name of an unknown id", [&] { return store.SetEntryName(99, &entry); }},
        {"entry name with a less-than", [&] { return store.SetEntryName(2, &entry); }},
        {"camera types of an unknown device", [&] { return store.SetCameraTypes(99, types, 1); }},
        {"camera types past 256 channels", [&] { return store.SetCameraTypes(1, types, 300); }},
        {"image with an ampersand", [&] { return store.AddImages(&image, sizeof image); }},
        {"modify of an unknown image", [&] { return store.ModifyImage(0, &image); }},
        {"rename of an unknown organization", [&] { return store.RenameOrganization(99, "South"); }},
        {"rename with a quote", [&] { return store.RenameOrganization(5, "a\"b"); }},
        {"organization name taken", [&] { return store.AddOrganization(0, "North"); }},
        {"organization under an unknown parent", [&] { return store.AddOrganization(99, "South"); }},
        {"remove of organization 0", [&] { return store.RemoveOrganization(0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(), 0u);
        EXPECT_EQ(Text(), before);
    }
}

TEST_F(StoreRefusal, ModifyWritesNewAttributesInTheDescribedOrder) {
    XmlDeviceStore& store = OpenWith(
        "<DATAROOT><DEVINFO><DEV id=\"1\" name=\"Gate\"/></DEVINFO>"
        "<GLOBAL index=\"2\"/></DATAROOT>");
    DeviceRecord record = MakeDevice("Gate", 0, "10.0.0.1");
    ASSERT_EQ(store.ModifyDevice(1, &record, sizeof record, nullptr), 1);
    XmlNodeRef device = SavedSection("DEVINFO").Child(0);
    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < device.AttributeCount(); ++i) {
        names.push_back(device.AttributeAt(i).Name());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"id", "name", "ip", "host", "port", "cameras", "username", "ddnsFlag",
                                               "DDNSHost", "DDNSPort", "password"}));
}

TEST_F(StoreRefusal, CounterAtItsEndRefusesEveryAdditionWithAReason) {
    const std::string file =
        "<DATAROOT><DEVINFO><DEV id=\"1\" ip=\"0\" name=\"Gate\" host=\"10.0.0.1\" port=\"80\" cameras=\"0\" "
        "ddnsFlag=\"0\" DDNSHost=\"\" DDNSPort=\"0\" desc=\"\" username=\"admin\" OrgId=\"0\" password=\"\"/>"
        "</DEVINFO><ORGINFO/><IMGINFO/><GLOBAL index=\"4294967294\"/></DATAROOT>";
    XmlDeviceStore& store = OpenWith(file);
    // the last identifier can still be given: the counter then stands at its end
    EXPECT_EQ(store.AddOrganization(0, "Last"), 4294967294u);
    const std::string before = Text();
    EXPECT_NE(before.find("index=\"4294967295\""), std::string::npos);

    DeviceRecord fresh = MakeDevice("Fresh", 0, "10.0.0.9");
    ImageRecord image{};
    DeviceRecord grown = MakeDevice("Gate", 2, "10.0.0.1");
    struct Case {
        const char* what;
        std::function<std::uint32_t()> call;
    };
    const Case cases[] = {
        {"device", [&] { return store.AddDevices(&fresh, sizeof fresh); }},
        {"organization", [&] { return store.AddOrganization(0, "North"); }},
        {"image", [&] { return store.AddImages(&image, sizeof image); }},
        {"channels of a modify", [&] { return store.ModifyDevice(1, &grown, sizeof grown, nullptr); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(), 0u);
        EXPECT_NE(store.Condition()->refusal.find(path_ + " has given all its identifiers"), std::string::npos)
            << store.Condition()->refusal;
        EXPECT_EQ(Text(), before);
    }
    DeviceRecord same = MakeDevice("Gate", 0, "10.0.0.2");
    EXPECT_EQ(store.ModifyDevice(1, &same, sizeof same, nullptr), 1) << "a change that needs no identifier";
}

}  // namespace
