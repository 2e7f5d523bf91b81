// What console programs (RykXyCtl, RykXyProbe) use of the simulated machine:
// the command line, standard output, OpenMutexA, MsgWaitForMultipleObjects
// and wsprintfA.
#include <cstdarg>
#include <cstring>

#include "api_common.h"

using sim::Kernel;
using sim::Machine;
using sim::api::Call;

// ------------------------------------------------------------------ KERNEL32

LPSTR WINAPI GetCommandLineA(void) {
    Call c;
    Kernel::Process* p = c.t->proc;
    // A program started without one sees its own name, as Windows gives the
    // path of the program.
    if (p->command_line.empty()) p->command_line = p->name;
    return p->command_line.data();
}

// Console programs get one stream for their standard output and standard
// error (as when both are redirected to the same file); other processes have
// none, as a GUI program started without redirection has none.
HANDLE WINAPI GetStdHandle(DWORD nStdHandle) {
    Call c;
    if (nStdHandle == STD_INPUT_HANDLE) sim::not_simulated("GetStdHandle(STD_INPUT_HANDLE)");
    if (nStdHandle != STD_OUTPUT_HANDLE && nStdHandle != STD_ERROR_HANDLE) {
        c.error(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    Kernel::Process* p = c.t->proc;
    if (!p->captures_output) return nullptr;
    if (!p->output_obj) {
        p->output_obj = std::make_shared<Kernel::Object>();
        p->output_obj->kind = Kernel::Kind::Output;
        p->output_obj->process = p;
        p->output_handle = c.k.new_handle_locked(p->output_obj);
    }
    return p->output_handle;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped) {
    if (lpOverlapped) sim::not_simulated("WriteFile with an OVERLAPPED structure");
    Call c;
    // Windows 95 writes the count without looking; a missing one faults there.
    if (!lpNumberOfBytesWritten) c.k.machine().report_misuse("WriteFile without lpNumberOfBytesWritten");
    auto obj = c.k.lookup_locked(hFile, "WriteFile");
    if (!obj) return FALSE;
    if (obj->kind != Kernel::Kind::Output) sim::not_simulated("WriteFile to anything but standard output");
    if (nNumberOfBytesToWrite > 0 && !lpBuffer) {
        c.error(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (nNumberOfBytesToWrite > 0)
        obj->process->output.append(static_cast<const char*>(lpBuffer), nNumberOfBytesToWrite);
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    c.error(0);
    return TRUE;
}

HANDLE WINAPI OpenMutexA(DWORD, BOOL, LPCSTR lpName) {
    Call c;
    HANDLE h = sim::api::open_named(c, lpName, Kernel::Kind::Mutex);
    if (h) c.error(0);
    return h;
}

// ------------------------------------------------------------------ USER32

// Returns WAIT_OBJECT_0 + nCount when input arrived since the thread last
// looked at its queue (GetMessageA or PeekMessageA), as Windows does; input
// that was already there then does not end the wait.
DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll, DWORD dwMilliseconds,
                                       DWORD dwWakeMask) {
    if (fWaitAll) sim::not_simulated("MsgWaitForMultipleObjects with fWaitAll");
    if (dwWakeMask != QS_ALLINPUT) sim::not_simulated("MsgWaitForMultipleObjects with a wake mask but QS_ALLINPUT");
    Call c;
    if (nCount >= MAXIMUM_WAIT_OBJECTS || (nCount > 0 && !pHandles)) {
        c.error(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    // New posted input, or a message sent to one of its windows (handled by
    // the PeekMessageA or GetMessageA that follows).
    if (c.t->posted != c.t->posted_seen || !c.t->sent.empty()) return WAIT_OBJECT_0 + nCount;
    if (!c.t->queue.empty() || c.t->quit)
        sim::not_simulated("MsgWaitForMultipleObjects with messages left in the queue that were seen already");
    std::vector<Kernel::ObjRef> objs;
    std::vector<uintptr_t> handles;
    for (DWORD i = 0; i < nCount; ++i) {
        auto obj = c.k.lookup_locked(pHandles[i], "MsgWaitForMultipleObjects");
        if (!obj) return WAIT_FAILED;
        objs.push_back(obj);
        handles.push_back(reinterpret_cast<uintptr_t>(pHandles[i]));
    }
    objs.push_back(c.t->queue_obj);
    objs.push_back(c.t->sent_obj);
    const DWORD r = c.k.wait_locked(c.lk, c.t, std::move(objs), std::move(handles), false, dwMilliseconds);
    return r == WAIT_OBJECT_0 + nCount + 1 ? WAIT_OBJECT_0 + nCount : r;
}

// wsprintfA as USER32 has it: %[-][#][0][width][.precision][h|l]type with the
// types c d i u x X s and %%; no floating point. The result, without its
// NUL, must fit the 1024-byte buffer that USER32 fills at most.
int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...) {
    va_list ap;
    va_start(ap, lpFmt);
    std::string out;
    for (const char* f = lpFmt; *f; ++f) {
        if (*f != '%') {
            out += *f;
            continue;
        }
        ++f;
        if (*f == '%') {
            out += '%';
            continue;
        }
        bool left = false, alt = false, zero = false;
        for (;; ++f) {
            if (*f == '-') left = true;
            else if (*f == '#') alt = true;
            else if (*f == '0') zero = true;
            else break;
        }
        size_t width = 0;
        while (*f >= '0' && *f <= '9') width = width * 10 + static_cast<size_t>(*f++ - '0');
        bool has_precision = false;
        size_t precision = 0;
        if (*f == '.') {
            has_precision = true;
            ++f;
            while (*f >= '0' && *f <= '9') precision = precision * 10 + static_cast<size_t>(*f++ - '0');
        }
        bool is_short = false;
        if (*f == 'l') ++f;
        else if (*f == 'h') {
            is_short = true;
            ++f;
        }
        std::string field, prefix;
        switch (*f) {
        case 'c': field = std::string(1, static_cast<char>(va_arg(ap, int))); break;
        case 's': {
            const char* s = va_arg(ap, const char*);
            if (!s) sim::not_simulated("wsprintfA %s with a null pointer");
            size_t n = std::strlen(s);
            if (has_precision && precision < n) n = precision;
            field.assign(s, n);
            break;
        }
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X': {
            const unsigned raw = va_arg(ap, unsigned);
            uint32_t v = is_short ? (raw & 0xFFFFu) : raw;
            bool negative = false;
            if (*f == 'd' || *f == 'i') {
                const int32_t sv = is_short ? static_cast<int16_t>(v) : static_cast<int32_t>(v);
                negative = sv < 0;
                v = negative ? 0u - static_cast<uint32_t>(sv) : static_cast<uint32_t>(sv);
            }
            const unsigned base = (*f == 'x' || *f == 'X') ? 16 : 10;
            const char* digits = *f == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
            std::string num;
            do {
                num.insert(num.begin(), digits[v % base]);
                v /= base;
            } while (v);
            if (has_precision && num.size() < precision) num.insert(0, precision - num.size(), '0');
            if (negative) prefix = "-";
            if (alt && base == 16 && raw != 0) prefix = *f == 'X' ? "0X" : "0x";
            field = num;
            break;
        }
        default: sim::not_simulated(std::string("wsprintfA format %") + (*f ? *f : '?'));
        }
        const size_t len = prefix.size() + field.size();
        if (len >= width) {
            out += prefix + field;
        } else if (left) {
            out += prefix + field + std::string(width - len, ' ');
        } else if (zero && *f != 's' && *f != 'c') {
            out += prefix + std::string(width - len, '0') + field;
        } else {
            out += std::string(width - len, ' ') + prefix + field;
        }
    }
    va_end(ap);
    if (out.size() > 1023) {
        Machine::current().report_misuse("wsprintfA: " + std::to_string(out.size()) +
                                         " characters do not fit its 1024-byte buffer");
        out.resize(1023);
    }
    std::memcpy(lpOut, out.c_str(), out.size() + 1);
    return static_cast<int>(out.size());
}
