#include "store/registered_reader.h"

#include <cerrno>
#include <cstring>

#include "records/records.h"
#include "records/text_field.h"
#include "store/store_condition.h"
#include "xml/xml_document.h"

namespace vantrel {
namespace {

RegisteredRead Refused(RegisteredReadStatus status, std::string problem) {
    RegisteredRead read;
    read.status = status;
    read.problem = std::move(problem);
    return read;
}

// The store's refusal for what was found, or for a damaged file the store's own words for the damage.
std::string Refusal(const std::string& path, const XmlLoadResult& result) {
    StoreCondition condition;
    condition.path = path;
    condition.file = result;
    condition.tooDeep = result.status == FileReadStatus::Read && result.depth > kMaxDocumentDepth;
    std::string refusal = DescribeSaveRefusal(condition);
    if (!refusal.empty() || !result.damaged) {
        return refusal;
    }
    return path + " is damaged (" + result.problem + " at byte " + std::to_string(result.problemOffset) +
           "): the devices registered after the damage cannot be known";
}

void VisitDevices(const XmlDocument& document, const RegisteredDeviceVisitor& each, std::uint32_t& visited) {
    XmlNodeRef devices = document.Root().FindDescendant("DATAROOT").FindDescendant("DEVINFO");
    char host[kTextFieldSize];
    char name[kTextFieldSize];
    for (std::uint32_t i = 0; i < devices.ChildCount(); ++i) {
        XmlNodeRef device = devices.Child(i);
        if (!device.NameIs("DEV")) {
            continue;
        }
        CopyToField(host, sizeof host, device.FindAttribute("host").ValueView());
        CopyToField(name, sizeof name, device.FindAttribute("name").ValueView());
        each(host, device.FindAttribute("port").ValueAsUnsigned(), name);
        ++visited;
    }
}

}  // namespace

RegisteredRead ReadRegisteredDevices(const std::string& databasePath, const RegisteredDeviceVisitor& each) {
    XmlDocument document;
    // parsed as the store parses it, so that both call the same files damaged
    document.SetParseOptions(XmlParseOptions::AllOptions & ~std::uint32_t{XmlParseOptions::StopAfterInternalSubset});
    XmlLoadResult result = document.LoadFile(databasePath.c_str(), kMaxXmlFileSize);
    if (result.status == FileReadStatus::Missing) {
        return Refused(RegisteredReadStatus::Missing,
                       "cannot read the database " + databasePath + ": " + std::strerror(ENOENT));
    }
    std::string refusal = Refusal(databasePath, result);
    if (!refusal.empty()) {
        return Refused(RegisteredReadStatus::Refused, refusal);
    }
    RegisteredRead read;
    read.status = RegisteredReadStatus::Read;
    VisitDevices(document, each, read.devices);
    return read;
}

}  // namespace vantrel
