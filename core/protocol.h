// The bytes of the device's side of the protocol: what it answers to a line of an upload, and
// the flow-control bytes that carry neither text nor an answer.
#pragma once

// Software flow-control bytes: they carry no text and no upload answer.
constexpr char Xon = 0x11;
constexpr char Xoff = 0x13;

// The device answers each line with one byte. Its firmware acknowledges with '+' or '-' and
// stops the transfer with '*' or '>' (its prompt); the two of each pair act alike here.
constexpr char AcknowledgePlus = '+';
constexpr char AcknowledgeMinus = '-';
constexpr char StopStar = '*';
constexpr char StopPrompt = '>';
// A line is retried (sent again) for at most this many bad answers or short sends; the next
// one gives up.
constexpr int UploadRetryLimit = 4;
// What the upload is fed when the device stays silent too long (core/poll_cycle.h says how
// long). It is an ordinary byte, not a reserved value: the upload retries on it only because
// 'T' is none of the answers, like any other stray byte. A 'T' the device itself sends is
// therefore taken exactly as silence would be, which is also how the upload's end is reported
// (UploadEnd::GaveUpOnSilence).
constexpr char TimeoutMarker = 'T';
