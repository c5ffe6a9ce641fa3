// Compiles: the catalogue's users may include what the XML library makes public.
#include "xml/xml_node_ref.h"

int main() {
    return vantrel::XmlNodeRef().IsValid() ? 1 : 0;
}
