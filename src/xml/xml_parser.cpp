#include "xml/xml_parser.h"

namespace vantrel {

const char* XmlParse(char* text, XmlNode* parent, std::int32_t, std::uint32_t) {
    (void)parent;
    return text;
}

}  // namespace vantrel
