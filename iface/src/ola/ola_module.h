// The OLA output lives in a module of its own, libdashard-ola.so beside libdashard, so that the
// OLA client libraries (libola, libolacommon, libprotobuf) are loaded only once an ola output is
// opened or checked, never at the program's start.
#pragma once

#include "backend.h"
#include "output_config.h"

#include <memory>
#include <string>

namespace das {

// What the module hands over through its one exported entry, kOlaModuleEntry.
struct OlaModule
{
    std::unique_ptr<Backend> (*open)(const OutputConfig &config, std::string &why);
    bool (*check)(const OutputConfig &config, std::string &report, std::string &why);
};

inline constexpr const char *kOlaModuleFile = "libdashard-ola.so";
inline constexpr uint16_t kOlaPort = 9010; // olad's RPC port on 127.0.0.1
// dashard_ola_module_MAJOR_MINOR_PATCH: a module from another version lacks this very entry, so
// one left by an upgrade under a running console is never called.
#define DASHARD_OLA_NAME(entry) #entry
#define DASHARD_OLA_TEXT(entry) DASHARD_OLA_NAME(entry)
inline constexpr const char *kOlaModuleEntry = DASHARD_OLA_TEXT(DASHARD_OLA_ENTRY);
// The Debian package of the OLA client, as the build found it on the system (libola1, libola1t64).
inline constexpr const char *kOlaPackage = DASHARD_OLA_PACKAGE;
// Whether this build made the module at all: it needs OLA's development files.
inline constexpr bool kOlaModuleBuilt = DASHARD_OLA_MODULE;

// Opens the ola output through the module, loading it at the first call.
std::unique_ptr<Backend> openOla(const OutputConfig &config, std::string &why);

// Asks olad on 127.0.0.1, config.port, whether it answers and whether universe config.universe
// exists, that is has a patched port. Sends no DMX, never starts a
// daemon, and returns within about a second. True when olad answers and the universe exists.
// `report` is one line on what was found; `why`, on false, the reason (the module or libola
// missing and the package to install, olad not running, no such universe).
// The module is looked for beside libdashard, so a program that calls this links dashard too.
bool checkOla(const OutputConfig &config, std::string &report, std::string &why);

} // namespace das
