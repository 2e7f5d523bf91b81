// The memory and string functions that the program calls or that the
// compiler emits calls to (structure copies, clearing arrays). Compiled with
// -fno-builtin and without loop-to-call conversion, so that none of them
// turns into a call to itself.
#include <cstring>

extern "C" {

void* memcpy(void* pvDest, const void* pvSrc, size_t cb) {
    auto* d = static_cast<unsigned char*>(pvDest);
    const auto* s = static_cast<const unsigned char*>(pvSrc);
    while (cb-- > 0) *d++ = *s++;
    return pvDest;
}

void* memmove(void* pvDest, const void* pvSrc, size_t cb) {
    auto* d = static_cast<unsigned char*>(pvDest);
    const auto* s = static_cast<const unsigned char*>(pvSrc);
    if (d < s) {
        while (cb-- > 0) *d++ = *s++;
    } else if (d > s) {
        while (cb-- > 0) d[cb] = s[cb];
    }
    return pvDest;
}

void* memset(void* pvDest, int iValue, size_t cb) {
    auto* d = static_cast<unsigned char*>(pvDest);
    while (cb-- > 0) *d++ = static_cast<unsigned char>(iValue);
    return pvDest;
}

int memcmp(const void* pv1, const void* pv2, size_t cb) {
    const auto* a = static_cast<const unsigned char*>(pv1);
    const auto* b = static_cast<const unsigned char*>(pv2);
    for (; cb > 0; --cb, ++a, ++b)
        if (*a != *b) return *a < *b ? -1 : 1;
    return 0;
}

size_t strlen(const char* psz) {
    const char* p = psz;
    while (*p != '\0') ++p;
    return static_cast<size_t>(p - psz);
}

int strcmp(const char* psz1, const char* psz2) {
    const auto* a = reinterpret_cast<const unsigned char*>(psz1);
    const auto* b = reinterpret_cast<const unsigned char*>(psz2);
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

int strncmp(const char* psz1, const char* psz2, size_t cch) {
    const auto* a = reinterpret_cast<const unsigned char*>(psz1);
    const auto* b = reinterpret_cast<const unsigned char*>(psz2);
    for (; cch > 0; --cch, ++a, ++b) {
        if (*a != *b) return *a < *b ? -1 : 1;
        if (*a == '\0') return 0;
    }
    return 0;
}

}  // extern "C"
