#include "ws_discovery_xml.h"

#include <expat.h>

#include <climits>
#include <memory>

namespace vantrel::wsd {
namespace {

// expat joins a namespace URI and a local name with this; URIs hold no spaces
constexpr char kNamespaceSeparator = ' ';

QualifiedName SplitName(const XML_Char* name) {
    const std::string_view whole = name;
    const std::size_t separator = whole.find(kNamespaceSeparator);
    if (separator == std::string_view::npos) {
        return {{}, whole};
    }
    return {whole.substr(0, separator), whole.substr(separator + 1)};
}

struct ParserDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

struct Run {
    XML_Parser parser;
    SoapHandler& handler;
    NamespaceScope scope;
    std::string text;
    bool sawDoctype = false;
};

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char**) {
    Run& run = *static_cast<Run*>(data);
    run.text.clear();
    run.handler.Start(SplitName(name));
}

void XMLCALL OnEnd(void* data, const XML_Char*) {
    Run& run = *static_cast<Run*>(data);
    run.handler.End(Trimmed(run.text), run.scope);
    run.text.clear();
}

void XMLCALL OnText(void* data, const XML_Char* text, int length) {
    static_cast<Run*>(data)->text.append(text, static_cast<std::size_t>(length));
}

void XMLCALL OnNamespaceStart(void* data, const XML_Char* prefix, const XML_Char* uri) {
    static_cast<Run*>(data)->scope.Bind(prefix == nullptr ? "" : prefix, uri == nullptr ? "" : uri);
}

void XMLCALL OnNamespaceEnd(void* data, const XML_Char* prefix) {
    static_cast<Run*>(data)->scope.Unbind(prefix == nullptr ? "" : prefix);
}

void XMLCALL OnDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    Run& run = *static_cast<Run*>(data);
    run.sawDoctype = true;
    XML_StopParser(run.parser, XML_FALSE);
}

}  // namespace

bool IsSoapEnvelope(std::string_view uri) {
    return uri == kSoap12Namespace || uri == kSoap11Namespace;
}

bool IsAddressing(std::string_view uri) {
    return uri == kAddressingNamespace || uri == kAddressing2005Namespace;
}

void NamespaceScope::Unbind(std::string_view prefix) {
    for (auto it = bindings_.rbegin(); it != bindings_.rend(); ++it) {
        if (it->first == prefix) {
            bindings_.erase(std::next(it).base());
            return;
        }
    }
}

bool NamespaceScope::Resolve(std::string_view prefix, std::string& uri) const {
    for (auto it = bindings_.rbegin(); it != bindings_.rend(); ++it) {
        if (it->first == prefix) {
            uri = it->second;
            return true;
        }
    }
    return false;
}

bool ReadSoap(const unsigned char* data, std::size_t size, SoapHandler& handler) {
    if (size > static_cast<std::size_t>(INT_MAX)) {
        return false;
    }
    const std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(XML_ParserCreateNS(nullptr, kNamespaceSeparator));
    if (!parser) {
        return false;
    }
    Run run{parser.get(), handler, {}, {}};
    XML_SetUserData(parser.get(), &run);
    XML_SetElementHandler(parser.get(), OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser.get(), OnText);
    XML_SetNamespaceDeclHandler(parser.get(), OnNamespaceStart, OnNamespaceEnd);
    XML_SetStartDoctypeDeclHandler(parser.get(), OnDoctype);
    XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);
    const XML_Status status =
        XML_Parse(parser.get(), reinterpret_cast<const char*>(data), static_cast<int>(size), XML_TRUE);
    return status == XML_STATUS_OK && !run.sawDoctype;
}

std::string EscapeXmlText(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '&') {
            escaped += "&amp;";
        } else if (c == '<') {
            escaped += "&lt;";
        } else if (c == '>') {
            escaped += "&gt;";
        } else {
            escaped += c;
        }
    }
    return escaped;
}

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsXmlSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsXmlSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::vector<std::string> SplitList(std::string_view text) {
    std::vector<std::string> items;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsXmlSpace(text[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < text.size() && !IsXmlSpace(text[i])) {
            ++i;
        }
        if (i > start) {
            items.emplace_back(text.substr(start, i - start));
        }
    }
    return items;
}

}  // namespace vantrel::wsd
