// SPDX-License-Identifier: Apache-2.0
// INQUIRY command building and decoding, apart from any device: the standard data's vendor
// and product fields, the Device Identification page's LUN id and target id, and the hex text
// in which a VMware description carries standard data. Nothing here reads outside the buffer
// it is given, whatever the buffer holds.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace scsi {

// Every INQUIRY of the plug-in asks for this many bytes.
constexpr unsigned int kInquiryLength = 255;
constexpr unsigned int kPageStandard = 0x00;
constexpr unsigned int kPageDeviceIdentification = 0x83;
// The array family's identification in standard data, after trimming.
inline constexpr char kVendorTegile[] = "TEGILE";
inline constexpr char kProductIntelliFlash[] = "INTELLIFLASH";
// Standard data decoded from a VMware description never exceeds this many bytes.
constexpr size_t kHexInquiryBytes = 4096;

// The 6-byte INQUIRY CDB: operation 0x12, EVPD bit, page code, allocation length (low 8 bits).
std::array<unsigned char, 6> inquiryCdb(bool evpd, unsigned int page, unsigned int length);

// Standard data fields: bytes 8-15 and 16-31, as text up to the first NUL, right-trimmed of
// white space. Empty when `length` does not reach the field.
std::string vendorId(const unsigned char* data, size_t length);
std::string productId(const unsigned char* data, size_t length);

// Page 0x83: the 16 bytes at 8-23 as 32 upper-case hex digits (empty when `length` < 24).
std::string lunId(const unsigned char* page, size_t length);
// Page 0x83: the text at 28 of the length byte 27 names, up to the first NUL; a length that
// claims more than the buffer holds is cut at the buffer's end.
std::string targetId(const unsigned char* page, size_t length);
// Page 0x83: the text of up to 46 bytes at 28, up to the first NUL (the length byte unused).
std::string targetIdFixed(const unsigned char* page, size_t length);

// The LUN id inside a VMware "lunuuid": its characters 10 to 41, upper-cased. False (and
// `lunId` empty) when the text is too short to hold them.
bool lunIdFromUuid(const std::string& uuid, std::string& lunId);

// Decodes hex text, two digits a byte (either case), into `bytes`: at most `maxBytes` bytes
// from the start of `hex`, whose length must be even. Returns std::string::npos when every
// digit read is hex; otherwise the position of the first that is not, with `bytes` holding
// the bytes before it.
size_t hexToBytes(const std::string& hex, size_t maxBytes, std::vector<unsigned char>& bytes);

// Decodes VMware "standardinqury" text into `bytes` (resized to kHexInquiryBytes, zero-filled)
// pair by pair, each pair read as a base-16 number: the pair's leading hex digits give its
// value, so a pair without one is 0 and a lone last character stands alone. This is how the
// host's own descriptions read: the last value keeps the description's closing "}". Pairs
// beyond kHexInquiryBytes are not read. Returns false with `why` set, and `bytes` all zero,
// only when the text is too short to cover the vendor and product fields (64 characters) or
// holds no hex digit at all.
bool decodeHexInquiry(const std::string& hex, std::vector<unsigned char>& bytes, std::string& why);

}  // namespace scsi
