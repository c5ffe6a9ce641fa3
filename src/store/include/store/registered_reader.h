#pragma once

// The devices registered in a Data.xml, read for marking search results (vantrel-scan --database) and
// nothing else: read-only, so nothing in the database's folder changes (no lock file, no clean-up, no key),
// with the store's checked read and its refusals, and without building device records.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vantrel {

// One "DEV" of the device section: its host and name as the store's records hold them (cut to a record's
// field), and its port.
using RegisteredDeviceVisitor = std::function<void(std::string_view host, std::uint32_t port, std::string_view name)>;

enum class RegisteredReadStatus {
    Read,     // every device was visited
    Missing,  // nothing at the path
    Refused,  // what the store would not save over: unreadable, not a regular file, too large, nested too deep,
              // or damaged, so that not every registered device can be known
};

struct RegisteredRead {
    RegisteredReadStatus status = RegisteredReadStatus::Missing;
    std::uint32_t devices = 0;  // visited
    // Names the file and says why it was not read, in the store's words ("/d/Data.xml is not a regular file");
    // empty when Read.
    std::string problem;

    bool Read() const { return status == RegisteredReadStatus::Read; }
};

// Reads databasePath once (O_NONBLOCK | O_NOFOLLOW, a regular file of at most kMaxXmlFileSize bytes) and calls
// each for every device of its device section, in document order.
RegisteredRead ReadRegisteredDevices(const std::string& databasePath, const RegisteredDeviceVisitor& each);

}  // namespace vantrel
