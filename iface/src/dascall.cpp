// The C entry of libdashard: the only symbol the library exports.
#include "dashard.h"
#include "dispatcher.h"

extern "C" DAS_API int32_t DasCall(int32_t command, int32_t length, uint8_t *buffer)
{
    // Nothing may unwind into a C caller.
    try {
        return das::libraryCall(command, length, buffer);
    } catch (...) {
        return DAS_E_INTERNAL;
    }
}
