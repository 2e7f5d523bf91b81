// Small text helpers the program and its tools use in place of the C
// runtime's, so that the Windows build needs no C runtime DLL. The same code
// runs in every build.
#pragma once

#include <cstdarg>
#include <cstddef>

#if defined(__GNUC__) && !defined(__clang__)
#define RYK_FORMAT_CHECK(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#elif defined(__clang__)
#define RYK_FORMAT_CHECK(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define RYK_FORMAT_CHECK(fmt, first)
#endif

// Writes pszFormat with its arguments into pchDest, cut to cchDest - 1
// characters and always terminated when cchDest > 0 (nothing is written when
// cchDest is 0). Returns the length the whole text has, so a result of
// cchDest or more means it was cut.
//
// Understood: %d %i %u %x %X %c %s %p %%, each with an optional 'l' (the
// argument is then a long) or 'h', flags '-' and '0', a width, and for %s a
// precision. %s of a null pointer writes "(null)". Anything else after a '%'
// is written as it stands.
size_t FormatText(char* pchDest, size_t cchDest, const char* pszFormat, ...) RYK_FORMAT_CHECK(3, 4);
size_t FormatTextV(char* pchDest, size_t cchDest, const char* pszFormat, va_list args);

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
