// Loads the OLA output module on first use, from the folder libdashard itself was loaded from,
// and forwards the ola output and the olad check to it.
#include "dashard.h"
#include "ola/ola_module.h"

#include <dlfcn.h>
#include <mutex>
#include <unistd.h>

namespace das {

namespace {

// The folder of the file that holds DasCall: libdashard, in a build tree or installed, also
// when this code is linked statically into a program that links libdashard as well.
std::string libraryFolder()
{
    Dl_info info {};
    if (!dladdr(reinterpret_cast<void *>(&DasCall), &info) || !info.dli_fname)
        return ".";
    const std::string file = info.dli_fname;
    const auto slash = file.rfind('/');
    return slash == std::string::npos ? "." : file.substr(0, slash);
}

// The module once loaded, else null and why not. A module that loaded stays loaded for the
// rest of the process: an open output runs its code, unloading between opens gains nothing,
// and leak reports can only name the frames of a library that is still mapped. A failure is
// tried again at the next open, so installing the OLA client needs no restart.
const OlaModule *loadOlaModule(std::string &why)
{
    static std::mutex mutex;
    static const OlaModule *module = nullptr;
    std::lock_guard lock(mutex);
    if (module)
        return module;
    const std::string path = libraryFolder() + '/' + kOlaModuleFile;
    if (!kOlaModuleBuilt) {
        why = "this libdashard was built without the OLA output (libola-dev was missing)";
        return nullptr;
    }
    if (access(path.c_str(), F_OK) != 0) {
        why = "the OLA output module " + path
            + " is missing: the installation is incomplete (reinstall the brivane package)";
        return nullptr;
    }
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const std::string error = dlerror();
        // The loader names the library it could not find; the module's own path comes first.
        const std::string named = error.starts_with(path) ? error.substr(path.size()) : error;
        if (named.find("libola") != std::string::npos
            || named.find("libprotobuf") != std::string::npos)
            why = "the OLA client library cannot be loaded (" + error
                + "): install the Debian package " + kOlaPackage;
        else
            why = "cannot load the OLA output module (" + error
                + "): reinstall the brivane package";
        return nullptr;
    }
    using Entry = const OlaModule *();
    auto *entry = reinterpret_cast<Entry *>(dlsym(handle, kOlaModuleEntry));
    if (!entry) {
        dlclose(handle);
        why = "the OLA output module " + path + " is not of this version (it has no "
            + kOlaModuleEntry
            + "): the installation is incomplete (reinstall the brivane package, then start the "
              "console again)";
        return nullptr;
    }
    module = entry();
    return module;
}

} // namespace

std::unique_ptr<Backend> openOla(const OutputConfig &config, std::string &why)
{
    const OlaModule *module = loadOlaModule(why);
    return module ? module->open(config, why) : nullptr;
}

bool checkOla(const OutputConfig &config, std::string &report, std::string &why)
{
    const OlaModule *module = loadOlaModule(why);
    if (!module) {
        report = "the OLA output is not available";
        return false;
    }
    return module->check(config, report, why);
}

} // namespace das
