// The output window's list of what this machine can send to, made from what the library found:
// which rows there are, their words, and what choosing each fills in.
#include "machine_list.h"

#include <gtest/gtest.h>

namespace {

// Each row as "TEXT -> KIND INTERFACE DEVICE", a line each.
std::string rows(const std::vector<das::Target> &targets)
{
    std::string text;
    for (const das::Target &t : targets)
        text += t.text + " -> " + t.kind + " " + t.interface + " " + t.device + "\n";
    return text;
}

das::NetInterface device(std::string name, std::vector<uint32_t> at, bool up, bool running)
{
    das::NetInterface made { .name = name, .up = up, .running = running, .loopback = name == "lo" };
    for (uint32_t address : at) // the first byte says the prefix: 127 and 10 /8, others /16
        made.addresses.push_back({ address,
            address >> 24 == 127 || address >> 24 == 10 ? 0xff000000u : 0xffff0000u, 0 });
    return made;
}

} // namespace

TEST(MachineList, NetworkDevicesEachAddressOnItsOwnLoopbackLeftOut)
{
    EXPECT_EQ(rows(das::networkTargets({ device("lo", { 0x7f000001 }, true, true),
                  device("eth0", { 0x0a000005 }, true, true),
                  device("eth1", { 0xac100005, 0x0a090001 }, true, false),
                  device("eth2", {}, false, false) })),
        "eth0: 10.0.0.5/8, link ->  eth0 \n"
        "eth1: 172.16.0.5/16, no link (cable out?) ->  172.16.0.5 \n"
        "eth1: 10.9.0.1/8, no link (cable out?) ->  10.9.0.1 \n"
        "eth2: no IPv4 address, down ->  eth2 \n");
}

TEST(MachineList, WidgetsByTheirAnswerAdaptersUnaskedOlaWhenItAnswers)
{
    std::vector<das::WidgetReply> replies(3);
    replies[0] = { "/dev/a", true, true, 0x12345678, 0x0104, {} };
    replies[1] = { "/dev/b", true, false, {}, {}, "no answer" };
    replies[2] = { "/dev/c", false, false, {}, {}, "permission denied" };
    EXPECT_EQ(rows(das::serialTargets(replies, { "/dev/d" })),
        "DMX USB Pro widget, serial number 12345678: /dev/a -> usbpro  /dev/a\n"
        "Open DMX adapter (no answer as a USB Pro widget): /dev/b -> opendmx  /dev/b\n"
        "DMX interface, permission denied: /dev/c -> usbpro  /dev/c\n"
        "USB serial adapter, not asked (it may be another kind of device): /dev/d -> usbpro  "
        "/dev/d\n");
    EXPECT_EQ(rows(das::olaTargets(false, "olad answers on 127.0.0.1:9010 but has no universe 1")),
        "OLA daemon: olad answers on 127.0.0.1:9010 but has no universe 1 -> ola  \n");
    EXPECT_EQ(rows(das::olaTargets(false, "no olad answers on 127.0.0.1:9010")), "");
}
