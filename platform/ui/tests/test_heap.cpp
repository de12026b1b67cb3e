// The heap on huge pages: large blocks come from the heap, and the heap's
// reserve is advised for huge pages, where the kernel offers them on advice.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "heap.h"

namespace {

bool hugePagesOnAdvice() {
    std::ifstream in("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string mode;
    std::getline(in, mode);
    return mode.find("[always]") != std::string::npos ||
           mode.find("[madvise]") != std::string::npos;
}

// The name and flags of the mapping that holds `address`, from smaps.
struct Mapping {
    std::string name;
    std::string flags;
};
Mapping mappingOf(const void* address) {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    Mapping found;
    while (std::getline(smaps, line)) {
        std::uintptr_t from = 0, to = 0;
        char dash = 0;
        std::istringstream fields(line);
        if (fields >> std::hex >> from >> dash >> to && dash == '-') {
            if (inside) break;  // the next mapping: no VmFlags seen
            inside = from <= at && at < to;
            if (inside) {
                std::string perms, offset, device, inode;
                fields >> perms >> offset >> device >> inode;
                std::getline(fields >> std::ws, found.name);
            }
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            found.flags = line.substr(8) + ' ';
            break;
        }
    }
    return found;
}

TEST(HugePageHeap, LargeBlocksComeFromTheAdvisedHeap) {
    if (!hugePagesOnAdvice()) GTEST_SKIP() << "the kernel offers no huge pages on advice";
    void* before = std::malloc(8u << 20);
    const Mapping own = mappingOf(before);
    std::free(before);
    EXPECT_NE(own.name, "[heap]") << "glibc maps a block of 8 MB by itself by default";

    ASSERT_TRUE(ui::detail::useHugePageHeap());
    // A list's worth of rows, and a block as large as the threshold allows.
    for (const std::size_t size : {std::size_t(4) << 20, std::size_t(16) << 20}) {
        void* block = std::malloc(size);
        ASSERT_NE(block, nullptr);
        const void* middle = static_cast<char*>(block) + size / 2;
        const Mapping mapping = mappingOf(middle);
        EXPECT_EQ(mapping.name, "[heap]") << size;
        EXPECT_NE(mapping.flags.find(" hg "), std::string::npos)
            << size << " bytes lie in a mapping flagged" << mapping.flags;
        std::free(block);
    }
}

}  // namespace

// No Qt here: the heap is set before the application exists.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
