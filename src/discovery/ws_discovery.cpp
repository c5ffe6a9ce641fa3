#include "discovery/ws_discovery.h"

#include <arpa/inet.h>
#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>

#include "mac_address.h"
#include "ws_discovery_xml.h"

namespace vantrel {
namespace {

using namespace wsd;

constexpr const char* kOnvifScopePrefix = "onvif://www.onvif.org/";

void FillRandom(unsigned char* bytes, std::size_t size) {
    std::size_t filled = 0;
    while (filled < size) {
        const ssize_t got = getrandom(bytes + filled, size - filled, 0);
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
        } else if (got < 0 && errno != EINTR) {
            break;
        }
    }
    if (filled < size) {
        std::random_device device;
        for (; filled < size; ++filled) {
            bytes[filled] = static_cast<unsigned char>(device());
        }
    }
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// Length of the valid UTF-8 sequence starting at text[i], or 0 when it is not one (overlong forms, surrogates
// and values past U+10FFFF included).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char first = byte(i);
    if (first < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        low = first == 0xE0 ? 0xA0 : 0x80;
        high = first == 0xED ? 0x9F : 0xBF;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        low = first == 0xF0 ? 0x90 : 0x80;
        high = first == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) {
        return 0;
    }
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) {
            return 0;
        }
    }
    return length;
}

// Decoded scope values end up in the window, CSV and JSON: control characters go, bytes that are not UTF-8
// become U+FFFD.
std::string PercentDecoded(std::string_view value) {
    std::string bytes;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '%' && i + 2 < value.size() && HexDigitValue(value[i + 1]) >= 0 &&
            HexDigitValue(value[i + 2]) >= 0) {
            bytes += static_cast<char>(HexDigitValue(value[i + 1]) * 16 + HexDigitValue(value[i + 2]));
            i += 2;
        } else {
            bytes += value[i];
        }
    }
    std::string text;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = Utf8SequenceLength(bytes, i);
        if (length == 0) {
            text += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        const unsigned char first = static_cast<unsigned char>(bytes[i]);
        if (length > 1 || (first >= 0x20 && first != 0x7F)) {
            text.append(bytes, i, length);
        }
        i += length;
    }
    return text;
}

void SetOnce(std::string& field, std::string value) {
    if (field.empty()) {
        field = std::move(value);
    }
}

void ApplyScope(std::string_view scope, OnvifMatch& match) {
    const std::string_view prefix = kOnvifScopePrefix;
    if (scope.size() <= prefix.size() || !EqualsNoCase(scope.substr(0, prefix.size()), prefix)) {
        return;
    }
    const std::string_view path = scope.substr(prefix.size());
    const std::size_t slash = path.find('/');
    if (slash == std::string_view::npos) {
        return;
    }
    const std::string_view category = path.substr(0, slash);
    const std::string_view rest = path.substr(slash + 1);
    const std::string_view segment = rest.substr(0, rest.find('/'));
    if (EqualsNoCase(category, "location")) {
        SetOnce(match.location, PercentDecoded(rest));
    } else if (EqualsNoCase(category, "name")) {
        SetOnce(match.name, PercentDecoded(segment));
    } else if (EqualsNoCase(category, "hardware")) {
        SetOnce(match.model, PercentDecoded(segment));
    } else if (EqualsNoCase(category, "mac")) {
        SetOnce(match.mac, NormalisedMac(PercentDecoded(segment)));
    } else if (EqualsNoCase(category, "serial") || EqualsNoCase(category, "serialnumber")) {
        SetOnce(match.serial, PercentDecoded(segment));
    }
}

// Where an element stands in a ProbeMatches; everything else is kOther and ignored with all it contains.
enum class Element {
    kOther,
    kEnvelope,
    kHeader,
    kBody,
    kRelatesTo,
    kProbeMatches,
    kProbeMatch,
    kEndpointReference,
    kAddress,
    kTypes,
    kScopes,
    kXAddrs
};

