// Sends the program file to the device one line at a time, paced by the device's answers.
#pragma once

// Answers the device gives after each line.
constexpr char AnswerNextLine = '+';
constexpr char AnswerNextLineToo = '-';
constexpr char AnswerEnd = '*';
constexpr char AnswerEndToo = '>';
// A line is sent again for at most this many bad answers; the next one gives up.
constexpr int UploadRepeatLimit = 4;

// Starts (or restarts) the upload of the file named by UploadPath and sends its first line.
// Returns ResultSuccess, or ResultFailure when no file is named or it cannot be read.
int StartUpload();

// Acts on one byte the device sent during an upload (or on TimeoutMarker).
void UploadStep(char byte);
