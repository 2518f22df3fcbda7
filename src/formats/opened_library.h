// A decoder's shared library opened when the first file of its format is read, not when the
// program starts. The AV1 and JPEG XL decoders bring some forty libraries, whose loading and
// constructors cost every start of a program about 8 ms, several times a small pair's
// comparison; opened on first use, only the programs that read such a file pay.
#pragma once

#include <dlfcn.h>

#include <optional>

namespace likeness {

class OpenedLibrary {
  public:
    // soname: the name the library was built against, such as "libavif.so.15".
    explicit OpenedLibrary(const char* soname) : handle_(dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {}
    OpenedLibrary(const OpenedLibrary&) = delete;
    OpenedLibrary& operator=(const OpenedLibrary&) = delete;
    // Never closed: the functions taken from it stay in use until the program ends.
    ~OpenedLibrary() = default;

    // Sets *function to the library's function of that name, typed as its header declares it;
    // false when the library or the function is missing.
    template <class Function>
    bool take(const char* name, Function** function) const {
        *function =
            handle_ == nullptr ? nullptr : reinterpret_cast<Function*>(dlsym(handle_, name));
        return *function != nullptr;
    }

  private:
    void* handle_;
};

// The table of functions of the library named soname, filled by take on the first call; nullptr
// when the library cannot be opened or lacks one of them. One table for each type Functions.
template <class Functions>
const Functions* openedFunctions(const char* soname,
                                 bool (*take)(const OpenedLibrary&, Functions*)) {
    static const OpenedLibrary library(soname);
    static const std::optional<Functions> taken = [&]() -> std::optional<Functions> {
        Functions functions{};
        if (!take(library, &functions)) return std::nullopt;
        return functions;
    }();
    return taken ? &*taken : nullptr;
}

}  // namespace likeness

// Takes the function of that name from library into the member of the same name of functions.
#define LIKENESS_TAKE(library, functions, name) (library).take(#name, &(functions).name)
