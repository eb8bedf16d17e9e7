// The two images as the program ships them: decoded from Pomaro.exe's resources and
// compared, pixel by pixel, with the strip's geometry.

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Rgba
{
    uint8_t r, g, b, a;
    bool operator==(const Rgba& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

std::ostream& operator<<(std::ostream& os, const Rgba& p)
{
    char text[16];
    snprintf(text, sizeof text, "#%02X%02X%02X/%02X", p.r, p.g, p.b, p.a);
    return os << text;
}

struct DecodedImage
{
    HRESULT result = E_FAIL;
    uint32_t width = 0, height = 0;
    std::vector<Rgba> pixels; // row by row
    Rgba at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + static_cast<size_t>(x)]; }
};

// A "PNG" resource of a module as straight (not premultiplied) RGBA; COM must be initialised.
DecodedImage decodePngResource(HMODULE module, int id)
{
    DecodedImage image;
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), L"PNG");
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes)
        return image;
    Microsoft::WRL::ComPtr<IWICImagingFactory> factory;
    Microsoft::WRL::ComPtr<IWICStream> stream;
    Microsoft::WRL::ComPtr<IWICBitmapDecoder> decoder;
    Microsoft::WRL::ComPtr<IWICBitmapFrameDecode> frame;
    Microsoft::WRL::ComPtr<IWICFormatConverter> converter;
    HRESULT hr =
        CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                         reinterpret_cast<void**>(factory.ReleaseAndGetAddressOf()));
    if (SUCCEEDED(hr))
        hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr))
        hr = stream->InitializeFromMemory(static_cast<BYTE*>(bytes), SizeofResource(module, found));
    if (SUCCEEDED(hr))
        hr = factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnLoad, &decoder);
    if (SUCCEEDED(hr))
        hr = decoder->GetFrame(0, &frame);
    if (SUCCEEDED(hr))
        hr = frame->GetSize(&image.width, &image.height);
    if (SUCCEEDED(hr))
        hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppRGBA, WICBitmapDitherTypeNone,
                                   nullptr, 0.0, WICBitmapPaletteTypeCustom);
    if (SUCCEEDED(hr)) {
        image.pixels.resize(static_cast<size_t>(image.width) * image.height);
        hr = converter->CopyPixels(nullptr, image.width * 4, static_cast<UINT>(image.pixels.size() * 4),
                                   reinterpret_cast<BYTE*>(image.pixels.data()));
    }
    image.result = hr;
    return image;
}

constexpr Rgba kBlack{0x00, 0x00, 0x00, 0xFF};
constexpr Rgba kWhite{0xFF, 0xFF, 0xFF, 0xFF};
constexpr Rgba kPressed{0xFF, 0x64, 0x64, 0xFF};
constexpr Rgba kLabelOnWhite{0x00, 0xC0, 0x00, 0xFF};
constexpr Rgba kLabelOnBlack{0x00, 0xE0, 0x00, 0xFF};

bool transparent(const Rgba& p) { return p.a == 0; }

constexpr int kBoundaryOf[12] = {-1, 10, -1, 20, -1, -1, 40, -1, 50, -1, 60, -1};
constexpr int kWhiteIndex[12] = {0, -1, 1, -1, 2, 3, -1, 4, -1, 5, -1, 6};

bool onBlackKey(int x, int y)
{
    if (y < 1 || y > 16)
        return false;
    for (int b : {10, 20, 40, 50, 60})
        if (x >= b - 4 && x <= b + 4)
            return true;
    return false;
}

// Whether (x, y) of a 70 x 30 sprite belongs to key k's shape.
bool inShape(int k, int x, int y)
{
    if (kBoundaryOf[k] >= 0)
        return y >= 1 && y <= 15 && x >= kBoundaryOf[k] - 3 && x <= kBoundaryOf[k] + 3;
    const int j = kWhiteIndex[k];
    return y >= 1 && y <= 28 && x >= 10 * j + 1 && x <= 10 * j + 9 && !onBlackKey(x, y);
}

