#include "heap.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace ui::detail {
namespace {

constexpr int kLargestFromHeap = 32 << 20;  // glibc's ceiling for the threshold
constexpr int kKeptFree = 64 << 20;         // the reserve stays in the heap when freed
constexpr std::size_t kReserve = 24u << 20;

std::string readSmallFile(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    char buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    return n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
}

// The size of a huge page, when the kernel hands them out on advice.
std::size_t hugePageOnAdvice() {
    const std::string mode = readSmallFile("/sys/kernel/mm/transparent_hugepage/enabled");
    if (mode.find("[always]") == std::string::npos && mode.find("[madvise]") == std::string::npos)
        return 0;
    const std::size_t size = std::strtoull(
        readSmallFile("/sys/kernel/mm/transparent_hugepage/hpage_pmd_size").c_str(), nullptr, 10);
    return size != 0 && (size & (size - 1)) == 0 ? size : 2u << 20;
}

}  // namespace

bool useHugePageHeap() {
    const std::size_t hugePage = hugePageOnAdvice();
    if (hugePage == 0) return false;
    if (mallopt(M_MMAP_THRESHOLD, kLargestFromHeap) != 1 ||
        mallopt(M_TRIM_THRESHOLD, kKeptFree) != 1)
        return false;
    // The heap grows by the reserve, whose whole huge pages are advised; freed
    // at once, it is the free top of the heap that the next blocks come from.
    void* block = std::malloc(kReserve);
    if (!block) return false;
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + hugePage - 1) & ~(hugePage - 1);
    const std::uintptr_t last = (start + kReserve) & ~(hugePage - 1);
    const bool advised =
        last > first && ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE) == 0;
    std::free(block);
    return advised;
}

}  // namespace ui::detail