Element ChildOf(Element parent, QualifiedName name) {
    const bool discovery = name.uri == kDiscoveryNamespace;
    switch (parent) {
        case Element::kEnvelope:
            if (IsSoapEnvelope(name.uri)) {
                return name.local == "Header" ? Element::kHeader
                       : name.local == "Body" ? Element::kBody
                                              : Element::kOther;
            }
            return Element::kOther;
        case Element::kHeader:
            return IsAddressing(name.uri) && name.local == "RelatesTo" ? Element::kRelatesTo : Element::kOther;
        case Element::kBody:
            return discovery && name.local == "ProbeMatches" ? Element::kProbeMatches : Element::kOther;
        case Element::kProbeMatches:
            return discovery && name.local == "ProbeMatch" ? Element::kProbeMatch : Element::kOther;
        case Element::kProbeMatch:
            if (IsAddressing(name.uri) && name.local == "EndpointReference") {
                return Element::kEndpointReference;
            }
            if (!discovery) {
                return Element::kOther;
            }
            return name.local == "Types"    ? Element::kTypes
                   : name.local == "Scopes" ? Element::kScopes
                   : name.local == "XAddrs" ? Element::kXAddrs
                                            : Element::kOther;
        case Element::kEndpointReference:
            return IsAddressing(name.uri) && name.local == "Address" ? Element::kAddress : Element::kOther;
        default:
            return Element::kOther;
    }
}

// Collects a ProbeMatches, element by element.
class ProbeMatchesReader : public SoapHandler {
public:
    void Start(QualifiedName name) override {
        Element element = Element::kOther;
        if (stack_.empty()) {
            element = IsSoapEnvelope(name.uri) && name.local == "Envelope" ? Element::kEnvelope : Element::kOther;
        } else {
            element = ChildOf(stack_.back(), name);
        }
        if (element == Element::kProbeMatches) {
            sawProbeMatches_ = true;
        } else if (element == Element::kProbeMatch) {
            current_ = OnvifMatch{};
            currentBad_ = ++matchesSeen_ > kMaxProbeMatchesPerDatagram;
        }
        stack_.push_back(element);
    }

    void End(std::string_view text, const NamespaceScope&) override {
        const Element element = stack_.back();
        stack_.pop_back();
        switch (element) {
            case Element::kRelatesTo:
                if (!sawRelatesTo_) {
                    sawRelatesTo_ = true;
                    reply_.relatesTo = std::string(text);
                }
                break;
            case Element::kAddress:
                current_.endpoint = std::string(text);
                break;
            case Element::kTypes:
                current_.types = SplitList(text);
                break;
            case Element::kScopes:
                current_.scopes = SplitList(text);
                break;
            case Element::kXAddrs:
                current_.xaddrs = SplitList(text);
                break;
            case Element::kProbeMatch:
                FinishMatch();
                break;
            default:
                break;
        }
    }

    bool SawProbeMatches() const { return sawProbeMatches_; }
    const WsDiscoveryReply& Reply() const { return reply_; }
    WsDiscoveryReply& Reply() { return reply_; }

private:
    void FinishMatch() {
        if (currentBad_ || current_.endpoint.empty() || current_.scopes.size() > kMaxScopesPerMatch) {
            ++reply_.badMatches;
            return;
        }
        for (const std::string& scope : current_.scopes) {
            ApplyScope(scope, current_);
        }
        reply_.matches.push_back(std::move(current_));
    }

    std::vector<Element> stack_;
    OnvifMatch current_;
    bool currentBad_ = false;
    std::size_t matchesSeen_ = 0;
    bool sawProbeMatches_ = false;
    bool sawRelatesTo_ = false;
    WsDiscoveryReply reply_;
};

WsDiscoveryVerdict VerdictOf(const ProbeMatchesReader& reader,
                             const std::function<bool(std::string_view messageId)>& isOurs) {
    const WsDiscoveryReply& reply = reader.Reply();
    if (!reader.SawProbeMatches()) {
        return WsDiscoveryVerdict::kNotProbeMatches;
    }
    if (reply.relatesTo.empty() || !isOurs || !isOurs(reply.relatesTo)) {
        return WsDiscoveryVerdict::kNotOurs;
    }
    return reply.matches.empty() ? WsDiscoveryVerdict::kNoMatch : WsDiscoveryVerdict::kAccepted;
}

