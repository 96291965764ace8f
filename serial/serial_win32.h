// Why a COM port did not open on Win32, apart from the calls that fail, so that the reasons
// wine cannot bring about (a driver refusing 9600 8N1, a port held by another program, which
// wine lets through) are tested too.
#pragma once

// How far an open got: the open itself, the calls that only a serial port answers (time-outs,
// reading its line settings), then writing the line settings.
enum class PortOpenStep { Opening, SettingUp, ApplyingLineSettings };

// The reason for a failure at `step` with the system's error code, as the user can act on it;
// nullptr when the system's own text says it better.
const char* DescribePortOpenFailure(PortOpenStep step, unsigned long error);
