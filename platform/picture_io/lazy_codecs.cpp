#include "platform/picture_io/lazy_codecs.h"

#include <dlfcn.h>

namespace platform::lazy_codecs
{

namespace
{

// The names the libraries' runtime packages install them under (Debian 12:
// libheif1, libjxl0.7); the headers built against are of the same versions.
constexpr const char *HeifLibrary = "libheif.so.1";
constexpr const char *JxlLibrary = "libjxl.so.0.7";
constexpr const char *JxlThreadsLibrary = "libjxl_threads.so.0.7";

template <typename Function> bool bind(void *library, const char *name, Function &function)
{
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

template <typename Table> struct Loaded {
    Table table;
    bool ok = false;
};

#define MIPO_BIND(name) loaded.ok = bind(library, #name, loaded.table.name) && loaded.ok;

Loaded<Heif> loadHeif()
{
    Loaded<Heif> loaded;
    void *library = dlopen(HeifLibrary, RTLD_NOW | RTLD_LOCAL);
    loaded.ok = library != nullptr;
    if (loaded.ok) {
        MIPO_HEIF_FUNCTIONS(MIPO_BIND)
    }
    return loaded;
}

Loaded<Jxl> loadJxl()
{
    Loaded<Jxl> loaded;
    void *library = dlopen(JxlLibrary, RTLD_NOW | RTLD_LOCAL);
    void *threads = library ? dlopen(JxlThreadsLibrary, RTLD_NOW | RTLD_LOCAL) : nullptr;
    loaded.ok = library && threads;
    if (loaded.ok) {
        MIPO_JXL_FUNCTIONS(MIPO_BIND)
        library = threads;
        MIPO_JXL_THREADS_FUNCTIONS(MIPO_BIND)
    }
    return loaded;
}

#undef MIPO_BIND

} // namespace

const Heif *heif()
{
    static const Loaded<Heif> loaded = loadHeif();
    return loaded.ok ? &loaded.table : nullptr;
}

const Jxl *jxl()
{
    static const Loaded<Jxl> loaded = loadJxl();
    return loaded.ok ? &loaded.table : nullptr;
}

} // namespace platform::lazy_codecs
