#pragma once
// The program's one image type: a device-independent bitmap from the program's resources, the
// palette built from its colour table and a DrawDib context opened on first use.

#include "platform/gdi.h"

class CDib : public CGdiObject {
public:
    CDib() = default;
    ~CDib() override;

    // The name of the class's run-time record; its base is the framework's root object.
    static const char* RuntimeClassName() { return "CDib"; }

    BOOL LoadFromResource(HINSTANCE instance, const char* name);
    BOOL AttachBitmap(HBITMAP bitmap);
    BOOL BuildPalette(CPalette& palette);
    int ReadColorTable(RGBQUAD* entries, int count);
    CSize GetImageSize() const;
    BOOL Draw(CDC* dc, const CRect* dst, const CRect* src, BOOL useDrawDib, CPalette* palette,
              BOOL foreground);
    BOOL Release();

    operator HBITMAP() const { return reinterpret_cast<HBITMAP>(m_hObject); }

    // The bitmap is the GDI object's one handle; this name refers to it.
    HGDIOBJ& m_hBitmap = m_hObject;
    BITMAP m_info{};
    CPalette m_palette;
    HDRAWDIB m_hDrawDib = nullptr;
};

// Draws a bitmap through a memory context: a plain copy when the rectangles have the same size,
// a colour-on-colour stretch otherwise. Null rectangles stand for the whole bitmap.
BOOL BlitBitmap(CDC* dc, CDib& bitmap, const CRect* dst, const CRect* src);
