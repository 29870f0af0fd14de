// Reading the interface list the platform layer delivers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

struct InterfaceRecord {
    std::uint32_t flags;  // platform::INTERFACE_* bits
    platform::Ipv4Address address;
    platform::Ipv4Address broadcast;
    platform::Ipv4Address netmask;
};

struct InterfaceList {
    std::uint8_t bytes[platform::INTERFACE_LIST_CAPACITY * platform::INTERFACE_RECORD_SIZE];
    std::size_t byte_count;
};

// A byte count that is no multiple of the record size leaves its remainder unread.
int interface_count(const InterfaceList& list);
InterfaceRecord interface_at(const InterfaceList& list, int index);
