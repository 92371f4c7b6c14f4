// The output window's form: for each kind, the fields it takes and the range of its number, and
// the setting text the fields make. The library parses that text; the form only writes it.
#pragma once

#include "output_kind.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace das {

struct KindForm
{
    std::string_view kind; // as the setting begins
    std::string_view label; // in the window's list of kinds
    bool host, interface, device; // the text fields it takes
    std::string_view deviceHint; // what an empty device field means, or what it wants
    std::string_view number; // its caption, "&Port-address" or "U&niverse"; empty: it takes none
    int64_t lowest, highest, first; // the number's range and default
    uint16_t port; // for a kind whose host may name a UDP port: the port otherwise; else 0
};

// Every kind the library has, in its order.
std::span<const KindForm> kindForms();
// The form of `kind`; an unknown one gets none's.
const KindForm &kindForm(std::string_view kind);

// The priority the form shows until one is chosen: the receivers' default, from the kind that
// takes one. The window's one priority field serves every kind whose table has "priority".
int defaultPriority();

struct FormValues
{
    std::string kind { defaultOutputKind().name };
    std::string host, interface, device; // empty: left to the library
    uint16_t port = 0; // 0: the kind's own
    int64_t universe = 0;
    int priority = defaultPriority();
};

// KIND[:HOST[:PORT]|:DEVICE][@U][,if=IF][,priority=P], as far as the kind takes them; the
// priority only when it is not the receivers' default.
std::string settingText(const FormValues &values);

// Why the library refuses `text`, or why a settings file could not hold it; empty when neither.
std::string settingRefusal(const std::string &text);

// The fields of a setting the library parsed. A host the library filled in itself (Art-Net's
// 127.0.0.1, sACN's multicast group) reads as none, so that the text stays as short as it was.
FormValues formValues(const OutputConfig &config);

} // namespace das
