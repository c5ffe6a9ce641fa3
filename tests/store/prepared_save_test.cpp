// Preparing saves on a thread of the store's own while the operator idles: every operation stops it first, so
// whatever comes, at whatever moment, the file saved holds every change and only the writer's own bytes.

#include <gtest/gtest.h>

#include <string>

#include "store_fixture.h"
#include "xml_database_text.h"

using namespace vantrel;

namespace {

class PreparedSave : public StoreTest {
protected:
    // past the size from which a save looks on two threads
    const std::string text_ = test::GenerateDatabaseText({1500, 2, 2});

    void ExpectOwnLayout() {
        std::string saved = ReadWholeFile(path_);
        XmlDocument document;
        ASSERT_TRUE(document.LoadText(saved).Clean());
        EXPECT_EQ(XmlWriteToString(document.Root(), XmlLayout::Indented, XmlLineEnd::CrLf), saved);
    }
};

TEST_F(PreparedSave, ChangesComingAtAnyMomentAllReachTheFile) {
    XmlDeviceStore& store = OpenWith(text_);
    // the first round's save finds what the preparation had not; the later rounds start from those findings
    for (int round : {0, 1, 2}) {
        store.PrepareSaves();
        std::string name = "Added" + std::to_string(round);
        Add(MakeDevice(name.c_str(), 2, ("10.8.0." + std::to_string(round % 250 + 1)).c_str()));
        std::uint32_t renamed = store.FindDeviceByName(("Device0000" + std::to_string(round % 7 + 1)).c_str());
        DeviceRecord record{};
        ASSERT_EQ(store.LoadDeviceRecord(renamed, &record), 1);
        std::strcpy(record.name, ("Renamed" + std::to_string(round)).c_str());
        ASSERT_EQ(store.ModifyDevice(renamed, &record, sizeof record, nullptr), 1);
        store.PrepareSaves();
        ASSERT_EQ(store.Save(), 1) << store.Condition()->saveProblem;
    }
    ExpectOwnLayout();
    XmlDeviceStore& reopened = Open();
    for (int round : {0, 1, 2}) {
        EXPECT_NE(reopened.FindDeviceByName(("Added" + std::to_string(round)).c_str()), 0u) << round;
        EXPECT_NE(reopened.FindDeviceByName(("Renamed" + std::to_string(round)).c_str()), 0u) << round;
    }
    EXPECT_EQ(reopened.CountDevices(), 1503u);
}

TEST_F(PreparedSave, AnUnchangedDatabaseIsSavedAsItWasRead) {
    XmlDeviceStore& store = OpenWith(text_);
    store.PrepareSaves();
    ASSERT_EQ(store.Save(), 1);
    EXPECT_EQ(ReadWholeFile(path_), text_);
}

TEST_F(PreparedSave, AStoreClosedWhilePreparingLeavesTheFileAsItWas) {
    for (int i = 0; i < 3; ++i) {
        XmlDeviceStore& store = OpenWith(text_);
        store.PrepareSaves();
        store_.reset();
    }
    EXPECT_EQ(ReadWholeFile(path_), text_);
}

}  // namespace
