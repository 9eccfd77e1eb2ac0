// The system's code page on POSIX is code page 932, as on the players' systems.
#include "engine/code_page.h"

bool isLeadByte(unsigned char byte) { return isCodePage932LeadByte(byte); }

bool isSuperscriptDigit(unsigned char byte) { return codePage932.isSuperscriptDigit(byte); }

void lowerCaseName(char* name) { lowerCaseCodePage932Name(name); }
