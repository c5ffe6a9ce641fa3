#pragma once

// The rules of what gets registered, shared by the Add flow, the Devices window and vantrel-devices: device
// names with their running numbers, the 63-byte limits and refused characters of the stored texts, duplicates,
// rows already registered, camera types, the save with another writer's changes taken in, and the summary.
// Windows and tools collect the input and show the report; nothing here talks to the operator.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "records/records.h"

namespace vantrel {

class DeviceCatalogue;
class DeviceStore;

inline constexpr std::size_t kMaxTextBytes = kTextFieldSize - 1;

// Why text cannot go into the field named field ("Device Name must not contain a double quote (\")!", "User Name
// is too long! It must fit in 63 bytes."); empty when it can. reservedBytes are kept free for the running
// number. A password (storedAsText false) is stored enciphered: only the double quote is refused there.
std::string TextFieldProblem(std::string_view text, const char* field, std::size_t reservedBytes = 0,
                             bool storedAsText = true);

// Decimal digits of a number of at least 0.
int DecimalDigits(int value);

// base followed by the decimal number ("Lobby", 3 -> "Lobby3").
std::string RunningName(std::string_view base, int number);

// The smallest number n from 1 for which none of base+n ... base+(n+count-1) is taken.
int FirstFreeNumber(std::string_view base, int count, const std::function<bool(const std::string&)>& taken);

// What every row of one registration shares.
struct RegistrationDetails {
    std::string name;  // the base name: each device gets it followed by its running number
    std::string userName;
    std::string password;
    std::uint32_t channels = 8;
    std::uint32_t orgId = 0;
    std::array<std::int32_t, kMaxChannels> cameraTypes{};
    int firstNumber = 1;  // running number of the first row
};

struct RegistrationRow {
    std::string address;
    std::uint32_t port = 0;
};

// A row that was not registered, and why ("duplicate name", "already registered", ...).
struct SkippedRow {
    std::string name;
    std::string address;
    std::uint32_t port = 0;
    std::string reason;
};

struct RegistrationReport {
    int registered = 0;
    std::vector<SkippedRow> skipped;
    bool saved = false;
    std::string saveProblem;  // why the database was not written; empty when it was
};

// The rows whose address and port no device of the store has; leftOut counts the others.
std::vector<RegistrationRow> UnregisteredRows(DeviceStore& store, const std::vector<RegistrationRow>& rows,
                                              std::size_t& leftOut);

// Checks one device (texts, address already registered, duplicates through the catalogue) and adds it with its
// camera types for record.cameras channels. The new id, or 0 with reason saying why.
std::int32_t AddOneDevice(DeviceCatalogue& catalogue, DeviceStore& store, const DeviceRecord& record,
                          const std::int32_t* cameraTypes, std::string& reason);

// Registers one device per row, named details.name with the running number counted from details.firstNumber; a
// refused row still uses up its number. Then saves once (see SaveChanges); the devices the save had to leave out
// move from registered to skipped.
RegistrationReport RegisterDevices(DeviceCatalogue& catalogue, DeviceStore& store, const RegistrationDetails& details,
                                   const std::vector<RegistrationRow>& rows);

// Saves the store. When another program had changed the file meanwhile the store took its changes in: the
// catalogue (if given) is loaded again and the devices of ours that became duplicates there are added to
// mergedSkips (if given). false with problem naming the file and why when nothing was written.
bool SaveChanges(DeviceCatalogue* catalogue, DeviceStore& store, std::string& problem,
                 std::vector<SkippedRow>* mergedSkips);

// "3 devices were registered." or "2 devices were registered, 3 were skipped."
std::string SummaryText(const RegistrationReport& report);
// "Cam2 (10.0.0.5:8000): duplicate name"
std::string SkippedText(const SkippedRow& row);

// Why the device deviceId cannot be changed to record: the same text rules as adding (the name without a running
// number), channels 1 to 16, and no other device with its name, address and port, or DDNS settings. Empty when
// it can.
std::string DeviceChangeProblem(DeviceStore& store, std::uint32_t deviceId, const DeviceRecord& record);

// Rewrites the device from record (ModifyDevice: entries follow the channel count and the name) and sets the
// camera types of its channels; an empty password keeps the stored one. Checks DeviceChangeProblem first.
// Empty on success, else why nothing was changed. Does not save.
std::string ChangeDevice(DeviceStore& store, std::uint32_t deviceId, DeviceRecord record,
                         const std::int32_t* cameraTypes);

// Every organization of the catalogue by id, as the path of names below the root joined by "/" (the root: "").
std::map<std::int32_t, std::string> OrganizationPaths(const DeviceCatalogue& catalogue);
// The path of orgId from those paths; "[id]" when it names no organization.
std::string OrganizationPathOf(const std::map<std::int32_t, std::string>& paths, std::uint32_t orgId);
// The names of a path ("North/Depot" -> North, Depot; "" and "/" -> none). false when a name is empty.
bool SplitOrganizationPath(std::string_view path, std::vector<std::string>& names);
// The organization at the end of names below the root (0 for no names); with create, the missing ones are added.
// 0 with problem set when one is missing (and create is false) or cannot be added.
std::uint32_t FindOrganizationPath(DeviceStore& store, const std::vector<std::string>& names, bool create,
                                   std::string& problem);

}  // namespace vantrel
