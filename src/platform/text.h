// Small text helpers the program and its tools use in place of the C
// runtime's, so that the Windows build needs no C runtime DLL. The same code
// runs in every build.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <type_traits>

// The formats FormatText and TraceLine take are checked when the program is
// compiled, against exactly what FormatTextV implements: %d %i %u %x %X %c
// %s %p and %%; flags '-' and '0' and a width; 'l' (the argument is a long)
// or 'h' with d i u x X only; a precision with s only. Anything else (%zu,
// %lld, %*d, %+d, %f ...), an argument of the wrong kind or a wrong number of
// arguments stops the compilation, naming one of the functions below (they
// are declared, never defined: a constant evaluation cannot call them).
namespace ryk_format {

void FormatConversionNotImplemented();
void FormatArgumentDoesNotFit();
void FormatArgumentCountDiffers();

// What a conversion takes, as bits.
inline constexpr unsigned kInt = 1;      // an int after promotion (d i u x X c, with 'h' too)
inline constexpr unsigned kLong = 2;     // a long or unsigned long ('l')
inline constexpr unsigned kString = 4;   // a char pointer (s)
inline constexpr unsigned kPointer = 8;  // any pointer (p)

template <typename T>
consteval unsigned Takes() {
    using U = std::remove_cv_t<T>;
    if constexpr (std::is_same_v<U, long> || std::is_same_v<U, unsigned long>) return kLong;
    else if constexpr ((std::is_integral_v<U> || std::is_enum_v<U>) && sizeof(U) <= sizeof(int)) return kInt;
    else if constexpr (std::is_pointer_v<U> && std::is_same_v<std::remove_cv_t<std::remove_pointer_t<U>>, char>)
        return kString | kPointer;
    else if constexpr (std::is_pointer_v<U> || std::is_null_pointer_v<U>) return kPointer;
    else return 0;
}

template <typename... Args>
consteval void Check(const char* p) {
    constexpr unsigned kTakes[] = {Takes<Args>()..., 0u};
    size_t nArg = 0;
    while (*p != '\0') {
        if (*p++ != '%') continue;
        if (*p == '%') {
            ++p;
            continue;
        }
        while (*p == '-' || *p == '0') ++p;
        while (*p >= '0' && *p <= '9') ++p;
        bool bPrecision = false;
        if (*p == '.') {
            bPrecision = true;
            ++p;
            while (*p >= '0' && *p <= '9') ++p;
        }
        bool bLong = false, bShort = false;
        if (*p == 'l') {
            bLong = true;
            ++p;
        } else if (*p == 'h') {
            bShort = true;
            ++p;
        }
        const char ch = *p++;
        const bool bInteger = ch == 'd' || ch == 'i' || ch == 'u' || ch == 'x' || ch == 'X';
        unsigned want = 0;
        if (bInteger && !bPrecision) want = bLong ? kLong : kInt;
        else if (ch == 'c' && !bPrecision && !bLong && !bShort) want = kInt;
        else if (ch == 's' && !bLong && !bShort) want = kString;
        else if (ch == 'p' && !bPrecision && !bLong && !bShort) want = kPointer;
        else FormatConversionNotImplemented();
        if (nArg >= sizeof...(Args)) FormatArgumentCountDiffers();
        if ((kTakes[nArg] & want) == 0) FormatArgumentDoesNotFit();
        ++nArg;
    }
    if (nArg != sizeof...(Args)) FormatArgumentCountDiffers();
}

// A format checked against the arguments that follow it.
template <typename... Args>
struct FormatString {
    const char* psz;
    consteval FormatString(const char* pszFormat) : psz(pszFormat) { Check<Args...>(pszFormat); }
};

}  // namespace ryk_format

// Writes pszFormat with its arguments into pchDest, cut to cchDest - 1
// characters and always terminated when cchDest > 0 (nothing is written when
// cchDest is 0). Returns the length the whole text has, so a result of
// cchDest or more means it was cut.
//
// The conversions are those checked above; %s of a null pointer writes
// "(null)". FormatTextV takes a format made at run time as well: there
// anything else after a '%' is written as it stands.
size_t FormatTextUnchecked(char* pchDest, size_t cchDest, const char* pszFormat, ...);
size_t FormatTextV(char* pchDest, size_t cchDest, const char* pszFormat, va_list args);

template <typename... Args>
size_t FormatText(char* pchDest, size_t cchDest, ryk_format::FormatString<std::type_identity_t<Args>...> format,
                  Args... args) {
    return FormatTextUnchecked(pchDest, cchDest, format.psz, args...);
}

// Splits a Windows command line into arguments the way the C runtime's start-up
// does for main's argv: blanks (space, tab) separate arguments; a double
// quote starts or ends a quoted part in which blanks are kept; 2n backslashes
// before a quote are n backslashes and the quote counts, 2n+1 are n
// backslashes and a literal quote; other backslashes stand as they are. The
// first argument, the program's name, ends at the first blank outside quotes
// and takes quotes away but keeps every backslash.
//
// pchBuffer receives the arguments one after another, each terminated; it
// needs room for strlen(pszCommandLine) + 1 characters. ppszArgs (may be null
// when cArgs is 0) receives a pointer to each argument that fits, and a null
// pointer after them when there is room. Returns the number of arguments.
int SplitCommandLine(const char* pszCommandLine, char* pchBuffer, char** ppszArgs, int cArgs);

// Where the program's arguments start in a command line: after the program's
// name and the blanks that follow it, as WinMain's lpCmdLine.
const char* SkipProgramName(const char* pszCommandLine);
