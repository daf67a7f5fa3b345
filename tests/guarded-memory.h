// Buffers between two inaccessible pages, touching one of them, so that any
// read or write past their last byte (or before their first) faults at once,
// in plain and sanitized builds alike.
#ifndef DXT1_TESTS_GUARDED_MEMORY_H
#define DXT1_TESTS_GUARDED_MEMORY_H

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <stdexcept>

// Which guard page the buffer's bytes touch.
enum class Touching { End, Start };

class GuardedBuffer {
public:
    explicit GuardedBuffer(std::size_t size, Touching side = Touching::End)
    {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        mappedSize_ = (size + page - 1) / page * page + 2 * page;
        void *map = mmap(nullptr, mappedSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED)
            throw std::runtime_error("mmap failed");
        base_ = static_cast<unsigned char *>(map);
        unsigned char *endGuard = base_ + mappedSize_ - page;
        if (mprotect(base_, page, PROT_NONE) != 0 || mprotect(endGuard, page, PROT_NONE) != 0)
            throw std::runtime_error("mprotect failed");
        data_ = side == Touching::End ? endGuard - size : base_ + page;
    }
    GuardedBuffer(const GuardedBuffer &) = delete;
    GuardedBuffer &operator=(const GuardedBuffer &) = delete;
    ~GuardedBuffer() { munmap(base_, mappedSize_); }

    unsigned char *data() { return data_; }

private:
    std::size_t mappedSize_;
    unsigned char *base_;
    unsigned char *data_;
};

#endif
