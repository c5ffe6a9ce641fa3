// Our changes applied again over a file another program changed since we loaded it: new devices and
// organizations follow their new identifiers, duplicates are left out and listed, and a writer caught half-way
// through the file is waited for, never saved over.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "database_file.h"
#include "store_fixture.h"

using namespace vantrel;

namespace {

using ChangeReplayTest = StoreTest;

TEST_F(ChangeReplayTest, TwoStoresOnOneFileLoseNothing) {
    WriteWholeFile(path_, "<DATAROOT><GLOBAL index=\"10\"/></DATAROOT>");
    XmlDeviceStore first(path_);
    XmlDeviceStore second(path_);
    DeviceRecord gate = MakeDevice("Gate", 2, "10.0.0.1");
    ASSERT_EQ(first.AddDevices(&gate, sizeof gate), 1);
    DeviceRecord door = MakeDevice("Door", 2, "10.0.0.2");
    ASSERT_EQ(second.AddDevices(&door, sizeof door), 1);
    EXPECT_EQ(door.id, gate.id) << "both took the next id of the same file";
    const std::int32_t types[] = {1, 1};
    ASSERT_EQ(second.SetCameraTypes(door.id, types, 2), 1);

    ASSERT_EQ(first.Save(), 1);
    EXPECT_FALSE(first.Condition()->reloaded);
    ASSERT_EQ(second.Save(), 1);
    EXPECT_TRUE(second.Condition()->reloaded);
    EXPECT_TRUE(second.Condition()->skipped.empty());

    XmlDeviceStore& reopened = Open();
    std::uint32_t gateId = reopened.FindDeviceByName("Gate");
    std::uint32_t doorId = reopened.FindDeviceByName("Door");
    EXPECT_EQ(gateId, gate.id);
    ASSERT_NE(doorId, 0u);
    EXPECT_NE(doorId, gateId);
    std::int32_t read[2] = {};
    ASSERT_EQ(reopened.GetCameraTypes(doorId, read, 2), 1);
    EXPECT_EQ(read[0], 1) << "the camera types followed the device to its new id";
    EXPECT_EQ(reopened.GetChannelId(doorId, 1), doorId + 3);
    DeviceRecord records[2];
    ASSERT_EQ(reopened.LoadDevices(records, sizeof records), 1);
    EXPECT_STREQ(records[1].password, "secret") << "the enciphered password went along";

    // and the first store, saving again, takes the second one's device in as well
    first.AddOrganization(0, "North");
    ASSERT_EQ(first.Save(), 1);
    EXPECT_TRUE(first.Condition()->reloaded);
    XmlDeviceStore& last = Open();
    EXPECT_NE(last.FindDeviceByName("Door"), 0u);
    EXPECT_NE(last.FindOrganizationByName(0, "North"), 0u);
}

TEST_F(ChangeReplayTest, WhatBecameADuplicateMeanwhileIsReportedNotWritten) {
    WriteWholeFile(path_, "<DATAROOT/>");
    XmlDeviceStore first(path_);
    XmlDeviceStore second(path_);
    std::uint32_t north = first.AddOrganization(0, "North");
    DeviceRecord gate = MakeDevice("Gate", 1, "10.0.0.1");
    ASSERT_EQ(first.AddDevices(&gate, sizeof gate), 1);
    ASSERT_EQ(first.Save(), 1);

    std::uint32_t ourNorth = second.AddOrganization(0, "North");
    DeviceRecord sameName = MakeDevice("Gate", 1, "10.0.0.9");
    DeviceRecord sameAddress = MakeDevice("Other", 1, "10.0.0.1");
    DeviceRecord fresh = MakeDevice("Fresh", 1, "10.0.0.5", 80, ourNorth);
    for (DeviceRecord* record : {&sameName, &sameAddress, &fresh}) {
        ASSERT_EQ(second.AddDevices(record, sizeof *record), 1);
    }
    ASSERT_EQ(second.Save(), 1);
    const std::vector<SkippedChange>& skipped = second.Condition()->skipped;
    ASSERT_EQ(skipped.size(), 3u);
    EXPECT_EQ(skipped[0].reason, AddOutcome::DuplicateOrganization);
    EXPECT_EQ(skipped[0].name, "North");
    EXPECT_EQ(skipped[1].reason, AddOutcome::DuplicateName);
    EXPECT_EQ(skipped[1].host, "10.0.0.9");
    EXPECT_EQ(skipped[2].reason, AddOutcome::DuplicateAddress);
    EXPECT_EQ(skipped[2].name, "Other");

    XmlDeviceStore& reopened = Open();
    EXPECT_EQ(reopened.CountDevices(), 2u);
    EXPECT_EQ(reopened.CountChildOrgs(0), 1u);
    DeviceRecord records[2];
    ASSERT_EQ(reopened.LoadDevices(records, sizeof records), 1);
    EXPECT_STREQ(records[0].host, "10.0.0.1");
    EXPECT_STREQ(records[1].name, "Fresh");
    EXPECT_EQ(records[1].orgId, north) << "the device went to the organization of that name already there";
}

TEST_F(ChangeReplayTest, ChangesThatCannotBeAppliedAgainRefuseToOverwriteAnotherWriter) {
    XmlDeviceStore& setup = Open();
    std::uint32_t gate = Add(MakeDevice("Gate", 1));
    ASSERT_EQ(setup.Save(), 1);
    XmlDeviceStore first(path_);
    XmlDeviceStore second(path_);
    first.AddOrganization(0, "North");
    ASSERT_EQ(first.Save(), 1);
    const std::string theirs = ReadWholeFile(path_);
    ASSERT_EQ(second.RemoveDevice(gate, nullptr), 1);
    EXPECT_EQ(second.Save(), 0);
    EXPECT_NE(second.Condition()->saveProblem.find(path_ + " was changed by another program"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(path_), theirs);
}

TEST_F(ChangeReplayTest, SameSizeAndTimeButOtherBytesCountAsAChange) {
    WriteWholeFile(path_, "<DATAROOT><ORGINFO><ORG id=\"1\" name=\"AAAA\"/></ORGINFO><GLOBAL index=\"2\"/></DATAROOT>");
    struct stat before {};
    ASSERT_EQ(stat(path_.c_str(), &before), 0);
    XmlDeviceStore& store = Open();
    store.AddOrganization(0, "South");
    // another writer changes a name in place and puts the time back
    WriteWholeFile(path_, "<DATAROOT><ORGINFO><ORG id=\"1\" name=\"BBBB\"/></ORGINFO><GLOBAL index=\"2\"/></DATAROOT>");
    struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path_.c_str(), times, 0), 0);
    ASSERT_EQ(store.Save(), 1);
    EXPECT_TRUE(store.Condition()->reloaded);
    std::string saved = ReadWholeFile(path_);
    EXPECT_NE(saved.find("BBBB"), std::string::npos);
    EXPECT_NE(saved.find("South"), std::string::npos);
}

