#include "discovery/ws_discovery_device.h"

#include "ws_discovery_xml.h"

namespace vantrel {
namespace {

using namespace wsd;

enum class Element { kOther, kEnvelope, kHeader, kBody, kMessageId, kProbe, kTypes };

Element ChildOf(Element parent, QualifiedName name) {
    switch (parent) {
        case Element::kEnvelope:
            if (!IsSoapEnvelope(name.uri)) {
                return Element::kOther;
            }
            return name.local == "Header" ? Element::kHeader : name.local == "Body" ? Element::kBody : Element::kOther;
        case Element::kHeader:
            return IsAddressing(name.uri) && name.local == "MessageID" ? Element::kMessageId : Element::kOther;
        case Element::kBody:
            return name.uri == kDiscoveryNamespace && name.local == "Probe" ? Element::kProbe : Element::kOther;
        case Element::kProbe:
            return name.uri == kDiscoveryNamespace && name.local == "Types" ? Element::kTypes : Element::kOther;
        default:
            return Element::kOther;
    }
}

class ProbeReader : public SoapHandler {
public:
    explicit ProbeReader(WsDiscoveryProbe& probe) : probe_(probe) {}

    void Start(QualifiedName name) override {
        if (stack_.empty()) {
            stack_.push_back(IsSoapEnvelope(name.uri) && name.local == "Envelope" ? Element::kEnvelope
                                                                                  : Element::kOther);
        } else {
            stack_.push_back(ChildOf(stack_.back(), name));
        }
        sawProbe_ = sawProbe_ || stack_.back() == Element::kProbe;
    }

    void End(std::string_view text, const NamespaceScope& scope) override {
        const Element element = stack_.back();
        stack_.pop_back();
        if (element == Element::kMessageId && probe_.messageId.empty()) {
            probe_.messageId = std::string(text);
        } else if (element == Element::kTypes) {
            ReadTypes(text, scope);
        }
    }

    bool Complete() const { return sawProbe_ && !probe_.messageId.empty() && typesBound_; }

private:
    void ReadTypes(std::string_view text, const NamespaceScope& scope) {
        for (const std::string& type : SplitList(text)) {
            const std::size_t colon = type.find(':');
            const std::string prefix = colon == std::string::npos ? "" : type.substr(0, colon);
            std::string uri;
            if (!scope.Resolve(prefix, uri) && !prefix.empty()) {
                typesBound_ = false;
            }
            probe_.types.emplace_back(uri, colon == std::string::npos ? type : type.substr(colon + 1));
        }
    }

    WsDiscoveryProbe& probe_;
    std::vector<Element> stack_;
    bool sawProbe_ = false;
    bool typesBound_ = true;
};

std::string PercentEncoded(const std::string& value, bool keepSlashes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : value) {
        const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~' || (keepSlashes && c == '/');
        if (unreserved) {
            encoded += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            encoded += {'%', kDigits[byte >> 4], kDigits[byte & 0xF]};
        }
    }
    return encoded;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string all;
    for (const std::string& item : items) {
        all += (all.empty() ? "" : " ") + EscapeXmlText(item);
    }
    return all;
}

std::vector<std::string> ScopesOf(const OnvifMatch& device) {
    const std::string prefix = "onvif://www.onvif.org/";
    std::vector<std::string> scopes = {prefix + "type/video_encoder", prefix + "Profile/Streaming"};
    const std::pair<const char*, const std::string*> named[] = {{"name/", &device.name},
                                                                {"hardware/", &device.model},
                                                                {"location/", &device.location},
                                                                {"MAC/", &device.mac},
                                                                {"serial/", &device.serial}};
    for (const auto& [category, value] : named) {
        if (!value->empty()) {
            scopes.push_back(prefix + category + PercentEncoded(*value, value == &device.location));
        }
    }
    scopes.insert(scopes.end(), device.scopes.begin(), device.scopes.end());
    return scopes;
}

}  // namespace

bool ParseWsDiscoveryProbe(const unsigned char* data, std::size_t size, WsDiscoveryProbe& probe) {
    probe = WsDiscoveryProbe{};
    ProbeReader reader(probe);
    return size <= kMaxWsDiscoveryDatagram && ReadSoap(data, size, reader) && reader.Complete();
}

bool ProbeAsksForOnvifCamera(const WsDiscoveryProbe& probe) {
    for (const auto& [uri, local] : probe.types) {
        const bool transmitter = uri == kNetworkWsdlNamespace && local == "NetworkVideoTransmitter";
        const bool device = uri == kDeviceWsdlNamespace && local == "Device";
        if (!transmitter && !device) {
            return false;
        }
    }
    return true;
}

std::string BuildWsDiscoveryProbeMatches(const std::string& relatesTo, const OnvifMatch& device) {
    const std::vector<std::string> types =
        device.types.empty() ? std::vector<std::string>{"dn:NetworkVideoTransmitter", "tds:Device"} : device.types;
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") + "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"" +
           kSoap12Namespace + "\" xmlns:wsa=\"" + kAddressingNamespace + "\" xmlns:d=\"" + kDiscoveryNamespace +
           "\" xmlns:dn=\"" + kNetworkWsdlNamespace + "\" xmlns:tds=\"" + kDeviceWsdlNamespace + "\">" +
           "<SOAP-ENV:Header><wsa:MessageID>" + NewWsDiscoveryMessageId() + "</wsa:MessageID><wsa:RelatesTo>" +
           EscapeXmlText(relatesTo) + "</wsa:RelatesTo><wsa:To SOAP-ENV:mustUnderstand=\"true\">" +
           kAddressingNamespace + "/role/anonymous</wsa:To><wsa:Action SOAP-ENV:mustUnderstand=\"true\">" +
           kDiscoveryNamespace + "/ProbeMatches</wsa:Action></SOAP-ENV:Header>" +
           "<SOAP-ENV:Body><d:ProbeMatches><d:ProbeMatch><wsa:EndpointReference><wsa:Address>" +
           EscapeXmlText(device.endpoint) + "</wsa:Address></wsa:EndpointReference><d:Types>" + Joined(types) +
           "</d:Types><d:Scopes>" + Joined(ScopesOf(device)) + "</d:Scopes><d:XAddrs>" + Joined(device.xaddrs) +
           "</d:XAddrs><d:MetadataVersion>1</d:MetadataVersion></d:ProbeMatch></d:ProbeMatches></SOAP-ENV:Body>" +
           "</SOAP-ENV:Envelope>";
}

}  // namespace vantrel
