// Text output of tavrolin-cli. Texts are UTF-8. On Windows a console is
// written through WriteConsoleW, so Chinese texts show whole whatever the
// console's code page (narrow output garbles line tails on older
// consoles); pipes and files get the UTF-8 bytes unchanged, everywhere.
#pragma once
#include <cstdio>

// printf to stream (stdout or stderr).
void ConsolePrint(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
