#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "store_fixture.h"

using namespace vantrel;

namespace {

using StoreOrgs = StoreTest;
using StoreImages = StoreTest;
using StoreMap = StoreTest;

std::vector<std::pair<std::uint32_t, std::string>> Children(DeviceStore& store, std::uint32_t parent) {
    std::uint32_t count = store.CountChildOrgs(parent);
    std::vector<OrgRecord> records(count);
    if (count > 0) {
        EXPECT_EQ(store.LoadChildOrgs(parent, records.data(), count * sizeof(OrgRecord)), 1);
    }
    std::vector<std::pair<std::uint32_t, std::string>> out;
    for (const OrgRecord& r : records) {
        out.emplace_back(r.id, r.name);
    }
    return out;
}

TEST_F(StoreOrgs, TreeIsReadOneLevelAtATime) {
    XmlDeviceStore& store = Open();
    std::uint32_t north = store.AddOrganization(0, "North");
    std::uint32_t depot = store.AddOrganization(north, "Depot");
    std::uint32_t south = store.AddOrganization(0, "South");
    ASSERT_EQ(std::vector<std::uint32_t>({north, depot, south}), std::vector<std::uint32_t>({1, 2, 3}));
    using List = std::vector<std::pair<std::uint32_t, std::string>>;
    EXPECT_EQ(Children(store, 0), (List{{1, "North"}, {3, "South"}}));
    EXPECT_EQ(Children(store, 1), (List{{2, "Depot"}}));
    EXPECT_TRUE(Children(store, 2).empty());
    EXPECT_EQ(store.CountChildOrgs(99), 0u);
    OrgRecord one{};
    EXPECT_EQ(store.LoadChildOrgs(99, &one, sizeof one), 1);
    EXPECT_EQ(store.LoadChildOrgs(1, &one, sizeof one - 1), 0);
    EXPECT_EQ(store.LoadChildOrgs(1, nullptr, sizeof one), 0);

    std::uint32_t deep = depot;
    for (int level = 0; level < 3; ++level) {
        deep = store.AddOrganization(deep, "Level");
    }
    EXPECT_EQ(store.CountChildOrgs(deep), 0u);
    EXPECT_EQ(store.AddOrganization(deep, "Leaf"), deep + 1);
    EXPECT_EQ(store.FindOrganizationByName(deep, "Leaf"), deep + 1);
}

TEST_F(StoreOrgs, NamesAreUniqueAmongSiblingsAndMustBeStorable) {
    XmlDeviceStore& store = Open();
    std::uint32_t north = store.AddOrganization(0, "North");
    EXPECT_EQ(store.AddOrganization(0, "North"), 0u);
    EXPECT_NE(store.AddOrganization(north, "North"), 0u);
    EXPECT_EQ(store.AddOrganization(0, "Qu\"ote"), 0u);
    EXPECT_EQ(store.AddOrganization(77, "Orphan"), 0u);
    EXPECT_EQ(store.AddOrganization(0, nullptr), 0u);
    EXPECT_EQ(store.FindOrganizationByName(0, "North"), north);
    EXPECT_EQ(store.FindOrganizationByName(0, "north"), 0u);

    EXPECT_EQ(store.RenameOrganization(north, "Nord"), 1);
    EXPECT_EQ(store.RenameOrganization(north, "No\"rd"), 0);
    EXPECT_EQ(store.RenameOrganization(55, "X"), 0);
    EXPECT_EQ(store.FindOrganizationByName(0, "Nord"), north);
}

TEST_F(StoreOrgs, LongNamesAreCutAndRemovalTakesTheSubtree) {
    std::string longName(100, 'o');
    XmlDeviceStore& store = OpenWith("<DATAROOT><ORGINFO><ORG id=\"4\" name=\"" + longName +
                                     "\"><ORG id=\"5\" name=\"In\"/></ORG></ORGINFO></DATAROOT>");
    OrgRecord record;
    std::memset(&record, 'Z', sizeof record);
    ASSERT_EQ(store.LoadChildOrgs(0, &record, sizeof record), 1);
    EXPECT_EQ(std::string(record.name), std::string(63, 'o'));

    Add(MakeDevice("Gate", 0, "h", 1, 5));
    EXPECT_EQ(store.RemoveOrganization(0), 0);
    EXPECT_EQ(store.RemoveOrganization(4), 1);
    EXPECT_EQ(store.CountChildOrgs(0), 0u);
    EXPECT_EQ(store.CountChildOrgs(5), 0u);
    EXPECT_NE(Text().find("OrgId=\"5\""), std::string::npos);
    std::uint32_t ids[1];
    EXPECT_EQ(store.GetOrganizationItemIds(4, ids, 1), 0);
}

TEST_F(StoreImages, AddLoadModifyRemove) {
    XmlDeviceStore& store = Open();
    ImageRecord images[2] = {};
    std::strcpy(images[0].name, "Floor");
    std::strcpy(images[0].image, "floor.png");
    std::strcpy(images[1].name, "Floor");
    ASSERT_EQ(store.AddImages(images, sizeof images), 1);
    EXPECT_EQ(images[0].id, 1u);
    EXPECT_EQ(images[1].id, 2u);
    EXPECT_EQ(store.CountImages(), 2u);
    EXPECT_EQ(store.AddImages(images, sizeof images[0] - 1), 0);

    ImageRecord loaded[2];
    EXPECT_EQ(store.LoadImages(loaded, 1), 0);
    ASSERT_EQ(store.LoadImages(loaded, 2), 1);
    EXPECT_STREQ(loaded[0].image, "floor.png");

    ImageRecord change = images[1];
    std::strcpy(change.desc, "second floor");
    EXPECT_EQ(store.ModifyImage(0, &change), 1);
    std::strcpy(change.desc, "a \"b\"");
    EXPECT_EQ(store.ModifyImage(0, &change), 0);
    change.id = 77;
    EXPECT_EQ(store.ModifyImage(0, &change), 0);
    ASSERT_EQ(store.LoadImages(loaded, 2), 1);
    EXPECT_STREQ(loaded[1].desc, "second floor");

    ImageRecord quoted{};
    std::strcpy(quoted.image, "\"");
    EXPECT_EQ(store.AddImages(&quoted, sizeof quoted), 0);
    EXPECT_EQ(store.CountImages(), 2u);

    std::uint32_t id = 1;
    EXPECT_EQ(store.RemoveImage(&id), 1);
    EXPECT_EQ(store.CountImages(), 1u);
    EXPECT_EQ(store.RemoveImage(nullptr), 0);
}

TEST_F(StoreImages, ImageWithChildrenKeepsItselfButLosesMapItems) {
    XmlDeviceStore& store = OpenWith(
        "<DATAROOT><IMGINFO><IMG id=\"3\" name=\"m\"><NOTE/></IMG></IMGINFO>"
        "<MAPINFO><IIMG id=\"1\"><IIMG id=\"3\" pos=\"0\"/><IDEV id=\"8\"/></IIMG></MAPINFO></DATAROOT>");
    std::uint32_t id = 3;
    ASSERT_EQ(store.RemoveImage(&id), 1);
    EXPECT_EQ(store.CountImages(), 1u);
    std::vector<MapItem> items;
    store.LoadMapTree(items);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].id, 8u);
}

