// Every rule about CP936 bytes lives here: conversion at the Qt boundary,
// which bytes start a double-byte character, and byte-counted positions and
// lengths of text that Qt holds as UTF-16.
#pragma once

#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

namespace ui::detail {

// CP936 bytes as Unicode. Bytes that are not valid CP936 are shown as Latin-1
// rather than dropped.
QString decodeCp936(std::string_view bytes);
// Unicode as CP936 bytes. False in *ok (and "") when the text holds a
// character CP936 cannot encode; nothing is ever replaced by '?'.
std::string encodeCp936(const QString& text, bool* ok = nullptr);
bool encodableInCp936(const QString& text);

// A byte that starts a double-byte character (0x81..0xFE). 0x80 is the euro
// sign on its own.
constexpr bool isLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}
// The longest prefix of `bytes` of at most maxBytes that ends between two
// characters: half a double-byte character is not CP936.
std::size_t prefixAtBoundary(std::string_view bytes, std::size_t maxBytes);

// Bytes that a text takes in CP936 (a Chinese character counts two, the euro
// sign one); characters CP936 cannot encode count two.
int cp936Length(const QString& text);
// Byte offsets in CP936 <-> character positions in the Qt text. A byte offset
// inside a character maps to the character after it.
int charIndexForByte(const QString& text, int byteOffset);
int byteIndexForChar(const QString& text, int charIndex);

}  // namespace ui::detail
