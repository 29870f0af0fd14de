#include "exchange/interface_list.h"

namespace {

platform::Ipv4Address address_in_slot(const std::uint8_t* record, int slot) {
    const std::uint8_t* at = record + slot + platform::INTERFACE_SLOT_ADDRESS_OFFSET;
    return platform::Ipv4Address{{at[0], at[1], at[2], at[3]}};
}

}  // namespace

int interface_count(const InterfaceList& list) {
    const std::size_t usable = list.byte_count < sizeof list.bytes ? list.byte_count : sizeof list.bytes;
    return static_cast<int>(usable / platform::INTERFACE_RECORD_SIZE);
}

InterfaceRecord interface_at(const InterfaceList& list, int index) {
    const std::uint8_t* record = list.bytes + index * platform::INTERFACE_RECORD_SIZE;
    const std::uint8_t* flags = record + platform::INTERFACE_FLAGS_OFFSET;
    InterfaceRecord result{};
    result.flags = static_cast<std::uint32_t>(flags[0]) | static_cast<std::uint32_t>(flags[1]) << 8 |
                   static_cast<std::uint32_t>(flags[2]) << 16 | static_cast<std::uint32_t>(flags[3]) << 24;
    result.address = address_in_slot(record, platform::INTERFACE_ADDRESS_SLOT);
    result.broadcast = address_in_slot(record, platform::INTERFACE_BROADCAST_SLOT);
    result.netmask = address_in_slot(record, platform::INTERFACE_NETMASK_SLOT);
    return result;
}
