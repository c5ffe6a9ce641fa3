#pragma once

// What the store found when it loaded the database file, and what its last Save did. The program tells the
// operator about it (StoreNotices) and refuses to save over a file it could not read.

#include <cstdint>
#include <string>
#include <vector>

#include "store/duplicate_rule.h"
#include "xml/xml_load_result.h"

namespace vantrel {

// What a Save that applied our changes again over another program's file left out.
struct SkippedChange {
    AddOutcome reason = AddOutcome::StoreFailed;
    std::string name;  // device or organization name
    std::string host;  // devices only
    std::uint32_t port = 0;
};

// Deeper documents are not written over: real databases nest a few levels (organizations a few more), and
// the indented writer spends one TAB per level on every line.
inline constexpr std::uint32_t kMaxDocumentDepth = 256;

struct StoreCondition {
    std::string path;      // the database file
    std::string keyPath;   // its password key
    XmlLoadResult file;    // how the last load of the file went
    bool tooDeep = false;  // nested deeper than kMaxDocumentDepth: never written over
    // Memory ran out while the file was loaded: it was not loaded, and is never called damaged, copied or
    // written over.
    bool outOfMemory = false;
    // Set when the file was damaged: where the copy of the original goes (made before the first save over it);
    // once made, where it is.
    std::string backupPath;
    bool backupMade = false;
    std::uint32_t encipheredPasswords = 0;  // "v1:" passwords in the device section, counting those added since
    bool keyMissing = false;                // enciphered passwords exist but the key file does not
    std::string keyProblem;     // why the key file cannot be used (names it; "... cannot be read: Permission denied")
    std::string keyWarning;     // the key file could be read by other users
    bool newKeyAgreed = false;  // the operator agreed that a new key may be made all the same
    std::vector<std::uint32_t> undecipherable;  // devices whose password the last device load could not decipher
    // Why the last operation that reported failure for a reason beyond its arguments was refused (identifiers
    // used up, memory ran out); empty when none was.
    std::string refusal;

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

}  // namespace vantrel
