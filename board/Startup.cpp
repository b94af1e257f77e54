// Start-up, the clock, the Game menu and closing the board window.
#include "Form1.h"

#include "forms/Screen.h"
#include "lang/End.h"
#include "picture/Form2.h"
#include "picture/PicSets.h"

using rt::Int16;

// Nothing is shown before NewGame: a failure here ends the program before any window appears.
void Form1::Form_Load() {
    // Just left of the screen's centre line, centred vertically, not clamped to the screen.
    const float width = form.Width();
    const float screenWidth = rt::Screen::Width();
    form.setLeft(screenWidth / 2 - width - 100);
    const float height = form.Height();
    const float screenHeight = rt::Screen::Height();
    form.setTop(screenHeight / 2 - height / 2);

    // The first reference to the picture window creates it; its Load places it.
    kelvora::SetDefaultPicSet(form2());
    kelvora::ReadListFile(PicFile1, PicFile2, PicFile3);
    NewGame();
}

// Closing the board window ends the whole program, without a question.
void Form1::Form_QueryUnload(Int16&, Int16&) {
    rt::End();
}

void Form1::Timer1_Timer() {
    // At the 16-bit limit the clock stops counting and keeps showing 32767; the game goes on
    // rather than ending with an overflow after nine hours.
    if (ElapsedSeconds == Int16::Max)
        return;
    ElapsedSeconds += 1;
    Label3.setCaption(rt::CStr(ElapsedSeconds));
}

void Form1::menuagain_Click() {
    NewGame();
}

void Form1::menuexit_Click() {
    rt::End();
}
