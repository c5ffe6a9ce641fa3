// Compiles: the catalogue's users may include what the XML library and the store make public, and the store's
// facade needs none of its internals.
#include "store/xml_device_store.h"
#include "xml/xml_node_ref.h"

int main() {
    return vantrel::XmlNodeRef().IsValid() ? 1 : 0;
}
