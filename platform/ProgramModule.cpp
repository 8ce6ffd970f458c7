#include "platform/ProgramModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include "platform/ProgramDir.h"

namespace nebrin {

void* OpenModuleFile(const std::string& path, std::string& error) {
    if (void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
    const char* e = ::dlerror();
    error = e ? e : path + " cannot be opened";
    return nullptr;
}

void* OpenProgramModule(const std::string& fileName, const std::string& installLibDir, std::string& error) {
    const std::string dir = ExecutableDir();
    std::string reason;
    for (const std::string& candidate :
         {JoinPath(dir, fileName), JoinPath(JoinPath(dir, ".."), JoinPath(installLibDir, fileName)), fileName}) {
        // A path that is not there is not worth the loader's message.
        if (candidate.front() == '/' && ::access(candidate.c_str(), R_OK) != 0) continue;
        if (void* handle = OpenModuleFile(candidate, reason)) return handle;
    }
    error = reason.empty() ? fileName + " not found" : reason;
    return nullptr;
}

void* ModuleSymbol(void* module, const char* name) { return module ? ::dlsym(module, name) : nullptr; }

}  // namespace nebrin
