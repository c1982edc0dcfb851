// The resolver behind zan's lazily loaded libraries (see lazy_stubs.sh): the
// first call of a GTK, cairo, curl, libcrypto or image-library function opens
// its library and stores the function's address in the stub's slot; later
// calls jump straight there. Binding these libraries at start would cost more
// than the rest of start-up together.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

extern "C" {
extern void* zan_lazy_slots[];
extern const unsigned zan_lazy_count;
extern const unsigned char zan_lazy_lib_of[];
extern const char* const zan_lazy_names[];
extern const char* const zan_lazy_sonames[];
void* zan_lazy_resolve(unsigned index);
}

namespace {

std::mutex opening;
void* handles[64];

[[noreturn]] void fail(const char* what, const char* name) {
    const char* why = dlerror();
    for (const char* part : {"zan: cannot load ", what, " ", name, ": ", why ? why : "", "\n"})
        if (ssize_t n = ssize_t(std::strlen(part)); n > 0 && write(2, part, size_t(n)) < 0) break;
    _exit(127);
}

}  // namespace

extern "C" void* zan_lazy_resolve(unsigned index) {
    std::lock_guard<std::mutex> hold(opening);
    if (index >= zan_lazy_count) fail("function", "?");
    unsigned lib = zan_lazy_lib_of[index];
    const char* soname = zan_lazy_sonames[lib];
    if (!handles[lib]) {
        // Global, so that the modules GTK loads itself find these libraries.
        handles[lib] = dlopen(soname, RTLD_NOW | RTLD_GLOBAL);
        if (!handles[lib]) fail("library", soname);
    }
    void* fn = dlsym(handles[lib], zan_lazy_names[index]);
    if (!fn) fail(soname, zan_lazy_names[index]);
    std::atomic_ref<void*>(zan_lazy_slots[index]).store(fn, std::memory_order_release);
    return fn;
}
