#pragma once
// The program's compiled-in resources: bitmaps, cursors and icons, found by name or by id.

#include <cstdint>
#include <span>
#include <string>

enum class ResourceKind { Bitmap, Cursor, Icon };

// The bytes of a resource file as built into the program (a BMP, CUR or ICO file), or an
// empty span when there is none. `name` is a resource name or a MAKEINTRESOURCE id.
std::span<const std::uint8_t> FindResourceBytes(ResourceKind kind, const char* name);

// The file name a resource goes by in res/: "RACK.bmp", "153.bmp", "137.cur", "155.ico".
std::string ResourceFileName(ResourceKind kind, const char* name);
