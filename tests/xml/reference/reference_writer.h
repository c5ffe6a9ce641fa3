#pragma once

// The writer as it stood before it was made faster; see reference_writer.cpp.

#include <string>

#include "xml/xml_writer.h"

namespace vantrel::reference {

bool XmlWriteReference(XmlSink& sink, XmlNodeRef node, XmlLayout layout, XmlLineEnd lineEnd);

// The bytes XmlWriteReference gives (up to where it failed); ok, when given, tells whether it succeeded.
std::string XmlWriteToStringReference(XmlNodeRef node, XmlLayout layout, XmlLineEnd lineEnd, bool* ok = nullptr);

}  // namespace vantrel::reference
