// Decodes an extended dialog template (the DIALOGEX form) from the raw bytes of an
// RT_DIALOG resource, field by field, with every read bounds-checked so that a truncated
// or malformed template fails the decode instead of reading past the resource.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace PomaroTest {

// A name that a template stores either as a 16-bit ordinal (0xFFFF prefix) or as text.
struct NameOrOrdinal {
    bool isOrdinal = false;
    uint16_t ordinal = 0;
    std::u16string text;
};

struct DialogItem {
    uint32_t helpId = 0;
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    int32_t id = 0;
    NameOrOrdinal windowClass;
    NameOrOrdinal title;
    std::vector<uint8_t> creationData;
};

struct DialogTemplate {
    uint16_t version = 0;
    uint16_t signature = 0;
    uint32_t helpId = 0;
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu;
    NameOrOrdinal windowClass;
    std::u16string title;
    bool hasFont = false;
    uint16_t pointSize = 0;
    uint16_t weight = 0;
    uint8_t italic = 0;
    uint8_t charset = 0;
    std::u16string typeface;
    std::vector<DialogItem> items;
    size_t bytesUsed = 0;  // end of the last item, before any trailing padding
};

class DialogTemplateReader {
public:
    DialogTemplateReader(const void* data, size_t size)
        : p_(static_cast<const uint8_t*>(data)), size_(size) {}

    // False for anything that is not a complete extended template.
    bool read(DialogTemplate& t) {
        constexpr uint32_t kSetFont = 0x40, kShellFont = 0x48;
        if (!u16(t.version) || !u16(t.signature) || t.version != 1 || t.signature != 0xFFFF)
            return false;
        uint16_t count = 0;
        if (!u32(t.helpId) || !u32(t.exStyle) || !u32(t.style) || !u16(count) ||
            !s16(t.x) || !s16(t.y) || !s16(t.cx) || !s16(t.cy) ||
            !nameOrOrdinal(t.menu) || !nameOrOrdinal(t.windowClass) || !text(t.title))
            return false;
        t.hasFont = (t.style & kSetFont) != 0 || (t.style & kShellFont) == kShellFont;
        if (t.hasFont && (!u16(t.pointSize) || !u16(t.weight) || !u8(t.italic) ||
                          !u8(t.charset) || !text(t.typeface)))
            return false;
        t.items.clear();
        for (uint16_t i = 0; i < count; ++i) {
            DialogItem item;
            uint32_t id = 0;
            uint16_t extra = 0;
            if (!alignTo4() || !u32(item.helpId) || !u32(item.exStyle) || !u32(item.style) ||
                !s16(item.x) || !s16(item.y) || !s16(item.cx) || !s16(item.cy) || !u32(id) ||
                !nameOrOrdinal(item.windowClass) || !nameOrOrdinal(item.title) || !u16(extra))
                return false;
            item.id = static_cast<int32_t>(id);
            if (extra > size_ - pos_)
                return false;
            item.creationData.assign(p_ + pos_, p_ + pos_ + extra);
            pos_ += extra;
            t.items.push_back(std::move(item));
        }
        t.bytesUsed = pos_;
        return true;
    }

private:
    bool bytes(void* out, size_t n) {
        if (n > size_ - pos_)
            return false;
        std::memcpy(out, p_ + pos_, n);
        pos_ += n;
        return true;
    }
    bool u8(uint8_t& v) { return bytes(&v, 1); }
    bool u16(uint16_t& v) { return bytes(&v, 2); }
    bool u32(uint32_t& v) { return bytes(&v, 4); }
    bool s16(int16_t& v) { return bytes(&v, 2); }

    bool alignTo4() {
        size_t aligned = (pos_ + 3) & ~size_t(3);
        if (aligned > size_)
            return false;
        pos_ = aligned;
        return true;
    }

    // A NUL-terminated UTF-16 string; an unterminated one fails.
    bool text(std::u16string& out) {
        out.clear();
        for (;;) {
            uint16_t c = 0;
            if (!u16(c))
                return false;
            if (c == 0)
                return true;
            out.push_back(static_cast<char16_t>(c));
        }
    }

    bool nameOrOrdinal(NameOrOrdinal& out) {
        out = NameOrOrdinal{};
        uint16_t first = 0;
        if (!u16(first))
            return false;
        if (first == 0xFFFF) {
            out.isOrdinal = true;
            return u16(out.ordinal);
        }
        if (first == 0)
            return true;
        out.text.push_back(static_cast<char16_t>(first));
        std::u16string rest;
        if (!text(rest))
            return false;
        out.text += rest;
        return true;
    }

    const uint8_t* p_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace PomaroTest
