// Everything one output kind is, in one place: its name in the setting, how its setting parses,
// how it opens, and what brivane-check says of it, checks and scans. Each kind is one unit in
// the folder of its family (net/, serial/, ola/) holding one of these; a new kind is a new unit
// and one row in output_kind.cpp.
#pragma once

#include "backend.h"
#include "output_config.h"

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace das {

// One line of brivane-check's report: a label ("Device", "Route") and its text.
using Say = std::function<void(const std::string &label, const std::string &text)>;

// A number a kind takes as ",NAME=N" after its target: one row of its table, which its parser
// checks against and the output window offers.
struct KindOption
{
    std::string_view name; // before the '='
    int64_t lowest, highest; // the range it takes
    int64_t fallback; // its value when the setting names none
    int OutputConfig::*field; // where its value goes
};

struct OutputKindUnit
{
    std::string_view name; // as the setting begins
    // Its accepted form, for messages; README, the manual page and output.conf show it as it is.
    std::string_view form;
    // The setting after the name (":TARGET@U,..." or empty) into a config with every default
    // filled in and every range checked, which open, describe and check then take as it is;
    // nullopt with why not.
    std::optional<OutputConfig> (*parse)(std::string_view rest, std::string &why);
    // Command 1: the open output, or null with why not in one short phrase. On success `why` is
    // empty or says what the output decided by itself.
    std::unique_ptr<Backend> (*open)(const OutputConfig &config, std::string &why);
    // What pressing the interface button would drive, in the operator's words.
    std::string (*describe)(const OutputConfig &config);
    // Whether command 1 would open it, found without sending a frame; says what it found.
    bool (*check)(const OutputConfig &config, const Say &say, std::string &why);
    // What is there to drive (brivane-check --scan): `inForce` is the setting when it is of this
    // kind, else null. Says what it finds; returns how many answered, or -1 when it warned.
    // Null for a kind with nothing to look for.
    int (*scan)(const OutputConfig *inForce, const Say &say);
    // The numbered options it takes, in the order its form shows them.
    std::span<const KindOption> options;
    // brivane-check's Output line and check at once, for a kind whose description rests on what
    // its check finds (where a network kind's frames go), so that the two are found once. Null:
    // describe, then check.
    bool (*report)(const OutputConfig &config, const Say &say, std::string &why) = nullptr;
};

// Every kind, in the order messages list them.
std::span<const OutputKindUnit *const> outputKinds();
// The kind that parsed `config`.
const OutputKindUnit &outputKind(const OutputConfig &config);

// The option `name` of the kind named `kind`, or null when that kind takes none by that name.
const KindOption *kindOption(std::string_view kind, std::string_view name);

// The kind an empty setting means.
const OutputKindUnit &defaultOutputKind();

// The accepted forms, for messages: each kind's form, " | " between.
std::string outputForms();

} // namespace das
