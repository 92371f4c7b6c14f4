// Opens the output DASHARD_OUTPUT names through the libdashard at the path given, as an installed
// program binds it, and prints DasCall's result after what the library says on stderr.
#include "dashard.h"

#include <cstdio>
#include <dlfcn.h>

int main(int, char **argv)
{
    void *library = dlopen(argv[1], RTLD_NOW);
    const auto call
        = library ? reinterpret_cast<decltype(&DasCall)>(dlsym(library, "DasCall")) : nullptr;
    if (!call)
        return std::fprintf(stderr, "%s\n", dlerror()), 2;
    std::printf("%d\n", call(DAS_CMD_OPEN, 0, nullptr));
}
