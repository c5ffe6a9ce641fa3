#pragma once

// What the WS-Discovery parsers share: the namespaces, expat run with namespace processing and without document
// types, and the whitespace-separated lists of the messages.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel::wsd {

inline constexpr const char* kSoap12Namespace = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr const char* kSoap11Namespace = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr const char* kAddressingNamespace = "http://schemas.xmlsoap.org/ws/2004/08/addressing";
inline constexpr const char* kAddressing2005Namespace = "http://www.w3.org/2005/08/addressing";
inline constexpr const char* kDiscoveryNamespace = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
inline constexpr const char* kNetworkWsdlNamespace = "http://www.onvif.org/ver10/network/wsdl";
inline constexpr const char* kDeviceWsdlNamespace = "http://www.onvif.org/ver10/device/wsdl";

struct QualifiedName {
    std::string_view uri;  // empty when the element has no namespace
    std::string_view local;
};

// SOAP 1.2, and 1.1 as some devices answer in it.
bool IsSoapEnvelope(std::string_view uri);
// WS-Addressing 2004/08, and 2005/08 as some devices answer in it.
bool IsAddressing(std::string_view uri);

// The prefixes bound where an element ends, for reading QName lists such as Types.
class NamespaceScope {
public:
    void Bind(std::string prefix, std::string uri) { bindings_.emplace_back(std::move(prefix), std::move(uri)); }
    void Unbind(std::string_view prefix);
    // The URI bound to prefix ("" for the default namespace); false when it is not bound.
    bool Resolve(std::string_view prefix, std::string& uri) const;

private:
    std::vector<std::pair<std::string, std::string>> bindings_;
};

// Receives the elements of a message in document order.
class SoapHandler {
public:
    virtual ~SoapHandler() = default;
    virtual void Start(QualifiedName name) = 0;
    // text: the character data since the element's last child began or ended, blanks trimmed (for a leaf element,
    // its content).
    virtual void End(std::string_view text, const NamespaceScope& scope) = 0;
};

// Runs expat over the datagram with namespace processing. False when it is not well-formed XML, or declares a
// document type: a datagram has no business doing so, and refusing it keeps entity expansion out entirely.
bool ReadSoap(const unsigned char* data, std::size_t size, SoapHandler& handler);

// Character data for a message: '&', '<' and '>' escaped.
std::string EscapeXmlText(std::string_view text);

bool IsXmlSpace(char c);
std::string_view Trimmed(std::string_view text);
// Splits a list at blanks, tabs and line breaks.
std::vector<std::string> SplitList(std::string_view text);

}  // namespace vantrel::wsd
