#pragma once
// Every thread Varnek starts, or is handed by a library, carries a name that says what it does:
// top, ps -L, pw-top's neighbours and a debugger show it instead of the program's name on every
// one of them. The kernel keeps 15 characters; a longer name is cut there.

// Names the calling thread. One system call, and no lock or allocation, so an audio thread may
// call it the first time it runs.
void NameThisThread(const char* name);

// Has libjack name the threads it starts for the process's clients "varnek-jack" (a client's
// process thread then names itself after its work as it first runs). Once, before any client
// opens; later calls do nothing.
void NameJackThreads();
