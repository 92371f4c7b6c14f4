// Loads the libdashard at the path given, as an installed program would bind it, opens the output
// DASHARD_OUTPUT names and prints DasCall's result; what the library says goes to stderr first.
#include "dashard.h"

#include <cstdio>
#include <dlfcn.h>

int main(int argc, char **argv)
{
    void *library = argc == 2 ? dlopen(argv[1], RTLD_NOW | RTLD_LOCAL) : nullptr;
    const auto call
        = library ? reinterpret_cast<decltype(&DasCall)>(dlsym(library, "DasCall")) : nullptr;
    if (!call) {
        std::fprintf(stderr, "usage: das_open_probe LIBDASHARD (%s)\n", dlerror());
        return 2;
    }
    std::printf("%d\n", call(DAS_CMD_OPEN, 0, nullptr));
}
