// What the Art-Net and sACN kinds share: the setting's target and options, the destination in
// words, the check of the way out, the scan of the network, and the outputs' factories.
#pragma once

#include "net/net_scan.h"
#include "output_kind.h"

#include <array>
#include <optional>
#include <span>

namespace das {

// What a network kind's setting may hold, for the shared parser.
struct NetworkForm
{
    std::string_view name;
    uint16_t port; // the UDP port frames go to unless the setting names one
    bool portGiven; // whether ":PORT" may follow the host
    int64_t firstUniverse, lastUniverse; // the first is the default
    std::span<const KindOption> options; // the numbers it takes beside if=INTERFACE
};

// [:HOST[:PORT]][@U][,if=INTERFACE][,OPTION=N...] after the name, as far as `form` allows, into a
// config with the port and universe resolved; the host stays empty when the setting gives none.
std::optional<OutputConfig> parseNetwork(
    const NetworkForm &form, std::string_view rest, std::string &why);

// "10.0.0.255" or "the broadcast address of eth1": where the frames of `config` go, known without
// the interface (the check says what is wrong with it).
std::string destinationText(const OutputConfig &config);

// Opens the socket, which sends nothing, and says which interface and address frames leave by.
bool checkNetwork(const OutputConfig &config, const Say &say, std::string &why);

// The network side of brivane-check --scan for `config` in force, which streams `stream`.
int scanNetworkKind(const OutputConfig &config, const ScanStream &stream, const Say &say);

std::unique_ptr<Backend> openArtNet(const OutputConfig &config, std::string &why);
std::unique_ptr<Backend> openSacn(const OutputConfig &config, std::string &why);
// Where the machine ID our sACN CID is derived from is read, in this order: systemd's file, then
// D-Bus's, which a root without systemd (a minimal install, a build chroot) may hold alone.
inline constexpr std::array<const char *, 2> kMachineIdFiles { "/etc/machine-id",
    "/var/lib/dbus/machine-id" };
// This machine's sACN source CID for user `uid`, derived from the machine ID in the first of
// `files` that holds one (the same at every open and start, and the ID itself never sent);
// nullopt, saying why of each, where none does.
std::optional<Cid> machineSacnCid(
    std::span<const char *const> files, unsigned uid, std::string &why);
// The CID our sACN source sends: machineSacnCid's, or else one random CID for the life of the
// process, said once on stderr.
Cid sacnCid(std::span<const char *const> files, unsigned uid);
// "Brivane on HOSTNAME", the name our sACN source sends, as receivers see it (cut to its field).
std::string sacnSourceName();

} // namespace das
