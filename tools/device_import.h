#pragma once

// vantrel-devices import: a site plan applied to the database as one change.

#include <string>

namespace vantrel {

class DeviceCatalogue;
class DeviceStore;

struct ImportOptions {
    bool dryRun = false;  // print what would change, write nothing
    bool newKey = false;  // a missing key file may be replaced by a new key
};

// Reads and checks the whole plan before anything changes (each bad row is printed with its line, exit status 1),
// then adds, changes and leaves alone as the plan says and saves once; a plan that changes nothing writes
// nothing. Exit status: 0, 1 for a plan that cannot be read or has bad rows, 2 when the database cannot be
// written.
int ImportPlanFile(DeviceStore& store, DeviceCatalogue& catalogue, const std::string& planPath,
                   const ImportOptions& options);

}  // namespace vantrel
