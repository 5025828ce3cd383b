#pragma once
// A thread named after what it does shows so in top, ps, gdb and the JACK and PipeWire tools,
// where a dozen threads all called "varnek" tell nothing. Linux keeps at most 15 characters.

// Names the calling thread; a name longer than 15 characters is cut there.
void NameThisThread(const char* name);
