#include <cstdio>

int main() {
    std::puts("Vantrel: the search window is not built yet.");
    return 0;
}
