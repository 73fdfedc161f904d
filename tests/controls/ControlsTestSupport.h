// Shared by the control tests: GDI+ for the test program, a host form, pixels.
#pragma once

#include <windows.h>

#include <memory>

#include "controls/AdvGDIP.h"
#include "controls/AdvSmoothButton.h"
#include "framework/Forms.h"
#include "support/GdiplusEnvironment.h"

namespace controls_test {

struct Rgba {
    int r, g, b, a;
};
inline Rgba Split(ARGB pixel) {
    return {int((pixel >> 16) & 0xFF), int((pixel >> 8) & 0xFF), int(pixel & 0xFF), int(pixel >> 24)};
}
inline Rgba PixelAt(const TGPBitmap& bitmap, int x, int y) { return Split(bitmap.Pixel(x, y)); }

// A shown form with one smooth button on it.
struct ButtonHost {
    ButtonHost(int width = 120, int height = 40) : form(nullptr) {
        form.SetBounds(100, 100, 400, 300);
        button = &wc::MakeComponent<TAdvSmoothButton>(form);
        button->SetBounds(20, 20, width, height);
        button->SetParent(&form);
        button->SetCaption("");
        form.Handle();  // the windows exist; showing them is not needed to draw or to take messages
    }
    wc::TForm form;
    TAdvSmoothButton* button;
};

}  // namespace controls_test
