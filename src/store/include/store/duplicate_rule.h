#pragma once

// The rule that decides whether a device may be added beside those already registered: no second device of
// the same name; with dynamic DNS, no second device of the same host, DDNS host and DDNS port; without it, no
// second device of the same host and port. Used by the catalogue before an add, and by a Save that applies
// our additions again over another program's file.

#include "records/records.h"

namespace vantrel {

class DeviceStore;

// Why a device (or organization) was or was not added.
enum class AddOutcome {
    None,                   // added
    UnknownOrganization,    // its organization (or the parent of a new organization) is not there
    DuplicateName,          // a device of that name is there
    DuplicateAddress,       // a device with that address and port is there
    DuplicateDdns,          // a device with those DDNS settings is there
    DuplicateOrganization,  // the parent has an organization of that name
    StoreFailed,            // the database did not take it (no store, unusable counter, out of memory...)
};

// The operator's text of the outcome, the same in a message box, the Add summary and vantrel-devices:
// "The name of this device has existed!", "IP or domain name of this device has existed!", "The settings of
// DDNS has existed!", "XML failed!", ...; empty for None.
const char* AddOutcomeText(AddOutcome outcome);

// DuplicateName, DuplicateDdns or DuplicateAddress when the store already holds such a device, None otherwise.
AddOutcome FindDuplicateDevice(DeviceStore& store, const DeviceRecord& record);

}  // namespace vantrel