// A status change that leaves the bytes alone (chmod, a backup tool touching the file) is no change: the
// file is not loaded again. The file mixes what the parser handles in place (a subset, comments, values it
// trims), so a parser that left its mark in the loaded text would show up here as a change.
TEST_F(ChangeReplayTest, StatusChangeWithTheSameBytesIsNoChange) {
    WriteWholeFile(path_,
                   "<?xml version=\"1.0\"?>\r\n<!DOCTYPE DATAROOT [ <!ENTITY vendor \"x\"> ]>\r\n<!-- kept -->"
                   "<DATAROOT><ORGINFO><ORG id=\"1\" name=\"  North  \"/></ORGINFO><GLOBAL index='2'/></DATAROOT>\r\n");
    XmlDeviceStore& store = Open();
    store.AddOrganization(0, "South");
    ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
    ASSERT_EQ(store.Save(), 1);
    EXPECT_FALSE(store.Condition()->reloaded);
    EXPECT_NE(ReadWholeFile(path_).find("South"), std::string::npos);
}

// The other program's version of the file: devices Theirs0..Theirs<count - 1>.
std::string TheirFile(int count) {
    std::string text = "<DATAROOT>\r\n\t<DEVINFO>\r\n";
    for (int i = 0; i < count; ++i) {
        std::string n = std::to_string(i);
        text += "\t\t<DEV id=\"" + std::to_string(i + 1) + "\" name=\"Theirs" + n + "\" host=\"10.1.0." + n +
                "\" port=\"80\" cameras=\"0\"/>\r\n";
    }
    return text + "\t</DEVINFO>\r\n\t<GLOBAL index=\"" + std::to_string(count + 1) + "\"/>\r\n</DATAROOT>\r\n";
}

