// The two images as the program ships them: decoded from Pomaro.exe's resources and
// compared, pixel by pixel, with the strip's geometry.

#include "PngResource.h"
#include "res/resource.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstdio>
#include <string>
#include <vector>

using PomaroTest::DecodedImage;
using PomaroTest::Rgba;

namespace {

constexpr Rgba kBlack{0x00, 0x00, 0x00, 0xFF};
constexpr Rgba kWhite{0xFF, 0xFF, 0xFF, 0xFF};
constexpr Rgba kPressed{0xFF, 0x64, 0x64, 0xFF};
constexpr Rgba kLabelOnWhite{0x00, 0xC0, 0x00, 0xFF};
constexpr Rgba kLabelOnBlack{0x00, 0xE0, 0x00, 0xFF};

bool transparent(const Rgba& p) { return p.a == 0; }

std::string describe(const Rgba& p)
{
    char text[32];
    snprintf(text, sizeof text, "#%02X%02X%02X/%02X", p.r, p.g, p.b, p.a);
    return text;
}

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

// The octave in row 0 of the sheet, x 0 to 70.
Rgba octavePixel(int x, int y)
{
    return (y == 0 || y == 29 || x % 10 == 0 || onBlackKey(x, y)) ? kBlack : kWhite;
}

// Whether (x, y) of a 70 x 30 sprite belongs to key k's shape.
bool inShape(int k, int x, int y)
{
    if (kBoundaryOf[k] >= 0) {
        const int b = kBoundaryOf[k];
        return y >= 1 && y <= 15 && x >= b - 3 && x <= b + 3;
    }
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
        const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring exe(path, n);
        exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"Pomaro.exe";
        program = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        if (program) {
            keys = PomaroTest::decodePngResource(program, IDR_PNG_KEYS);
            labels = PomaroTest::decodePngResource(program, IDR_PNG_KEY_LABELS);
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
    }

    static HMODULE program;
    static DecodedImage keys;
    static DecodedImage labels;
};

HMODULE ShippedImages::program = nullptr;
DecodedImage ShippedImages::keys;
DecodedImage ShippedImages::labels;

TEST_F(ShippedImages, Sizes)
{
    EXPECT_EQ(keys.width, 142u);
    EXPECT_EQ(keys.height, 390u);
    EXPECT_EQ(labels.width, 251u);
    EXPECT_EQ(labels.height, 30u);
}

TEST_F(ShippedImages, OctaveRowIsOpaqueWithSeparatorsAndBlackKeys)
{
    ASSERT_EQ(keys.width, 142u);
    EXPECT_EQ(keys.at(5, 20), kWhite);  // C below the black keys
    EXPECT_EQ(keys.at(10, 10), kBlack); // C#
    EXPECT_EQ(keys.at(10, 20), kBlack); // separator C|D
    EXPECT_EQ(keys.at(25, 10), kWhite); // no black key between E and F
    EXPECT_EQ(keys.at(70, 15), kBlack); // closing line
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x <= 70; ++x)
            ASSERT_EQ(keys.at(x, y), octavePixel(x, y)) << x << "," << y << " " << describe(keys.at(x, y));
        for (int x = 71; x < 142; ++x)
            ASSERT_TRUE(transparent(keys.at(x, y))) << x << "," << y;
    }
}

TEST_F(ShippedImages, EachKeyRowHoldsItsShapeInBothColours)
{
    ASSERT_EQ(keys.height, 390u);
    for (int k = 0; k < 12; ++k) {
        const int top = 30 * (k + 1);
        const Rgba own = kBoundaryOf[k] >= 0 ? kBlack : kWhite;
        int shapePixels = 0;
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 71; ++x) {
                const Rgba pressed = keys.at(x, top + y);
                const Rgba released = keys.at(71 + x, top + y);
                if (inShape(k, x, y)) {
                    ++shapePixels;
                    ASSERT_EQ(pressed, kPressed) << "key " << k << " at " << x << "," << y;
                    ASSERT_EQ(released, own) << "key " << k << " at " << x << "," << y;
                } else {
                    ASSERT_TRUE(transparent(pressed)) << "key " << k << " at " << x << "," << y;
                    ASSERT_TRUE(transparent(released)) << "key " << k << " at " << x << "," << y;
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

struct LabelBox
{
    int left, top, right, bottom; // inclusive
    Rgba colour;
};

TEST_F(ShippedImages, LabelsAreGreenGlyphsCentredOnTheirKeys)
{
    std::vector<LabelBox> boxes;
    for (int i = 0; i < 21; ++i) // over the white keys, rows 19 to 26
        boxes.push_back({25 + 10 * i - 3, 19, 25 + 10 * i + 3, 26, kLabelOnWhite}); // inside the separators
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
                const LabelBox& box = boxes[b];
                if (x >= box.left && x <= box.right && y >= box.top && y <= box.bottom) {
                    ASSERT_EQ(p, box.colour) << x << "," << y;
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
