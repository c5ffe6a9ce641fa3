// Must not compile: the XML library's node record is its own.
#include "xml_node.h"

int main() {
    return 0;
}
