// The bridge between the Firebird layer and the packet engine: result sets read into packets.
// Kept apart so the packet format code (and its fuzz replays) never links the Firebird client.
#pragma once

#include <cstdint>
#include <vector>

#include "fb/fb.h"
#include "packet/packet.h"

namespace kvo::fbpacket {

// Reads every remaining row of an open result set into a packet whose fields are the result
// set's columns (with Column::precision where the statement looked it up), mapped as
// docs/packet-format.md says. Throws what the result set throws. With `maxBytes` above 0, stops
// fetching as soon as the packet's values take more than that many bytes (Packet::UsedBytes)
// and throws kvo::Error "The result is larger than this server allows (MaxPacketBytes =
// <maxBytes>)."
packet::Packet BuildPacket(fb::ResultSet& resultSet, uint64_t maxBytes = 0);

}  // namespace kvo::fbpacket