class ShippedImages : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        wchar_t path[MAX_PATH];
        std::wstring exe(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
        exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"Pomaro.exe";
        program =
            LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        if (program) {
            keys = decodePngResource(program, 101);
            labels = decodePngResource(program, 102);
        }
    }
    static void TearDownTestSuite()
    {
        if (program)
            FreeLibrary(program);
        CoUninitialize();
    }
    void SetUp() override
    {
        ASSERT_NE(program, nullptr) << "Pomaro.exe beside the test";
        ASSERT_EQ(keys.result, S_OK);
        ASSERT_EQ(labels.result, S_OK);
        ASSERT_EQ(keys.width, 142u);
        ASSERT_EQ(keys.height, 390u);
        ASSERT_EQ(labels.width, 251u);
        ASSERT_EQ(labels.height, 30u);
    }

    static HMODULE program;
    static DecodedImage keys;
    static DecodedImage labels;
};

HMODULE ShippedImages::program = nullptr;
DecodedImage ShippedImages::keys;
DecodedImage ShippedImages::labels;

TEST_F(ShippedImages, OctaveRowIsOpaqueWithSeparatorsAndBlackKeys)
{
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x <= 70; ++x) {
            const bool black = y == 0 || y == 29 || x % 10 == 0 || onBlackKey(x, y);
            ASSERT_EQ(keys.at(x, y), black ? kBlack : kWhite) << x << "," << y;
        }
        for (int x = 71; x < 142; ++x)
            ASSERT_TRUE(transparent(keys.at(x, y))) << x << "," << y;
    }
}

TEST_F(ShippedImages, EachKeyRowHoldsItsShapeInBothColours)
{
    for (int k = 0; k < 12; ++k) {
        const int top = 30 * (k + 1);
        const Rgba own = kBoundaryOf[k] >= 0 ? kBlack : kWhite;
        int shapePixels = 0;
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 71; ++x) {
                const Rgba pressed = keys.at(x, top + y), released = keys.at(71 + x, top + y);
                if (inShape(k, x, y)) {
                    ++shapePixels;
                    ASSERT_EQ(pressed, kPressed) << "key " << k << " at " << x << "," << y;
                    ASSERT_EQ(released, own) << "key " << k << " at " << x << "," << y;
                } else {
                    ASSERT_TRUE(transparent(pressed) && transparent(released))
                        << "key " << k << " at " << x << "," << y;
                }
            }
        }
        EXPECT_GT(shapePixels, 100) << "key " << k;
    }
    // A pressed black key keeps a black rim: its shape is inset from the key drawn.
    EXPECT_TRUE(transparent(keys.at(6, 60 + 5)));
    EXPECT_EQ(keys.at(7, 60 + 5), kPressed);
    EXPECT_TRUE(transparent(keys.at(10, 60 + 16)));
}

TEST_F(ShippedImages, LabelsAreGreenGlyphsCentredOnTheirKeys)
{
    struct Box
    {
        int left, top, right, bottom; // inclusive
        Rgba colour;
    };
    std::vector<Box> boxes;
    for (int i = 0; i < 21; ++i) // over the white keys, rows 19 to 26, inside the separators
        boxes.push_back({25 + 10 * i - 3, 19, 25 + 10 * i + 3, 26, kLabelOnWhite});
    for (int c : {20, 30, 50, 60, 80, 90, 100, 120, 130, 150, 160, 170, 190, 200, 220, 230})
        boxes.push_back({c - 3, 6, c + 3, 14, kLabelOnBlack}); // inside a pressed black key's rim
    std::vector<int> inked(boxes.size(), 0);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 251; ++x) {
            const Rgba p = labels.at(x, y);
            if (transparent(p))
                continue;
            bool placed = false;
            for (size_t b = 0; b < boxes.size(); ++b) {
                if (x >= boxes[b].left && x <= boxes[b].right && y >= boxes[b].top && y <= boxes[b].bottom) {
                    ASSERT_EQ(p, boxes[b].colour) << x << "," << y;
                    ++inked[b];
                    placed = true;
                }
            }
            ASSERT_TRUE(placed) << "ink outside every label at " << x << "," << y;
        }
    }
    for (size_t b = 0; b < boxes.size(); ++b)
        EXPECT_GE(inked[b], 6) << "label " << b;
}

} // namespace