TEST_F(StoreMap, SaveAndLoadTheTree) {
    XmlDeviceStore& store = Open();
    std::vector<MapEntry> root = {{1, 0, 10, 20}};
    std::vector<MapEntry> level1 = {{2, 0, 0x10005, 7}, {30, 1, 1, 2}};
    std::vector<MapEntry> level2 = {{40, 1, 3, 4}, {1, 0, 0, 0}};  // image 1 again: left out
    MapEntriesByParent map{{0, &root}, {1, &level1}, {2, &level2}};
    ASSERT_EQ(store.SaveMapTree(map), 1);
    EXPECT_NE(ReadWholeFile(path_).find("<IIMG id=\"1\" pos=\"1310730\">"), std::string::npos);

    std::vector<MapItem> items;
    EXPECT_EQ(store.LoadMapTree(items), 1);
    struct Expected {
        std::uint32_t id, parent, kind, x, y;
    };
    const Expected expected[] = {{1, 0, 0, 10, 20}, {2, 1, 0, 5, 7}, {40, 2, 1, 3, 4}, {30, 1, 1, 1, 2}};
    ASSERT_EQ(items.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(items[i].id, expected[i].id);
        EXPECT_EQ(items[i].parentId, expected[i].parent);
        EXPECT_EQ(items[i].kind, expected[i].kind);
        EXPECT_EQ(items[i].x, expected[i].x);
        EXPECT_EQ(items[i].y, expected[i].y);
    }

    // a second save replaces the tree
    std::vector<MapEntry> single = {{9, 1, 0, 0}};
    ASSERT_EQ(store.SaveMapTree(MapEntriesByParent{{0, &single}}), 1);
    items.clear();
    store.LoadMapTree(items);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].id, 9u);
    EXPECT_EQ(items[0].kind, 0u) << "the root item is kind 0 whatever its element";
}

