// Each kind's setting form, as the table gives it, is in README, the manual pages (font escapes
// and macros taken out) and the system settings file an operator edits; each kind has its line
// in what brivane-check says it checks.
#include "output_kind.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>

TEST(Forms, EveryKindIsInTheDocs)
{
    const std::filesystem::path root = BRIVANE_SOURCE_DIR;
    const auto read = [](const std::filesystem::path &f) {
        return (std::ostringstream() << std::ifstream(f).rdbuf()).str();
    };
    const std::regex markup(R"((\n)\.[BIR]+ |\\f[BIRP]| )"); // ".BR ola [@ \fIU\fP ]": ola[@U]
    std::string man;
    for (const char *page : { "brivane.1.in", "brivane-output.1.in" })
        man += std::regex_replace(read(root / "packaging/man" / page), markup, "$1");
    const std::string docs[]
        = { read(root / "README.md"), read(root / "packaging/output.conf"), man };
    // brivane-check says what it checks of each kind, in its usage text ("  artnet, sacn  the
    // interface...") and in its manual page (".TP" then ".B artnet, sacn").
    const auto kindsListed = [](const std::string &text, const std::regex &row) {
        std::set<std::string> kinds;
        for (std::sregex_iterator at(text.begin(), text.end(), row), end; at != end; ++at) {
            std::istringstream names(std::regex_replace((*at)[1].str(), std::regex(","), " "));
            for (std::string name; names >> name;)
                kinds.insert(name);
        }
        return kinds;
    };
    const std::string usage = read(root / "iface/check/brivane_check.cpp");
    const std::set<std::string> checked[] = {
        kindsListed(usage, std::regex(R"(\n  ([a-z]+(, [a-z]+)*)  )")),
        kindsListed(read(root / "packaging/man/brivane-check.1.in"),
            std::regex(R"(\.TP\n\.B ([a-z]+(, [a-z]+)*)\n)")),
    };
    for (const das::OutputKindUnit *unit : das::outputKinds()) {
        for (const std::string &doc : docs)
            EXPECT_NE(doc.find(unit->form), std::string::npos) << unit->form << " not in\n"
                                                               << doc.substr(0, 60);
        for (const std::set<std::string> &kinds : checked)
            EXPECT_TRUE(kinds.contains(std::string(unit->name)))
                << unit->name << " missing from brivane-check's usage text or manual page";
    }
}
