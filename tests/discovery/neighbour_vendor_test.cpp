#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "neighbour_table.h"
#include "oui_vendors.h"
#include "temp_folder.h"

namespace vantrel {
namespace {

std::uint32_t Address(const char* text) {
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

TEST(NeighbourTable, KeepsOnlyCompleteEntriesWithARealMac) {
    TempFolder folder;
    WriteWholeFile(folder.Path() + "arp",
                   "IP address       HW type     Flags       HW address            Mask     Device\n"
                   "10.1.0.2         0x1         0x2         02:AB:cd:00:00:05     *        va0\n"
                   "10.1.0.3         0x1         0x0         02:ab:cd:00:00:06     *        va0\n"
                   "10.1.0.4         0x1         0x2         00:00:00:00:00:00     *        va0\n"
                   "10.1.0.5         0x1         0x6         02:ab:cd:00:00:07     *        va0\n"
                   "10.2.0.5         0x1         0x2         02:ab:cd:00:00:08     *        vc0\n"
                   "10.2.0.5         0x1         0x2         02:ab:cd:00:00:09     *        vd0\n"
                   "10.1.0.6         0x20        0x2         80:00:00:48:fe:80:00:00:00:00:00:00:00:02 * ib0\n"
                   "not-an-address   0x1         0x2         02:ab:cd:00:00:0a     *        va0\n"
                   "10.1.0.7         0x1         zz          02:ab:cd:00:00:0b     *        va0\n"
                   "10.1.0.8         0x1\n");
    const NeighbourTable table = NeighbourTable::Read(folder.Path() + "arp");
    EXPECT_EQ(table.MacOf(Address("10.1.0.2")), "02:ab:cd:00:00:05");
    EXPECT_EQ(table.MacOf(Address("10.1.0.3")), "");  // incomplete
    EXPECT_EQ(table.MacOf(Address("10.1.0.4")), "");
    EXPECT_EQ(table.MacOf(Address("10.1.0.5")), "02:ab:cd:00:00:07");  // complete and permanent
    EXPECT_EQ(table.MacOf(Address("10.2.0.5")), "02:ab:cd:00:00:08");
    EXPECT_EQ(table.MacOf(Address("10.1.0.6")), "");
    EXPECT_EQ(table.MacOf(Address("10.1.0.7")), "");
    EXPECT_EQ(table.MacOf(Address("10.1.0.8")), "");
    EXPECT_EQ(table.MacOf(Address("10.9.9.9")), "");

    EXPECT_EQ(NeighbourTable::Read(folder.Path() + "missing").MacOf(Address("10.1.0.2")), "");
}

TEST(OuiVendors, ReadsTheHexLinesOfTheIeeeList) {
    TempFolder folder;
    WriteWholeFile(folder.Path() + "oui.txt",
                   "OUI/MA-L                                                    Organization                 \r\n"
                   "company_id                                                  Organization                 \r\n"
                   "                                                            Address                      \r\n"
                   "\r\n"
                   "00-22-72   (hex)\t\tAmerican Micro-Fuel Device Corp.\r\n"
                   "002272     (base 16)\t\tAmerican Micro-Fuel Device Corp.\r\n"
                   "\t\t\t\t2181 Buchanan Loop\r\n"
                   "\r\n"
                   "A4-14-37   (hex)\t\tHangzhou Example Vision Co.,Ltd.  \n"
                   "a4-14-37   (hex)\t\tA later duplicate\n"
                   "08-00-2B   (hex)\t\t\n"
                   "FC-FB-FB   (hex)\t\tLast Line Without Newline");
    OuiVendors vendors;
    ASSERT_TRUE(vendors.Load(folder.Path() + "oui.txt"));
    EXPECT_EQ(vendors.VendorOf("00:22:72:01:02:03"), "American Micro-Fuel Device Corp.");
    EXPECT_EQ(vendors.VendorOf("a4:14:37:ff:00:01"), "Hangzhou Example Vision Co.,Ltd.");
    EXPECT_EQ(vendors.VendorOf("A4-14-37-FF-00-01"), "Hangzhou Example Vision Co.,Ltd.");
    EXPECT_EQ(vendors.VendorOf("fc:fb:fb:00:00:00"), "Last Line Without Newline");
    EXPECT_EQ(vendors.VendorOf("08:00:2b:00:00:01"), "");  // no name given
    EXPECT_EQ(vendors.VendorOf("00:22:73:01:02:03"), "");
    EXPECT_EQ(vendors.VendorOf("00:22:72"), "");  // not a MAC
    EXPECT_EQ(vendors.VendorOf(""), "");

    EXPECT_FALSE(vendors.Load(folder.Path() + "missing"));
    EXPECT_EQ(vendors.VendorOf("00:22:72:01:02:03"), "");
}

}  // namespace
}  // namespace vantrel
