#pragma once

// The parser as it stood before it was made faster; see reference_parser.cpp.

#include "xml_parser.h"

namespace vantrel::reference {

XmlParseResult XmlParseReference(char* text, XmlNode* parent, std::int32_t growthStep, std::uint32_t options);

}  // namespace vantrel::reference
