#pragma once
// The program's own loadable modules (the web engine views, the HTTP
// client): parts that pull in large libraries, opened when first needed
// rather than at start.
#include <string>

namespace nebrin {

// Opens module `fileName` (e.g. "libnebrin-web.so", "librasapi-sim.so"):
// next to the executable (build tree, portable bundle), then in the
// installed module folder (<prefix>/lib/<multiarch>/nebrin, reached from the
// executable's <prefix>/bin), then through the dynamic loader's own search.
// Returns the handle, which stays open for the rest of the run, or nullptr
// with the loader's reason (or "not found") in `error`. Any thread.
void* OpenProgramModule(const std::string& fileName, std::string& error);

// Opens the module at `path` exactly; nullptr with the loader's reason in
// `error` when it cannot be opened.
void* OpenModuleFile(const std::string& path, std::string& error);

// The exported symbol `name` of an open module, or nullptr.
void* ModuleSymbol(void* module, const char* name);

}  // namespace nebrin
