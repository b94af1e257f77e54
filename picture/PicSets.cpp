// Picture sets and the picture list file "qorfile.txt". The check marks of PicSet are the
// choice of set; no variable holds it.
#include "PicSets.h"

#include "Form2.h"
#include "lang/Open.h"

namespace kelvora {

void SetDefaultPicSet(Form2& form2) {
    form2.PicSet(0).setChecked(true);
    form2.PicSet(1).setChecked(false);
    form2.PicSet(2).setChecked(false);
}

void ReadListFile(std::string& PicFile1, std::string& PicFile2, std::string& PicFile3) {
    rt::Open(ListFileName);
    PicFile1 = rt::LineInput();
    PicFile2 = rt::LineInput();
    PicFile3 = rt::LineInput();
    rt::Close();
}

void LoadCheckedPicture(Form2& form2, const std::string& PicFile1, const std::string& PicFile2,
                        const std::string& PicFile3) {
    // Each item is tested on its own; exactly one is ever checked.
    if (form2.PicSet(0).Checked())
        form2.Image1.setPicture(rt::LoadPicture(PicFile1));
    if (form2.PicSet(1).Checked())
        form2.Image1.setPicture(rt::LoadPicture(PicFile2));
    if (form2.PicSet(2).Checked())
        form2.Image1.setPicture(rt::LoadPicture(PicFile3));
}

} // namespace kelvora

// The choice moves the check mark only; the next new game loads that set's picture.
void Form2::PicSet_Click(rt::Int16 Index) {
    for (rt::Int16 k = 0; k <= 2; k += 1)
        PicSet(k).setChecked(k == Index);
}
