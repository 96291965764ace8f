#pragma once

// Software flow-control bytes: they carry no text and no upload answer.
constexpr char Xon = 0x11;
constexpr char Xoff = 0x13;
