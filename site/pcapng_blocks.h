// The three pcapng blocks a line capture is made of, built in memory:
// a section header, one interface description per serial line, and one
// enhanced packet block per chunk that crossed the line. Little-endian
// whatever the machine (readers follow the byte-order magic), so the same
// capture comes out of the controller and of a PC.
//
// Each chunk is one packet as the host read or wrote it, not a protocol
// frame: a reply split on the wire stays split in the capture, and the
// dissector puts the frames together again.
#ifndef VELTA36_SITE_PCAPNG_BLOCKS_H
#define VELTA36_SITE_PCAPNG_BLOCKS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velta36site {

using Block = std::vector<unsigned char>;

// LINKTYPE_USER3: the user link types 147..162 are pcapng's room for
// private protocols, and nothing else claims them. 147 (USER0) is the one
// ad-hoc captures take first; staying off it keeps our dissector from
// claiming other people's captures once it is installed.
const uint16_t kCaptureLinkType = 150;

// epb_flags direction, as seen from the interface the capture is taken on.
enum class CaptureDirection : uint32_t { Inbound = 1, Outbound = 2 };

// shb_userappl names the program that wrote the file.
Block SectionHeaderBlock(const std::string& application);
// if_name and if_description; no snap length limit; time stamps in
// microseconds (pcapng's default resolution, so no if_tsresol).
Block InterfaceDescriptionBlock(uint16_t linkType, const std::string& name, const std::string& description);
// epb_flags with the direction, and opt_comment when comment is not empty.
Block EnhancedPacketBlock(uint32_t interface, uint64_t microsecondsSinceEpoch, CaptureDirection direction,
                          const unsigned char* data, std::size_t length, const std::string& comment);

}  // namespace velta36site

#endif
