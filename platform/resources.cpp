// Resources live in Qt's resource system under the names they have in res/, stored uncompressed,
// so the bytes handed out are the files themselves and stay valid for the life of the program.
#include "platform/resources.h"

#include "platform/gdi.h"

#include <QResource>
#include <QString>

#include <cctype>

namespace {

const char* FolderOf(ResourceKind kind)
{
    switch (kind) {
    case ResourceKind::Bitmap:
        return "bitmaps";
    case ResourceKind::Cursor:
        return "cursors";
    case ResourceKind::Icon:
        return "icons";
    }
    return "";
}

const char* ExtensionOf(ResourceKind kind)
{
    switch (kind) {
    case ResourceKind::Bitmap:
        return ".bmp";
    case ResourceKind::Cursor:
        return ".cur";
    case ResourceKind::Icon:
        return ".ico";
    }
    return "";
}

// Resource names are matched without regard to case, and "#153" names id 153, as the names in a
// Windows program's resources are; the files in res/ carry the upper-case form.
std::string StemOf(const char* name)
{
    if (IS_INTRESOURCE(name))
        return std::to_string(reinterpret_cast<std::uintptr_t>(name));
    std::string stem = name[0] == '#' ? name + 1 : name;
    for (char& c : stem)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return stem;
}

} // namespace

std::string ResourceFileName(ResourceKind kind, const char* name) { return StemOf(name) + ExtensionOf(kind); }

std::span<const std::uint8_t> FindResourceBytes(ResourceKind kind, const char* name)
{
    const std::string file = ResourceFileName(kind, name);
    // A name is a single file name; anything that would reach into another folder is not one.
    if (file.find('/') != std::string::npos)
        return {};
    const QResource resource(QString::fromStdString(std::string(":/res/") + FolderOf(kind) + "/" + file));
    if (!resource.isValid() || resource.compressionAlgorithm() != QResource::NoCompression)
        return {};
    return {resource.data(), static_cast<std::size_t>(resource.size())};
}
