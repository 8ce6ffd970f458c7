#include "platform/ProgramModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include "platform/ProgramDir.h"

namespace nebrin {
namespace {

// Installed, the modules and line libraries live in a folder of their own
// (<prefix>/lib/<multiarch>/nebrin), reached from the executable's folder.
std::string InstalledModuleDir() {
    const std::string exe = ExecutableDir();
    return exe.empty() ? std::string() : JoinPath(exe, NEBRIN_MODULEDIR_FROM_BINDIR);
}

}  // namespace

void* OpenModuleFile(const std::string& path, std::string& error) {
    if (void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): glibc keeps dlerror's text per thread.
    const char* e = ::dlerror();
    error = e ? e : path + " cannot be opened";
    return nullptr;
}

void* OpenProgramModule(const std::string& fileName, std::string& error) {
    std::string reason;
    for (const std::string& candidate :
         {JoinPath(ExecutableDir(), fileName), JoinPath(InstalledModuleDir(), fileName), fileName}) {
        // A path that is not there is not worth the loader's message.
        if (candidate.front() == '/' && ::access(candidate.c_str(), R_OK) != 0) continue;
        if (void* handle = OpenModuleFile(candidate, reason)) return handle;
    }
    error = reason.empty() ? fileName + " not found" : reason;
    return nullptr;
}

void* ModuleSymbol(void* module, const char* name) { return module ? ::dlsym(module, name) : nullptr; }

}  // namespace nebrin
