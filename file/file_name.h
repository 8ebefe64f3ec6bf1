#pragma once

// 1 when name can serve as a file name: not null, not empty, no control byte
// (below 0x20) and none of  " * / : < > ? \ |  ; bytes 0x80 to 0xFF are allowed.
int FileNameIsValid(const char* name);
