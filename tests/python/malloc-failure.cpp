// A malloc interposer for tests, loaded with LD_PRELOAD. Tests drive it through
// ctypes: they arm it to fail one chosen heap request in a size range, and ask
// how many blocks of a size range are still allocated. Not thread-safe: the
// tests that arm it run on one thread.
#include <cstddef>

extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void __libc_free(void *);
}

namespace {

std::size_t failLow, failHigh;  // requests in [failLow, failHigh] are counted
long failCountdown = -1;        // the request that meets 0 fails; -1 is disarmed

std::size_t trackedLow, trackedHigh;  // live blocks of these sizes are recorded
const int kMaxTracked = 64;
void *tracked[kMaxTracked];

bool shouldFail(std::size_t size)
{
    if (failCountdown < 0 || size < failLow || size > failHigh)
        return false;
    return failCountdown-- == 0;
}

void track(void *p, std::size_t size)
{
    if (p == nullptr || trackedHigh == 0 || size < trackedLow || size > trackedHigh)
        return;
    for (void *&slot : tracked) {
        if (slot == nullptr) {
            slot = p;
            return;
        }
    }
}

void untrack(void *p)
{
    if (p == nullptr)
        return;
    for (void *&slot : tracked)
        if (slot == p)
            slot = nullptr;
}

} // namespace

extern "C" {

// Makes the `skip`-th following request of `low` to `high` bytes (counting from 0) fail.
__attribute__((visibility("default"))) void dxt1_fail_request(std::size_t low, std::size_t high, long skip)
{
    failLow = low;
    failHigh = high;
    failCountdown = skip;
}

// Returns 1 while an armed failure has not happened yet, and disarms it.
__attribute__((visibility("default"))) int dxt1_disarm(void)
{
    const int pending = failCountdown >= 0;
    failCountdown = -1;
    return pending;
}

// Starts recording live blocks of `low` to `high` bytes (a `high` of 0 stops it).
__attribute__((visibility("default"))) void dxt1_track_sizes(std::size_t low, std::size_t high)
{
    trackedLow = low;
    trackedHigh = high;
    for (void *&slot : tracked)
        slot = nullptr;
}

__attribute__((visibility("default"))) int dxt1_live_tracked(void)
{
    int live = 0;
    for (void *slot : tracked)
        live += slot != nullptr;
    return live;
}

__attribute__((visibility("default"))) void *malloc(std::size_t size)
{
    if (shouldFail(size))
        return nullptr;
    void *p = __libc_malloc(size);
    track(p, size);
    return p;
}

__attribute__((visibility("default"))) void *calloc(std::size_t n, std::size_t size)
{
    if (size != 0 && n <= static_cast<std::size_t>(-1) / size && shouldFail(n * size))
        return nullptr;
    return __libc_calloc(n, size);
}

__attribute__((visibility("default"))) void *realloc(void *old, std::size_t size)
{
    if (shouldFail(size))
        return nullptr;
    untrack(old);
    void *p = __libc_realloc(old, size);
    track(p, size);
    return p;
}

__attribute__((visibility("default"))) void free(void *p)
{
    untrack(p);
    __libc_free(p);
}

}