TEST_F(StoreMap, BadInputFailsWithoutWriting) {
    XmlDeviceStore& store = Open();
    std::vector<MapEntry> root = {{1, 0, 0, 0}};
    ASSERT_EQ(store.SaveMapTree(MapEntriesByParent{{0, &root}}), 1);
    const std::string saved = ReadWholeFile(path_);

    std::vector<MapEntry> two = {{1, 0, 0, 0}, {2, 0, 0, 0}};
    EXPECT_EQ(store.SaveMapTree(MapEntriesByParent{{0, &two}}), 0);
    EXPECT_EQ(ReadWholeFile(path_), saved);
    std::vector<MapItem> items;
    store.LoadMapTree(items);
    EXPECT_TRUE(items.empty()) << "the old tree was removed before the rebuild";

    EXPECT_EQ(store.SaveMapTree(MapEntriesByParent{{0, &root}, {1, nullptr}}), 0);
    EXPECT_EQ(ReadWholeFile(path_), saved);

    // a cycle in the input ends because an image appears once
    std::vector<MapEntry> self = {{1, 0, 0, 0}};
    EXPECT_EQ(store.SaveMapTree(MapEntriesByParent{{0, &root}, {1, &self}}), 1);
}

TEST_F(StoreMap, DeviceTreeCarriesEntries) {
    XmlDeviceStore& store = Open();
    std::uint32_t id = Add(MakeDevice("Gate", 2));
    const std::int32_t types[] = {1, 0};
    store.SetCameraTypes(id, types, 2);
    DeviceTreeRecord records[1] = {};
    EXPECT_EQ(store.LoadDeviceTree(records, 0), 0);
    ASSERT_EQ(store.LoadDeviceTree(records, 1), 1);
    EXPECT_EQ(records[0].id, id);
    EXPECT_STREQ(records[0].name, "Gate");
    ASSERT_EQ(records[0].videoCount, 2u);
    EXPECT_EQ(records[0].alarmCount, 2u);
    EXPECT_EQ(records[0].videoEntries[0].cameraType, 1u);
    EXPECT_STREQ(records[0].videoEntries[1].name, "Gate_2");
    EXPECT_STREQ(records[0].alarmEntries[1].name, "Gate_alarm2");
    EXPECT_EQ(records[0].alarmEntries[0].id, id + 2);
    FreeDeviceTreeEntries(records[0]);
    EXPECT_EQ(store.PlaceholderA(1, 2, 3), 1);
    EXPECT_EQ(store.PlaceholderB(1, 2, 3), 1);
}

}  // namespace

namespace {

TEST_F(StoreOrgs, RemovingAnElementThatHoldsASectionMakesANewSection) {
    XmlDeviceStore& store = OpenWith(
        "<DATAROOT><ORGINFO><ORG id=\"7\" name=\"odd\"><IMGINFO><IMG id=\"8\"/></IMGINFO>"
        "<DEVINFO><DEV id=\"9\" name=\"inside\"/></DEVINFO></ORG></ORGINFO></DATAROOT>");
    EXPECT_EQ(store.CountImages(), 1u);
    EXPECT_EQ(store.FindDeviceByName("inside"), 9u);
    EXPECT_EQ(store.GetChannelId(9, 0), 0u);
    ASSERT_EQ(store.RemoveOrganization(7), 1);
    EXPECT_EQ(store.CountImages(), 0u);
    EXPECT_EQ(store.FindDeviceByName("inside"), 0u);
    EXPECT_EQ(store.CountDevices(), 0u);
    std::uint32_t id = Add(MakeDevice("inside", 1));
    EXPECT_EQ(id, 1u) << "no counter and no identifier left in the document";
    EXPECT_EQ(store.FindDeviceByName("inside"), id);
    EXPECT_EQ(Text(),
              "<DATAROOT>\n\t<ORGINFO/>\n\t<IMGINFO/>\n\t<DEVINFO>\n"
              "\t\t<DEV id=\"1\" ip=\"0\" name=\"inside\" host=\"192.168.1.10\" port=\"80\" cameras=\"1\" "
              "ddnsFlag=\"0\" DDNSHost=\"\" DDNSPort=\"0\" desc=\"\" username=\"admin\" OrgId=\"0\" password=\"" +
                  SavedSection("DEVINFO").Child(0).Attribute("password").Value() +
                  "\">\n"
                  "\t\t\t<DEV id=\"2\" type=\"0\" name=\"inside_1\" channel=\"0\" desc=\"\"/>\n"
                  "\t\t\t<DEV id=\"3\" type=\"1\" name=\"inside_alarm1\" channel=\"0\" desc=\"\"/>\n"
                  "\t\t</DEV>\n\t</DEVINFO>\n\t<GLOBAL index=\"4\"/>\n</DATAROOT>\n");
}

}  // namespace
