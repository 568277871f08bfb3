#include "app/win32/Picture.h"

#include <wincodec.h>

#include <algorithm>
#include <string>

#include "base/Error.h"

namespace quelvar {

namespace {

// Releases a COM interface when it goes out of scope.
template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (m_pointer != nullptr) {
            m_pointer->Release();
        }
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    Interface* operator->() const { return m_pointer; }
    Interface* get() const { return m_pointer; }
    Interface** out() { return &m_pointer; }

private:
    Interface* m_pointer = nullptr;
};

void check(HRESULT result, const char* step) {
    if (FAILED(result)) {
        throw Error(std::string("Cannot decode picture: ") + step);
    }
}

}  // namespace

Picture::Picture(HMODULE module, int resourceId) {
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(resourceId), MAKEINTRESOURCEW(10));
    HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        throw Error("Cannot decode picture: resource not found");
    }
    const DWORD byteCount = SizeofResource(module, resource);

    // The decoder is a COM object of the system's imaging component; the apartment is entered
    // for the decoding only, and left as it was found.
    const HRESULT entered = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    struct Apartment {
        bool entered;
        ~Apartment() {
            if (entered) {
                CoUninitialize();
            }
        }
    } apartment{SUCCEEDED(entered)};

    ComPtr<IWICImagingFactory> factory;
    check(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                           IID_IWICImagingFactory, reinterpret_cast<void**>(factory.out())),
          "imaging factory");
    ComPtr<IWICStream> stream;
    check(factory->CreateStream(stream.out()), "stream");
    check(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(bytes)), byteCount),
          "stream");
    ComPtr<IWICBitmapDecoder> decoder;
    check(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                           decoder.out()),
          "decoder");
    ComPtr<IWICBitmapFrameDecode> frame;
    check(decoder->GetFrame(0, frame.out()), "frame");
    // A converter of the factory, not WICConvertBitmapSource: the program imports nothing of
    // WindowsCodecs.dll, which COM loads from its registered place in the system directory.
    ComPtr<IWICFormatConverter> converted;
    check(factory->CreateFormatConverter(converted.out()), "conversion");
    check(converted->Initialize(frame.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone,
                                nullptr, 0.0, WICBitmapPaletteTypeCustom),
          "conversion");
    UINT width = 0;
    UINT height = 0;
    check(converted->GetSize(&width, &height), "size");

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = static_cast<LONG>(width);
    info.bmiHeader.biHeight = -static_cast<LONG>(height);  // Top-down rows.
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    m_bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (m_bitmap == nullptr) {
        throw Error("Cannot decode picture: bitmap");
    }
    const UINT stride = width * 4;
    const HRESULT copied =
        converted->CopyPixels(nullptr, stride, stride * height, static_cast<BYTE*>(pixels));
    if (FAILED(copied)) {
        DeleteObject(m_bitmap);
        m_bitmap = nullptr;
        check(copied, "pixels");
    }
    m_size = SIZE{static_cast<LONG>(width), static_cast<LONG>(height)};
}

Picture::~Picture() {
    if (m_bitmap != nullptr) {
        DeleteObject(m_bitmap);
    }
}

void Picture::drawClipped(HDC dc, const RECT& rect) const {
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ previous = SelectObject(source, m_bitmap);
    const int width = std::min<LONG>(rect.right - rect.left, m_size.cx);
    const int height = std::min<LONG>(rect.bottom - rect.top, m_size.cy);
    BitBlt(dc, rect.left, rect.top, width, height, source, 0, 0, SRCCOPY);
    SelectObject(source, previous);
    DeleteDC(source);
}

}  // namespace quelvar
