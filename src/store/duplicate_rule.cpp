#include "store/duplicate_rule.h"

#include "store/device_store.h"

namespace vantrel {

const char* AddOutcomeText(AddOutcome outcome) {
    switch (outcome) {
        case AddOutcome::None:
            return "";
        case AddOutcome::UnknownOrganization:
            return "The organization of this device does not exist!";
        case AddOutcome::DuplicateName:
            return "The name of this device has existed!";
        case AddOutcome::DuplicateAddress:
            return "IP or domain name of this device has existed!";
        case AddOutcome::DuplicateDdns:
            return "The settings of DDNS has existed!";
        case AddOutcome::DuplicateOrganization:
            return "The name of this organization has existed!";
        case AddOutcome::StoreFailed:
            break;
    }
    return "XML failed!";
}

AddOutcome FindDuplicateDevice(DeviceStore& store, const DeviceRecord& record) {
    if (store.FindDeviceByName(record.name) != 0) {
        return AddOutcome::DuplicateName;
    }
    if (record.ddnsFlag != 0) {
        return store.FindDeviceByDdns(record.host, record.ddnsHost, record.ddnsPort) != 0 ? AddOutcome::DuplicateDdns
                                                                                          : AddOutcome::None;
    }
    return store.FindDeviceByAddress(record.host, record.port) != 0 ? AddOutcome::DuplicateAddress : AddOutcome::None;
}

}  // namespace vantrel
