// vk_empty_hive FILE: writes an empty registry hive (tests/offline/empty_hive.h),
// for the scripts that fill one with a registry exported from Wine.
#include "offline/empty_hive.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vk_empty_hive FILE\n");
        return 87;
    }
    if (!OfflineSupport::WriteEmptyHive(argv[1])) {
        std::fprintf(stderr, "vk_empty_hive: %s cannot be written\n", argv[1]);
        return 1;
    }
    return 0;
}
