#pragma once

// Everything one run of the program shares: where its files are, the device database, the catalogue over
// it and where messages for the operator go. main builds one and hands it to the windows by reference;
// tests and benchmarks build their own over a temporary folder.
//
//     ProgramContext context(PathsBesideProgram());
//     context.SetMessageSink([](const char* text) { ... show it ... });
//     DeviceCatalogue* catalogue = context.Catalogue();  // opens the store on first use
//     catalogue->LoadAll();

#include <functional>
#include <memory>
#include <string>

#include "catalogue/device_catalogue.h"
#include "paths/program_paths.h"
#include "store/device_store.h"

namespace vantrel {

class ProgramContext {
public:
    // Makes the store that Store() opens; the default opens the XML store on paths.DatabasePath().
    using StoreFactory = std::function<std::unique_ptr<DeviceStore>(const ProgramPaths& paths)>;

    explicit ProgramContext(ProgramPaths paths, StoreFactory storeFactory = nullptr);
    // Releases the catalogue and the store, unsaved.
    ~ProgramContext();

    ProgramContext(const ProgramContext&) = delete;
    ProgramContext& operator=(const ProgramContext&) = delete;

    const ProgramPaths& Paths() const { return paths_; }

    // Where the catalogue's messages for the operator go; without a sink they go to standard error.
    void SetMessageSink(CatalogueMessageSink sink) { sink_ = std::move(sink); }
    void Tell(const char* text) const;

    // The store, opened on the first call; null when it cannot be made (a later call tries again).
    DeviceStore* Store();
    // Destroys the store without saving; the next Store() opens the file again.
    void ReleaseStore();

    // The catalogue over Store(), created empty on the first call; null when it cannot be allocated.
    DeviceCatalogue* Catalogue();
    // Destroys the catalogue and with it the store, unsaved; nothing when there is none.
    void ReleaseCatalogue();

private:
    ProgramPaths paths_;
    StoreFactory storeFactory_;
    CatalogueMessageSink sink_;
    std::unique_ptr<DeviceStore> store_;
    std::unique_ptr<DeviceCatalogue> catalogue_;
};

}  // namespace vantrel
