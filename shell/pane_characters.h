// How the Linux program shows each byte the device sent, in the window's pane and in the text
// console alike, so that a byte looks the same whichever shows it:
//   - LF ends a line, so CR LF, a bare LF and the CR CR LF of a device that sends CR LF each
//     show as one line break;
//   - a lone CR shows as nothing (PaneHidden): the text after it goes on in the same line;
//   - TAB is a tab; the other control bytes 0x01-0x1F and 0x7F show as their Unicode control
//     pictures (U+2401 ...), 0x80-0x9F as U+FFFD, so that no byte vanishes unseen and none
//     reaches a screen as a control (a terminal takes ESC, and in UTF-8 U+0080-U+009F, as the
//     start of a command);
//   - every other byte is its Latin-1 character.
#pragma once

#include <array>
#include <cstddef>

// Marks a byte that shows as nothing (CR).
constexpr char16_t PaneHidden = 0;

namespace pane_characters {

// The Unicode block "Control Pictures" draws C0 controls as small symbols: U+2400 + byte, and
// U+2421 for DEL.
constexpr char16_t ControlPictures = 0x2400;
constexpr char16_t DeletePicture = 0x2421;
constexpr char16_t Replacement = 0xfffd;

constexpr std::array<char16_t, 256> Build() {
    std::array<char16_t, 256> table{};
    for (int byte = 0; byte < 256; ++byte) {
        char16_t shown = static_cast<char16_t>(byte);
        if (byte == '\r') {
            shown = PaneHidden;
        } else if (byte == '\t' || byte == '\n') {
            shown = static_cast<char16_t>(byte);
        } else if (byte < 0x20) {
            shown = static_cast<char16_t>(ControlPictures + byte);
        } else if (byte == 0x7f) {
            shown = DeletePicture;
        } else if (byte >= 0x80 && byte < 0xa0) {
            shown = Replacement;
        }
        table[static_cast<std::size_t>(byte)] = shown;
    }
    return table;
}

} // namespace pane_characters

// The character each byte shows as, indexed by the byte as unsigned char.
constexpr std::array<char16_t, 256> PaneCharacters = pane_characters::Build();
