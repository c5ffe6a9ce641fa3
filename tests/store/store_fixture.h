#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "password/password.h"
#include "store/xml_device_store.h"
#include "temp_folder.h"
#include "xml/xml_document.h"
#include "xml/xml_writer.h"

namespace vantrel {

inline DeviceRecord MakeDevice(const char* name, std::uint32_t cameras = 0, const char* host = "192.168.1.10",
                               std::uint32_t port = 80, std::uint32_t orgId = 0) {
    DeviceRecord record{};
    std::strncpy(record.name, name, sizeof record.name - 1);
    std::strncpy(record.host, host, sizeof record.host - 1);
    std::strcpy(record.username, "admin");
    std::strcpy(record.password, "secret");
    record.cameras = cameras;
    record.port = port;
    record.orgId = orgId;
    return record;
}

// A store over <temp>/XML/Data.xml.
class StoreTest : public ::testing::Test {
protected:
    StoreTest() {
        mkdir((folder_.Path() + "XML").c_str(), 0700);
        path_ = folder_.Path() + "XML/Data.xml";
    }

    XmlDeviceStore& Open(XmlStoreOptions options = {}) {
        store_ = std::make_unique<XmlDeviceStore>(path_, std::move(options));
        return *store_;
    }
    XmlDeviceStore& OpenWith(const std::string& text) {
        WriteWholeFile(path_, text);
        return Open();
    }
    // The store's document as Save writes it, with LF line ends for readable expectations.
    std::string Text() {
        EXPECT_EQ(store_->Save(), 1) << store_->Condition()->saveProblem;
        std::string text = ReadWholeFile(path_);
        std::string lf;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
                lf += text[i];
            }
        }
        return lf;
    }
    // A section of the store's document as saved, read back from the file.
    XmlNodeRef SavedSection(const char* name) {
        EXPECT_EQ(store_->Save(), 1) << store_->Condition()->saveProblem;
        saved_ = std::make_unique<XmlDocument>();
        saved_->LoadFile(path_.c_str());
        return EnsureSection(saved_->Root(), name);
    }
    std::string LockPath() const { return folder_.Path() + "XML/.Data.xml.lock"; }

    // Names in the database's folder.
    std::set<std::string> FolderEntries() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_.Path() + "XML")) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    std::uint32_t Add(DeviceRecord record) {
        EXPECT_EQ(store_->AddDevices(&record, sizeof record), 1);
        return record.id;
    }

    TempFolder folder_;
    std::string path_;
    std::unique_ptr<XmlDeviceStore> store_;
    std::unique_ptr<XmlDocument> saved_;
};

}  // namespace vantrel
