#pragma once

// What the store found when it loaded the database file, and what its last Save did. The program tells the
// operator about it (StoreNotices) and refuses to save over a file it could not read.

#include <cstdint>
#include <string>
#include <vector>

#include "xml/xml_load_result.h"

namespace vantrel {

// Deeper documents are not written over: real databases nest a few levels (organizations a few more), and
// the indented writer spends one TAB per level on every line.
inline constexpr std::uint32_t kMaxDocumentDepth = 256;

// What a Save that found the file changed by someone else left out of the changes it applied again.
enum class SkipReason {
    DuplicateName,          // a device of that name is there now
    DuplicateAddress,       // a device with that address and port is there now
    DuplicateDdns,          // a device with those DDNS settings is there now
    OrganizationGone,       // its organization (or the parent of a new organization) is no longer there
    DuplicateOrganization,  // the parent has an organization of that name now; devices added to ours go there
    NotAdded,               // the document could not take it (no usable identifier counter)
};

struct SkippedChange {
    SkipReason reason = SkipReason::NotAdded;
    std::string name;  // device or organization name
    std::string host;  // devices only
    std::uint32_t port = 0;
};

struct StoreCondition {
    std::string path;      // the database file
    std::string keyPath;   // its password key
    XmlLoadResult file;    // how the last load of the file went
    bool tooDeep = false;  // nested deeper than kMaxDocumentDepth: never written over
    // Set when the file was damaged: where the copy of the original is kept (made before the first save over it).
    std::string backupPath;
    bool backupMade = false;
    std::uint32_t encipheredPasswords = 0;  // "v1:" passwords in the device section, counting those added since
    bool keyMissing = false;                // enciphered passwords exist but the key file does not
    std::string keyProblem;     // why the key file cannot be used (names it; "... cannot be read: Permission denied")
    std::string keyWarning;     // the key file could be read by other users
    bool newKeyAgreed = false;  // the operator agreed that a new key may be made all the same
    std::vector<std::uint32_t> undecipherable;  // devices whose password the last device load could not decipher

    // The last Save:
    bool reloaded = false;  // the file had been changed by someone else: loaded again, our changes applied again
    std::vector<SkippedChange> skipped;  // what had become a duplicate there and was left out
    std::string saveProblem;             // why it wrote nothing ("<path> cannot be read: ..."); empty after success
};

// One line naming the file and why Save would not write it now; empty when it may.
std::string DescribeSaveRefusal(const StoreCondition& condition);

// The findings of the load for the operator, one text each, in this order: cannot be read (or not a regular file,
// too large), nested too deep, damaged (and where its copy goes), key file missing, passwords that cannot be
// deciphered (after the devices were loaded). Empty for a clean database.
std::vector<std::string> StoreNotices(const StoreCondition& condition);

// "duplicate name", "duplicate address", ...
const char* DescribeSkipReason(SkipReason reason);

}  // namespace vantrel
