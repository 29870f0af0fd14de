#include "exchange/verification.h"

#include <cstring>

#include "cli/address_rules.h"
#include "exchange/report.h"

namespace {

bool same_address(const platform::Ipv4Address& a, const platform::Ipv4Address& b) {
    return std::memcmp(a.octets, b.octets, sizeof a.octets) == 0;
}

bool same_text(const FieldText& heard, const char* sent) {
    return heard.length == std::strlen(sent) && std::memcmp(heard.text, sent, heard.length) == 0;
}

}  // namespace

bool assigned_address(const SndpCfgMsg& sent, platform::Ipv4Address* address) {
    std::uint32_t value = 0;
    if (sent.dhcp_enabled != 0 || parse_dotted_quad(sent.ip_address, &value) != DottedQuad::valid) return false;
    *address = address_of(value);
    return true;
}

unsigned differences_from_sent(const SndpCfgMsg& sent, const SndpCfgMsg& heard, const platform::Ipv4Address& source) {
    unsigned differences = 0;
    if ((sent.dhcp_enabled != 0) != (heard.dhcp_enabled != 0)) differences |= DIFFERS_DHCP;
    if (sent.dhcp_enabled != 0) return differences;
    platform::Ipv4Address address{};
    if (assigned_address(sent, &address) && !same_address(address, source)) differences |= DIFFERS_ADDRESS;
    if (sent.subnet_mask[0] != '\0' && !same_text(read_text_field(heard, heard.subnet_mask), sent.subnet_mask)) {
        differences |= DIFFERS_MASK;
    }
    if (has_gateway(sent) && std::memcmp(sent.gateway, heard.gateway, sizeof sent.gateway) != 0) {
        differences |= DIFFERS_GATEWAY;
    }
    return differences;
}