// "host" of "scheme://[user@]host[:port][/path]"; the bracketed form of an IPv6 host keeps its brackets.
std::string_view HostOfUrl(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        return {};
    }
    std::string_view authority = url.substr(scheme + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    if (!authority.empty() && authority.front() == '[') {
        return authority.substr(0, authority.find(']') + 1);
    }
    return authority.substr(0, authority.find(':'));
}

}  // namespace

std::vector<std::string> SenderFirst(const std::vector<std::string>& xaddrs, std::uint32_t sender) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr address{};
    address.s_addr = sender;
    inet_ntop(AF_INET, &address, text, sizeof text);
    std::vector<std::string> ordered = xaddrs;
    std::stable_partition(ordered.begin(), ordered.end(),
                          [&](const std::string& url) { return HostOfUrl(url) == std::string_view(text); });
    return ordered;
}

std::string NewWsDiscoveryMessageId() {
    unsigned char bytes[16];
    FillRandom(bytes, sizeof bytes);
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    char text[64];
    std::snprintf(text, sizeof text, "urn:uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9],
                  bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

std::string BuildWsDiscoveryProbe(const std::string& messageId, WsDiscoveryType type) {
    const bool device = type == WsDiscoveryType::kDevice;
    const std::string typePrefix = device ? "tds" : "dn";
    const std::string typeNamespace = device ? kDeviceWsdlNamespace : kNetworkWsdlNamespace;
    const std::string typeName = device ? "Device" : "NetworkVideoTransmitter";
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") + "<s:Envelope xmlns:s=\"" + kSoap12Namespace +
           "\" xmlns:a=\"" + kAddressingNamespace + "\" xmlns:d=\"" + kDiscoveryNamespace + "\" xmlns:" + typePrefix +
           "=\"" + typeNamespace + "\">" + "<s:Header><a:Action s:mustUnderstand=\"1\">" + kDiscoveryNamespace +
           "/Probe</a:Action>" + "<a:MessageID>" + EscapeXmlText(messageId) + "</a:MessageID>" +
           "<a:ReplyTo><a:Address>" + kAddressingNamespace + "/role/anonymous</a:Address></a:ReplyTo>" +
           "<a:To s:mustUnderstand=\"1\">urn:schemas-xmlsoap-org:ws:2005:04:discovery</a:To></s:Header>" +
           "<s:Body><d:Probe><d:Types>" + typePrefix + ":" + typeName + "</d:Types></d:Probe></s:Body>" +
           "</s:Envelope>";
}

bool LooksLikeWsDiscovery(const unsigned char* data, std::size_t size) {
    std::size_t i = 0;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        i = 3;
    }
    while (i < size && IsXmlSpace(static_cast<char>(data[i]))) {
        ++i;
    }
    return i < size && data[i] == '<';
}

WsDiscoveryReply ParseWsDiscoveryReply(const unsigned char* data, std::size_t size,
                                       const std::function<bool(std::string_view messageId)>& isOurs) {
    WsDiscoveryReply refused;
    if (size > kMaxWsDiscoveryDatagram) {
        refused.verdict = WsDiscoveryVerdict::kTooLarge;
        return refused;
    }
    ProbeMatchesReader reader;
    if (!ReadSoap(data, size, reader)) {
        return refused;
    }
    const WsDiscoveryVerdict verdict = VerdictOf(reader, isOurs);
    WsDiscoveryReply reply = std::move(reader.Reply());
    reply.verdict = verdict;
    if (verdict != WsDiscoveryVerdict::kAccepted) {
        reply.matches.clear();
    }
    return reply;
}

const char* DescribeVerdict(WsDiscoveryVerdict verdict) {
    switch (verdict) {
        case WsDiscoveryVerdict::kAccepted:
            return "accepted";
        case WsDiscoveryVerdict::kTooLarge:
            return "too large";
        case WsDiscoveryVerdict::kNotXml:
            return "not XML";
        case WsDiscoveryVerdict::kNotProbeMatches:
            return "not a ProbeMatches";
        case WsDiscoveryVerdict::kNotOurs:
            return "not ours";
        case WsDiscoveryVerdict::kNoMatch:
            return "no valid match";
    }
    return "unknown";
}

}  // namespace vantrel
