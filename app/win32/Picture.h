#pragma once

#include <windows.h>

namespace quelvar {

// A 32-bit picture decoded from a PNG that the executable carries as a resource, held as a
// device-independent bitmap of its natural size.
class Picture {
public:
    // Decodes the PNG resource (type RCDATA) of the module; throws Error when it is missing or
    // cannot be decoded.
    Picture(HMODULE module, int resourceId);
    ~Picture();
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    HBITMAP bitmap() const { return m_bitmap; }
    SIZE size() const { return m_size; }
    // Draws the picture at its natural size with its top-left corner at the rectangle's,
    // clipped to the rectangle.
    void drawClipped(HDC dc, const RECT& rect) const;

private:
    HBITMAP m_bitmap = nullptr;
    SIZE m_size{};
};

}  // namespace quelvar
