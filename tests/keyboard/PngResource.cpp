#include "PngResource.h"

#include <wincodec.h>

namespace PomaroTest {

namespace {
template <class T>
struct ComPtr
{
    T* p = nullptr;
    ~ComPtr()
    {
        if (p)
            p->Release();
    }
    T** out() { return &p; }
    T* operator->() const { return p; }
};
} // namespace

DecodedImage decodePngResource(HMODULE module, int id)
{
    DecodedImage image;
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    void* bytes = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = found ? SizeofResource(module, found) : 0;
    if (!bytes || !size) {
        image.result = HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
        return image;
    }
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(factory.out()));
    if (SUCCEEDED(hr))
        hr = factory->CreateStream(stream.out());
    if (SUCCEEDED(hr))
        hr = stream->InitializeFromMemory(static_cast<BYTE*>(bytes), size);
    if (SUCCEEDED(hr))
        hr = factory->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnLoad, decoder.out());
    if (SUCCEEDED(hr))
        hr = decoder->GetFrame(0, frame.out());
    if (SUCCEEDED(hr))
        hr = frame->GetSize(&image.width, &image.height);
    if (SUCCEEDED(hr))
        hr = factory->CreateFormatConverter(converter.out());
    if (SUCCEEDED(hr))
        hr = converter->Initialize(frame.p, GUID_WICPixelFormat32bppRGBA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom);
    if (SUCCEEDED(hr)) {
        image.pixels.resize(static_cast<size_t>(image.width) * image.height);
        hr = converter->CopyPixels(nullptr, image.width * 4, static_cast<UINT>(image.pixels.size() * 4),
                                   reinterpret_cast<BYTE*>(image.pixels.data()));
    }
    image.result = hr;
    return image;
}

} // namespace PomaroTest
