// The image registry and bitmap pixels against real GDI objects.
#include "toolkit/image/image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

class ImageRegistry : public testing::Test {
protected:
    void SetUp() override
    {
        main_heap = heap_create();
        ASSERT_NE(nullptr, main_heap);
        images_init();
        ASSERT_NE(nullptr, image_list);
    }
    void TearDown() override
    {
        images_end();
        heap_destroy(main_heap);
        main_heap = nullptr;
    }

    void add(int32_t number, HANDLE handle)
    {
        auto* image = static_cast<ImageRecord*>(object_alloc(image_list, number));
        ASSERT_NE(nullptr, image);
        image->handle = handle;
    }
};

HBITMAP small_bitmap()
{
    return CreateBitmap(4, 4, 1, 32, nullptr);
}

HICON small_icon()
{
    BYTE and_mask[32 * 4] = {};
    BYTE xor_mask[32 * 4] = {};
    return CreateIcon(GetModuleHandleW(nullptr), 32, 32, 1, 1, and_mask, xor_mask);
}

bool bitmap_alive(HBITMAP bitmap)
{
    return GetObjectType(bitmap) == OBJ_BITMAP;
}

bool icon_alive(HICON icon)
{
    ICONINFO info;
    if (!GetIconInfo(icon, &info))
        return false;
    DeleteObject(info.hbmMask);
    DeleteObject(info.hbmColor);
    return true;
}

// Distinct 0x00RRGGBB values, row by row from the top.
std::vector<uint32_t> pattern(int32_t width, int32_t height)
{
    std::vector<uint32_t> values;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            values.push_back(static_cast<uint32_t>(0x102030 + 0x010000 * y + 0x000101 * x * 7));
    return values;
}

BITMAPINFO top_down_info(int32_t width, int32_t height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

std::vector<uint32_t> as_values(const void* pixels, size_t count)
{
    std::vector<uint32_t> values(count);
    std::memcpy(values.data(), pixels, count * 4);
    for (auto& value : values)
        value &= 0xFFFFFF;
    return values;
}

}  // namespace

TEST_F(ImageRegistry, FreeReleasesBitmapsWithDeleteObjectAndIconsWithDestroyIcon)
{
    HBITMAP bitmap = small_bitmap();
    HICON icon = small_icon();
    ASSERT_TRUE(bitmap_alive(bitmap));
    ASSERT_TRUE(icon_alive(icon));
    add(1, bitmap);
    add(2, icon);
    EXPECT_EQ(1, image_free(1));
    EXPECT_FALSE(bitmap_alive(bitmap));
    EXPECT_TRUE(icon_alive(icon));
    EXPECT_EQ(1, image_free(2));
    EXPECT_FALSE(icon_alive(icon));
    EXPECT_EQ(nullptr, object_get(image_list, 1));
    EXPECT_EQ(nullptr, object_get(image_list, 2));
}

TEST_F(ImageRegistry, FreeOfANumberWithoutImageGivesZero)
{
    EXPECT_EQ(0, image_free(3));
    add(3, small_bitmap());
    EXPECT_EQ(1, image_free(3));
    EXPECT_EQ(0, image_free(3));
    EXPECT_EQ(0, image_free(-7));
}

TEST_F(ImageRegistry, FreeAllAndEndReleaseEveryImage)
{
    HBITMAP bitmap = small_bitmap();
    HICON icon = small_icon();
    add(0, bitmap);
    add(20, icon);  // beyond the initial 16 slots
    EXPECT_EQ(1, image_free(-1));
    EXPECT_FALSE(bitmap_alive(bitmap));
    EXPECT_FALSE(icon_alive(icon));

    HBITMAP late = small_bitmap();
    add(5, late);
    images_end();
    EXPECT_FALSE(bitmap_alive(late));
}

TEST_F(ImageRegistry, DeviceBitmapPixelsArriveTopDownAsCopy)
{
    const int32_t width = 3, height = 4;
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    ReleaseDC(nullptr, screen);
    ASSERT_NE(nullptr, bitmap);
    std::vector<uint32_t> expected = pattern(width, height);
    BITMAPINFO info = top_down_info(width, height);
    HDC device = CreateCompatibleDC(nullptr);
    ASSERT_EQ(height, SetDIBits(device, bitmap, 0, height, expected.data(), &info, DIB_RGB_COLORS));
    DeleteDC(device);

    int32_t must_free = -1;
    void* pixels = bitmap_get_pixels(bitmap, &must_free);
    ASSERT_NE(nullptr, pixels);
    EXPECT_EQ(1, must_free);
    EXPECT_EQ(expected, as_values(pixels, expected.size()));
    heap_free(main_heap, pixels);
    DeleteObject(bitmap);
}

TEST_F(ImageRegistry, DibSectionPixelsAreTheSectionsOwnBits)
{
    const int32_t width = 5, height = 2;
    BITMAPINFO info = top_down_info(width, height);
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(nullptr, section);
    std::vector<uint32_t> expected = pattern(width, height);
    std::memcpy(bits, expected.data(), expected.size() * 4);

    int32_t must_free = -1;
    void* pixels = bitmap_get_pixels(section, &must_free);
    EXPECT_EQ(bits, pixels);
    EXPECT_EQ(0, must_free);
    EXPECT_EQ(expected, as_values(pixels, expected.size()));
    DeleteObject(section);
}

TEST_F(ImageRegistry, PixelsOfSomethingThatIsNoBitmapAreNull)
{
    int32_t must_free = -1;
    EXPECT_EQ(nullptr, bitmap_get_pixels(nullptr, &must_free));
    HBITMAP bitmap = small_bitmap();
    DeleteObject(bitmap);
    EXPECT_EQ(nullptr, bitmap_get_pixels(bitmap, &must_free));

    // GetObjectW describes these too. The italic, underlined font fills the
    // bytes where a BITMAP keeps its bits pointer with non-zero values.
    const HGDIOBJ others[] = {
        CreateSolidBrush(RGB(1, 2, 3)),
        CreatePen(PS_SOLID, 1, RGB(4, 5, 6)),
        CreateFontW(-12, 0, 0, 0, FW_NORMAL, TRUE, TRUE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0,
                    L"Tahoma"),
    };
    for (HGDIOBJ other : others) {
        ASSERT_NE(nullptr, other);
        EXPECT_EQ(nullptr, bitmap_get_pixels(static_cast<HBITMAP>(other), &must_free))
            << "object type " << GetObjectType(other);
        DeleteObject(other);
    }
    EXPECT_EQ(-1, must_free) << "nothing is reported for what is no bitmap";
}
