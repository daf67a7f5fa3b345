// Buffers that end exactly at an inaccessible page, so that any read or write
// past their last byte faults at once, in plain and sanitized builds alike.
#ifndef DXT1_TESTS_GUARDED_MEMORY_H
#define DXT1_TESTS_GUARDED_MEMORY_H

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <stdexcept>

class GuardedBuffer {
public:
    explicit GuardedBuffer(std::size_t size)
    {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        mappedSize_ = (size + page - 1) / page * page + page;
        void *map = mmap(nullptr, mappedSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED)
            throw std::runtime_error("mmap failed");
        base_ = static_cast<unsigned char *>(map);
        unsigned char *guard = base_ + mappedSize_ - page;
        if (mprotect(guard, page, PROT_NONE) != 0)
            throw std::runtime_error("mprotect failed");
        data_ = guard - size;
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
