// Each kind's setting form, as the table gives it, is in README, the manual pages (font escapes
// and macros taken out) and the system settings file an operator edits.
#include "output_kind.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>

TEST(Forms, EveryKindIsInTheDocs)
{
    const std::filesystem::path root = BRIVANE_SOURCE_DIR;
    const auto read = [](const std::filesystem::path &f) {
        return (std::ostringstream() << std::ifstream(f).rdbuf()).str();
    };
    const std::regex markup(R"((\n)\.[BIR]+ |\\f[BIRP]| )"); // ".BR ola [@ \fIU\fP ]": ola[@U]
    std::string man;
    for (const auto &page : std::filesystem::directory_iterator(root / "packaging/man"))
        man += std::regex_replace(read(page.path()), markup, "$1");
    const std::string docs[]
        = { read(root / "README.md"), read(root / "packaging/output.conf"), man };
    for (const das::OutputKindUnit *unit : das::outputKinds())
        for (const std::string &doc : docs)
            EXPECT_NE(doc.find(unit->form), std::string::npos) << unit->form << " not in\n"
                                                               << doc.substr(0, 60);
}
