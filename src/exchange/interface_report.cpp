#include "exchange/interface_report.h"

#include "cli/address_text.h"
#include "cli/console.h"

namespace {

// The comma-led texts stand as they are, whatever comes before them.
void print_flags(std::uint32_t flags, std::FILE* out) {
    static const struct {
        std::uint32_t bit;
        const char* text;
    } flag_texts[] = {
        {platform::INTERFACE_UP, "Interface up"},
        {platform::INTERFACE_BROADCAST, ", broadcasts are supported"},
        {platform::INTERFACE_MULTICAST, ", multicasts are supported"},
        {platform::INTERFACE_LOOPBACK, " (loopback)"},
        {platform::INTERFACE_POINT_TO_POINT, " (point-to-point)"},
    };
    for (const auto& flag : flag_texts) {
        if (flags & flag.bit) console_print(out, "%s", flag.text);
    }
}

}  // namespace

void print_interface_block(const InterfaceRecord& record, std::FILE* out) {
    // The netmask comes before the broadcast address, though the record
    // holds them the other way round.
    console_print(out, "  IP: %16s", dotted(record.address).text);
    console_print(out, " SubnetMask: %s ", dotted(record.netmask).text);
    console_print(out, " Bcast Addr: %s", dotted(record.broadcast).text);
    console_print(out, "\n  ");
    print_flags(record.flags, out);
    console_print(out, "\n\n");
}

void report_interfaces(const InterfaceList& list, const Report& report, const ReportStreams& streams) {
    for (int i = 0; i < interface_count(list); ++i) report.interface(streams, interface_at(list, i));
}

bool list_interfaces(platform::UdpSocket* socket, const Report& report, const ReportStreams& streams) {
    console_print(streams.err, "Scanning Local Network Interfaces . . .\n\n");
    InterfaceList list{};
    if (!platform::query_interface_list(socket, list.bytes, sizeof list.bytes, &list.byte_count)) return false;
    report_interfaces(list, report, streams);
    return true;
}
