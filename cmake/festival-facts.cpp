// Prints Festival's version and data folder as the archive linked into our Festival
// library holds them, so that voices are listed without mapping that library.
#include <festival.h>

#include <cstdio>

int main() {
    std::printf("%s\n%s\n", festival_version, festival_libdir);
    return 0;
}
