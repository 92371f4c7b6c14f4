// Our sACN source's CID and name: the machine ID read, else one random CID said once.
#include "net/sacn_cid.h"

#include "diagnostic.h"
#include "encode/wire_text.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <sys/random.h>
#include <unistd.h>

namespace das {

namespace {

Cid randomCid()
{
    Cid bytes {};
    if (getrandom(bytes.data(), bytes.size(), GRND_NONBLOCK)
        != static_cast<ssize_t>(bytes.size())) {
        // Only right after boot is the kernel pool not ready; uniqueness is all a CID needs.
        std::random_device device;
        for (auto &byte : bytes)
            byte = static_cast<uint8_t>(device());
    }
    return makeUuidV4(bytes);
}

} // namespace

std::optional<Cid> machineSacnCid(
    std::span<const char *const> files, unsigned uid, std::string &why)
{
    why.clear();
    for (const std::string path : files) {
        std::ifstream file(path);
        const int error = errno;
        std::string id;
        if (!std::getline(file, id))
            why += (why.empty() ? "" : " and ") + path + " cannot be read ("
                + (file.is_open() ? "it is empty" : std::strerror(error)) + ")";
        else if (id.size() != 32 || id.find_first_not_of("0123456789abcdef") != std::string::npos)
            why += (why.empty() ? "" : " and ") + path + " holds no machine ID";
        else
            return sacnSourceCid(id, uid);
    }
    return std::nullopt;
}

Cid sacnCid(std::span<const char *const> files, unsigned uid)
{
    std::string why;
    if (auto cid = machineSacnCid(files, uid, why))
        return *cid;
    static const Cid random = randomCid();
    static std::once_flag said;
    std::call_once(said, [&] {
        printDiagnostic("sACN: " + why + ": the source takes a random CID until the program "
            + "ends, and receivers see a new source at each start");
    });
    return random;
}

std::string sacnSourceName()
{
    char host[256] = {};
    std::string name = "Brivane";
    if (::gethostname(host, sizeof host - 1) == 0 && host[0])
        name.append(" on ").append(host);
    return std::string(cutUtf8(name, kSacnSourceNameSize - 1));
}

} // namespace das
