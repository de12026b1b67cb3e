#include "libpq.h"

#include <dlfcn.h>

#include <string>

#include "connection.h"

namespace keyward {

namespace {

constexpr const char* kLibrary = "libpq.so.5";

LibPq load() {
    // Never closed: connections may outlive any one caller.
    void* handle = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr)
        throw DbError(Fault::Unavailable, std::string("a store on a server needs ") + kLibrary +
                                              " (package libpq5): " + dlerror());
    LibPq calls{};
#define KEYWARD_LIBPQ_LOAD(name)                                               \
    calls.name = reinterpret_cast<decltype(calls.name)>(dlsym(handle, #name)); \
    if (calls.name == nullptr)                                                 \
        throw DbError(Fault::Unavailable, std::string(kLibrary) + " lacks " #name);
    KEYWARD_LIBPQ_CALLS(KEYWARD_LIBPQ_LOAD)
#undef KEYWARD_LIBPQ_LOAD
    return calls;
}

}  // namespace

const LibPq& libpq() {
    // A failed load throws out of the initialisation, so the next call tries
    // again (the package may have been installed meanwhile).
    static const LibPq calls = load();
    return calls;
}

}  // namespace keyward
