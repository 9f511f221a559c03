#include "platform/win32/win32_image.h"

#include <objbase.h>
#include <wincodec.h>

namespace tempikon::win32 {

namespace {

template <typename T>
struct Com {
    T* p = nullptr;
    ~Com() {
        if (p) p->Release();
    }
    T** out() { return &p; }
    T* operator->() const { return p; }
};

}  // namespace

HBITMAP loadPngResource(const wchar_t* name, int width, int height) {
    if (width <= 0 || height <= 0) return nullptr;
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, name, MAKEINTRESOURCEW(10));  // RT_RCDATA
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = found ? SizeofResource(module, found) : 0;
    if (!bytes || !size) return nullptr;

    Com<IWICImagingFactory> factory;
    Com<IWICStream> stream;
    Com<IWICBitmapDecoder> decoder;
    Com<IWICBitmapFrameDecode> frame;
    Com<IWICBitmapScaler> scaler;
    Com<IWICFormatConverter> converter;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(factory.out()))) ||
        FAILED(factory->CreateStream(stream.out())) ||
        FAILED(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(bytes)), size)) ||
        FAILED(factory->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnDemand,
                                                decoder.out())) ||
        FAILED(decoder->GetFrame(0, frame.out())) ||
        FAILED(factory->CreateBitmapScaler(scaler.out())) ||
        FAILED(scaler->Initialize(frame.p, static_cast<UINT>(width), static_cast<UINT>(height),
                                  WICBitmapInterpolationModeFant)) ||
        FAILED(factory->CreateFormatConverter(converter.out())) ||
        FAILED(converter->Initialize(scaler.p, GUID_WICPixelFormat32bppPBGRA,
                                     WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom)))
        return nullptr;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down, as WIC delivers the rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (!bitmap) return nullptr;
    const UINT stride = static_cast<UINT>(width) * 4;
    if (FAILED(converter->CopyPixels(nullptr, stride, stride * static_cast<UINT>(height),
                                     static_cast<BYTE*>(pixels)))) {
        DeleteObject(bitmap);
        return nullptr;
    }
    return bitmap;
}

}  // namespace tempikon::win32
