/*
 * Stand-in for Wine's preloader on a host that runs 32-bit programs through
 * QEMU user-mode emulation (see scripts/wine-host/prepare). Built as a 32-bit
 * shared library and loaded into every 32-bit Wine process with LD_PRELOAD.
 *
 * 1. Address space. Debian ships no wine-preloader, so ntdll reserves the
 *    address ranges Windows programs expect by bisecting them with
 *    mmap(MAP_FIXED_NOREPLACE). QEMU takes that flag as a hint and searches
 *    page by page for another place each time: tens of thousands of calls
 *    and about a minute per process. The constructor below reserves the
 *    free parts of the ranges the preloader would reserve, before Wine
 *    starts, and lists them in wine_main_preload_info, the preloader's way
 *    of handing them to ntdll, which then reserves nothing itself.
 *
 * 2. Trap numbers. QEMU puts -1 into the trap number of the signal context
 *    of a fault. Wine's handlers decide by that number what happened (an
 *    access violation, a guard page touched, a division by zero) and take
 *    -1 for an unknown trap, which ends the process. The sigaction wrapper
 *    below runs Wine's handlers for the fault signals behind a handler that
 *    puts back the trap number the signal's si_code stands for.
 *
 * Nothing here is used where the host runs 32-bit programs itself.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#if !defined(__i386__)
#error "the preloader stand-in is for 32-bit x86 processes"
#endif

/* ---- 1. Address space ---------------------------------------------------- */

/* The preloader's record of a reserved area. */
struct wine_preload_info {
    void *addr;
    size_t size;
};

#define MAX_AREAS 64
static struct wine_preload_info areas[MAX_AREAS + 1];
static int area_count;

/* Found by ntdll with dlsym when the wine program itself does not define it;
 * when it does (Wine 8's does), the constructor sets the program's one. */
__attribute__((visibility("default")))
struct wine_preload_info *wine_main_preload_info = areas;

/* The ranges the preloader reserves on i386: the low area Windows programs
 * and their DLLs are placed in (its first 64 KiB stay free) and the top
 * area of top-down allocations and the shared heaps, up to 4 GiB. QEMU
 * keeps the last page below 4 GiB for itself, so the top area ends 64 KiB
 * short of it (ntdll's own try at that last piece then fails at once). */
static const uint64_t wanted[][2] = {
    {0x00010000u, 0x68000000u},
    {0x7f000000u, 0xffff0000u},
};

/* Kept free below the lowest mapping present: QEMU places the libraries
 * loaded later (and other mappings without an address) downwards from
 * there. */
#define LEAVE_FREE 0x10000000u
#define GRANULE 0x10000u

struct range {
    uint64_t start, end;
};
#define MAX_MAPS 512

/* A hexadecimal number at *p; moves *p past it. Returns 0 when there is none. */
static int parse_hex(const char **p, uint64_t *out)
{
    uint64_t v = 0;
    int digits = 0;
    for (;; ++*p, ++digits) {
        char c = **p;
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0)
            break;
        v = v * 16 + (uint64_t)d;
    }
    *out = v;
    return digits > 0;
}

/* Reads /proc/self/maps without stdio or malloc (no allocation before the
 * areas are reserved). Returns the number of ranges, or -1. */
