// The few C runtime routines the compiler may call on its own (structure
// copies and clears). The program links no C runtime, so it brings them.
#include <stddef.h>

extern "C" {

void* memset(void* destination, int value, size_t bytes) {
    unsigned char* out = (unsigned char*)destination;
    while (bytes-- != 0)
        *out++ = (unsigned char)value;
    return destination;
}

void* memcpy(void* destination, const void* source, size_t bytes) {
    unsigned char* out = (unsigned char*)destination;
    const unsigned char* in = (const unsigned char*)source;
    while (bytes-- != 0)
        *out++ = *in++;
    return destination;
}

void* memmove(void* destination, const void* source, size_t bytes) {
    unsigned char* out = (unsigned char*)destination;
    const unsigned char* in = (const unsigned char*)source;
    if (out < in) {
        while (bytes-- != 0)
            *out++ = *in++;
    } else {
        while (bytes != 0) {
            --bytes;
            out[bytes] = in[bytes];
        }
    }
    return destination;
}
}
