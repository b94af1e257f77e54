// Layout, placement and closing of the picture window.
#include "Form2.h"

#include "forms/Screen.h"
#include "lang/End.h"
#include "resources/Icon.h"

#include <string>

namespace {

struct CoverArea {
    int left, top, width, height;
};

// Cover i hides this area of the picture. The index is the order in which covers vanish,
// not reading order: a 4 x 4 grid of tiles, a strip along the right edge (4, 5) and a strip
// between the third and fourth tile rows (18, 19); neighbours overlap by 15 twips.
constexpr CoverArea Covers[20] = {
    {0, 0, 975, 855},     {960, 0, 975, 855},      {1920, 0, 975, 855},    {2880, 0, 975, 855},
    {3840, 0, 495, 1215}, {3840, 1200, 495, 2655}, {1920, 840, 975, 855},  {2880, 840, 975, 855},
    {0, 1680, 975, 855},  {960, 1680, 975, 855},   {1920, 1680, 975, 855}, {2880, 1680, 975, 855},
    {0, 3000, 975, 855},  {960, 3000, 975, 855},   {1920, 3000, 975, 855}, {2880, 3000, 975, 855},
    {0, 840, 975, 855},   {960, 840, 975, 855},    {0, 2520, 1815, 495},   {1800, 2520, 2055, 495},
};

} // namespace

Form2::Form2() {
    form.setCaption("Kelvora　このへんがＤＸ");
    form.setClientSize(4320, 3855);
    form.setBackColor(rt::Color::windowBackground());
    form.setIcon(kelvora::IconResource);

    // 15 twips wider than the client area: its right edge is cut off.
    Image1.Move(0, 0, 4335, 3855);

    for (const CoverArea& area : Covers) {
        rt::Shape& cover = Shape1.add(form);
        cover.Move(area.left, area.top, area.width, area.height);
        cover.setFillColor(rt::Color::rgb(0, 0, 0));
        cover.setBorderColor(rt::Color::windowText());
        cover.onVisibleChanged = [this] { describeCovers(); };
    }
    describeCovers();

    for (const char* caption : {"Set1", "Set2", "Set3"})
        PicSet.add(IdxPic, caption);
    form.endLayout();

    form.onLoad = [this] { Form_Load(); };
    form.onQueryUnload = [this](rt::Int16& Cancel, rt::Int16& UnloadMode) {
        Form_QueryUnload(Cancel, UnloadMode);
    };
    PicSet.onClick = [this](rt::Int16 Index) { PicSet_Click(Index); };
}

// Just right of the screen's centre line, centred vertically; the window's own width plays no
// part, and a window reaching past the screen's edge is left there.
void Form2::Form_Load() {
    const float screenWidth = rt::Screen::Width();
    form.setLeft(screenWidth / 2 + 100);
    const float height = form.Height();
    const float screenHeight = rt::Screen::Height();
    form.setTop(screenHeight / 2 - height / 2);
}

// Closing the picture window ends the whole program, without a question.
void Form2::Form_QueryUnload(rt::Int16&, rt::Int16&) {
    rt::End();
}

void Form2::describeCovers() {
    int inPlace = 0;
    for (rt::Int16 i = 0; i < Shape1.count(); i += 1)
        inPlace += Shape1(i).Visible() ? 1 : 0;
    Image1.setAccessibleName("Picture, " + std::to_string(inPlace) + " of " +
                             std::to_string(Shape1.count().value()) + " covers in place");
}
