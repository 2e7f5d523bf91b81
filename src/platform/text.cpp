#include "platform/text.h"

namespace {

// Output cut at the buffer's end; counts every character it is given.
struct Sink {
    char* pch;
    size_t cchRoom;  // characters that may still be stored (room for the NUL kept aside)
    size_t cchTotal;

    void Put(char ch) {
        if (cchRoom > 0) {
            *pch++ = ch;
            --cchRoom;
        }
        ++cchTotal;
    }
    void Repeat(char ch, size_t n) {
        for (; n > 0; --n) Put(ch);
    }
};

// Digits of v in base 10 or 16, last digit first; returns how many.
size_t Digits(unsigned long v, unsigned base, bool bUpper, char (&szOut)[32]) {
    const char* const pszDigits = bUpper ? "0123456789ABCDEF" : "0123456789abcdef";
    size_t n = 0;
    do {
        szOut[n++] = pszDigits[v % base];
        v /= base;
    } while (v != 0);
    return n;
}

void PutField(Sink& sink, const char* pch, size_t cch, bool bReversed, const char* pszPrefix, size_t cchWidth,
              bool bLeft, bool bZero) {
    size_t cchPrefix = 0;
    while (pszPrefix[cchPrefix] != '\0') ++cchPrefix;
    const size_t cchBody = cchPrefix + cch;
    const size_t cchPad = cchWidth > cchBody ? cchWidth - cchBody : 0;
    if (!bLeft && !bZero) sink.Repeat(' ', cchPad);
    for (size_t i = 0; i < cchPrefix; ++i) sink.Put(pszPrefix[i]);
    if (!bLeft && bZero) sink.Repeat('0', cchPad);
    for (size_t i = 0; i < cch; ++i) sink.Put(bReversed ? pch[cch - 1 - i] : pch[i]);
    if (bLeft) sink.Repeat(' ', cchPad);
}

}  // namespace

size_t FormatTextV(char* pchDest, size_t cchDest, const char* pszFormat, va_list args) {
    Sink sink{pchDest, cchDest > 0 ? cchDest - 1 : 0, 0};
    const char* p = pszFormat;
    while (*p != '\0') {
        if (*p != '%') {
            sink.Put(*p++);
            continue;
        }
        const char* const pszStart = p++;
        bool bLeft = false, bZero = false;
        for (;; ++p) {
            if (*p == '-')
                bLeft = true;
            else if (*p == '0')
                bZero = true;
            else
                break;
        }
        size_t cchWidth = 0;
        while (*p >= '0' && *p <= '9' && cchWidth < 4096) cchWidth = cchWidth * 10 + static_cast<size_t>(*p++ - '0');
        bool bPrecision = false;
        size_t cchPrecision = 0;
        if (*p == '.') {
            bPrecision = true;
            ++p;
            while (*p >= '0' && *p <= '9' && cchPrecision < 65536)
                cchPrecision = cchPrecision * 10 + static_cast<size_t>(*p++ - '0');
        }
        bool bLong = false;
        if (*p == 'l') {
            bLong = true;
            ++p;
        } else if (*p == 'h') {
            ++p;
        }
        char szDigits[32];
        switch (*p) {
            case 'd':
            case 'i': {
                const long v = bLong ? va_arg(args, long) : static_cast<long>(va_arg(args, int));
                // The magnitude without overflow for the most negative value.
                const unsigned long u = v < 0 ? 0UL - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
                const size_t n = Digits(u, 10, false, szDigits);
                PutField(sink, szDigits, n, true, v < 0 ? "-" : "", cchWidth, bLeft, bZero);
                break;
            }
            case 'u':
            case 'x':
            case 'X': {
                const unsigned long u =
                    bLong ? va_arg(args, unsigned long) : static_cast<unsigned long>(va_arg(args, unsigned));
                const size_t n = Digits(u, *p == 'u' ? 10 : 16, *p == 'X', szDigits);
                PutField(sink, szDigits, n, true, "", cchWidth, bLeft, bZero);
                break;
            }
            case 'p': {
                const auto u = reinterpret_cast<unsigned long long>(va_arg(args, void*));
                const size_t n = Digits(static_cast<unsigned long>(u), 16, true, szDigits);
                PutField(sink, szDigits, n, true, "0x", cchWidth, bLeft, false);
                break;
            }
            case 'c': {
                const char ch = static_cast<char>(va_arg(args, int));
                PutField(sink, &ch, 1, false, "", cchWidth, bLeft, false);
                break;
            }
            case 's': {
                const char* psz = va_arg(args, const char*);
                if (psz == nullptr) psz = "(null)";
                size_t cch = 0;
                while (psz[cch] != '\0' && (!bPrecision || cch < cchPrecision)) ++cch;
                PutField(sink, psz, cch, false, "", cchWidth, bLeft, false);
                break;
            }
            case '%':
                sink.Put('%');
                break;
            default:
                // Not understood: written as it stands, up to here.
                for (const char* q = pszStart; q < p; ++q) sink.Put(*q);
                continue;
        }
        ++p;
    }
    if (cchDest > 0) *sink.pch = '\0';
    return sink.cchTotal;
}

size_t FormatTextUnchecked(char* pchDest, size_t cchDest, const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const size_t cch = FormatTextV(pchDest, cchDest, pszFormat, args);
    va_end(args);
    return cch;
}

namespace {

bool IsBlank(char ch) { return ch == ' ' || ch == '\t'; }

}  // namespace

const char* SkipProgramName(const char* pszCommandLine) {
    const char* p = pszCommandLine;
    bool bQuoted = false;
    while (*p != '\0' && (bQuoted || !IsBlank(*p))) {
        if (*p == '"') bQuoted = !bQuoted;
        ++p;
    }
    while (IsBlank(*p)) ++p;
    return p;
}

int SplitCommandLine(const char* pszCommandLine, char* pchBuffer, char** ppszArgs, int cArgs) {
    const char* p = pszCommandLine;
    char* pchOut = pchBuffer;
    int nArgs = 0;
    auto start = [&]() {
        if (nArgs < cArgs) ppszArgs[nArgs] = pchOut;
        ++nArgs;
    };

    // The program's name: quotes taken away, backslashes kept.
    if (*p != '\0' && !IsBlank(*p)) {
        start();
        bool bQuoted = false;
        while (*p != '\0' && (bQuoted || !IsBlank(*p))) {
            if (*p == '"')
                bQuoted = !bQuoted;
            else
                *pchOut++ = *p;
            ++p;
        }
        *pchOut++ = '\0';
    }

    for (;;) {
        while (IsBlank(*p)) ++p;
        if (*p == '\0') break;
        start();
        bool bQuoted = false;
        while (*p != '\0' && (bQuoted || !IsBlank(*p))) {
            if (*p == '\\') {
                size_t nSlashes = 0;
                while (*p == '\\') {
                    ++nSlashes;
                    ++p;
                }
                if (*p == '"') {
                    for (size_t i = 0; i < nSlashes / 2; ++i) *pchOut++ = '\\';
                    if (nSlashes % 2 == 1) *pchOut++ = *p++;  // an escaped quote
                } else {
                    for (size_t i = 0; i < nSlashes; ++i) *pchOut++ = '\\';
                }
            } else if (*p == '"') {
                bQuoted = !bQuoted;
                ++p;
            } else {
                *pchOut++ = *p++;
            }
        }
        *pchOut++ = '\0';
    }
    if (nArgs < cArgs) ppszArgs[nArgs] = nullptr;
    return nArgs;
}
