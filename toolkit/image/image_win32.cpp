#include "toolkit/image/image.h"

ObjectList* image_list;

static_assert(sizeof(ImageRecord) == by_width(4, 8), "an image record is its handle");

int32_t images_init()
{
    image_list = object_list_new(sizeof(ImageRecord), 16, image_free);
    return image_list != nullptr;
}

void images_end()
{
    object_list_free_all(image_list);
}

int32_t image_free(intptr_t number)
{
    if (number == -1) {
        object_list_free_all(image_list);
        return 1;
    }
    auto* image = static_cast<ImageRecord*>(object_get(image_list, number));
    if (!image)
        return 0;
    if (GetObjectType(image->handle) == OBJ_BITMAP)
        DeleteObject(image->handle);
    else
        DestroyIcon(static_cast<HICON>(image->handle));
    return object_release(image_list, number);
}

// A device-dependent bitmap's pixels copied as top-down 32-bit values into a
// main-heap block, or null.
static void* copy_bitmap_pixels(HBITMAP bitmap, const BITMAP& described)
{
    HDC device = CreateCompatibleDC(nullptr);
    if (!device)
        return nullptr;
    uint64_t size = static_cast<uint64_t>(described.bmHeight) * dib_row_size(described.bmWidth, 32);
    void* pixels = size <= UINT32_MAX
                       ? heap_alloc(main_heap, static_cast<uint32_t>(size), 0)
                       : nullptr;
    if (pixels) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = described.bmWidth;
        info.bmiHeader.biHeight = -described.bmHeight;  // rows from the top
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        if (!GetDIBits(device, bitmap, 0, described.bmHeight, pixels, &info, DIB_RGB_COLORS)) {
            heap_free(main_heap, pixels);
            pixels = nullptr;
        }
    }
    DeleteDC(device);
    return pixels;
}

// GetObjectW describes brushes, pens and fonts too, in records of their own
// that BITMAP would misread, so only a bitmap gets that far.
void* bitmap_get_pixels(HBITMAP bitmap, int32_t* must_free)
{
    BITMAP described;
    if (GetObjectType(bitmap) != OBJ_BITMAP || !GetObjectW(bitmap, sizeof(described), &described))
        return nullptr;
    // A DIB section's bits are handed out as they are.
    *must_free = described.bmBits == nullptr;
    if (described.bmBits)
        return described.bmBits;
    return copy_bitmap_pixels(bitmap, described);
}
