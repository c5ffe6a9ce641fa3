#include "context/program_context.h"

#include <cstdio>
#include <new>

#include "password/password.h"
#include "store/xml_device_store.h"

namespace vantrel {
namespace {

ProgramContext* gCurrent = nullptr;

std::unique_ptr<DeviceStore> OpenXmlStore(const ProgramPaths& paths) {
    auto store = std::make_unique<XmlDeviceStore>(paths.DatabasePath());
    // callers of the three-argument cipher calls use the same key as the store
    SetPasswordKeyFile(store->KeyPath());
    return store;
}

}  // namespace

ProgramContext::ProgramContext(ProgramPaths paths, StoreFactory storeFactory)
    : paths_(std::move(paths)), storeFactory_(storeFactory ? std::move(storeFactory) : StoreFactory(&OpenXmlStore)) {}

ProgramContext::~ProgramContext() {
    ReleaseCatalogue();
    ReleaseStore();
    if (gCurrent == this) {
        gCurrent = nullptr;
    }
}

void ProgramContext::Tell(const char* text) const {
    if (sink_) {
        sink_(text);
    } else {
        std::fprintf(stderr, "%s\n", text);
    }
}

DeviceStore* ProgramContext::Store() {
    if (store_ == nullptr) {
        try {
            store_ = storeFactory_(paths_);
        } catch (const std::bad_alloc&) {
            store_.reset();
        }
    }
    return store_.get();
}

void ProgramContext::ReleaseStore() {
    store_.reset();
}

DeviceCatalogue* ProgramContext::Catalogue() {
    if (catalogue_ == nullptr) {
        StoreAccess access{[this] { return Store(); }, [this] { ReleaseStore(); }};
        catalogue_.reset(new (std::nothrow)
                             DeviceCatalogue(std::move(access), [this](const char* text) { Tell(text); }));
    }
    return catalogue_.get();
}

void ProgramContext::ReleaseCatalogue() {
    catalogue_.reset();
}

void SetCurrentContext(ProgramContext* context) {
    gCurrent = context;
}

ProgramContext& CurrentContext() {
    if (gCurrent == nullptr) {
        // lives to the end of the process, like the program's own context would
        static ProgramContext besideProgram(PathsBesideProgram());
        gCurrent = &besideProgram;
    }
    return *gCurrent;
}

DeviceStore* GetDeviceStore() {
    return CurrentContext().Store();
}

void ReleaseDeviceStore() {
    CurrentContext().ReleaseStore();
}

DeviceCatalogue* GetCatalogue() {
    return CurrentContext().Catalogue();
}

void ReleaseCatalogue() {
    CurrentContext().ReleaseCatalogue();
}

}  // namespace vantrel