// Rewrites the file in place, as a program that holds no lock does: truncate, the first half, then (once
// let go) the rest.
class InPlaceWriter {
public:
    InPlaceWriter(std::string path, std::string bytes) : path_(std::move(path)), bytes_(std::move(bytes)) {
        thread_ = std::thread([this] { Run(); });
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return halfWritten_; });
    }
    ~InPlaceWriter() {
        Finish();
        thread_.join();
    }
    // Lets the writer write the rest and waits until it has.
    void Finish() {
        std::unique_lock<std::mutex> lock(mutex_);
        goOn_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return done_; });
    }

private:
    void Run() {
        int fd = open(path_.c_str(), O_WRONLY | O_TRUNC);
        std::size_t half = bytes_.size() / 2;
        bool ok = fd >= 0 && write(fd, bytes_.data(), half) == static_cast<ssize_t>(half);
        std::unique_lock<std::mutex> lock(mutex_);
        halfWritten_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return goOn_; });
        ok = ok && write(fd, bytes_.data() + half, bytes_.size() - half) == static_cast<ssize_t>(bytes_.size() - half);
        EXPECT_TRUE(ok);
        close(fd);
        done_ = true;
        changed_.notify_all();
    }

    std::string path_;
    std::string bytes_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool halfWritten_ = false;
    bool goOn_ = false;
    bool done_ = false;
};

TEST_F(ChangeReplayTest, WriterCaughtHalfWayIsWaitedForAndNothingIsLost) {
    WriteWholeFile(path_, TheirFile(20));
    InPlaceWriter* writer = nullptr;
    int sleeps = 0;
    XmlStoreOptions options;
    // the store's wait lets the other program finish instead of passing time
    options.sleep = [&](std::chrono::milliseconds) {
        ++sleeps;
        writer->Finish();
    };
    Open(options);
    Add(MakeDevice("Ours", 2, "10.2.0.1"));
    InPlaceWriter rewriting(path_, TheirFile(21));
    writer = &rewriting;

    ASSERT_EQ(store_->Save(), 1) << store_->Condition()->saveProblem;
    EXPECT_TRUE(store_->Condition()->reloaded);
    EXPECT_GE(sleeps, 2) << "waited until size and time held still";
    XmlDeviceStore& reopened = Open();
    EXPECT_TRUE(reopened.Condition()->file.Clean());
    EXPECT_EQ(reopened.CountDevices(), 22u);
    EXPECT_NE(reopened.FindDeviceByName("Theirs20"), 0u) << "their new device";
    EXPECT_NE(reopened.FindDeviceByName("Ours"), 0u);
    EXPECT_FALSE(std::filesystem::exists(path_ + ".bak")) << "a half-written file is not a damaged original";
}

TEST_F(ChangeReplayTest, WriterThatStaysHalfWayIsRefusedAndOurChangesWaitForARetry) {
    WriteWholeFile(path_, TheirFile(20));
    int sleeps = 0;
    XmlStoreOptions options;
    options.sleep = [&sleeps](std::chrono::milliseconds) { ++sleeps; };
    Open(options);
    Add(MakeDevice("Ours", 2, "10.2.0.1"));
    InPlaceWriter writer(path_, TheirFile(21));
    const std::string halfWay = ReadWholeFile(path_);

    EXPECT_EQ(store_->Save(), 0);
    EXPECT_NE(store_->Condition()->saveProblem.find(path_ + " is being written by another program"), std::string::npos)
        << store_->Condition()->saveProblem;
    EXPECT_LE(sleeps, kSettleChecks);
    EXPECT_EQ(ReadWholeFile(path_), halfWay) << "not saved over";
    EXPECT_NE(store_->FindDeviceByName("Ours"), 0u) << "our device is still there to be saved";

    writer.Finish();
    ASSERT_EQ(store_->Save(), 1) << store_->Condition()->saveProblem;
    XmlDeviceStore& reopened = Open();
    EXPECT_EQ(reopened.CountDevices(), 22u);
    EXPECT_NE(reopened.FindDeviceByName("Ours"), 0u);
}

}  // namespace
