#include "context/program_context.h"

#include <cstdio>
#include <new>

#include "store/xml_device_store.h"

namespace vantrel {
namespace {

std::unique_ptr<DeviceStore> OpenXmlStore(const ProgramPaths& paths) {
    return std::make_unique<XmlDeviceStore>(paths.DatabasePath());
}

}  // namespace

ProgramContext::ProgramContext(ProgramPaths paths, StoreFactory storeFactory)
    : paths_(std::move(paths)), storeFactory_(storeFactory ? std::move(storeFactory) : StoreFactory(&OpenXmlStore)) {}

ProgramContext::~ProgramContext() {
    ReleaseCatalogue();
    ReleaseStore();
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

}  // namespace vantrel