static int read_maps(struct range *out, int max)
{
    static char buf[65536];
    size_t len = 0;
    int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    for (;;) {
        ssize_t n = read(fd, buf + len, sizeof(buf) - 1 - len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        len += (size_t)n;
        if (len == sizeof(buf) - 1)
            break;
    }
    close(fd);
    buf[len] = 0;
    int count = 0;
    const char *p = buf;
    while (*p && count < max) {
        uint64_t start, end;
        if (!parse_hex(&p, &start) || *p != '-')
            return -1;
        ++p;
        if (!parse_hex(&p, &end))
            return -1;
        out[count].start = start;
        out[count].end = end;
        ++count;
        while (*p && *p != '\n')
            ++p;
        if (*p)
            ++p;
    }
    return count;
}

static void reserve(uint64_t start, uint64_t end)
{
    start = (start + GRANULE - 1) & ~(uint64_t)(GRANULE - 1);
    end &= ~(uint64_t)(GRANULE - 1);
    if (end <= start || area_count >= MAX_AREAS)
        return;
    /* MAP_FIXED is safe: the range is free (read from the maps above), and
     * no other thread runs yet. */
    void *p = mmap((void *)(uintptr_t)start, (size_t)(end - start), PROT_NONE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0);
    if (p == MAP_FAILED)
        return;
    areas[area_count].addr = p;
    areas[area_count].size = (size_t)(end - start);
    ++area_count;
}

static void reserve_free(uint64_t lo, uint64_t hi, const struct range *maps, int n)
{
    uint64_t at = lo;
    for (int i = 0; i < n && at < hi; ++i) {
        if (maps[i].end <= at)
            continue;
        if (maps[i].start >= hi)
            break;
        if (maps[i].start > at)
            reserve(at, maps[i].start);
        at = maps[i].end;
    }
    if (at < hi)
        reserve(at, hi);
}

static void reserve_areas(void)
{
    static struct range maps[MAX_MAPS];
    int n = read_maps(maps, MAX_MAPS);
    if (n < 0)
        return;
    /* The lowest mapping in the low range; leave room below it. */
    uint64_t lowest = wanted[0][1];
    for (int i = 0; i < n; ++i)
        if (maps[i].end > wanted[0][0] && maps[i].start < lowest) {
            lowest = maps[i].start < wanted[0][0] ? wanted[0][0] : maps[i].start;
            break;
        }
    uint64_t keep = lowest > wanted[0][0] + LEAVE_FREE ? lowest - LEAVE_FREE : wanted[0][0];
    reserve_free(wanted[0][0], keep, maps, n);
    reserve_free(lowest, wanted[0][1], maps, n);
    reserve_free(wanted[1][0], wanted[1][1], maps, n);
    areas[area_count].addr = NULL;
    areas[area_count].size = 0;
}

__attribute__((constructor)) static void preload_init(void)
{
    /* Runs in every 32-bit process started with the library, each with an
     * address space of its own. */
    reserve_areas();
    /* The wine program's variable when it has one: it comes first in the
     * lookup, and then even this library's own name refers to it. */
    struct wine_preload_info **info = dlsym(RTLD_DEFAULT, "wine_main_preload_info");
    if (info)
        *info = areas;
}

/* ---- 2. Trap numbers ------------------------------------------------------- */

typedef void (*action_fn)(int, siginfo_t *, void *);
typedef int (*sigaction_fn)(int, const struct sigaction *, struct sigaction *);

/* Wine's handler of each fault signal (index: signal number). */
static action_fn volatile handlers[_NSIG];

/* The x86 trap numbers the kernel would have put into the context. */
enum {
    TRAP_DIVIDE = 0,
    TRAP_DEBUG = 1,
    TRAP_BREAKPOINT = 3,
    TRAP_OVERFLOW = 4,
    TRAP_INVALID_OPCODE = 6,
    TRAP_SEGMENT_NOT_PRESENT = 11,
    TRAP_GENERAL_PROTECTION = 13,
    TRAP_PAGE_FAULT = 14,
    TRAP_FLOATING_POINT = 16,
    TRAP_ALIGNMENT = 17,
};

static int trap_of(int sig, int code)
{
    switch (sig) {
    case SIGSEGV:
        return code == SEGV_MAPERR || code == SEGV_ACCERR ? TRAP_PAGE_FAULT : TRAP_GENERAL_PROTECTION;
    case SIGBUS:
        return code == BUS_ADRALN ? TRAP_ALIGNMENT : TRAP_SEGMENT_NOT_PRESENT;
    case SIGILL:
        return code == ILL_PRVOPC || code == ILL_PRVREG ? TRAP_GENERAL_PROTECTION : TRAP_INVALID_OPCODE;
    case SIGFPE:
        return code == FPE_INTDIV ? TRAP_DIVIDE : code == FPE_INTOVF ? TRAP_OVERFLOW : TRAP_FLOATING_POINT;
    case SIGTRAP:
        return code == TRAP_TRACE ? TRAP_DEBUG : TRAP_BREAKPOINT;
    default:
        return -1;
    }
}

static void fix_trap_then_call(int sig, siginfo_t *info, void *context)
{
    ucontext_t *uc = context;
    if (uc && info && (uint32_t)uc->uc_mcontext.gregs[REG_TRAPNO] > 31) {
        int trap = trap_of(sig, info->si_code);
        if (trap >= 0)
            uc->uc_mcontext.gregs[REG_TRAPNO] = trap;
    }
    action_fn handler = handlers[sig];
    if (handler)
        handler(sig, info, context);
}

static int is_fault_signal(int sig)
{
    return sig == SIGSEGV || sig == SIGBUS || sig == SIGILL || sig == SIGFPE || sig == SIGTRAP;
}

__attribute__((visibility("default")))
int sigaction(int sig, const struct sigaction *act, struct sigaction *old)
{
    static sigaction_fn real;
    if (!real)
        real = (sigaction_fn)dlsym(RTLD_NEXT, "sigaction");
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    if (sig <= 0 || sig >= _NSIG || !is_fault_signal(sig))
        return real(sig, act, old);

    action_fn previous = handlers[sig];
    int rc;
    if (act && (act->sa_flags & SA_SIGINFO) && act->sa_sigaction) {
        struct sigaction wrapped = *act;
        handlers[sig] = act->sa_sigaction;
        wrapped.sa_sigaction = fix_trap_then_call;
        rc = real(sig, &wrapped, old);
        if (rc != 0)
            handlers[sig] = previous;
    } else {
        rc = real(sig, act, old);
        if (rc == 0 && act)
            handlers[sig] = NULL;
    }
    /* The caller sees its own handler, not the wrapper. */
    if (rc == 0 && old && (old->sa_flags & SA_SIGINFO) && old->sa_sigaction == fix_trap_then_call)
        old->sa_sigaction = previous;
    return rc;
}
