// The picture window: the reward picture under its 20 covers, and the picture-set menu.
// It holds no game data and takes no decisions; the board window drives its controls.
#pragma once

#include "forms/ControlArray.h"
#include "forms/Controls.h"

class Form2 {
public:
    Form2();

    rt::Form form;
    rt::Image Image1{form};
    // Made after Image1, so that every cover lies above the picture.
    rt::ControlArray<rt::Shape> Shape1{"Shape1"};
    rt::Menu IdxPic{form, "&Picture"};
    rt::ControlArray<rt::MenuItem> PicSet{"PicSet"};

    void Form_Load();
    void Form_QueryUnload(rt::Int16& Cancel, rt::Int16& UnloadMode);
    void PicSet_Click(rt::Int16 Index);

private:
    // Screen readers hear the covers as one count on the picture, not one by one.
    void describeCovers();
};
