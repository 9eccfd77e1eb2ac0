#include "tools/patchtool/name_encoding.h"

#include "engine/code_page.h"
#include "engine/target_name.h"
#include "engine/update_run.h"

namespace {

constexpr uint32_t replacementCharacter = 0xFFFD;

void appendUtf8(std::string& text, uint32_t scalar) {
    if (scalar < 0x80) {
        text += static_cast<char>(scalar);
    } else if (scalar < 0x800) {
        text += static_cast<char>(0xC0 | scalar >> 6);
        text += static_cast<char>(0x80 | (scalar & 0x3F));
    } else if (scalar < 0x10000) {
        text += static_cast<char>(0xE0 | scalar >> 12);
        text += static_cast<char>(0x80 | (scalar >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (scalar & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | scalar >> 18);
        text += static_cast<char>(0x80 | (scalar >> 12 & 0x3F));
        text += static_cast<char>(0x80 | (scalar >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (scalar & 0x3F));
    }
}

// Single bytes of code page 932: ASCII as it is, half-width katakana at U+FF61-U+FF9F.
uint32_t decodeSingleByte(uint8_t byte) {
    if (byte < 0x80) return byte;
    if (byte >= 0xA1 && byte <= 0xDF) return 0xFF61u + (byte - 0xA1u);
    return replacementCharacter;
}

}  // namespace

std::string codePage932ToUtf8(const char* bytes, size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<uint8_t>(bytes[i]);
        if (!codePage932.isLeadByte(byte)) {
            appendUtf8(text, decodeSingleByte(byte));
        } else if (i + 1 < length) {
            const uint32_t scalar = decodeDoubleByteCharacter(byte, static_cast<uint8_t>(bytes[++i]));
            appendUtf8(text, scalar != 0 ? scalar : replacementCharacter);
        } else {
            appendUtf8(text, replacementCharacter);
        }
    }
    return text;
}

std::string foldedName(const std::string& name) {
    char folded[runPathBufferSize];
    return foldTargetName(folded, sizeof folded, name.c_str(), "", codePage932) ? folded : "";
}
