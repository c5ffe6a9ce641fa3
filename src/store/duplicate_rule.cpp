#include "store/duplicate_rule.h"

#include "store/device_store.h"

namespace vantrel {

const char* DescribeAddOutcome(AddOutcome outcome) {
    switch (outcome) {
        case AddOutcome::None:
            return "added";
        case AddOutcome::UnknownOrganization:
            return "organization unknown";
        case AddOutcome::DuplicateName:
            return "duplicate name";
        case AddOutcome::DuplicateAddress:
            return "duplicate address";
        case AddOutcome::DuplicateDdns:
            return "duplicate DDNS settings";
        case AddOutcome::DuplicateOrganization:
            return "duplicate organization name";
        case AddOutcome::StoreFailed:
            break;
    }
    return "the database did not take it";
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
