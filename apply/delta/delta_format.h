// The bytes of the JojoDiff delta format that its decoder and its encoder
// share: the escape byte, the opcodes and the forms of a length operand.
// delta_decoder.h describes the format as a whole.
#pragma once

#include <cstdint>

namespace jojodiff {

constexpr uint8_t kEsc = 0xA7;
constexpr uint8_t kOpBkt = 0xA2;  // length: move the original position back
constexpr uint8_t kOpEql = 0xA3;  // length: copy from the original
constexpr uint8_t kOpDel = 0xA4;  // length: skip original bytes
constexpr uint8_t kOpIns = 0xA5;  // data bytes that follow are inserted
constexpr uint8_t kOpMod = 0xA6;  // data bytes that follow replace original bytes

// An escape followed by one of these is an opcode (or, for kEsc, one
// 0xA7 data byte); followed by anything else it is two data bytes.
constexpr bool IsOpcodeByte(uint8_t byte) { return byte >= kOpBkt && byte <= kEsc; }

// A length operand's first byte: below kLenForm2 it is the whole operand
// (value = byte + 1); kLenForm2 takes one more byte (value = 253 + byte);
// kLenForm3, kLenForm5 and kLenForm9 take 2, 4 and 8 big-endian bytes.
constexpr uint8_t kLenForm2 = 252;
constexpr uint8_t kLenForm3 = 253;
constexpr uint8_t kLenForm5 = 254;
constexpr uint8_t kLenForm9 = 255;
constexpr uint32_t kLenMax1 = 252;  // the largest value of each short form
constexpr uint32_t kLenMax2 = 508;
constexpr uint32_t kLenMax3 = 0xFFFF;

}  // namespace jojodiff
