// Makes a store of N users for the start-up and memory measurements.
// usage: bench_make_store PATH N
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/users.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_make_store PATH N\n");
        return 2;
    }
    bench::makeStore(argv[1], std::atoi(argv[2]));
    return 0;
}
