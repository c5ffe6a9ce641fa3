// Must not compile: the store's database file is the store's own; its users reach it through XmlDeviceStore.
#include "database_file.h"

int main() {
    return 0;
}
